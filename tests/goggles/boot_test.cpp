// The release's static launcher on the emulated goggles: booted from the archive as an owner
// installs it, with its devices behind a real kernel's paths (the DRM framebuffer, /dev/mem,
// the CUSE transport, the PWM file system). Each step is timed; the figures are printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "base/log_lines.h"
#include "base/timings.h"
#include "base/video_modes.h"
#include "board/board.h"
#include "board/pwm_history.h"
#include "board/screen.h"
#include "display/draw.h"
#include "display/menu_layout.h"
#include "goggles/machine.h"
#include "goggles/qmp.h"
#include "hw/buzzer.h"
#include "hw/keys_logic.h"

namespace {

namespace fs = std::filesystem;
using namespace vxboard;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds BOOT_TIMEOUT(60000);
constexpr milliseconds LINE_TIMEOUT(10000);
// A hold a person means as the menu's: past its threshold by what a loop pass under the
// emulated CPU may take.
constexpr milliseconds OPEN_HOLD(HOLD_OPEN_MS + 300);
constexpr milliseconds CLOSE_HOLD(HOLD_CLOSE_MS + 300);
// A hold takes effect in the first loop pass past its threshold, which must come before the
// release the holds above give it (a pass that draws the hold's panel on the emulated CPU
// takes a good part of this).
constexpr milliseconds LANDING_BOUND(OPEN_HOLD - milliseconds(HOLD_OPEN_MS));

// The text of a log form up to its first conversion: what a line of it starts with.
std::string form_head(const char* form) {
    const std::string f = form;
    return f.substr(0, f.find('%'));
}

// The guest's process list comes every half second: the service's state as it settles.
bool service_becomes(const Board& b, char state) {
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (b.service_state() != state && Clock::now() < end)
        std::this_thread::sleep_for(milliseconds(20));
    return b.service_state() == state;
}

// How long after its threshold a hold took effect, from the buzzer's writes as the relay
// stamps them: the period of the hold's first tone (`base`, the first write of the pass that
// starts the hold) to the period of its confirmation (`confirm`, written in the pass that
// opens or closes the menu, after the hold's tone is silenced: a write or two late, so the
// figure errs long), among the accesses from index `from` on.
std::optional<long> hold_landing(const std::vector<PwmAccessRecord>& accesses, size_t from,
                                 uint32_t base, uint32_t confirm, int threshold_ms) {
    std::optional<uint64_t> began;
    for (size_t i = from; i < accesses.size(); ++i) {
        const PwmAccessRecord& a = accesses[i];
        if (!a.is_write || a.file != PWM_FILE_PERIOD || a.error != 0) continue;
        const uint32_t hz = pwm_sounding_hz(a.value, a.value / 2, true);
        if (!began && hz == base) began = a.at_ms;
        if (began && hz == confirm) return static_cast<long>(a.at_ms - *began) - threshold_ms;
    }
    return std::nullopt;
}

// The number a log line of `form` carries as its first conversion.
long logged_ms(const std::string& line, const char* form) {
    return std::atol(line.c_str() + form_head(form).size());
}

long ms_since(Clock::time_point t) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - t).count());
}

class GogglesBoot : public ::testing::Test {
  protected:
    void SetUp() override {
        const vxgoggles::GogglesArtefacts a = vxgoggles::goggles_artefacts();
        for (const std::string& f : {a.kernel, a.initramfs, a.release_archive})
            if (!fs::exists(f))
                GTEST_FAIL() << f
                             << " is missing: tools/release.sh and "
                                "tools/goggles/build-image.sh make the release and the guest";
        BoardConfig cfg;
        cfg.apps_dir = goggles_release_apps_dir();
        cfg.target = Target::Goggles;
        board_ = std::make_unique<Board>(cfg);
        started_ = Clock::now();
        board_->start();
    }
    void TearDown() override {
        if (board_) board_->stop();
    }

    std::unique_ptr<Board> board_;
    Clock::time_point started_;
};

TEST_F(GogglesBoot, TheReleasesLauncherOpensItsMenuOnARealKernel) {
    Board& b = *board_;
    const auto banner = b.wait_line(form_head(LOG_BANNER), BOOT_TIMEOUT);
    ASSERT_TRUE(banner) << "no banner; the guest's console: " << b.goggles()->console_path();
    std::printf("[ figure ] boot to the launcher's banner: %ld ms\n", ms_since(started_));
    EXPECT_NE(b.lines()[*banner].find("adc=1"), std::string::npos) << b.lines()[*banner];
    EXPECT_NE(b.lines()[*banner].find("fb=1"), std::string::npos) << b.lines()[*banner];
    ASSERT_TRUE(b.wait_line(form_head(LOG_SCAN_DONE), LINE_TIMEOUT));
    // The mode was read through the CUSE transport from the board's LT8668.
    EXPECT_GT(b.state().i2c.transfers.load(), 0u);
    EXPECT_EQ(b.state().i2c.failed.load(), 0u);
    EXPECT_TRUE(service_becomes(b, 'S')) << "the goggles' service runs";

    const size_t from = b.line_count();
    const auto pressed = Clock::now();
    b.press(KEY_PLAY);
    const auto blocked = b.wait_line(form_head(LOG_KEYS_BLOCKED), LINE_TIMEOUT, from);
    ASSERT_TRUE(blocked) << "the launcher did not take the buttons";
    EXPECT_TRUE(service_becomes(b, 'T')) << "the launcher stopped the goggles' service";
    std::this_thread::sleep_until(pressed + OPEN_HOLD);
    b.release();
    ASSERT_TRUE(b.wait_line(form_head(LOG_MENU_OPEN), LINE_TIMEOUT, from));
    const auto menu_at = Clock::now();
    while (!menu_on_screen(b) && ms_since(menu_at) < LINE_TIMEOUT.count())
        std::this_thread::sleep_for(milliseconds(5));
    ASSERT_TRUE(menu_on_screen(b)) << "the menu's page from the guest's framebuffer";
    EXPECT_NE(b.screen_row(), 0u) << "panned to a page of its own";

    // qemu's display shows the page panned to: the panel's colour where the board reads it.
    const std::string ppm = b.workdir() + "/display.ppm";
    std::vector<uint32_t> px;
    uint32_t w = 0, h = 0;
    bool shown = false;
    const auto looked = Clock::now();
    while (!shown && ms_since(looked) < LINE_TIMEOUT.count()) {
        ASSERT_TRUE(b.goggles()->screendump(ppm));
        ASSERT_TRUE(vxgoggles::read_ppm(ppm, px, w, h));
        ASSERT_EQ(w, SCREEN_W);
        const uint32_t at = static_cast<uint32_t>(menu_layout::PANEL_PROBE_Y) * w +
                            static_cast<uint32_t>(menu_layout::PANEL_PROBE_X);
        shown = (px[at] & 0xFFFFFF) == (COL_PANEL & 0xFFFFFF);
    }
    EXPECT_TRUE(shown) << "the display never showed the menu's page";
    std::printf("[ figure ] menu in the log to menu on qemu's display: %ld ms\n",
                ms_since(menu_at));

    // The hold's tones reached the PWM chip through the guest's sysfs directory, and it was
    // silent again after them.
    EXPECT_EQ(b.state().pwm.exported.load(), 1u);
    const std::vector<Tone> tones = pwm_tones(b.state());
    ASSERT_FALSE(tones.empty());
    EXPECT_TRUE(std::any_of(tones.begin(), tones.end(), [](const Tone& t) { return t.hz > 0; }));
    EXPECT_EQ(tones.back().hz, 0u);

    // Where the opening hold landed, from the buzzer; the keys were blocked at the time the
    // launcher logged.
    const std::optional<long> opened = hold_landing(pwm_accesses(b.state()), 0, TONE_OPEN_BASE_HZ,
                                                    TONE_OPEN_CONFIRM_HZ, HOLD_OPEN_MS);
    ASSERT_TRUE(opened) << "no opening hold's tones";
    const long blocked_at = logged_ms(b.lines()[*blocked], LOG_KEYS_BLOCKED);
    std::printf("[ figure ] keys blocked at %ld ms (+%ld ms), menu open +%ld ms past %d ms\n",
                blocked_at, blocked_at - HOLD_BLOCK_MS, *opened, HOLD_OPEN_MS);
    EXPECT_GE(blocked_at, HOLD_BLOCK_MS);
    EXPECT_GE(*opened, 0) << "opened before its threshold";
    EXPECT_LT(*opened, LANDING_BOUND.count());

    // The closing hold, held past its threshold by the same margin.
    const size_t closing_from = b.line_count();
    const size_t accesses_before = pwm_accesses(b.state()).size();
    const auto close_pressed = Clock::now();
    b.press(KEY_PLAY);
    std::this_thread::sleep_until(close_pressed + CLOSE_HOLD);
    b.release();
    ASSERT_TRUE(b.wait_line(form_head(LOG_MENU_CLOSED.c_str()), LINE_TIMEOUT, closing_from));
    EXPECT_TRUE(service_becomes(b, 'S')) << "the goggles' service resumed";
    // The confirmation's end comes a moment after the line.
    std::optional<long> closed;
    const auto looked_close = Clock::now();
    while (!(closed = hold_landing(pwm_accesses(b.state()), accesses_before, TONE_CLOSE_BASE_HZ,
                                   TONE_CLOSE_CONFIRM_HZ, HOLD_CLOSE_MS)) &&
           ms_since(looked_close) < LINE_TIMEOUT.count())
        std::this_thread::sleep_for(milliseconds(20));
    ASSERT_TRUE(closed) << "no closing hold's tones";
    std::printf("[ figure ] menu closed +%ld ms past %d ms\n", *closed, HOLD_CLOSE_MS);
    EXPECT_GE(*closed, 0) << "closed before its threshold";
    EXPECT_LT(*closed, LANDING_BOUND.count());
}

} // namespace
