// The screen's record in the board state: what the launcher shows changes only at a pan, an
// OSD commit or a switch of the overlay, and a front end waits on the generation rather than
// looking at the pictures now and then.
#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "preload.h"

namespace vxpreload {

namespace {

constexpr uint64_t NS_PER_S = 1000000000;

} // namespace

void screen_changed(BoardState& s) {
    timespec now{};
    real().clock_gettime(CLOCK_REALTIME, &now);
    s.screen.changed_realtime_ns.store(static_cast<uint64_t>(now.tv_sec) * NS_PER_S +
                                       static_cast<uint64_t>(now.tv_nsec));
    s.screen.generation.fetch_add(1);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&s.screen.generation), FUTEX_WAKE, INT_MAX,
            nullptr, nullptr, 0);
}

} // namespace vxpreload
