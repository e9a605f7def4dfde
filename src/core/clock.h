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

// Sleeps for `us` microseconds of the monotonic clock; a signal handler that returns does
// not shorten the sleep.
void sleep_us(uint32_t us);
