#include <gtest/gtest.h>

#include <string_view>

#include "base/clock.h"
#include "hw/keys_logic.h"
#include "hw/video_mode.h"

namespace {

TEST(KeyBands, RawCountsToButtons) {
    const struct {
        uint32_t raw, mv;
        int32_t code;
    } cases[] = {{0, 0, KEY_NONE},        {114, 201, KEY_NONE},   {169, 298, KEY_NONE},
                 {170, 300, KEY_PLAY},    {283, 499, KEY_PLAY},   {284, 501, KEY_BACK},
                 {397, 700, KEY_UP},      {510, 900, KEY_2},      {624, 1101, KEY_3},
                 {737, 1300, KEY_MIDDLE}, {850, 1500, KEY_DOWN},  {964, 1701, KEY_5},
                 {1076, 1898, KEY_5},     {1077, 1900, KEY_NONE}, {1078, 1902, KEY_NONE}};
    for (const auto& c : cases) {
        EXPECT_EQ(keys_raw_to_mv(c.raw), c.mv) << "raw " << c.raw;
        EXPECT_EQ(keys_classify_mv(c.mv), c.code) << "mv " << c.mv;
    }
}

// A corrupted conversion can hold any 32-bit count. None above the last button's band may
// read as a button, also where the millivolts pass a multiple of 2^32 and a narrower
// product would wrap back into the bands.
TEST(KeyBands, NoCountAboveTheBandsReadsAsAButton) {
    const auto first_wrapping = static_cast<uint32_t>(((uint64_t{1} << 32) * 1020 + 1799) / 1800);
    for (uint32_t raw = first_wrapping - 16; raw != first_wrapping + 1200; ++raw)
        ASSERT_EQ(keys_classify_mv(keys_raw_to_mv(raw)), KEY_NONE) << std::hex << raw;
    uint32_t x = 0x9E3779B9u; // a fixed walk over the whole range
    for (int i = 0; i < 1000000; ++i) {
        x = x * 1664525u + 1013904223u;
        if (x >= 1077) {
            ASSERT_EQ(keys_classify_mv(keys_raw_to_mv(x)), KEY_NONE) << std::hex << x;
        }
    }
}

int32_t g_fake_now = 0;
int32_t fake_clock() {
    return g_fake_now;
}

// Samples 40 ms apart from t0 ('N' no button, 'U', 'D', 'M', 'P' buttons, 'x' rejected) and
// what each must produce: '+' a press of its button, '-' the release of the last press,
// reported as release_ms long, '.' nothing.
TEST(Debounce, PressOnTheThirdEqualSampleReleaseWithItsDuration) {
    const struct {
        const char *samples, *events;
        int32_t t0, release_ms;
    } cases[] = {{"NPPPPPNNN", "...+....-", 0, 200},
                 {"UUNUUD", "......", 0, 0},             // two equal samples never make an event
                 {"UUUDDDNNN", "..+..+..-", 0, 120},     // a direct change: the new press, timed
                 {"MxMxxMxNNxN", ".....+....-", 0, 200}, // rejected samples neither break nor start
                 {"PPPNNN", "..+..-", INT32_MAX - 90, 120}}; // across the clock's wrap
    for (const auto& c : cases) {
        KeyDebounce d;
        int32_t pressed = KEY_NONE;
        for (int i = 0; c.samples[i] != '\0'; ++i) {
            // Indexed by KeyCode.
            const size_t at = std::string_view("UD??M?P?N").find(c.samples[i]);
            const int32_t key = at == std::string_view::npos ? -1 : static_cast<int32_t>(at);
            const char e = c.events[i];
            g_fake_now = ms_after(c.t0, i * 40);
            int32_t duration = -99;
            EXPECT_EQ(keys_debounce(&d, key, fake_clock, &duration), e == '+'   ? key + 1
                                                                     : e == '-' ? ~pressed
                                                                                : 0)
                << c.samples << " at " << i;
            EXPECT_EQ(duration, e == '+'   ? 0
                                : e == '-' ? c.release_ms
                                           : -99)
                << c.samples << " at " << i;
            if (e == '+') pressed = key;
        }
    }
}

TEST(VideoMode, DecisionTable) {
    const struct {
        uint8_t b7, ad, ac;
        int32_t want;
    } cases[] = {{1, 0, 0, MODE_NORMAL}, {1, 2, 1, MODE_NORMAL},  {1, 0xFF, 0xFF, MODE_NORMAL},
                 {2, 2, 1, MODE_AV},     {2, 2, 0, MODE_HDMI},    {2, 1, 1, MODE_HDMI},
                 {2, 0, 0, MODE_HDMI},   {0, 2, 1, MODE_UNKNOWN}, {3, 2, 1, MODE_UNKNOWN}};
    for (const auto& c : cases)
        EXPECT_EQ(video_mode_decide(c.b7, c.ad, c.ac), c.want)
            << int(c.b7) << " " << int(c.ad) << " " << int(c.ac);
}

} // namespace
