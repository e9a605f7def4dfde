// The launcher's own memory on the goggles is what it keeps resident privately, beyond the
// framebuffer pages it maps: measured after a menu has been drawn, when every page the menu
// path touches is in.
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "board_fixture.h"

namespace systest {
namespace {

struct Resident {
    long private_kb = 0; // every private page but the framebuffer's
    long fb_kb = 0;
};

Resident resident_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    Resident r;
    bool fb = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find('-') != std::string::npos && line.find(' ') > line.find('-')) {
            fb = line.find("/dev/fb0") != std::string::npos;
            continue;
        }
        long kb = 0;
        if (line.rfind("Private_Clean:", 0) == 0 || line.rfind("Private_Dirty:", 0) == 0) {
            std::istringstream(line.substr(line.find(':') + 1)) >> kb;
            (fb ? r.fb_kb : r.private_kb) += kb;
        }
    }
    return r;
}

TEST_F(BoardTest, PrivateResidentMemoryAfterTheMenuStaysUnderOneMebibyte) {
    if (vxboard::target_from_env() != vxboard::Target::Host)
        GTEST_SKIP() << "under qemu the process is the emulator";
    app("one");
    app("two");
    vxboard::Board& b = open_menu();
    b.tap(DOWN, TAP);
    b.settle(Millis(200), Millis(2000));
    const Resident r = resident_of(b.launcher_host_pid());
    std::printf("launcher private resident memory: %ld KiB (framebuffer pages: %ld KiB)\n",
                r.private_kb, r.fb_kb);
    EXPECT_GT(r.fb_kb, 0) << "the framebuffer mapping was not found";
    if (!launcher_sanitized(b.launcher_host_pid())) {
        EXPECT_LT(r.private_kb, 1024);
    }
}

} // namespace
} // namespace systest
