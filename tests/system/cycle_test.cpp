// A full open-launch-close cycle across the 32-bit millisecond wrap.
#include <dirent.h>

#include "png/png_io.h"
#include "video/standin.h"

#include "board_fixture.h"

namespace fs = std::filesystem;

namespace systest {
namespace {

constexpr int64_t WRAP_MS = int64_t{1} << 31;

// The app entries in the order the launcher lists them: the directory's own.
std::vector<std::string> listing_order(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent* de = readdir(d))
        if (de->d_name[0] != '.') names.emplace_back(de->d_name);
    closedir(d);
    return names;
}

// The opening hold starts before the wrap and ends after it; everything after it (the
// move, the launch, the reaping, the return of the menu and the 3 s closing hold) runs on
// clock readings that are all negative as 32-bit numbers.
TEST_F(BoardTest, OpenLaunchAndCloseAcrossTheMillisecondWrap) {
    probe("alpha", "args=--sleep-ms 300\n");
    probe("bravo", "args=--sleep-ms 300\n");
    const std::vector<std::string> order = listing_order(apps_);
    ASSERT_EQ(order.size(), 2u);
    const std::string& second = order[1];

    vxboard::BoardConfig cfg;
    // qemu-arm needs a few seconds to bring the launcher up.
    const bool emulated = vxboard::target_from_env() != vxboard::Target::Host;
    cfg.seconds_before_wrap = emulated ? 6 : 4;
    vxboard::Board& b = start_ready(cfg);
    auto sleep_until = [&](int64_t t) {
        const int64_t now = b.sandbox_monotonic_ms();
        ASSERT_LT(now, t) << "start-up took too long for this test";
        std::this_thread::sleep_for(Millis(t - now));
    };

    sleep_until(WRAP_MS - 1000);
    const size_t from = b.lines().size();
    b.press(PLAY);
    const size_t blocked = line_at("hold: keys blocked at ", from);
    const long at = number_after(line(blocked), "keys blocked at ");
    EXPECT_GE(at, 500);
    EXPECT_LT(at, 650);
    const size_t open = line_at("menu open (hold play, 2 apps)\n", blocked);
    EXPECT_GT(b.sandbox_monotonic_ms(), WRAP_MS) << "the hold did not straddle the wrap";
    b.release();
    EXPECT_EQ(b.service_state(), 'T');
    ASSERT_TRUE(wait_until([&] { return highlighted_slot() == 0; }, Millis(1000))) << dump();

    b.tap(DOWN, TAP);
    ASSERT_TRUE(wait_until([&] { return highlighted_slot() == 1; }, Millis(1000)));
    b.tap(MIDDLE, TAP);
    const size_t launched = line_at("launched " + second + " pid=", open);
    EXPECT_EQ(b.service_state(), 'T') << "the service stays stopped while the app runs";
    const size_t exited = line_at("child " + second + " exited\n", launched, Millis(4000));
    EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
    EXPECT_EQ(highlighted_slot(), 1) << "the return keeps the selection";
    EXPECT_FALSE(fs::exists(b.sandbox_path("/tmp/vorna-x/" + second + ".pid")));
    EXPECT_NE(slurp(b.sandbox_path("/tmp/vorna-x/" + second + ".log")).find("probe done\n"),
              std::string::npos);
    EXPECT_EQ(b.service_state(), 'T') << "the return from the app keeps the buttons";

    // A clock that mishandles the wrap closes at once or never: time the closing hold.
    std::this_thread::sleep_for(Millis(300));
    const size_t idle = b.lines().size();
    b.press(PLAY);
    const auto pressed = std::chrono::steady_clock::now();
    const size_t resumed = line_at("keys resumed\n", idle, Millis(4500));
    const size_t closed = line_at("menu closed (hold play 3 s)\n", idle, Millis(4500));
    const auto held =
        std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - pressed);
    b.release();
    EXPECT_LT(resumed, closed);
    EXPECT_GT(held.count(), 2900);
    EXPECT_LT(held.count(), 3600);
    EXPECT_EQ(b.screen_row(), 0u);
    EXPECT_TRUE(wait_until(
        [&] {
            const char c = b.service_state();
            return c == 'S' || c == 'R';
        },
        Millis(500)));
    // Between the exit and the closing only the mode read of the return is logged.
    EXPECT_EQ(line(exited + 1), NORMAL_REGS);
    EXPECT_EQ(resumed, exited + 2) << dump();
    EXPECT_EQ(closed, exited + 3);
    EXPECT_FALSE(logged("hold aborted"));
    EXPECT_FALSE(logged("launch failed"));
}

// The screenshot is what the wearer sees: the launcher's translucent panel over the video.
TEST_F(BoardTest, ScreenshotComposesThePageOverTheVideo) {
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

} // namespace
} // namespace systest
