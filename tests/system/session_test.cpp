// Randomized sessions: one launcher on a stepped board driven by a seeded stream of presses,
// holds of every length, slides from one button to another, taps, video-mode switches,
// device faults and apps that end at once, run a while or ignore SIGTERM. After every step
// the launcher's log is followed through the gesture's grammar and the board is held to what
// the launcher's state allows; idle, nothing it owns may grow. Each session ends with a
// signal and what it must give back. One session starts just before the millisecond count
// wraps.
//
// VX_SESSION_SEED=N replays one session (its seed is printed at its start and on failure);
// VX_SESSION_LOGS=DIR keeps each session's launcher log as DIR/SEED.log, to compare builds;
// VX_SESSION_SECONDS runs sessions for that long in all (default: a slice of three).
#include <dirent.h>

#include <csignal>
#include <cstdlib>
#include <random>

#include "base/log_lines.h"
#include "board/log_forms.h"
#include "board/pwm_history.h"

#include "board_fixture.h"

namespace systest {
namespace {

using Clock = std::chrono::steady_clock;

enum class Ui { Idle, Blocked, Menu, App };

constexpr int STEPS_PER_SESSION = 120;
constexpr int SLICE_SESSIONS = 3;
constexpr long ANON_SLACK_KB = 64;

// The video mode the LT8668's registers say, as the launcher reads them.
int mode_of(const std::vector<std::string>& regs) {
    const auto reg = [&](size_t i) { return std::stoi(regs[i], nullptr, 16); };
    if (reg(0) == 2 && reg(1) == 2 && reg(2) == 1) return MODE_AV;
    return reg(0) == 1 ? MODE_NORMAL : reg(0) == 2 ? MODE_HDMI : MODE_UNKNOWN;
}

// What a line says the launcher did: the states it may come in (none listed: any) and the
// one it leaves it in (none: the same).
struct Move {
    std::string_view form;
    std::vector<Ui> from;
    std::optional<Ui> to;
};
const Move MOVES[] = {
    {LOG_MODE_REGISTERS, {}, {}},
    {LOG_KEYS_BLOCKED, {Ui::Idle}, Ui::Blocked},
    {LOG_HOLD_ABORTED, {Ui::Idle, Ui::Blocked}, Ui::Idle},
    {LOG_HOLD_CANCELLED, {Ui::Idle, Ui::Blocked}, Ui::Idle},
    {LOG_CLOSING_HOLD_ABORTED, {Ui::Menu}, {}},
    {LOG_KEYS_RESUMED, {}, {}},
    {LOG_MENU_OPEN, {Ui::Blocked}, Ui::Menu},
    {LOG_MENU_OSD_OPEN, {Ui::Blocked}, Ui::Menu},
    {LOG_FB_MENU_REFUSED, {}, Ui::Idle},
    {LOG_OSD_OPEN_FAIL, {}, Ui::Idle},
    {LOG_MENU_CLOSED.c_str(), {Ui::Menu}, Ui::Idle},
    {LOG_LAUNCHED, {Ui::Menu}, Ui::App},
    {LOG_APP_STOPPED.c_str(), {Ui::App}, {}},
    // The return's outcome follows in the same pass; back in NORMAL mode with the framebuffer
    // at hand it says nothing, and the menu is back.
    {LOG_CHILD_EXITED, {Ui::App}, Ui::Menu},
    {LOG_MENU_SKIP_AFTER_APP, {}, Ui::Idle},
    {LOG_OSD_OPEN_FAIL_AFTER_APP, {}, Ui::Idle},
    {LOG_MENU_OSD_AFTER_APP, {}, Ui::Menu},
};

// What the test knows of the launcher from its log and of the board from what it did to it.
struct Model {
    uint32_t seed_ = 0;
    int step_ = 0;
    std::string last_ = "start";
    size_t seen_ = 0;
    Ui ui_ = Ui::Idle;
    bool paused_ = false;
    int mode_read_ = MODE_NORMAL;
    std::string app_;
    pid_t app_pid_ = -1;
    bool app_stopped_ = false; // the escape signalled the app
    pid_t group_ended_ = -1;   // the group of an app collected after the escape
    uint32_t pans_ = 0;
    bool stale_page_ = false; // a pan was refused: the last page may stay on screen
};

class Session : public BoardTest, public Model {
  public:
    void run(uint32_t seed, bool across_the_wrap) {
        *static_cast<Model*>(this) = Model{};
        seed_ = seed;
        rng_.seed(seed);
        std::printf("session seed %u (VX_SESSION_SEED=%u replays it)\n", seed, seed);
        vxboard::make_app(apps_, "quick", "#!/bin/sh\nexit 3\n", "modes=normal,av,hdmi\n");
        vxboard::make_app(apps_, "runner", "#!/bin/sh\nsleep 0.2\n", "modes=normal,av\n");
        vxboard::make_app(apps_, "stubborn", "#!/bin/sh\ntrap '' TERM\nsleep 0.3\n");
        vxboard::make_app(apps_, "hdmi_only", "#!/bin/sh\nexit 0\n", "modes=hdmi\n");
        // The usual shell app: a wrapper that dies of a SIGTERM while its program ignores it.
        vxboard::make_app(apps_, "wrapper", "#!/bin/sh\nsh -c 'trap \"\" TERM; sleep 1' &\nwait\n",
                          "modes=normal,av\n");
        vxboard::BoardConfig cfg;
        cfg.stepped = true;
        if (across_the_wrap) cfg.seconds_before_wrap = 20;
        vxboard::Board& b = start_stepped(cfg);
        follow();
        baseline_ = figures();
        sanitized_ = launcher_sanitized(b.launcher_host_pid());
        for (step_ = 0; step_ < STEPS_PER_SESSION && !HasFailure(); ++step_) {
            act();
            follow();
            check();
        }
        if (across_the_wrap) {
            EXPECT_GT(b.virtual_ms(), int64_t{1} << 31) << "the session did not cross the wrap";
        }
        if (!HasFailure()) end_with_a_signal();
        if (const char* dir = std::getenv("VX_SESSION_LOGS")) {
            std::ofstream out(std::string(dir) + "/" + std::to_string(seed) + ".log");
            for (const std::string& l : b.lines())
                out << l;
        }
        if (HasFailure())
            std::printf("session seed %u failed at step %d: %s\n", seed, step_, last_.c_str());
    }

  private:
    struct Figures {
        int fds = 0;
        long anon_kb = 0;
    };

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    Millis span(int lo, int hi) { return Millis(std::uniform_int_distribution<int>(lo, hi)(rng_)); }

    // One random thing a wearer, the goggles or the world does.
    void act() {
        vxboard::Board& b = *board_;
        static const int KEYS[] = {UP, DOWN, MIDDLE, PLAY, 7};
        const int what = pick(12);
        const int key = KEYS[pick(5)];
        if (ui_ == Ui::App && app_pid_ > 0 && pick(4) == 0) {
            last_ = "press " + std::to_string(key) + " while the app ends";
            held_across_the_end(key);
            return;
        }
        if (what < 4) {
            last_ = "tap " + std::to_string(key);
            b.tap(key, span(40, 450));
        } else if (what < 6) {
            // Either side of each of the gesture's thresholds, and between them.
            static const int64_t HOLDS[] = {300,
                                            HOLD_BLOCK_MS - 1,
                                            HOLD_BLOCK_MS,
                                            1000,
                                            HOLD_OPEN_MS - 1,
                                            HOLD_OPEN_MS,
                                            HOLD_OPEN_MS + 100,
                                            HOLD_CLOSE_MS - 1,
                                            HOLD_CLOSE_MS,
                                            CLOSE_HOLD.count(),
                                            ESCAPE_HOLD_MS + 500};
            const Millis held(HOLDS[pick(static_cast<int>(std::size(HOLDS)))]);
            last_ = "hold PLAY " + std::to_string(held.count());
            b.tap(PLAY, held);
        } else if (what == 6) {
            const int to = KEYS[pick(5)];
            last_ = "slide " + std::to_string(key) + " to " + std::to_string(to);
            b.press(key);
            expect_passing(b.run_for(span(0, 2000)));
            b.tap(to, span(40, 700));
        } else if (what == 7) {
            last_ = "long press " + std::to_string(key);
            b.tap(key, span(451, 1200));
        } else if (what == 8) {
            const int mode = pick(4);
            last_ = "video mode " + std::to_string(mode);
            b.set_video_mode(mode);
            b.state().opens.remote_i2c_errno = pick(6) == 0 ? ENOENT : 0;
        } else if (what == 9) {
            last_ = "device faults";
            b.state().fb.fail_pan = pick(5) == 0 ? EIO : 0;
            stale_page_ = stale_page_ || b.state().fb.fail_pan.load() != 0;
            b.state().osd.bad_count = pick(4) == 0 ? 3 : 0;
            b.state().osd.busy_polls = static_cast<uint32_t>(pick(3));
        } else {
            last_ = "wait";
            expect_passing(b.run_for(span(30, 2500)));
        }
        // An app runs in real time: let it end now and then before the launcher looks.
        if (ui_ == Ui::App && app_pid_ > 0 && pick(2) == 0) {
            last_ += ", app ends";
            EXPECT_TRUE(b.wait_ended(app_pid_, APP_REAL_MAX)) << where();
            expect_passing(b.run_passes(3));
        }
    }

    void expect_passing(bool ok) { EXPECT_TRUE(ok) << "the launcher stopped passing" << where(); }

    // A button goes down while the app runs and stays down while it ends and the launcher
    // takes it back; its release then is nobody's: no line, no picture, no overlay write.
    void held_across_the_end(int key) {
        vxboard::Board& b = *board_;
        b.press(key);
        expect_passing(b.run_passes(4));
        follow();
        if (ui_ != Ui::App) { // the app ended before the press was seen: a plain press
            b.release();
            expect_passing(b.run_passes(3));
            return;
        }
        EXPECT_TRUE(b.wait_ended(app_pid_, APP_REAL_MAX)) << where();
        expect_passing(b.run_until(
            [&] {
                for (const std::string& l : b.lines(seen_)) {
                    const std::optional<vxboard::LogLine> r = vxboard::read_log_line(l);
                    if (r && r->form == LOG_CHILD_EXITED && r->values[0] == app_) return true;
                }
                return false;
            },
            Millis(4000)));
        expect_passing(b.run_passes(2));
        follow();
        const size_t lines = b.line_count();
        const uint32_t pans = b.state().fb.pans.load(), writes = b.state().osd.char_writes.load();
        b.release();
        expect_passing(b.run_passes(4));
        EXPECT_EQ(b.line_count(), lines) << "a release acted after the app's end" << where();
        EXPECT_EQ(b.state().fb.pans.load(), pans) << where();
        EXPECT_EQ(b.state().osd.char_writes.load(), writes) << where();
    }

    // The launcher's new lines, through the gesture's grammar.
    void follow() {
        const Lines all = board_->lines();
        for (; seen_ < all.size(); ++seen_) {
            const std::optional<vxboard::LogLine> l = vxboard::read_log_line(all[seen_]);
            EXPECT_TRUE(l) << "a line of no known form: " << all[seen_] << where();
            for (const Move& m : MOVES) {
                if (!l || l->form != m.form) continue;
                EXPECT_TRUE(m.from.empty() || std::count(m.from.begin(), m.from.end(), ui_))
                    << "\"" << all[seen_] << "\" in state " << int(ui_) << where();
                effects(*l);
                ui_ = m.to.value_or(ui_);
            }
        }
    }

    // What a line tells of the launcher besides its state.
    void effects(const vxboard::LogLine& l) {
        if (l.form == LOG_MODE_REGISTERS) {
            mode_read_ = mode_of(l.values);
        } else if (l.form == LOG_KEYS_BLOCKED) {
            paused_ = true;
        } else if (l.form == LOG_KEYS_RESUMED) {
            EXPECT_TRUE(paused_) << "resumed what was not paused" << where();
            paused_ = false;
        } else if (l.form == LOG_LAUNCHED) {
            EXPECT_EQ(app_, "") << "launched before the last one was reaped" << where();
            app_ = l.values[0];
            app_pid_ = static_cast<pid_t>(std::stol(l.values[1]));
        } else if (l.form == LOG_APP_STOPPED.c_str()) {
            EXPECT_EQ(l.values[0], app_) << where();
            app_stopped_ = true;
        } else if (l.form == LOG_CHILD_EXITED) {
            EXPECT_EQ(l.values[0], app_) << where();
            if (app_stopped_) group_ended_ = app_pid_;
            app_.clear();
            app_pid_ = -1;
            app_stopped_ = false;
        }
    }

    // What the board may show and run in the state the log says the launcher is in. Every step
    // ends with the buttons let go and seen let go: no hold is in progress, nothing sounds.
    void check() {
        vxboard::Board& b = *board_;
        const vxboard::PwmChip& pwm = b.state().pwm;
        EXPECT_EQ(vxboard::pwm_sounding_hz(pwm.period_ns, pwm.duty_ns, pwm.enabled != 0), 0u)
            << "a tone sounds with no button held" << where();
        const bool held = ui_ != Ui::Idle;
        EXPECT_TRUE(wait_until([&] { return (b.service_state() == 'T') == held; }, Millis(500)))
            << "the goggles' service " << (held ? "running" : "stopped") << where();
        if (b.screen_row() == 0) stale_page_ = false;
        if (ui_ == Ui::Idle && !stale_page_) {
            EXPECT_EQ(b.screen_row(), 0u) << "idle, a launcher page on screen" << where();
        }
        if (ui_ == Ui::Idle) {
            EXPECT_EQ(b.osd_text(), OSD_BLANK) << "idle, text on the overlay" << where();
        }
        // A launcher page panned on screen follows a mode read that said NORMAL.
        const uint32_t pans = b.state().fb.pans.load();
        if (pans != pans_ && b.screen_row() != 0) {
            EXPECT_EQ(mode_read_, MODE_NORMAL)
                << "a launcher page panned outside NORMAL mode" << where();
        }
        pans_ = pans;
        int watchdogs = 0, zombies = 0;
        const pid_t launcher = b.launcher_host_pid();
        for (const auto& p : b.processes()) {
            watchdogs += p.host_ppid == launcher && p.ns_pid != app_pid_ && p.state != 'Z';
            zombies += p.host_ppid == launcher && p.ns_pid != app_pid_ && p.state == 'Z';
        }
        EXPECT_LE(watchdogs, 1) << where();
        // What the escape ended is gone for good once the launcher collected it.
        if (group_ended_ > 0) {
            EXPECT_TRUE(wait_until([&] { return group_gone(group_ended_); }, Millis(500)))
                << "the escape left a process of the app's group alive" << where();
            group_ended_ = -1;
        }
        if (ui_ == Ui::Idle) {
            EXPECT_EQ(watchdogs, 0) << "a watchdog left behind" << where();
            EXPECT_EQ(zombies, 0) << "a child left unreaped" << where();
            const Figures f = figures();
            EXPECT_LE(f.fds, baseline_.fds) << "descriptors grew" << where();
            if (!sanitized_) {
                EXPECT_LE(f.anon_kb, baseline_.anon_kb + ANON_SLACK_KB) << "memory grew" << where();
            }
        }
    }

    Figures figures() const {
        Figures f;
        const pid_t pid = board_->launcher_host_pid();
        if (DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
            while (const dirent* de = readdir(d))
                f.fds += de->d_name[0] != '.';
            closedir(d);
        }
        const std::string rollup = slurp("/proc/" + std::to_string(pid) + "/smaps_rollup");
        const auto at = rollup.find("Anonymous:");
        f.anon_kb = at == std::string::npos ? 0 : std::atol(rollup.c_str() + at + 10);
        return f;
    }

    // A signal ends the session: it gives back what the launcher holds, leaves an app's
    // display and the app alone; killed outright, the watchdog continues the service.
    void end_with_a_signal() {
        vxboard::Board& b = *board_;
        static const int SIGNALS[] = {SIGTERM, SIGINT, SIGKILL};
        const int sig = SIGNALS[pick(3)];
        last_ = "signal " + std::to_string(sig);
        // Now and then in the middle of a PLAY hold, the progress panel perhaps on screen.
        if (pick(3) == 0) {
            last_ += " during a hold";
            b.press(PLAY);
            expect_passing(b.run_for(span(0, 1400)));
            follow();
        }
        const bool app_on_display = ui_ == Ui::App;
        b.signal_launcher(sig);
        const auto st = b.wait_exit(Millis(3000));
        ASSERT_TRUE(st) << where();
        EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(1800))) << where();
        if (sig == SIGKILL) return;
        EXPECT_TRUE(WIFEXITED(*st) && WEXITSTATUS(*st) == 0) << where();
        if (!app_on_display && !stale_page_) {
            EXPECT_EQ(b.screen_row(), 0u) << where();
        }
        EXPECT_EQ(b.state().pwm.enabled.load(), 0u) << "the buzzer sounds on" << where();
    }

    std::string where() const {
        const Lines all = board_->lines();
        std::string s = "\n  at step " + std::to_string(step_) + " (" + last_ + ") of seed " +
                        std::to_string(seed_) + ", the log's end:\n";
        for (size_t i = all.size() > 12 ? all.size() - 12 : 0; i < all.size(); ++i)
            s += "  | " + all[i];
        return s;
    }

    std::mt19937 rng_;
    Figures baseline_;
    bool sanitized_ = false;
};

TEST_F(Session, RandomSessionsKeepTheLaunchersPromises) {
    if (const char* s = std::getenv("VX_SESSION_SEED")) {
        run(static_cast<uint32_t>(std::strtoul(s, nullptr, 10)), false);
        return;
    }
    const char* secs = std::getenv("VX_SESSION_SECONDS");
    const auto until = Clock::now() + std::chrono::seconds(secs ? std::atoi(secs) : 0);
    std::random_device rd;
    for (int i = 0; !HasFailure() && (i < SLICE_SESSIONS || Clock::now() < until); ++i) {
        run(rd(), i == 0);
        TearDown();
        SetUp();
    }
}

} // namespace
} // namespace systest
