// The figures measured on the virtual board with this build's launcher: what a move in the
// AV overlay costs on the I2C transport against the cells it changes, the time from a button
// to the picture it changes for the launcher's menu and for an app on the app library, and
// the launcher's CPU share when idle. Each figure is a "figure|name|measured|target" line for
// tools/bench.sh.
//
//   board_figures [IDLE_SECONDS]   (default 30)
//   board_figures --target goggles  the button figures on the emulated goggles, with the
//                                   release's launcher and hello-world
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board/board.h"

namespace {

using vxboard::Millis;
using Clock = std::chrono::steady_clock;

constexpr int KEY_UP = 0, KEY_DOWN = 1, KEY_MIDDLE = 4, KEY_PLAY = 6;

bool wait_for(const std::function<bool()>& ok, Millis timeout) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        if (ok()) return true;
        std::this_thread::sleep_for(Millis(5));
    }
    return ok();
}

struct ScratchApps {
    std::string dir;
    ScratchApps() {
        char tmpl[] = "/tmp/vx-figures-XXXXXX";
        if (mkdtemp(tmpl) != nullptr) dir = tmpl;
    }
    ~ScratchApps() {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }
};

int cells_changed(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    int n = 0;
    for (size_t r = 0; r < a.size() && r < b.size(); ++r)
        for (size_t c = 0; c < a[r].size() && c < b[r].size(); ++c)
            n += a[r][c] != b[r][c];
    return n;
}

// A move in the AV overlay, averaged over moves both ways through a list of five entries
// (the selection wraps once each way).
bool osd_figures() {
    ScratchApps apps;
    for (const char* name : {"alpha", "bravo", "charlie", "delta", "echo"})
        vxboard::make_app(apps.dir, name, "#!/bin/sh\nexit 0\n", "modes=av\n");
    vxboard::BoardConfig cfg;
    cfg.apps_dir = apps.dir;
    cfg.video_mode = 3;
    vxboard::Board b(cfg);
    b.start();
    if (!b.wait_line("scan done:", Millis(15000))) return false;
    b.tap(KEY_PLAY, Millis(2000));
    if (!b.wait_line("menu OSD open (av, 5 apps)", Millis(3000))) return false;
    b.settle(Millis(250), Millis(3000));

    const vxboard::OsdController& osd = b.state().osd;
    long transfers = 0, writes = 0, changed = 0;
    int moves = 0;
    for (int key : {KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_UP, KEY_UP, KEY_UP,
                    KEY_UP, KEY_UP}) {
        const std::vector<std::string> before = b.osd_text();
        const uint32_t t0 = osd.transfers.load(), w0 = osd.char_writes.load();
        const uint32_t c0 = osd.commits.load();
        b.tap(key, Millis(150));
        if (!wait_for([&] { return osd.commits.load() != c0; }, Millis(2000))) return false;
        b.settle(Millis(200), Millis(2000));
        transfers += osd.transfers.load() - t0;
        writes += osd.char_writes.load() - w0;
        changed += cells_changed(before, b.osd_text());
        ++moves;
    }
    if (changed == 0) return false;
    std::printf("figure|OSD transfers per move in the AV menu|%.1f|\n",
                static_cast<double>(transfers) / moves);
    std::printf("figure|OSD cells changed per move|%.1f|\n", static_cast<double>(changed) / moves);
    std::printf("figure|OSD character writes / cells changed|%.2f|\n",
                static_cast<double>(writes) / changed);
    std::printf("figure|OSD transfers / cells changed|%.1f|\n",
                static_cast<double>(transfers) / changed);
    return true;
}

// The median of `n` times from a button's change on the line (done by `change`) to the next
// picture panned on screen, in ms; -1 when a picture did not come.
double median_to_picture(vxboard::Board& b, int n, const std::function<void()>& change,
                         const std::function<void()>& undo) {
    std::vector<double> ms;
    for (int i = 0; i < n; ++i) {
        const uint32_t g = b.state().screen.generation.load();
        const auto t0 = Clock::now();
        change();
        if (!wait_for([&] { return b.state().screen.generation.load() != g; }, Millis(3000)))
            return -1;
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        undo();
        b.settle(Millis(300), Millis(3000));
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// On the real clock: the launcher moves its menu's highlight at a DOWN tap's release; the
// sample hello-world redraws its counter at a press. Both read the line the launcher's way:
// three equal samples, each after the settle wait.
bool button_figures(vxboard::Target target) {
    ScratchApps apps;
    const std::string sample = vxboard::sample_apps_dir(target) + "/hello-world";
    std::filesystem::copy(sample, apps.dir + "/hello-world",
                          std::filesystem::copy_options::recursive);
    vxboard::make_app(apps.dir, "second", "#!/bin/sh\nexit 0\n");
    vxboard::BoardConfig cfg;
    cfg.apps_dir = apps.dir;
    cfg.target = target;
    vxboard::Board b(cfg);
    b.start();
    // The emulated goggles boot their kernel first.
    if (!b.wait_line("scan done:", Millis(60000))) return false;
    b.tap(KEY_PLAY, Millis(2000));
    if (!b.wait_line("menu open (hold play", Millis(3000))) return false;
    b.settle(Millis(300), Millis(3000));
    const double launcher = median_to_picture(
        b, 9,
        [&] {
            b.press(KEY_DOWN);
            std::this_thread::sleep_for(Millis(150));
            b.release();
        },
        [] {});
    // Two entries in directory order: hello-world is the one that starts, after a move at most.
    for (int i = 0; i < 2 && !b.wait_line("launched hello-world", Millis(0)); ++i) {
        b.tap(KEY_MIDDLE, Millis(150));
        if (b.wait_line("launched hello-world", Millis(1000))) break;
        b.settle(Millis(300), Millis(3000));
        b.tap(KEY_DOWN, Millis(150));
        b.settle(Millis(300), Millis(3000));
    }
    if (!b.wait_line("launched hello-world", Millis(0))) return false;
    std::this_thread::sleep_for(Millis(1000));
    const double app = median_to_picture(
        b, 9, [&] { b.press(KEY_UP); }, [&] { b.release(); });
    if (launcher < 0 || app < 0) return false;
    const char* on = target == vxboard::Target::Goggles ? ", emulated goggles" : "";
    std::printf("figure|button to picture, launcher's menu (tap's release to its pan)%s, median ms"
                "|%.0f|\n",
                on, launcher);
    std::printf("figure|button to picture, an app on the library (press to its pan)%s, median ms"
                "|%.0f|\n",
                on, app);
    return true;
}

// CPU time of a process in seconds: the scheduler's nanoseconds where the kernel keeps them
// (`sched`), else the clock ticks of /proc/PID/stat.
double cpu_seconds(pid_t pid, bool sched) {
    const std::string base = "/proc/" + std::to_string(pid);
    if (sched) {
        std::ifstream in(base + "/schedstat");
        unsigned long long ns = 0;
        in >> ns;
        return static_cast<double>(ns) / 1e9;
    }
    std::ifstream in(base + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stol(field);
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool idle_figure(int seconds) {
    ScratchApps apps;
    vxboard::make_app(apps.dir, "one", "#!/bin/sh\nexit 0\n");
    vxboard::BoardConfig cfg;
    cfg.apps_dir = apps.dir;
    vxboard::Board b(cfg);
    b.start();
    if (!b.wait_line("scan done:", Millis(15000))) return false;
    const pid_t pid = b.launcher_host_pid();
    if (pid <= 0) return false;
    const bool sched = std::ifstream("/proc/" + std::to_string(pid) + "/schedstat").good();
    const double before = cpu_seconds(pid, sched);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double share = 100.0 * (cpu_seconds(pid, sched) - before) / wall;
    std::printf("figure|idle launcher CPU over %d s, %% of one core|%.3f|< 0.5\n", seconds, share);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--target" && std::string(argv[2]) == "goggles") {
        if (button_figures(vxboard::Target::Goggles)) return 0;
        std::fprintf(stderr, "board_figures: no picture followed a button on the goggles\n");
        return 1;
    }
    const int idle_s = argc > 1 ? std::atoi(argv[1]) : 30;
    if (idle_s < 1) {
        std::fprintf(stderr, "usage: board_figures [IDLE_SECONDS] | --target goggles\n");
        return 2;
    }
    bool ok = true;
    if (!osd_figures()) {
        std::fprintf(stderr, "board_figures: the AV overlay did not open or move\n");
        ok = false;
    }
    if (!button_figures(vxboard::Target::Host)) {
        std::fprintf(stderr, "board_figures: no picture followed a button\n");
        ok = false;
    }
    if (!idle_figure(idle_s)) {
        std::fprintf(stderr, "board_figures: the launcher did not start\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
