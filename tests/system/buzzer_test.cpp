// The hold tones as the board's PWM chip sounds them, on the launcher's virtual clock.
#include <algorithm>

#include "board/pwm_history.h"

#include "board_fixture.h"

namespace systest {
namespace {

using vxboard::Tone;

// How the hold tone of each gesture should sound.
struct Ramp {
    uint32_t base_hz, rise_hz, rise_ms, beep_hz;
    uint32_t at(uint64_t ms) const {
        const uint64_t t = std::min<uint64_t>(ms, rise_ms);
        return base_hz + static_cast<uint32_t>(t * rise_hz / rise_ms);
    }
};
constexpr Ramp OPENING{550, 800, HOLD_OPEN_MS, 1600};
constexpr Ramp CLOSING{400, 1100, HOLD_CLOSE_MS, 1700};

std::string describe(const std::vector<Tone>& tones) {
    std::string s;
    for (const Tone& t : tones)
        s += " " + std::to_string(t.hz) + "@" + std::to_string(t.at_ms);
    return s;
}

using BuzzerTest = PreloadedBoardTest; // the PWM chip's sysfs is the preload's

// A whole gesture's tones: the ramp from the pass that saw the press, rising to its top,
// silence, the beep for 100 ms, silence. The pitch of each step comes back from the period
// the chip was given, to the nearest hertz.
TEST_F(BuzzerTest, HoldTonesRiseAndConfirm) {
    app("one");
    vxboard::Board& b = start_stepped();
    for (const auto& [ramp, done] : {std::pair{OPENING, "menu open (hold play"},
                                     std::pair{CLOSING, LOG_MENU_CLOSED.c_str()}}) {
        const size_t from = b.lines().size();
        const uint64_t pressed = static_cast<uint64_t>(b.virtual_ms());
        b.press(PLAY);
        ASSERT_TRUE(run_to_line(done, from)) << dump();
        b.release();
        ASSERT_TRUE(b.run_passes(5));
        std::vector<Tone> tones;
        for (const Tone& t : vxboard::pwm_tones(b.state()))
            if (t.at_ms >= pressed) tones.push_back(t);
        SCOPED_TRACE("tones:" + describe(tones));
        ASSERT_GE(tones.size(), 5u);
        const size_t n = tones.size();
        for (size_t i = 0; i + 3 < n; ++i) {
            const uint32_t want = ramp.at(tones[i].at_ms - tones[0].at_ms);
            EXPECT_LE(tones[i].hz, want + 1) << "entry " << i;
            EXPECT_GE(tones[i].hz + 1, want) << "entry " << i;
        }
        EXPECT_EQ(tones[0].hz, ramp.base_hz);
        EXPECT_EQ(tones[n - 4].hz, ramp.base_hz + ramp.rise_hz) << "the gesture ends at the top";
        EXPECT_EQ(tones[n - 3].hz, 0u);
        EXPECT_EQ(tones[n - 2].hz, ramp.beep_hz);
        EXPECT_EQ(tones[n - 1].hz, 0u);
        EXPECT_EQ(tones[n - 1].at_ms - tones[n - 2].at_ms, 100u);
    }
}

} // namespace
} // namespace systest
