#include <csignal>

#include "board/pwm_history.h"
#include "png/png_io.h"
#include "video/standin.h"

#include "flow_fixture.h"

namespace systest {
namespace {

TEST_F(FlowTest, HoldOpensTheMenuAndAThreeSecondHoldClosesIt) {
    app("one");
    app("two");
    vxboard::Board& b = start_ready();
    const size_t from = b.lines().size();
    b.tap(PLAY, OPEN_HOLD);
    const size_t blocked = line_at("hold: keys blocked at ", from);
    const size_t open = line_at("menu open (hold play, 2 apps)\n", from);
    EXPECT_LT(blocked, open);
    const long at = number_after(line(blocked), "keys blocked at ");
    EXPECT_GE(at, 500);
    EXPECT_LT(at, 620);
    EXPECT_EQ(b.service_state(), 'T');
    EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
    EXPECT_EQ(highlighted_slot(), 0);
    EXPECT_TRUE(black_around_menu()) << "the progress panel is gone";

    // The release long after the opening changes nothing.
    std::this_thread::sleep_for(Millis(300));
    EXPECT_EQ(b.lines().size(), open + 1) << dump();
    // The move draws on the other page, which held the progress panel too.
    b.tap(DOWN, TAP);
    ASSERT_TRUE(wait_until([&] { return highlighted_slot() == 1; }, Millis(600)));
    EXPECT_TRUE(black_around_menu()) << "the progress panel is gone";

    b.tap(PLAY, CLOSE_HOLD);
    const size_t resumed = line_at("keys resumed\n", open);
    const size_t closed = line_at("menu closed (hold play 3 s)\n", open);
    EXPECT_LT(resumed, closed);
    EXPECT_EQ(b.screen_row(), 0u);
    EXPECT_TRUE(wait_until([&] { return b.service_state() != 'T'; }, Millis(500)));
}

// The screenshot is what the wearer sees: the launcher's translucent panel over the video.
TEST_F(FlowTest, ScreenshotComposesThePageOverTheVideo) {
    app("one");
    vxboard::Board& b = open_menu();
    const std::string path = b.workdir() + "/shot.png";
    b.screenshot(path);
    std::vector<uint32_t> shot, video(vxboard::VIDEO_W * vxboard::VIDEO_H);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(vxboard::read_png_argb(path, shot, w, h));
    ASSERT_EQ(w, 1920u);
    ASSERT_EQ(h, 1080u);
    vxboard::standin_video_frame(video.data(), 0);
    auto at = [&](const std::vector<uint32_t>& px, int x, int y) {
        return px[y * 1920 + x] & 0xFFFFFF;
    };
    EXPECT_EQ(at(shot, 100, 100), at(video, 100, 100)) << "outside the panel: the video";
    // Inside: the panel's colour at its alpha over the video, not either alone.
    const uint32_t panel = at(shot, 600, 560), behind = at(video, 600, 560);
    EXPECT_NE(panel, behind);
    EXPECT_NE(panel, COL_PANEL & 0xFFFFFF);
    const auto blue = [](uint32_t v) { return static_cast<int>(v & 0xFF); };
    const int want = (0x50 * 0xDE + blue(behind) * (255 - 0xDE) + 127) / 255;
    EXPECT_NEAR(blue(panel), want, 1);
}

struct AbortCase {
    const char* name;
    Millis held;
    bool other_key; // MIDDLE straight after PLAY, without PLAY's release
    const char* reason;
    bool blocked;
    friend void PrintTo(const AbortCase& c, std::ostream* os) { *os << c.name; }
};

class HoldAbort : public FlowTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(HoldAbort, GivesEverythingBack) {
    const AbortCase& c = GetParam();
    app("one");
    vxboard::Board& b = start_ready();
    const size_t from = b.lines().size();
    b.press(PLAY);
    bool panel_seen = false;
    const auto end = std::chrono::steady_clock::now() + c.held;
    while (std::chrono::steady_clock::now() < end) {
        panel_seen = panel_seen || progress_panel_shown();
        std::this_thread::sleep_for(Millis(20));
    }
    if (c.other_key) {
        b.press(MIDDLE);
        std::this_thread::sleep_for(Millis(200));
    }
    b.release();
    const size_t aborted = line_at(std::string("hold aborted (") + c.reason + ", ", from);
    const long ms = number_after(line(aborted), std::string(c.reason) + ", ");
    if (c.other_key) {
        EXPECT_EQ(ms, 0);
    } else {
        EXPECT_GT(ms, c.held.count() - 80);
        EXPECT_LT(ms, c.held.count() + 120);
    }
    EXPECT_EQ(logged("hold: keys blocked at "), c.blocked);
    EXPECT_EQ(logged("keys resumed\n"), c.blocked);
    EXPECT_EQ(panel_seen, c.blocked);
    if (c.blocked) {
        EXPECT_LT(line_at("keys resumed\n", from), aborted);
    }
    EXPECT_EQ(b.screen_row(), 0u);
    EXPECT_NE(b.service_state(), 'T');
    EXPECT_FALSE(logged("menu open"));
}

const AbortCase ABORTS[] = {
    {"release_at_400ms", Millis(400), false, "release", false},
    {"release_at_1000ms", Millis(1000), false, "release", true},
    {"middle_at_300ms", Millis(300), true, "key", false},
    {"middle_at_900ms", Millis(900), true, "key", true},
};

INSTANTIATE_TEST_SUITE_P(Holds, HoldAbort, ::testing::ValuesIn(ABORTS),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlowTest, HdmiAndUnknownModesRefuseTheMenu) {
    for (int mode : {2, 0}) {
        vxboard::BoardConfig cfg;
        cfg.video_mode = mode;
        vxboard::Board& b = start_ready(cfg);
        const size_t from = b.lines().size();
        b.tap(PLAY, OPEN_HOLD);
        line_at("menu refused: mode=" + std::to_string(mode) + "\n", from);
        std::this_thread::sleep_for(Millis(200));
        EXPECT_FALSE(logged("keys blocked")) << mode;
        EXPECT_NE(b.service_state(), 'T');
        board_.reset();
    }
}

TEST_F(FlowTest, ReleasingAClosingHoldKeepsTheMenu) {
    app("one");
    vxboard::Board& b = open_menu();
    const size_t from = b.lines().size();
    b.tap(PLAY, Millis(2000));
    const size_t aborted = line_at("hold aborted (menu release, ", from);
    const long ms = number_after(line(aborted), "menu release, ");
    EXPECT_GT(ms, 1900);
    EXPECT_LT(ms, 2150);
    EXPECT_TRUE(menu_shown());
    EXPECT_EQ(b.service_state(), 'T');
}

bool buzzer_silent(vxboard::Board& b) {
    const vxboard::PwmChip& p = b.state().pwm;
    return vxboard::pwm_sounding_hz(p.period_ns, p.duty_ns, p.enabled != 0) == 0;
}

struct SlideCase {
    const char* name;
    Key to;        // the button the thumb slides onto from PLAY, and lifts from
    int exit_mode; // for MIDDLE: the video mode when the app ends
    friend void PrintTo(const SlideCase& c, std::ostream* os) { *os << c.name; }
};

class SlideOffPlay : public FlowTest, public ::testing::WithParamInterface<SlideCase> {};

// The ADC reads one button at a time: a press of another button during a closing hold means
// PLAY is no longer held, and the hold ends there as at PLAY's release. Nothing of it may
// outlive the slide: not the tone, not the 3 s closing, not after an app it started.
TEST_P(SlideOffPlay, EndsTheClosingHoldThere) {
    const SlideCase& c = GetParam();
    for (const char* name : {"one", "two"})
        probe(name, "args=--sleep-ms 800\nmodes=normal,hdmi\n");
    vxboard::Board& b = open_menu();
    const size_t from = b.lines().size();
    b.press(PLAY);
    std::this_thread::sleep_for(Millis(600));
    b.press(c.to);
    const size_t aborted = line_at("hold aborted (menu release, ", from);
    const long ms = number_after(line(aborted), "menu release, ");
    EXPECT_GT(ms, 450);
    EXPECT_LT(ms, 900);
    EXPECT_TRUE(wait_until([&] { return buzzer_silent(b); }, Millis(300)));
    std::this_thread::sleep_for(TAP);
    b.release();
    if (c.to == MIDDLE) {
        const size_t launched = line_at("launched ", aborted);
        EXPECT_TRUE(buzzer_silent(b)) << "no tone while the app runs";
        b.set_video_mode(c.exit_mode);
        line_at(" exited\n", launched, Millis(4000));
    } else {
        EXPECT_TRUE(wait_until([&] { return highlighted_slot() == 1; }, Millis(600)));
    }
    // Well past the 3 s the hold would have lasted.
    std::this_thread::sleep_for(Millis(3000));
    EXPECT_FALSE(logged("menu closed")) << dump();
    EXPECT_FALSE(logged("menu open (hold play, 2 apps)\n", from)) << dump();
    EXPECT_TRUE(buzzer_silent(b));
    if (c.exit_mode == 2) {
        EXPECT_TRUE(logged("menu skip po child (mode=2)\n"));
        EXPECT_EQ(b.screen_row(), 0u);
    } else {
        EXPECT_TRUE(menu_shown());
        EXPECT_EQ(b.service_state(), 'T');
    }
}

const SlideCase SLIDES[] = {
    {"to_up", UP, 1},
    {"to_middle_app_ends_in_normal", MIDDLE, 1},
    {"to_middle_app_ends_in_hdmi", MIDDLE, 2},
};

INSTANTIATE_TEST_SUITE_P(Holds, SlideOffPlay, ::testing::ValuesIn(SLIDES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlowTest, MenuArgumentOpensAtStartUpInNormalModeOnly) {
    app("one");
    vxboard::BoardConfig cfg;
    cfg.args = {"--menu"};
    vxboard::Board& b = start_ready(cfg);
    const size_t r = line_at("rendering menu\n");
    const size_t f = line_at("menu rendered, flipping\n");
    const size_t o = line_at("menu open via --menu (1 apps)\n");
    EXPECT_LT(r, f);
    EXPECT_LT(f, o);
    EXPECT_TRUE(menu_shown());
    EXPECT_EQ(b.service_state(), 'T');
    board_.reset();

    struct Case {
        const char* name;
        int mode;
        std::vector<std::string> args;
        bool live_pid_file;
    } cases[] = {
        {"av mode", 3, {"--menu"}, false},
        {"an app alive", 1, {"--menu"}, true},
        {"prefix only", 1, {"--menux"}, false},
        {"other case", 1, {"--MENU"}, false},
        {"second argument", 1, {"-v", "--menu"}, false},
    };
    for (const Case& c : cases) {
        vxboard::BoardConfig cfg2;
        cfg2.video_mode = c.mode;
        cfg2.args = c.args;
        // The goggles' service is the sandbox's pid 2: a live process that is not the
        // launcher.
        if (c.live_pid_file) cfg2.tmp_files = {{"vorna-x/other.pid", "2\n"}};
        vxboard::Board& b2 = start_ready(cfg2);
        std::this_thread::sleep_for(Millis(300));
        EXPECT_FALSE(logged("menu open via --menu")) << c.name;
        EXPECT_EQ(b2.screen_row(), 0u) << c.name;
        EXPECT_NE(b2.service_state(), 'T') << c.name;
        board_.reset();
    }
}

// The millisecond count is a signed 32-bit number: 2^31 ms after boot it turns negative.
// Holds that start before and after that moment still open and close the menu.
TEST_F(FlowTest, HoldsAcrossTheMillisecondWrap) {
    app("one");
    vxboard::BoardConfig cfg;
    cfg.seconds_before_wrap = 4;
    vxboard::Board& b = start_ready(cfg);
    constexpr int64_t WRAP_MS = int64_t{1} << 31;
    auto sleep_until = [&](int64_t t) {
        const int64_t now = b.sandbox_monotonic_ms();
        ASSERT_LT(now, t) << "start-up took too long for this test";
        std::this_thread::sleep_for(Millis(t - now));
    };
    // An opening hold that starts before the wrap and opens after it.
    sleep_until(WRAP_MS - 1000);
    b.tap(PLAY, Millis(2500));
    const size_t open = line_at("menu open (hold play, 1 apps)\n");
    // A closing hold wholly after it, when every clock reading is negative.
    sleep_until(WRAP_MS + 2500);
    b.tap(PLAY, CLOSE_HOLD);
    const size_t closed = line_at("menu closed (hold play 3 s)\n", open, Millis(4000));
    // An aborted hold measures its duration right on the negative side too.
    b.tap(PLAY, Millis(1000));
    const size_t aborted = line_at("hold aborted (release, ", closed);
    const long ms = number_after(line(aborted), "release, ");
    EXPECT_GT(ms, 900);
    EXPECT_LT(ms, 1150);
    EXPECT_NE(b.service_state(), 'T');
}

} // namespace
} // namespace systest
