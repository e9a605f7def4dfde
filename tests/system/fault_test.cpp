// Faults the goggles can throw at the launcher after it is up: devices that stop opening or
// answering, a staging area it cannot use, forks the kernel refuses, and apps that end in
// ways a launcher would rather they did not. After each the launcher must still do its job.
//
// Root passes permission bits and process limits, so the faults that rest on them run the
// launcher as a user of its own (BoardConfig::unprivileged).
#include <sys/stat.h>

#include <cerrno>
#include <csignal>

#include "flow_fixture.h"

namespace fs = std::filesystem;

namespace systest {
namespace {

using Lines = std::vector<std::string>;
using Inject = std::function<void(vxboard::BoardState&, bool on)>;

constexpr const char* FB_REFUSED = "fb0 init fail — menu refused\n";
constexpr const char* AV_REGS = "mode: LT8668 B7=0x02 AD=0x02 AC=0x01\n";
constexpr const char* ZERO_REGS = "mode: LT8668 B7=0x00 AD=0x00 AC=0x00\n";

class FaultTest : public FlowTest {
  protected:
    Lines since(size_t from) const {
        const Lines all = board_->lines();
        return from < all.size() ? Lines(all.begin() + static_cast<long>(from), all.end())
                                 : Lines{};
    }
    // The lines from `from` on, once the launcher is quiet, each starting with its `want`.
    void expect_lines_from(size_t from, const Lines& want) {
        board_->settle(Millis(300), Millis(3000));
        const Lines got = since(from);
        bool ok = got.size() == want.size();
        for (size_t i = 0; ok && i < want.size(); ++i)
            ok = got[i].rfind(want[i], 0) == 0;
        std::string text;
        for (const std::string& l : got)
            text += "  | " + l;
        EXPECT_TRUE(ok) << "got:\n" << text;
    }
    size_t count_from(size_t from, const std::string& needle) const {
        size_t n = 0;
        for (const std::string& l : since(from))
            n += l.find(needle) != std::string::npos;
        return n;
    }
    bool service_runs() const {
        return wait_until([&] { return board_->service_state() != 'T'; }, Millis(1000));
    }
    vxboard::Board& open_overlay(vxboard::BoardConfig cfg = {}) {
        cfg.video_mode = 3;
        vxboard::Board& b = start_ready(std::move(cfg));
        b.tap(PLAY, OPEN_HOLD);
        EXPECT_TRUE(b.wait_line("menu OSD open (av, ", Millis(5000))) << dump();
        return b;
    }
    // The launcher runs as another user than root: the test's app directory must let it in.
    vxboard::BoardConfig unprivileged() {
        fs::permissions(apps_, fs::perms(0755));
        vxboard::BoardConfig cfg;
        cfg.unprivileged = true;
        return cfg;
    }
    // Its uid as the kernel has it, so that a test knows root's exemptions do not apply.
    uid_t launcher_real_uid() {
        const std::string status =
            slurp("/proc/" + std::to_string(board_->launcher_host_pid()) + "/status");
        const auto at = status.find("Uid:\t");
        return at == std::string::npos ? 0 : static_cast<uid_t>(std::atol(status.c_str() + at + 5));
    }
    void launch_and_wait(const std::string& name) {
        const size_t from = board_->lines().size();
        const uint32_t pans = board_->state().fb.pans.load(); // a launch pans nothing
        board_->tap(MIDDLE, TAP);
        const size_t at = line_at("launched " + name + " pid=", from);
        line_at("child " + name + " exited\n", at, Millis(5000));
        expect_menu_back(pans);
    }
    // The launch leaves the menu's page up: the menu is back once a new frame is panned in.
    void expect_menu_back(uint32_t pans_before) {
        EXPECT_TRUE(
            wait_until([&] { return board_->state().fb.pans.load() > pans_before && menu_shown(); },
                       Millis(1500)))
            << dump();
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
    vxboard::BoardConfig cfg;
    cfg.video_mode = 3;
    vxboard::Board& b = start_ready(cfg);
    b.set_video_mode(1);
    c.inject(b.state(), true);
    const size_t from = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    const size_t refused = line_at(FB_REFUSED, from);
    EXPECT_EQ(line(refused - 1), c.cause);
    EXPECT_GE(count_from(from, c.cause), 5u) << "tried once per pass in the window\n" << dump();
    EXPECT_EQ(count_from(from, "keys resumed"), 0u);
    EXPECT_EQ(count_from(from, "menu open"), 0u);
    EXPECT_TRUE(service_runs());
    EXPECT_EQ(b.state().fb.pans.load(), 0u);

    c.inject(b.state(), false);
    const size_t again = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 1 apps)\n", again);
    EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
}

const FbFault FB_FAULTS[] = {
    {"open", [](auto& s, bool on) { s.opens.fb0_errno = on ? EACCES : 0; },
     "fb0: Permission denied\n"},
    {"vscreeninfo", [](auto& s, bool on) { s.fb.fail_get_var = on ? EIO : 0; },
     "ioctl: Input/output error\n"},
    {"fscreeninfo", [](auto& s, bool on) { s.fb.fail_get_fix = on ? ENODEV : 0; },
     "ioctl: No such device\n"},
    {"layout", [](auto& s, bool on) { s.fb.line_length = on ? 5120 : 7680; },
     "unexpected fb layout\n"},
    {"mmap", [](auto& s, bool on) { s.fb.fail_mmap = on ? ENOMEM : 0; },
     "mmap: Cannot allocate memory\n"},
};

INSTANTIATE_TEST_SUITE_P(Faults, FbOnDemand, ::testing::ValuesIn(FB_FAULTS),
                         [](const auto& info) { return std::string(info.param.name); });

// A refused pan leaves the page on screen as it was and is not reported; the next pan that
// works shows the latest frame. A refused pan back leaves the menu's page up while the
// goggles have their service again.
TEST_F(FaultTest, RefusedPansLeaveThePageOnScreen) {
    for (const char* n : {"a", "b", "c"})
        app(n);
    vxboard::Board& b = open_menu();
    const uint32_t row = b.screen_row();
    ASSERT_EQ(highlighted_slot(), 0);
    b.state().fb.fail_pan = EIO;
    const size_t quiet = b.lines().size();
    b.tap(DOWN, TAP);
    std::this_thread::sleep_for(Millis(200));
    EXPECT_EQ(b.screen_row(), row);
    EXPECT_EQ(highlighted_slot(), 0);
    EXPECT_EQ(b.lines().size(), quiet) << "no message";
    b.state().fb.fail_pan = 0;
    b.tap(DOWN, TAP);
    EXPECT_TRUE(wait_until([&] { return highlighted_slot() == 2; }, Millis(600)));

    b.state().fb.fail_pan = EIO;
    const size_t from = b.lines().size();
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", from);
    EXPECT_TRUE(service_runs());
    EXPECT_NE(b.screen_row(), 0u);

    b.state().fb.fail_pan = 0;
    const size_t again = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 3 apps)\n", again);
    EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", again);
    EXPECT_EQ(b.screen_row(), 0u);
}

// A driver that keeps two pages of virtual height: every pan to the second launcher page is
// refused, so the first frame of the hold (on row 1080) stays up, and the launcher runs on:
// it opens, navigates and closes the menu and gives the goggles back.
TEST_F(FaultTest, RefusedThirdPageLeavesALauncherThatStillRuns) {
    app("a");
    app("b");
    vxboard::BoardConfig cfg;
    cfg.before_launch = [](vxboard::BoardState& s) { s.fb.fail_put_var = EINVAL; };
    vxboard::Board& b = start_ready(cfg);
    EXPECT_TRUE(logged("FBIOPUT yvirt=3240 failed errno=22\n"));
    const size_t from = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 2 apps)\n", from);
    EXPECT_EQ(b.screen_row(), 1080u);
    EXPECT_EQ(b.state().fb.pans.load(), 1u) << "row 2160 lies outside the virtual screen";
    b.tap(DOWN, TAP);
    std::this_thread::sleep_for(Millis(200));
    EXPECT_EQ(b.screen_row(), 1080u);
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", from);
    EXPECT_EQ(b.screen_row(), 0u);
    EXPECT_TRUE(service_runs());
    const size_t again = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 2 apps)\n", again);
    EXPECT_EQ(b.service_state(), 'T');
    b.signal_launcher(SIGTERM);
    const auto st = b.wait_exit(Millis(3000));
    ASSERT_TRUE(st);
    EXPECT_TRUE(WIFEXITED(*st) && WEXITSTATUS(*st) == 0);
    EXPECT_EQ(b.screen_row(), 0u);
    EXPECT_TRUE(service_runs());
}

// ---- The I2C transport at a hold in AV mode ----------------------------------------------

struct I2cFault {
    const char* name;
    Inject inject;
    Lines want; // the lines of the failed hold, by their beginnings
    friend void PrintTo(const I2cFault& c, std::ostream* os) { *os << c.name; }
};

class I2cAtHold : public FaultTest, public ::testing::WithParamInterface<I2cFault> {};

TEST_P(I2cAtHold, RefusesTheOverlayUntilTheTransportWorks) {
    const I2cFault& c = GetParam();
    app("one", "modes=av\n");
    vxboard::BoardConfig cfg;
    cfg.video_mode = 3;
    vxboard::Board& b = start_ready(cfg);
    c.inject(b.state(), true);
    const size_t from = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    expect_lines_from(from, c.want);
    EXPECT_TRUE(service_runs());
    EXPECT_EQ(b.state().osd.char_writes.load(), 0u);

    c.inject(b.state(), false);
    const size_t again = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu OSD open (av, 1 apps)\n", again);
    EXPECT_EQ(b.osd_text()[2].substr(0, 6), "%  ONE");
}

const I2cFault I2C_FAULTS[] = {
    {"gone_at_the_press",
     [](auto& s, bool on) { s.opens.remote_i2c_errno = on ? ENOENT : 0; },
     {"menu refused: mode=0\n"}},
    {"failing_at_the_press",
     [](auto& s, bool on) { s.i2c.fail_all = on ? 1 : 0; },
     {ZERO_REGS, ZERO_REGS, "menu refused: mode=0\n"}},
    {"gone_at_the_overlay",
     [](auto& s, bool on) {
         s.opens.remote_i2c_opens_left = on ? 1 : 0; // the mode read at the press gets through
         s.opens.remote_i2c_errno = on ? ENODEV : 0;
     },
     {AV_REGS, "hold: keys blocked at ", "keys resumed\n", "osd menu open fail\n"}},
};

INSTANTIATE_TEST_SUITE_P(Faults, I2cAtHold, ::testing::ValuesIn(I2C_FAULTS),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The return from an app -------------------------------------------------------------

struct ReturnFault {
    const char* name;
    int mode_after;
    Inject inject;
    const char* line;
    const char* reopened; // what the next hold logs once the fault is gone
    friend void PrintTo(const ReturnFault& c, std::ostream* os) { *os << c.name; }
};

class ReturnFromApp : public FaultTest, public ::testing::WithParamInterface<ReturnFault> {};

// The menu cannot come back: the launcher goes idle and gives the goggles everything back
// at once, and a later hold opens the menu when the device is there again.
TEST_P(ReturnFromApp, GoesIdleAndRecovers) {
    const ReturnFault& c = GetParam();
    vxboard::make_app(apps_, "runner", "#!/bin/sh\nsleep 1\n", "modes=av,normal\n");
    vxboard::Board& b = open_overlay();
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    const size_t launched = line_at("launched runner pid=", from);
    b.set_video_mode(c.mode_after);
    c.inject(b.state(), true);
    const size_t exited = line_at("child runner exited\n", launched, Millis(5000));
    const size_t failed = line_at(c.line, exited);
    line_at("keys resumed\n", failed);
    EXPECT_TRUE(service_runs());
    EXPECT_EQ(b.screen_row(), 0u);

    c.inject(b.state(), false);
    const size_t again = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    line_at(c.reopened, again);
}

const ReturnFault RETURN_FAULTS[] = {
    {"framebuffer_fails", 1, [](auto& s, bool on) { s.fb.fail_get_var = on ? EIO : 0; },
     "menu skip po child (mode=1)\n", "menu open (hold play, 1 apps)\n"},
    {"overlay_fails", 3,
     [](auto& s, bool on) {
         s.opens.remote_i2c_opens_left = on ? 1 : 0;
         s.opens.remote_i2c_errno = on ? ENODEV : 0;
     },
     "osd menu open fail po child\n", "menu OSD open (av, 1 apps)\n"},
    {"transport_gone", 3, [](auto& s, bool on) { s.opens.remote_i2c_errno = on ? ENOENT : 0; },
     "menu skip po child (mode=0)\n", "menu OSD open (av, 1 apps)\n"},
};

INSTANTIATE_TEST_SUITE_P(Faults, ReturnFromApp, ::testing::ValuesIn(RETURN_FAULTS),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The staging area -------------------------------------------------------------------

struct StagingFault {
    const char* name;
    const char* in_the_way; // below the sandbox's /tmp: a file or directory the launch needs
    bool staged_copy_stays; // the copy is made before the obstacle is met
    friend void PrintTo(const StagingFault& c, std::ostream* os) { *os << c.name; }
};

class StagingBlocked : public FaultTest, public ::testing::WithParamInterface<StagingFault> {};

TEST_P(StagingBlocked, FailsTheLaunchUntilTheWayIsClear) {
    const StagingFault& c = GetParam();
    probe("victim", "args=--sleep-ms 200\n");
    const std::string in_the_way = std::string("/tmp/") + c.in_the_way;
    vxboard::BoardConfig cfg;
    // A file where a directory belongs, or a directory where a file does.
    cfg.tmp_files = {{fs::path(c.in_the_way).filename() == "vorna-x"
                          ? std::string(c.in_the_way)
                          : std::string(c.in_the_way) + "/in-the-way",
                      "x"}};
    vxboard::Board& b = open_menu(cfg);
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    line_at("launch failed: victim\n", from);
    EXPECT_EQ(count_from(from, "launched"), 0u);
    EXPECT_FALSE(fs::exists(b.sandbox_path("/tmp/vorna-x/victim/app.tmp")));
    EXPECT_FALSE(fs::exists(b.sandbox_path("/tmp/vorna-x/victim.pid")));
    EXPECT_EQ(fs::is_regular_file(b.sandbox_path("/tmp/vorna-x/victim/app")), c.staged_copy_stays);
    EXPECT_TRUE(menu_shown());
    EXPECT_EQ(b.service_state(), 'T');

    fs::remove_all(b.sandbox_path(in_the_way));
    launch_and_wait("victim");
    EXPECT_NE(slurp(b.sandbox_path("/tmp/vorna-x/victim.log")).find("probe done"),
              std::string::npos);
}

const StagingFault STAGING_FAULTS[] = {
    {"staging_dir_is_a_file", "vorna-x", false},
    {"staged_app_is_a_directory", "vorna-x/victim/app", false},
    {"log_is_a_directory", "vorna-x/victim.log", true},
};

INSTANTIATE_TEST_SUITE_P(Faults, StagingBlocked, ::testing::ValuesIn(STAGING_FAULTS),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Faults that only bind a launcher that is not root -----------------------------------

TEST_F(FaultTest, UnreadableAppDirectoryListsNothingUntilReadableAgain) {
    probe("sleeper", "args=--sleep-ms 800\n");
    app("other");
    vxboard::BoardConfig cfg = unprivileged();
    fs::permissions(apps_, fs::perms::none);
    vxboard::Board& b = start_ready(cfg);
    ASSERT_NE(launcher_real_uid(), 0u);
    EXPECT_TRUE(logged("scan done: 0 apps (mode=1)\n")) << dump();

    fs::permissions(apps_, fs::perms(0755));
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 2 apps)\n");
    // The directory order decides where the sleeper is: find it by launching.
    size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    size_t launched = line_at("launched ", from);
    if (line(launched).find("sleeper") == std::string::npos) {
        line_at(" exited\n", launched, Millis(5000));
        ASSERT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1500)));
        b.tap(DOWN, TAP);
        from = b.lines().size();
        b.tap(MIDDLE, TAP);
        launched = line_at("launched sleeper pid=", from);
    }
    // Gone unreadable while the app ran: the menu comes back empty, and nothing starts.
    fs::permissions(apps_, fs::perms::none);
    line_at("child sleeper exited\n", launched, Millis(5000));
    // The app's launch left the old menu page up: wait for the new one.
    EXPECT_TRUE(wait_until([&] { return menu_shown() && highlighted_slot() == -1; }, Millis(1500)))
        << "an empty table highlights nothing: slot " << highlighted_slot();
    from = b.lines().size();
    b.tap(MIDDLE, TAP);
    b.tap(UP, TAP);
    b.tap(MIDDLE, TAP);
    std::this_thread::sleep_for(Millis(200));
    EXPECT_EQ(count_from(from, "launch"), 0u) << dump();

    fs::permissions(apps_, fs::perms(0755));
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", from);
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 2 apps)\n", from);
    EXPECT_EQ(highlighted_slot(), 0);
}

TEST_F(FaultTest, UnreadableStagingDirectoryFailsTheLaunchUntilReadableAgain) {
    probe("victim", "args=--sleep-ms 200\n");
    vxboard::Board& b = open_menu(unprivileged());
    ASSERT_NE(launcher_real_uid(), 0u);
    launch_and_wait("victim"); // the launcher makes /tmp/vorna-x its own
    const std::string staging = b.sandbox_path("/tmp/vorna-x");
    fs::permissions(staging, fs::perms::none);
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    line_at("launch failed: victim\n", from);
    EXPECT_TRUE(menu_shown());
    EXPECT_EQ(b.service_state(), 'T');
    fs::permissions(staging, fs::perms(0755));
    launch_and_wait("victim");
}

// The kernel refuses the launch's fork: one line, the menu stays, and the next launch after
// the limit is lifted starts the app.
TEST_F(FaultTest, RefusedForkFailsTheLaunchOnly) {
    probe("victim", "args=--sleep-ms 200\n");
    vxboard::Board& b = open_menu(unprivileged());
    ASSERT_NE(launcher_real_uid(), 0u);
    EXPECT_EQ(b.service_state(), 'T') << "the launcher's user stops the service";
    b.limit_processes(0);
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    line_at("launch failed: victim\n", from);
    EXPECT_EQ(count_from(from, "launched"), 0u);
    EXPECT_FALSE(fs::exists(b.sandbox_path("/tmp/vorna-x/victim.pid")));
    EXPECT_TRUE(menu_shown());
    EXPECT_EQ(b.service_state(), 'T');
    b.limit_processes(std::nullopt);
    launch_and_wait("victim");
}

// Without a watchdog the service is stopped all the same, and the 3 s hold resumes it.
TEST_F(FaultTest, RefusedWatchdogForkStillPausesAndResumesTheService) {
    app("one");
    vxboard::Board& b = start_ready(unprivileged());
    ASSERT_NE(launcher_real_uid(), 0u);
    const pid_t launcher = b.launcher_host_pid();
    std::string comm;
    for (const auto& p : b.processes())
        if (p.host_pid == launcher) comm = p.comm;
    auto launcher_processes = [&] {
        size_t n = 0;
        for (const auto& p : b.processes())
            n += p.comm == comm;
        return n;
    };
    b.limit_processes(0);
    const size_t from = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 1 apps)\n", from);
    EXPECT_EQ(b.service_state(), 'T');
    EXPECT_EQ(launcher_processes(), 1u) << "no watchdog";
    b.limit_processes(std::nullopt);
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", from);
    EXPECT_TRUE(service_runs());
    const size_t again = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 1 apps)\n", again);
    EXPECT_EQ(launcher_processes(), 2u) << "the watchdog of this pause";
}

// The watchdog is the launcher's only child while the menu is open.
pid_t watchdog_of(vxboard::Board& b) {
    const pid_t launcher = b.launcher_host_pid();
    for (const auto& p : b.processes())
        if (p.host_ppid == launcher && p.state != 'Z') return p.host_pid;
    return -1;
}

// The watchdog is a process of its own, which others may signal: a SIGTERM meant for the
// launcher's name must not make it act as the launcher (and give the service its buttons
// back behind the open menu), and one that is killed is replaced at the next pause.
TEST_F(FaultTest, SignalledWatchdogNeitherActsNorIsTrustedAfterItsEnd) {
    app("one");
    vxboard::Board& b = open_menu();
    const pid_t first = watchdog_of(b);
    ASSERT_GT(first, 0);
    kill(first, SIGTERM);
    ASSERT_TRUE(wait_until([&] { return watchdog_of(b) != first; }, Millis(1000)));
    std::this_thread::sleep_for(Millis(300));
    EXPECT_EQ(b.service_state(), 'T') << "the menu still holds the buttons";
    const size_t from = b.lines().size();
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", from);
    EXPECT_TRUE(service_runs());

    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 1 apps)\n", from);
    const pid_t second = watchdog_of(b);
    ASSERT_GT(second, 0);
    kill(second, SIGKILL);
    ASSERT_TRUE(wait_until([&] { return watchdog_of(b) != second; }, Millis(1000)));
    const size_t again = b.lines().size();
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", again);
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 1 apps)\n", again);
    EXPECT_GT(watchdog_of(b), 0) << "a new watchdog covers the new pause";
}

// Under a service manager the launcher's orphans go to a subreaper, not to pid 1: the
// watchdog still sees the launcher go and continues the service.
TEST_F(FaultTest, WatchdogContinuesTheServiceWhenTheLauncherDiesUnderASubreaper) {
    app("one");
    vxboard::BoardConfig cfg;
    cfg.subreaper = true;
    vxboard::Board& b = open_menu(cfg);
    ASSERT_EQ(b.service_state(), 'T');
    ASSERT_GT(watchdog_of(b), 0);
    b.signal_launcher(SIGKILL);
    ASSERT_TRUE(b.wait_exit(Millis(2000)));
    EXPECT_TRUE(wait_until([&] { return service_runs(); }, Millis(1800)))
        << "the service stays stopped for good";
}

// ---- Apps that do not end the way the launcher would like --------------------------------

// Forks a grandchild into a session of its own and ends at once: the launcher sees its
// child end, brings the menu back and is not held up by what the app left running.
TEST_F(FaultTest, DaemonisingAppEndsForTheLauncherAtOnce) {
    vxboard::make_app(apps_, "daemon",
                      "#!/bin/sh\n( setsid sleep 30 </dev/null >/dev/null 2>&1 & )\nexit 0\n");
    vxboard::Board& b = open_menu();
    launch_and_wait("daemon");
    EXPECT_TRUE(wait_until(
        [&] {
            for (const auto& p : b.processes())
                if (p.comm == "sleep") return true;
            return false;
        },
        Millis(1000)))
        << "the daemon lives on";
    const size_t from = b.lines().size();
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", from);
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 1 apps)\n", from);
    launch_and_wait("daemon");
}

// An app that will not be told to stop: the launcher never tells it. A PLAY hold while it
// runs closes nothing and signals nothing; the menu comes back when the app is done.
TEST_F(FaultTest, AppIgnoringSigtermIsNeverSignalledAndKeepsTheButtonsBlocked) {
    vxboard::make_app(apps_, "stubborn",
                      "#!/bin/sh\ntrap 'echo got TERM' TERM\nsleep 4.5\necho done\n");
    vxboard::Board& b = open_menu();
    const size_t from = b.lines().size();
    const uint32_t pans = b.state().fb.pans.load();
    b.tap(MIDDLE, TAP);
    const size_t launched = line_at("launched stubborn pid=", from);
    b.tap(PLAY, CLOSE_HOLD);
    EXPECT_EQ(since(launched + 1), Lines{}) << "no hold while an app runs";
    EXPECT_EQ(b.service_state(), 'T');
    EXPECT_EQ(b.state().fb.pans.load(), pans) << "the display is the app's";
    line_at("child stubborn exited\n", launched, Millis(5000));
    expect_menu_back(pans);
    EXPECT_EQ(slurp(b.sandbox_path("/tmp/vorna-x/stubborn.log")), "done\n");
    const size_t back = b.lines().size();
    b.tap(PLAY, CLOSE_HOLD);
    line_at("menu closed (hold play 3 s)\n", back);
    EXPECT_TRUE(service_runs());
}

} // namespace
} // namespace systest
