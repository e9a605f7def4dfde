// The launcher's own memory on the goggles is what it keeps resident privately, beyond the
// framebuffer pages it maps: measured after a menu has been drawn, when every page the menu
// path touches is in.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
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
#ifndef VX_SANITIZED
    EXPECT_LT(r.private_kb, 1024);
#endif
}

// Clock ticks of CPU the process has used, user and system.
long cpu_ticks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

// Idle, the launcher wakes every 40 ms to sample the buttons and goes back to sleep: its
// share of one core stays under half a percent. VX_IDLE_SECONDS sets the span (default 10).
TEST_F(BoardTest, IdleLauncherUsesUnderHalfAPercentOfACore) {
    if (vxboard::target_from_env() != vxboard::Target::Host) GTEST_SKIP() << "the emulator's time";
    const char* env = std::getenv("VX_IDLE_SECONDS");
    const int seconds = env != nullptr ? std::atoi(env) : 10;
    vxboard::Board& b = start_ready();
    const pid_t pid = b.launcher_host_pid();
    const long hz = sysconf(_SC_CLK_TCK);
    const long before = cpu_ticks(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double share = 100.0 * static_cast<double>(cpu_ticks(pid) - before) / hz / wall;
    std::printf("launcher idle CPU: %.3f %% of one core over %.1f s\n", share, wall);
    EXPECT_LT(share, 0.5);
}

} // namespace
} // namespace systest
