#pragma once
#include <cstdint>

// Milliseconds of CLOCK_MONOTONIC as a signed 32-bit count. The count wraps after about
// 24.8 days of uptime, so values are only ever compared through ms_elapsed().
int32_t now_ms();

// The clock formula on its own: seconds * 1000 + nanoseconds / 1e6, computed in 64 bits and
// reduced modulo 2^32.
int32_t ms_from_timespec(int64_t sec, int64_t nsec);

// Milliseconds from `since` to `now`, right across the 32-bit wrap for spans under 2^31 ms.
constexpr int32_t ms_elapsed(int32_t now, int32_t since) {
    return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(since));
}

// The reading `span_ms` after `t`. Deadlines near the wrap land on the other side of it, as
// the clock itself does; the sum is taken unsigned, where wrapping is defined.
constexpr int32_t ms_after(int32_t t, int32_t span_ms) {
    return static_cast<int32_t>(static_cast<uint32_t>(t) + static_cast<uint32_t>(span_ms));
}

// Sleeps for `us` microseconds of the monotonic clock; a signal handler that returns does
// not shorten the sleep.
void sleep_us(uint32_t us);
