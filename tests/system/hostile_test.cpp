// App directories as careless or hostile installers leave them: the launcher lists what it
// must, refuses to start what is not a file, and keeps answering the buttons throughout.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "flow_fixture.h"

namespace fs = std::filesystem;

namespace systest {
namespace {

TEST_F(FlowTest, HostileCatalogueIsListedWithoutHangingAndOddAppsDoNotStart) {
    // Manifests of every shape: all are listed, only the recognised keys count.
    app("crlf", "desc=windows\r\nversion=2.0\r\nmodes=normal\r\n");
    app("nul_bytes", std::string("desc=before\0after\nversion=3\0.1\nmodes=normal\n", 45));
    app("long_lines", "desc=" + std::string(600, 'd') + "\nargs=" + std::string(600, 'a') +
                          "\nversion=" + std::string(100, '9') + "\n");
    app("tabs", "desc=shown\tnot shown\nmodes=normal\t,av\n");
    app("unknown_keys", "colour=blue\n=empty\nmodes\ndesc\n\n\n");
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 131 + 7) % 256);
    app("garbage_manifest", garbage);
    // Things called `app` that are not files.
    fs::create_directories(fs::path(apps_) / "app_is_dir" / "app");
    fs::create_directories(fs::path(apps_) / "app_is_fifo");
    ASSERT_EQ(mkfifo((fs::path(apps_) / "app_is_fifo" / "app").c_str(), 0755), 0);
    fs::create_directories(fs::path(apps_) / "app_is_device");
    const bool have_device = mknod((fs::path(apps_) / "app_is_device" / "app").c_str(),
                                   S_IFCHR | 0755, makedev(1, 3)) == 0;
    // A manifest that is a FIFO would block whoever opens it for reading.
    app("fifo_manifest");
    ASSERT_EQ(mkfifo((fs::path(apps_) / "fifo_manifest" / "manifest").c_str(), 0644), 0);

    vxboard::Board& b = open_menu();
    const int listed = 6 + 3 + (have_device ? 0 : -1) + 1;
    EXPECT_TRUE(logged("menu open (hold play, " + std::to_string(listed) + " apps)\n")) << dump();

    // Walk the whole list and try to start every entry: the odd ones fail with a log line
    // and the menu stays; a started app is waited for and the menu comes back.
    for (int i = 0; i < listed; ++i) {
        const size_t at = b.lines().size();
        b.tap(MIDDLE, TAP);
        const auto started = b.wait_line("launched ", Millis(1500), at);
        const auto failed = b.wait_line("launch failed: ", Millis(100), at);
        EXPECT_TRUE(started || failed) << "entry " << i << "\n" << dump();
        if (started) line_at(" exited\n", at, Millis(5000));
        EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(2000))) << i;
        b.tap(DOWN, TAP);
    }
    int failures = 0;
    for (const std::string& l : b.lines())
        failures += l.rfind("launch failed: ", 0) == 0;
    EXPECT_EQ(failures, have_device ? 3 : 2) << dump();
    // Still in charge of the buttons: the 3 s hold closes the menu.
    const size_t at = b.lines().size();
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", at);
}

} // namespace
} // namespace systest
