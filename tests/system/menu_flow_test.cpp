#include <sys/stat.h>

#include <csignal>

#include "flow_fixture.h"

namespace fs = std::filesystem;

namespace systest {
namespace {

TEST_F(FlowTest, TapsMoveTheSelectionWithWrapAround) {
    for (const char* n : {"a", "b", "c"})
        app(n);
    vxboard::Board& b = open_menu();
    struct Step {
        int key;
        Millis held;
        int slot;
    } steps[] = {
        {DOWN, TAP, 1}, {DOWN, TAP, 2},       {DOWN, TAP, 0},
        {UP, TAP, 2},   {UP, Millis(700), 2}, // too long for a tap
        {UP, TAP, 1},
    };
    for (const Step& s : steps) {
        b.tap(s.key, s.held);
        EXPECT_TRUE(wait_until([&] { return highlighted_slot() == s.slot; }, Millis(600)))
            << "key " << s.key << " held " << s.held.count() << " ms: slot " << highlighted_slot();
        std::this_thread::sleep_for(Millis(150));
        EXPECT_EQ(highlighted_slot(), s.slot);
    }
}

// A tap is a press of at most 450 ms by the launcher's clock: with that clock stopped, the
// board places the release exactly.
TEST_F(FlowTest, TapLimitIs450Ms) {
    for (const char* n : {"a", "b", "c"})
        app(n);
    vxboard::Board& b = open_menu();
    b.freeze_clock();
    struct Step {
        Millis held;
        int slot;
    } steps[] = {{Millis(450), 1}, {Millis(451), 1}, {Millis(0), 2}, {Millis(1000), 2}};
    for (const Step& s : steps) {
        b.press(DOWN);
        std::this_thread::sleep_for(Millis(250)); // three samples: the press is seen
        b.advance_clock(s.held);
        b.release();
        std::this_thread::sleep_for(Millis(250));
        EXPECT_EQ(highlighted_slot(), s.slot) << s.held.count() << " ms";
    }
}

TEST_F(FlowTest, RefusedStartShowsTheNoticeForOneAndAHalfSeconds) {
    app("fine");
    app("needs_hdmi", "modes=hdmi\n");
    vxboard::Board& b = open_menu();
    // The listing order is the directory's: find the refused entry by its grey bar.
    int slot = 0;
    if (screen_px(261, 182) != COL_RULE) {
        b.tap(DOWN, TAP);
        ASSERT_TRUE(wait_until([&] { return highlighted_slot() == 1; }, Millis(600)));
        slot = 1;
    }
    ASSERT_EQ(screen_px(261, 182 + 66 * slot), COL_RULE);
    auto notice_shown = [&] {
        for (int x = 302; x < 480; ++x)
            for (int y = 212 + 66 * slot; y < 224 + 66 * slot; ++y) {
                const uint32_t v = screen_px(x, y);
                if ((v >> 24) != 0 && (v & 0xFFFFFF) == RGB_WARN) return true;
            }
        return false;
    };
    const size_t before = b.lines().size();
    b.tap(MIDDLE, TAP);
    ASSERT_TRUE(wait_until(notice_shown, Millis(600)));
    const auto shown_at = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_until([&] { return !notice_shown(); }, Millis(2500)));
    const auto lasted =
        std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - shown_at);
    EXPECT_GT(lasted.count(), 1300);
    EXPECT_LT(lasted.count(), 1700);
    EXPECT_EQ(b.lines().size(), before) << "the notice is silent";
    EXPECT_TRUE(menu_shown());
}

TEST_F(FlowTest, LaunchStagesTheAppAndTheMenuComesBackAfterIt) {
    probe("probe", "args=  one   \"two words\"  --sleep-ms 700 w4 w5 w6 w7 w8 w9\n");
    vxboard::Board& b = open_menu();
    const size_t from = b.lines().size();
    b.tap(MIDDLE, TAP);
    const size_t launched = line_at("launched probe pid=", from);
    const long pid = number_after(line(launched), "pid=");
    EXPECT_GT(pid, 1);
    const std::string pidfile = b.sandbox_path("/tmp/vorna-x/probe.pid");
    EXPECT_TRUE(
        wait_until([&] { return slurp(pidfile) == std::to_string(pid) + "\n"; }, Millis(500)));
    EXPECT_EQ(slurp(b.sandbox_path("/tmp/vorna-x/probe/app")), slurp(apps_ + "/probe/app"));
    EXPECT_EQ(b.service_state(), 'T') << "the service stays stopped while the app runs";

    const size_t exited = line_at("child probe exited\n", launched, Millis(5000));
    EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
    EXPECT_FALSE(fs::exists(pidfile));
    const std::string log = slurp(b.sandbox_path("/tmp/vorna-x/probe.log"));
    const char* want[] = {"argv[0]=/tmp/vorna-x/probe/app\n",
                          "argv[1]=one\n",
                          "argv[2]=\"two\n",
                          "argv[3]=words\"\n",
                          "argv[8]=w6\n",
                          "cwd=/tmp/vorna-x/probe\n",
                          "env=PATH=/bin:/usr/bin:/local/usr/bin\n",
                          "sighup=ignored\n",
                          "session_leader=1\n",
                          "probe done\n"};
    for (const char* w : want)
        EXPECT_NE(log.find(w), std::string::npos) << w << "\n" << log;
    for (const char* absent : {"argv[9]=", "fd=3\n", "fd=4\n", "fd=5\n"})
        EXPECT_EQ(log.find(absent), std::string::npos) << absent << "\n" << log;
    size_t envs = 0;
    for (size_t at = 0; (at = log.find("env=", at)) != std::string::npos; ++at)
        ++envs;
    EXPECT_EQ(envs, 1u);

    // A second launch replaces the staged copy and empties the log.
    std::ofstream(apps_ + "/probe/app", std::ios::app) << "trailing bytes";
    b.tap(MIDDLE, TAP);
    line_at("launched probe pid=", exited);
    line_at("child probe exited\n", exited + 1, Millis(5000));
    EXPECT_EQ(slurp(b.sandbox_path("/tmp/vorna-x/probe/app")), slurp(apps_ + "/probe/app"));
    const std::string log2 = slurp(b.sandbox_path("/tmp/vorna-x/probe.log"));
    EXPECT_EQ(log2.find("probe done"), log2.rfind("probe done"));
    size_t exits = 0;
    for (const auto& l : b.lines())
        if (l == "child probe exited\n") ++exits;
    EXPECT_EQ(exits, 2u);
    EXPECT_FALSE(fs::exists(b.sandbox_path("/tmp/vorna-x/probe/app.tmp")));
}

struct LaunchFailure {
    const char* name;
    uint32_t tmp_kb;
    std::function<void(const std::string& app_dir)> spoil; // run after the menu opened
    friend void PrintTo(const LaunchFailure& c, std::ostream* os) { *os << c.name; }
};

class FailedLaunch : public FlowTest, public ::testing::WithParamInterface<LaunchFailure> {};

TEST_P(FailedLaunch, LeavesTheMenuAndNoTemporaryFile) {
    const LaunchFailure& c = GetParam();
    probe("victim");
    vxboard::BoardConfig cfg;
    cfg.tmp_size_kb = c.tmp_kb;
    vxboard::Board& b = open_menu(cfg);
    c.spoil(apps_ + "/victim");
    const size_t from = b.lines().size();
    alarm(30);
    b.tap(MIDDLE, TAP);
    line_at("launch failed: victim\n", from);
    alarm(0);
    EXPECT_FALSE(fs::exists(b.sandbox_path("/tmp/vorna-x/victim/app.tmp")));
    EXPECT_FALSE(logged("launched victim"));
    // Still in the menu, still answering.
    b.tap(DOWN, TAP);
    std::this_thread::sleep_for(Millis(200));
    EXPECT_TRUE(menu_shown());
    EXPECT_EQ(b.service_state(), 'T');
}

const LaunchFailure LAUNCH_FAILURES[] = {
    {"deleted_after_scan", 0, [](const std::string& d) { fs::remove(d + "/app"); }},
    {"tmp_full", 256,
     [](const std::string& d) {
         std::ofstream(d + "/app", std::ios::app) << std::string(1 << 20, 'x');
     }},
    {"fifo_as_app", 0,
     [](const std::string& d) {
         fs::remove(d + "/app");
         mkfifo((d + "/app").c_str(), 0644);
     }},
};

INSTANTIATE_TEST_SUITE_P(Launch, FailedLaunch, ::testing::ValuesIn(LAUNCH_FAILURES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlowTest, AnAppTheKernelCannotRunEndsAtOnce) {
    vxboard::make_app(apps_, "garbage", std::string(64, '\x7f') + "not an executable\n");
    vxboard::Board& b = open_menu();
    b.tap(MIDDLE, TAP);
    const size_t launched = line_at("launched garbage pid=");
    line_at("child garbage exited\n", launched, Millis(3000));
    EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
    EXPECT_EQ(slurp(b.sandbox_path("/tmp/vorna-x/garbage.log")), "");
}

// Anything may draw anywhere in the framebuffer's memory, the launcher's two pages included:
// an app while it runs, and a process it left behind while the menu is shown. The menu that
// comes back, and each redraw after a move, is whole again on whichever page it lands.
TEST_F(FlowTest, EveryMenuFrameIsWholeWhateverThePagesHeld) {
    const std::string paint = "head -c 16588800 /dev/zero | tr '\\0' '\\377' |"
                              " dd of=/dev/fb0 bs=7680 seek=1080 conv=notrunc 2>/dev/null";
    // Two of them, so that a move redraws the menu. Each paints rows 1080 to 3239 white now
    // and, from a process of its own, once more a second later.
    for (const char* n : {"painter_a", "painter_b"})
        vxboard::make_app(apps_, n,
                          "#!/bin/sh\n" + paint + "\n( setsid sh -c \"sleep 1; " + paint +
                              "; touch /tmp/painted\" </dev/null >/dev/null 2>&1 & )\n");
    vxboard::Board& b = open_menu();
    b.tap(MIDDLE, TAP);
    const size_t launched = line_at("launched painter_");
    line_at(" exited\n", launched, Millis(5000));
    ASSERT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
    EXPECT_TRUE(black_around_menu()) << "the menu that came back";
    int slot = highlighted_slot();
    ASSERT_TRUE(
        wait_until([&] { return fs::exists(b.sandbox_path("/tmp/painted")); }, Millis(5000)))
        << "the pages are painted over once more under the menu";
    for (int move = 1; move <= 2; ++move) {
        slot = 1 - slot;
        b.tap(DOWN, TAP);
        ASSERT_TRUE(wait_until([&] { return highlighted_slot() == slot; }, Millis(600)));
        EXPECT_TRUE(black_around_menu()) << "after move " << move;
    }
}

TEST_F(FlowTest, ExitInHdmiModeGivesTheGogglesBack) {
    probe("short", "args=--sleep-ms 600\nmodes=normal,hdmi\n");
    vxboard::Board& b = open_menu();
    b.tap(MIDDLE, TAP);
    const size_t launched = line_at("launched short pid=");
    b.set_video_mode(2);
    const size_t exited = line_at("child short exited\n", launched, Millis(4000));
    const size_t skip = line_at("menu skip po child (mode=2)\n", exited);
    EXPECT_EQ(skip, exited + 2) << "the mode read logs its registers in between";
    EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(500)));
    EXPECT_EQ(b.screen_row(), 0u);
    // Idle again: a new hold in NORMAL mode opens the menu.
    b.set_video_mode(1);
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play, 1 apps)\n", skip);
}

struct TermCase {
    const char* name;
    int sig;
    std::function<void(FlowTest&, vxboard::Board&)> reach; // bring the launcher to its state
    bool launcher_page_after;                              // what the display shows after
    friend void PrintTo(const TermCase& c, std::ostream* os) { *os << c.name; }
};

class TerminationIn : public FlowTest, public ::testing::WithParamInterface<TermCase> {};

TEST_P(TerminationIn, ResumesTheServiceAndEndsWithStatus0) {
    const TermCase& c = GetParam();
    probe("sleeper", "args=--sleep-ms 4000\n");
    vxboard::Board& b = start_ready();
    c.reach(*this, b);
    b.signal_launcher(c.sig);
    const auto st = b.wait_exit(Millis(3000));
    ASSERT_TRUE(st) << dump();
    if (c.sig == SIGKILL) {
        EXPECT_TRUE(WIFSIGNALED(*st));
        // The watchdog notices within about a second that the launcher is gone.
        EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(1800)));
        return;
    }
    ASSERT_TRUE(WIFEXITED(*st));
    EXPECT_EQ(WEXITSTATUS(*st), 0);
    EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(300)));
    EXPECT_EQ(b.screen_row() != 0, c.launcher_page_after);
    b.release();
}

void reach_menu(FlowTest& t, vxboard::Board& b) {
    b.tap(PLAY, OPEN_HOLD);
    t.line_at("menu open (hold play");
}

const TermCase TERMS[] = {
    {"idle", SIGTERM, [](FlowTest&, vxboard::Board&) {}, false},
    {"blocked_hold", SIGTERM,
     [](FlowTest& t, vxboard::Board& b) {
         b.press(PLAY);
         t.line_at("hold: keys blocked at ");
         std::this_thread::sleep_for(Millis(100));
     },
     false}, // the progress panel goes with the launcher: no frozen picture
    {"menu", SIGTERM, reach_menu, false},
    {"menu_sigint", SIGINT, reach_menu, false},
    {"app", SIGTERM,
     [](FlowTest& t, vxboard::Board& b) {
         reach_menu(t, b);
         b.tap(MIDDLE, TAP);
         t.line_at("launched sleeper pid=");
     },
     true}, // the app keeps the display
    {"sigkill_in_menu", SIGKILL, reach_menu, true},
};

INSTANTIATE_TEST_SUITE_P(States, TerminationIn, ::testing::ValuesIn(TERMS),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlowTest, AppOutlivesATerminatedLauncher) {
    probe("sleeper", "args=--sleep-ms 3000\n");
    vxboard::Board& b = open_menu();
    b.tap(MIDDLE, TAP);
    line_at("launched sleeper pid=");
    b.signal_launcher(SIGTERM);
    ASSERT_TRUE(b.wait_exit(Millis(3000)));
    bool alive = false;
    for (const auto& p : b.processes())
        if (p.comm == "app") alive = true;
    EXPECT_TRUE(alive);
}

} // namespace
} // namespace systest
