#include <gtest/gtest.h>

#include "base/clock.h"

// The monotonic clock crosses 2^31 ms after about 24.8 days: readings turn negative and the
// arithmetic on them must stay right.
TEST(Clock, ReadingWrapsToNegativeAt2Pow31Ms) {
    EXPECT_EQ(ms_from_timespec(2147483, 647000000), INT32_MAX);
    EXPECT_EQ(ms_from_timespec(2147483, 648000000), INT32_MIN);
    EXPECT_EQ(ms_from_timespec(4294967, 296000000), 0);
    EXPECT_EQ(ms_from_timespec(1, 999999999), 1999); // truncating
}

TEST(Clock, ElapsedAcrossTheWrap) {
    struct Case {
        int32_t since, now, want;
    } cases[] = {
        {1000, 1450, 450},          {INT32_MAX - 100, INT32_MIN + 399, 500},
        {-1, 1499, 1500}, // a hold that began at the reading -1
        {INT32_MIN, INT32_MAX, -1}, {5, 3, -2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ms_elapsed(c.now, c.since), c.want) << c.since;
}

// Evaluated by the compiler too, which refuses an overflowing signed sum outright.
static_assert(ms_after(INT32_MAX - 100, 1500) == INT32_MIN + 1399);

TEST(Clock, DeadlinesAcrossTheWrap) {
    for (int32_t now : {INT32_MAX - 1500, INT32_MAX - 1, INT32_MAX, INT32_MIN, -1500, 7}) {
        const int32_t deadline = ms_after(now, 1500);
        EXPECT_EQ(ms_elapsed(deadline, now), 1500) << now;
        EXPECT_LT(ms_elapsed(ms_after(now, 1499), deadline), 0) << now;
    }
}

TEST(Clock, SleepLastsAtLeastItsSpan) {
    const int32_t t0 = now_ms();
    sleep_us(20000);
    const int32_t dt = ms_elapsed(now_ms(), t0);
    EXPECT_GE(dt, 19);
    EXPECT_LT(dt, 1000);
}
