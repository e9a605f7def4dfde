// The change is stamped with CLOCK_REALTIME, which no time namespace shifts, so that a front
// end outside the sandbox or the guest can tell how late its picture is. (Inside the preload
// the call passes its clock hook untouched: only the launcher's monotonic clock is the
// board's.)
#include "devices/screen_record.h"

#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vxdevices {

namespace {

constexpr uint64_t NS_PER_S = 1000000000;

} // namespace

void screen_changed(BoardState& s) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    s.screen.changed_realtime_ns.store(static_cast<uint64_t>(now.tv_sec) * NS_PER_S +
                                       static_cast<uint64_t>(now.tv_nsec));
    s.screen.generation.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&s.screen.generation), FUTEX_WAKE, INT_MAX,
            nullptr, nullptr, 0);
}

} // namespace vxdevices
