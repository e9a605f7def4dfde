#include "base/clock.h"

#include <cerrno>
#include <ctime>

int32_t ms_from_timespec(int64_t sec, int64_t nsec) {
    const uint64_t ms = static_cast<uint64_t>(sec) * 1000u + static_cast<uint64_t>(nsec / 1000000);
    return static_cast<int32_t>(static_cast<uint32_t>(ms));
}

int32_t now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ms_from_timespec(ts.tv_sec, ts.tv_nsec);
}

void sleep_us(uint32_t us) {
    // An absolute deadline, so that a retry after EINTR does not sleep the full span again.
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += us / 1000000u;
    until.tv_nsec += static_cast<long>(us % 1000000u) * 1000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}
