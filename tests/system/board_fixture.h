#pragma once
// What the tests of the real launcher on the virtual board share: a scratch app directory and
// a board around it, the launcher's log, the goggles' screen read off the framebuffer, and a
// stepped launcher driven pass by pass on its virtual clock.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "../common/scratch.h"
#include "base/log_lines.h"
#include "base/paths.h"
#include "base/timings.h"
#include "base/version.h"
#include "board/board.h"
#include "board/screen.h"
#include "board_paths.h"
#include "display/draw.h"

namespace systest {

using vxboard::Millis;
using Lines = std::vector<std::string>;

enum Key : int { UP = 0, DOWN = 1, MIDDLE = 4, PLAY = 6 };

constexpr Millis START_TIMEOUT(15000); // qemu-arm takes a while to bring up a binary
constexpr Millis TAP(150);
// The launcher times a hold from its third equal sample of the press, up to four passes
// (about 170 ms) after the line went down: holds this far past a threshold cross it however
// the passes fall. The menu's hold is held a while longer, as a wearer waits to see it.
constexpr Millis OPEN_HOLD(HOLD_OPEN_MS + 500);
constexpr Millis CLOSE_HOLD(HOLD_CLOSE_MS + 300);
constexpr Millis HOLD_MAX(4000);     // of the virtual clock: any hold's outcome comes before
constexpr Millis APP_REAL_MAX(5000); // an app runs in real time

// A line of the launcher's log as it writes it in `form` (one of base/log_lines.h).
template <class... Values> std::string log_text(const char* form, Values... values) {
    char buf[512];
    std::snprintf(buf, sizeof buf, form, values...);
    return buf;
}

// The overlay with nothing on it, as Board::osd_text gives it.
const Lines OSD_BLANK(8, std::string(32, ' '));

const std::string NORMAL_REGS = log_text(LOG_MODE_REGISTERS, 1, 0, 0);
const std::string BOOT_NORMAL = log_text(LOG_BOOT_MODE.c_str(), MODE_NORMAL);

// Number in a log line after `prefix`, e.g. the 512 of "keys blocked at 512 ms".
inline long number_after(const std::string& line, const std::string& prefix) {
    const auto at = line.find(prefix);
    return at == std::string::npos ? -1 : std::atol(line.c_str() + at + prefix.size());
}

// What a sanitizer build of the launcher (or of anything else on the board) writes to its
// standard error when it finds a fault: the process ends there, which a test may not notice.
constexpr const char* SANITIZER_MARKS[] = {"ERROR: AddressSanitizer",
                                           "AddressSanitizer:DEADLYSIGNAL", "LeakSanitizer",
                                           "runtime error:", "ERROR: UndefinedBehaviorSanitizer"};

inline void expect_no_sanitizer_report(const vxboard::Board& b) {
    const Lines lines = b.lines();
    for (size_t i = 0; i < lines.size(); ++i)
        for (const char* mark : SANITIZER_MARKS)
            if (lines[i].find(mark) != std::string::npos) {
                std::string report;
                for (size_t j = i; j < lines.size() && j < i + 40; ++j)
                    report += "  | " + lines[j];
                ADD_FAILURE() << "sanitizer report on the board:\n" << report;
                return;
            }
}

// A sanitizer build of the launcher maps its runtime; its own allocator and quarantine grow
// the process by themselves, so memory bounds do not apply to it.
inline bool launcher_sanitized(pid_t pid) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libasan") != std::string::npos) return true;
    return false;
}

// Every board taken down during a test is checked for sanitizer reports, also one a test
// drops itself.
class BoardTest : public ScratchDir {
  public:
    void SetUp() override {
        vxboard::Board::set_stop_hook(expect_no_sanitizer_report);
        ScratchDir::SetUp();
        apps_ = dir_;
    }
    void TearDown() override {
        // A report the test's last step provoked is still on its way: let it arrive.
        if (board_ && !board_->config().stepped && launcher_sanitized(board_->launcher_host_pid()))
            board_->settle(Millis(100), Millis(500));
        board_.reset();
        vxboard::Board::set_stop_hook(nullptr);
        ScratchDir::TearDown();
    }

    // A board whose launcher runs stepped, the video path in `mode` from the start.
    static vxboard::BoardConfig stepped(int mode = MODE_NORMAL) {
        vxboard::BoardConfig cfg;
        cfg.stepped = true;
        cfg.video_mode = mode;
        return cfg;
    }

    vxboard::Board& start(vxboard::BoardConfig cfg = {}) {
        if (cfg.with_apps && cfg.apps_dir.empty()) cfg.apps_dir = apps_;
        board_ = std::make_unique<vxboard::Board>(cfg);
        board_->start();
        return *board_;
    }

    // Starts the board and waits until the launcher has scanned its catalogue; a stepped
    // launcher is then parked at its first sleep between passes.
    vxboard::Board& start_ready(vxboard::BoardConfig cfg = {}) {
        vxboard::Board& b = start(std::move(cfg));
        EXPECT_TRUE(b.wait_line("scan done:", START_TIMEOUT)) << dump();
        if (b.config().stepped) {
            EXPECT_TRUE(b.run_passes(0)) << dump();
        }
        return b;
    }
    vxboard::Board& start_stepped(vxboard::BoardConfig cfg = {}) {
        cfg.stepped = true;
        return start_ready(std::move(cfg));
    }
    // Starts the board and opens the menu with a PLAY hold, by the virtual clock on a stepped
    // board, in real time on another.
    vxboard::Board& open_menu(vxboard::BoardConfig cfg = {}) {
        vxboard::Board& b = start_ready(std::move(cfg));
        if (b.config().stepped) {
            hold_play_until("menu open (hold play");
        } else {
            b.tap(PLAY, OPEN_HOLD);
            EXPECT_TRUE(b.wait_line("menu open (hold play", Millis(3000))) << dump();
            EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
        }
        return b;
    }

    std::string dump() const {
        std::string s;
        if (board_)
            for (const std::string& l : board_->lines())
                s += "  | " + l;
        return s;
    }
    // Index of the first line at or after `from` containing `needle`, waiting for it.
    size_t line_at(const std::string& needle, size_t from = 0, Millis timeout = Millis(3000)) {
        const auto i = board_->wait_line(needle, timeout, from);
        EXPECT_TRUE(i) << "no line \"" << needle << "\"\n" << dump();
        return i.value_or(board_->lines().size());
    }
    std::string line(size_t i) const {
        const Lines all = board_->lines();
        return i < all.size() ? all[i] : std::string();
    }
    bool logged(const std::string& needle, size_t from = 0) const {
        const Lines all = board_->lines();
        for (size_t i = from; i < all.size(); ++i)
            if (all[i].find(needle) != std::string::npos) return true;
        return false;
    }
    size_t count_from(size_t from, const std::string& needle) const {
        size_t n = 0;
        const Lines all = board_->lines();
        for (size_t i = from; i < all.size(); ++i)
            n += all[i].find(needle) != std::string::npos;
        return n;
    }
    // Signals reach the goggles' service asynchronously: its state is waited for.
    bool service_runs() const {
        return wait_until([&] { return board_->service_state() != 'T'; }, Millis(1000));
    }
    bool service_stopped() const {
        return wait_until([&] { return board_->service_state() == 'T'; }, Millis(1000));
    }
    // Every process of the sandbox's process group `pgid` has ended (a zombie has).
    bool group_gone(pid_t pgid) const {
        for (const vxboard::SandboxProcess& p : board_->processes())
            if (p.ns_pgid == pgid && p.state != 'Z') return false;
        return true;
    }
    std::string processes() const {
        std::string s;
        for (const vxboard::SandboxProcess& p : board_->processes())
            s += "  " + std::to_string(p.ns_pid) + " (host " + std::to_string(p.host_pid) +
                 ", parent " + std::to_string(p.host_ppid) + ") " + p.comm + " " + p.state + "\n";
        return s;
    }

    // Stepped: passes until a line containing `needle` appears at or after line `from`.
    bool run_to_line(const std::string& needle, size_t from, Millis max = HOLD_MAX) {
        return board_->run_until([&] { return logged(needle, from); }, max);
    }
    // Stepped: PLAY held until the launcher logs `done`, then let go and seen to go.
    void hold_play_until(const std::string& done) {
        const size_t from = board_->lines().size();
        board_->press(PLAY);
        EXPECT_TRUE(run_to_line(done, from)) << dump();
        board_->release();
        EXPECT_TRUE(board_->run_passes(3));
    }
    // Stepped: MIDDLE starts the selected app, which runs to its end in real time and is
    // reaped; the index of its "launched" line.
    size_t launch_and_reap(const std::string& name) {
        const size_t from = board_->lines().size();
        board_->tap(MIDDLE, TAP);
        const size_t at = line_at("launched " + name + " pid=", from, Millis(0));
        EXPECT_TRUE(
            board_->wait_ended(static_cast<pid_t>(number_after(line(at), "pid=")), APP_REAL_MAX));
        EXPECT_TRUE(run_to_line("child " + name + " exited\n", at)) << dump();
        return at;
    }

    bool menu_shown() const { return vxboard::menu_on_screen(*board_); }
    int highlighted_slot() const { return vxboard::highlighted_slot(*board_); }

    std::string apps_;
    std::unique_ptr<vxboard::Board> board_;
};

// The tests of what the board's preload library answers for the devices (the ADC's settling,
// the OSD controller, the PWM chip's sysfs): the static product binary runs without it.
class PreloadedBoardTest : public BoardTest {
  public:
    void SetUp() override {
        if (vxboard::target_from_env() == vxboard::Target::ArmStatic)
            GTEST_SKIP() << "the static build runs without the board's preload";
        BoardTest::SetUp();
    }
};

} // namespace systest
