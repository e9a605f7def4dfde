#include <gtest/gtest.h>

#include <vector>

#include "hw/keys_logic.h"
#include "hw/video_mode.h"

namespace {

struct Band {
    uint32_t raw;
    uint32_t mv;
    int32_t code;
};

TEST(KeyBands, RawCountsToButtons) {
    const Band cases[] = {
        {0, 0, KEY_NONE},       {113, 199, KEY_NONE},  {114, 201, KEY_NONE},
        {169, 298, KEY_NONE},   {170, 300, KEY_PLAY},  {283, 499, KEY_PLAY},
        {284, 501, KEY_BACK},   {397, 700, KEY_UP},    {510, 900, KEY_2},
        {623, 1099, KEY_2},     {624, 1101, KEY_3},    {737, 1300, KEY_MIDDLE},
        {850, 1500, KEY_DOWN},  {907, 1600, KEY_DOWN}, {964, 1701, KEY_5},
        {1020, 1800, KEY_5},    {1076, 1898, KEY_5},   {1077, 1900, KEY_NONE},
        {1078, 1902, KEY_NONE},
    };
    for (const Band& b : cases) {
        EXPECT_EQ(keys_raw_to_mv(b.raw), b.mv) << "raw " << b.raw;
        EXPECT_EQ(keys_classify_mv(b.mv), b.code) << "mv " << b.mv;
    }
}

TEST(KeyBands, EveryBandHasHalfOpenEdges) {
    for (const KeyBand& band : KEY_BANDS) {
        const auto lo = static_cast<uint32_t>(band.centre_mv - KEY_BAND_HALF_MV);
        const auto hi = static_cast<uint32_t>(band.centre_mv + KEY_BAND_HALF_MV);
        EXPECT_EQ(keys_classify_mv(lo), band.code);
        EXPECT_EQ(keys_classify_mv(hi - 1), band.code);
        EXPECT_NE(keys_classify_mv(hi), band.code);
    }
    EXPECT_EQ(keys_classify_mv(1899), KEY_5);
}

int32_t classify_raw(uint32_t raw) {
    return keys_classify_mv(keys_raw_to_mv(raw));
}

// A corrupted conversion can hold any 32-bit count. No count above the last button's band
// may read as a button, also where the millivolts pass a multiple of 2^32 and a narrower
// product would wrap back into the bands.
TEST(KeyBands, NoCountAboveTheBandsReadsAsAButton) {
    constexpr uint64_t MV_WRAP = uint64_t{1} << 32;
    const uint32_t first_wrapping = static_cast<uint32_t>((MV_WRAP * 1020 + 1799) / 1800);
    for (uint32_t raw = first_wrapping - 16; raw != first_wrapping + 1200; ++raw)
        ASSERT_EQ(classify_raw(raw), KEY_NONE) << std::hex << raw;
    uint32_t x = 0x9E3779B9u; // a fixed walk over the whole range
    for (int i = 0; i < 1000000; ++i) {
        x = x * 1664525u + 1013904223u;
        if (x >= 1077) {
            ASSERT_EQ(classify_raw(x), KEY_NONE) << std::hex << x;
        }
    }
    for (uint32_t raw : {1077u, 0x80000000u, 0xFFFFFFFFu})
        EXPECT_EQ(classify_raw(raw), KEY_NONE) << raw;
}

int32_t g_fake_now = 0;
int g_clock_reads = 0;
int32_t fake_clock() {
    ++g_clock_reads;
    return g_fake_now;
}

struct Step {
    int32_t sample;   // classified sample, -1 = rejected
    int32_t now;      // clock at this sample
    int32_t event;    // expected event
    int32_t duration; // expected duration after an event (-99 = untouched)
};

void run(const std::vector<Step>& steps) {
    KeyDebounce d;
    int i = 0;
    for (const Step& s : steps) {
        g_fake_now = s.now;
        int32_t dur = -99;
        EXPECT_EQ(keys_debounce(&d, s.sample, fake_clock, &dur), s.event) << "step " << i;
        EXPECT_EQ(dur, s.duration) << "step " << i;
        ++i;
    }
}

TEST(Debounce, PressOnThirdSampleReleaseWithDuration) {
    run({
        {KEY_NONE, 0, 0, -99},
        {KEY_PLAY, 40, 0, -99},
        {KEY_PLAY, 80, 0, -99},
        {KEY_PLAY, 120, KEY_PLAY + 1, 0},
        {KEY_PLAY, 160, 0, -99},
        {KEY_PLAY, 1320, 0, -99},
        {KEY_NONE, 1354, 0, -99},
        {KEY_NONE, 1394, 0, -99},
        {KEY_NONE, 1354 + 80, ~KEY_PLAY, 1314},
        {KEY_NONE, 1500, 0, -99},
    });
}

TEST(Debounce, TwoSamplesNeverMakeAnEvent) {
    run({
        {KEY_UP, 0, 0, -99},
        {KEY_UP, 40, 0, -99},
        {KEY_NONE, 80, 0, -99},
        {KEY_UP, 120, 0, -99},
        {KEY_UP, 160, 0, -99},
        {KEY_DOWN, 200, 0, -99},
    });
}

TEST(Debounce, DirectChangeGivesOnlyTheNewPress) {
    run({
        {KEY_UP, 0, 0, -99},
        {KEY_UP, 40, 0, -99},
        {KEY_UP, 80, KEY_UP + 1, 0},
        {KEY_DOWN, 500, 0, -99},
        {KEY_DOWN, 540, 0, -99},
        {KEY_DOWN, 580, KEY_DOWN + 1, 0},
        {KEY_NONE, 600, 0, -99},
        {KEY_NONE, 640, 0, -99},
        {KEY_NONE, 680, ~KEY_DOWN, 100}, // timed from the new press, not the first
    });
}

TEST(Debounce, RejectedSamplesChangeNothing) {
    // A rejected sample neither breaks a run of identical readings nor starts one.
    run({
        {KEY_MIDDLE, 0, 0, -99},
        {-1, 40, 0, -99},
        {KEY_MIDDLE, 80, 0, -99},
        {-1, 120, 0, -99},
        {-1, 160, 0, -99},
        {KEY_MIDDLE, 200, KEY_MIDDLE + 1, 0},
        {-1, 240, 0, -99},
        {KEY_NONE, 280, 0, -99},
        {KEY_NONE, 320, 0, -99},
        {-1, 330, 0, -99},
        {KEY_NONE, 360, ~KEY_MIDDLE, 160},
    });
}

TEST(Debounce, DurationAcrossTheClockWrap) {
    run({
        {KEY_PLAY, INT32_MAX - 90, 0, -99},
        {KEY_PLAY, INT32_MAX - 50, 0, -99},
        {KEY_PLAY, INT32_MAX - 10, KEY_PLAY + 1, 0},
        {KEY_NONE, INT32_MIN + 2989, 0, -99},
        {KEY_NONE, INT32_MIN + 2989, 0, -99},
        {KEY_NONE, INT32_MIN + 2989, ~KEY_PLAY, 3000},
    });
}

TEST(Debounce, NoDurationPointerMeansNoClockOnRelease) {
    KeyDebounce d;
    g_clock_reads = 0;
    for (int i = 0; i < 3; ++i)
        keys_debounce(&d, KEY_BACK, fake_clock, nullptr);
    EXPECT_EQ(g_clock_reads, 1); // the press time
    int32_t last = 0;
    for (int i = 0; i < 3; ++i)
        last = keys_debounce(&d, KEY_NONE, fake_clock, nullptr);
    EXPECT_EQ(last, ~KEY_BACK);
    EXPECT_EQ(g_clock_reads, 1);
}

TEST(VideoMode, DecisionTable) {
    struct Case {
        uint8_t b7, ad, ac;
        int32_t want;
    } cases[] = {
        {1, 0, 0, MODE_NORMAL},     {1, 2, 1, MODE_NORMAL},  {1, 0xFF, 0xFF, MODE_NORMAL},
        {2, 2, 1, MODE_AV},         {2, 2, 0, MODE_HDMI},    {2, 1, 1, MODE_HDMI},
        {2, 0, 0, MODE_HDMI},       {0, 2, 1, MODE_UNKNOWN}, {3, 2, 1, MODE_UNKNOWN},
        {0xFF, 0, 0, MODE_UNKNOWN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(video_mode_decide(c.b7, c.ad, c.ac), c.want)
            << int(c.b7) << " " << int(c.ad) << " " << int(c.ac);
}

} // namespace
