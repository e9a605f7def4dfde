// Faults the goggles can throw at the launcher after it is up: devices that stop opening or
// answering, directories it cannot read, forks the kernel refuses, a watchdog signalled from
// outside. After each the launcher must still do its job. The board runs stepped: holds take
// virtual time. Refused pans, the transport at a hold and apps that will not end as asked
// are scenarios (tests/scenarios).
//
// Root passes permission bits and process limits, so the faults that rest on them run the
// launcher as a user of its own (BoardConfig::unprivileged).
#include <cerrno>
#include <csignal>

#include "board_fixture.h"
#include "hw/keys.h"

namespace fs = std::filesystem;

namespace systest {
namespace {

using Inject = std::function<void(vxboard::BoardState&, bool on)>;

class FaultTest : public BoardTest {
  public:
    // The launcher runs as another user than root: the test's app directory must let it in.
    vxboard::BoardConfig unprivileged() {
        fs::permissions(apps_, fs::perms(0755));
        vxboard::BoardConfig cfg = stepped();
        cfg.unprivileged = true;
        return cfg;
    }
    // Its uid as the kernel has it (-1 when not found), so that a test knows root's
    // exemptions do not apply.
    long launcher_real_uid() {
        const pid_t pid = board_->launcher_host_pid();
        return number_after(slurp("/proc/" + std::to_string(pid) + "/status"), "Uid:\t");
    }
    // The launcher's children other than an app: its watchdog, while it has one.
    pid_t watchdog() {
        const pid_t launcher = board_->launcher_host_pid();
        for (const auto& p : board_->processes())
            if (p.host_ppid == launcher && p.state != 'Z' && p.comm != "app") return p.host_pid;
        return -1;
    }
};

// ---- The framebuffer, opened on demand after an AV start-up ------------------------------

struct FbFault {
    const char* name;
    Inject inject;
    const char* cause; // what the failed open logs
    friend void PrintTo(const FbFault& c, std::ostream* os) { *os << c.name; }
};

class FbOnDemand : public FaultTest, public ::testing::WithParamInterface<FbFault> {};

// Every pass of the progress window tries the device again; at 1500 ms the menu is refused,
// the goggles get their service back, and once the device works a hold opens the menu.
TEST_P(FbOnDemand, RefusesTheMenuUntilTheDeviceWorks) {
    const FbFault& c = GetParam();
    app("one");
    vxboard::Board& b = start_ready(stepped(MODE_AV));
    b.set_video_mode(1);
    c.inject(b.state(), true);
    const size_t from = b.lines().size();
    b.tap(PLAY, Millis(1700)); // through the opening, whatever it comes to
    const size_t refused = line_at(LOG_FB_MENU_REFUSED, from, Millis(0));
    EXPECT_EQ(line(refused - 1), c.cause);
    // Once per pass of the window (the idle sleep and the ADC's settle wait) and once at the
    // opening threshold.
    constexpr uint32_t PASS_MS = (POLL_IDLE_US + ADC_SETTLE_US) / 1000;
    EXPECT_GE(count_from(from, c.cause), HOLD_PANEL_SPAN_MS / PASS_MS) << dump();
    EXPECT_EQ(count_from(from, "keys resumed"), 0u);
    EXPECT_TRUE(service_runs());
    EXPECT_EQ(b.state().fb.pans.load(), 0u);

    c.inject(b.state(), false);
    hold_play_until("menu open (hold play, 1 apps)\n");
    EXPECT_TRUE(menu_shown());
}

const FbFault FB_FAULTS[] = {
    {"open", [](auto& s, bool on) { s.opens.fb0_errno = on ? EACCES : 0; },
     "fb0: Permission denied\n"},
    {"vscreeninfo", [](auto& s, bool on) { s.fb.fail_get_var = on ? EIO : 0; },
     "ioctl: Input/output error\n"},
    {"layout", [](auto& s, bool on) { s.fb.line_length = on ? 5120 : 7680; },
     "unexpected fb layout\n"},
    {"mmap", [](auto& s, bool on) { s.fb.fail_mmap = on ? ENOMEM : 0; },
     "mmap: Cannot allocate memory\n"},
};

INSTANTIATE_TEST_SUITE_P(Faults, FbOnDemand, ::testing::ValuesIn(FB_FAULTS),
                         [](const auto& info) { return std::string(info.param.name); });

// A driver that keeps two pages of virtual height: every pan to the second launcher page is
// refused, so the first frame of the hold (on row 1080) stays up, and the launcher runs on.
TEST_F(FaultTest, RefusedThirdPageLeavesALauncherThatStillRuns) {
    app("a");
    app("b");
    vxboard::BoardConfig cfg = stepped();
    cfg.before_launch = [](vxboard::BoardState& s) { s.fb.fail_put_var = EINVAL; };
    vxboard::Board& b = open_menu(cfg);
    EXPECT_EQ(b.screen_row(), 1080u);
    EXPECT_EQ(b.state().fb.pans.load(), 1u) << "row 2160 lies outside the virtual screen";
    b.tap(DOWN, TAP);
    EXPECT_EQ(b.screen_row(), 1080u);
    hold_play_until(LOG_MENU_CLOSED.c_str());
    EXPECT_EQ(b.screen_row(), 0u);
    EXPECT_TRUE(service_runs());
}

// ---- Faults that only bind a launcher that is not root -----------------------------------

// An app directory gone unreadable lists nothing and starts nothing; readable again, the
// next opening lists it all.
TEST_F(FaultTest, UnreadableAppDirectoryListsNothingUntilReadableAgain) {
    app("one");
    app("other");
    vxboard::BoardConfig cfg = unprivileged();
    fs::permissions(apps_, fs::perms::none);
    vxboard::Board& b = start_ready(cfg);
    ASSERT_GT(launcher_real_uid(), 0);
    EXPECT_TRUE(logged("scan done: 0 apps (mode=1)\n")) << dump();
    hold_play_until("menu open (hold play, 0 apps)\n");
    EXPECT_EQ(highlighted_slot(), -1);
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    b.tap(UP, TAP);
    b.tap(MIDDLE, TAP);
    EXPECT_EQ(count_from(from, "launch"), 0u) << dump();

    fs::permissions(apps_, fs::perms(0755));
    hold_play_until(LOG_MENU_CLOSED.c_str());
    hold_play_until("menu open (hold play, 2 apps)\n");
    EXPECT_EQ(highlighted_slot(), 0);
}

// A staging directory the launcher made its own, gone unreadable: the launch fails and the
// menu stays, until it is readable again.
TEST_F(FaultTest, UnreadableStagingDirectoryFailsTheLaunchUntilReadableAgain) {
    app("victim");
    vxboard::Board& b = open_menu(unprivileged());
    ASSERT_GT(launcher_real_uid(), 0);
    launch_and_reap("victim"); // the launcher makes /tmp/vorna-x its own
    const std::string staging = b.sandbox_path(STAGING_DIR);
    fs::permissions(staging, fs::perms::none);
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    line_at("launch failed: victim\n", from, Millis(0));
    EXPECT_TRUE(menu_shown());
    EXPECT_TRUE(service_stopped()) << processes() << dump();
    fs::permissions(staging, fs::perms(0755));
    launch_and_reap("victim");
}

// The kernel refuses the launch's fork: one line, the menu stays, and the next launch after
// the limit is lifted starts the app. Refused, the watchdog's fork leaves the service
// stopped all the same, and the 3 s hold resumes it.
TEST_F(FaultTest, RefusedForksFailOnlyWhatTheyWereFor) {
    app("victim");
    vxboard::Board& b = start_ready(unprivileged());
    ASSERT_GT(launcher_real_uid(), 0);
    b.limit_processes(0);
    hold_play_until("menu open (hold play, 1 apps)\n");
    EXPECT_TRUE(service_stopped()) << processes() << dump();
    EXPECT_EQ(watchdog(), -1);
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    line_at("launch failed: victim\n", from, Millis(0));
    EXPECT_EQ(count_from(from, "launched"), 0u);
    EXPECT_FALSE(fs::exists(b.sandbox_path(std::string(STAGING_DIR) + "/victim.pid")));
    EXPECT_TRUE(menu_shown());
    b.limit_processes(std::nullopt);
    launch_and_reap("victim");
    hold_play_until(LOG_MENU_CLOSED.c_str());
    EXPECT_TRUE(service_runs());
    hold_play_until("menu open (hold play, 1 apps)\n");
    EXPECT_GT(watchdog(), 0) << "the watchdog of this pause";
}

// ---- The watchdog ------------------------------------------------------------------------

// The watchdog is a process of its own, which others may signal: a SIGTERM meant for the
// launcher's name must not make it act as the launcher (and give the service its buttons
// back behind the open menu).
TEST_F(FaultTest, SignalledWatchdogDoesNotActAsTheLauncher) {
    app("one");
    open_menu(stepped());
    const pid_t first = watchdog();
    ASSERT_GT(first, 0) << processes() << dump();
    kill(first, SIGTERM);
    // Once it has ended it can no longer act: what it did, it did before.
    ASSERT_TRUE(wait_until([&] { return watchdog() != first; }, Millis(5000))) << processes();
    EXPECT_TRUE(service_stopped()) << "the menu still holds the buttons\n" << processes() << dump();
    hold_play_until(LOG_MENU_CLOSED.c_str());
    EXPECT_TRUE(service_runs());
}

// A watchdog that dies while an app runs from the menu is replaced when the menu comes back:
// the service, still stopped, is covered again.
TEST_F(FaultTest, WatchdogThatDiesBehindAnAppIsReplacedAtTheReturn) {
    app("one");
    open_menu(stepped());
    const pid_t first = watchdog();
    ASSERT_GT(first, 0) << processes() << dump();
    kill(first, SIGKILL);
    launch_and_reap("one");
    EXPECT_TRUE(menu_shown());
    EXPECT_TRUE(service_stopped());
    const pid_t second = watchdog();
    EXPECT_GT(second, 0) << "the stopped service has no watchdog\n" << processes();
    EXPECT_NE(second, first);
}

// Under a service manager the launcher's orphans go to a subreaper, not to pid 1: the
// watchdog still sees the launcher go and continues the service.
TEST_F(FaultTest, WatchdogContinuesTheServiceWhenTheLauncherDiesUnderASubreaper) {
    app("one");
    vxboard::BoardConfig cfg = stepped();
    cfg.subreaper = true;
    vxboard::Board& b = open_menu(cfg);
    ASSERT_TRUE(service_stopped()) << processes() << dump();
    ASSERT_GT(watchdog(), 0);
    b.signal_launcher(SIGKILL);
    ASSERT_TRUE(b.wait_exit(Millis(2000)));
    EXPECT_TRUE(wait_until([&] { return service_runs(); }, Millis(1800)))
        << "the service stays stopped for good";
}

// ---- The way out of a hung app ----------------------------------------------------------

struct Hung {
    const char* name;
    const char* script;
    bool stopped; // the 10 s hold signals it
    bool kill;    // ...and it takes a SIGKILL to end it
    friend void PrintTo(const Hung& c, std::ostream* os) { *os << c.name; }
};

class HungApp : public FaultTest, public ::testing::WithParamInterface<Hung> {};

// PLAY held 10 s while an app runs ends it: SIGTERM to its group, SIGKILL 2 s later to
// whatever of the group ignores it, the app's own process reaped or not. An app that ends by
// itself before then is not signalled, and shorter holds are the app's own: nothing is
// logged, nothing sounds, the display stays the app's. The menu comes back once nothing of
// the app is left.
TEST_P(HungApp, EndsAtATenSecondPlayHold) {
    const Hung& c = GetParam();
    vxboard::make_app(apps_, "hung", c.script);
    vxboard::Board& b = open_menu(stepped());
    const uint32_t pans = b.state().fb.pans.load();
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    const pid_t group =
        static_cast<pid_t>(number_after(line(line_at("launched hung pid=", from)), "pid="));
    // The app runs in real time: it has its traps set once it says so.
    ASSERT_TRUE(wait_until(
        [&] { return slurp(b.sandbox_path(std::string(STAGING_DIR) + "/hung.log")) == "ready\n"; },
        APP_REAL_MAX));
    b.tap(PLAY, CLOSE_HOLD);
    EXPECT_EQ(b.lines().size(), from + 1) << "a 3.3 s hold is the app's\n" << dump();
    EXPECT_EQ(b.state().pwm.enabled.load(), 0u);
    EXPECT_EQ(b.state().fb.pans.load(), pans) << "the display is the app's";
    auto app_gone = [&] { return group_gone(group); };
    b.press(PLAY);
    ASSERT_TRUE(b.run_for(Millis(ESCAPE_HOLD_MS - 1000)));
    if (!c.stopped) {
        std::ofstream(b.sandbox_path("/tmp/go")).flush(); // the app's cue to end
        ASSERT_TRUE(wait_until(app_gone, APP_REAL_MAX));
    }
    ASSERT_TRUE(b.run_for(Millis(1100)));
    EXPECT_EQ(logged(log_text(LOG_APP_STOPPED.c_str(), "hung"), from), c.stopped) << dump();
    if (c.stopped) {
        // Until the launcher's clock reaches the kill, SIGTERM alone decides.
        EXPECT_EQ(wait_until(app_gone, Millis(c.kill ? 300 : 5000)), !c.kill);
        if (c.kill) {
            EXPECT_FALSE(logged("child hung exited\n", from)) << "reaped with its group alive";
        }
    }
    ASSERT_TRUE(b.run_for(Millis(ESCAPE_KILL_AFTER_MS + 500)));
    b.release();
    ASSERT_TRUE(b.run_passes(3));
    EXPECT_TRUE(wait_until(app_gone, APP_REAL_MAX)) << "the app lives on\n" << processes();
    EXPECT_TRUE(run_to_line("child hung exited\n", from)) << dump();
    EXPECT_TRUE(menu_shown());
}

const Hung HUNG[] = {
    {"looping", "#!/bin/sh\necho ready\nwhile :; do sleep 0.05; done\n", true, false},
    {"ignoring_sigterm", "#!/bin/sh\ntrap '' TERM\necho ready\nwhile :; do sleep 0.05; done\n",
     true, true},
    // The usual shell app: a wrapper that dies of the SIGTERM, its program ignores it.
    {"wrapping_a_program_that_ignores_sigterm",
     "#!/bin/sh\nsh -c 'trap \"\" TERM; echo ready; while :; do sleep 0.05; done' &\nwait\n", true,
     true},
    {"ending_by_itself_at_9_s",
     "#!/bin/sh\necho ready\nwhile [ ! -e /tmp/go ]; do sleep 0.05; done\n", false, false},
};

INSTANTIATE_TEST_SUITE_P(Escape, HungApp, ::testing::ValuesIn(HUNG),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace systest
