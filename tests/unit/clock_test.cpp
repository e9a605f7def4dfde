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

// Evaluated by the compiler too, which refuses a signed sum or difference that overflows.
static_assert(ms_after(INT32_MAX - 100, 1500) == INT32_MIN + 1399);
static_assert(ms_elapsed(INT32_MIN + 399, INT32_MAX - 100) == 500);

TEST(Clock, ElapsedAndDeadlinesAcrossTheWrap) {
    const struct {
        int32_t since, now, want;
    } cases[] = {{1000, 1450, 450}, {-1, 1499, 1500}, {INT32_MIN, INT32_MAX, -1}, {5, 3, -2}};
    for (const auto& c : cases)
        EXPECT_EQ(ms_elapsed(c.now, c.since), c.want) << c.since;
    for (int32_t now : {INT32_MAX - 1500, INT32_MAX - 1, INT32_MAX, INT32_MIN, -1500, 7}) {
        const int32_t deadline = ms_after(now, 1500);
        EXPECT_EQ(ms_elapsed(deadline, now), 1500) << now;
        EXPECT_LT(ms_elapsed(ms_after(now, 1499), deadline), 0) << now;
    }
}
