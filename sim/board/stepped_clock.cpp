// The stepped clock (BoardConfig::stepped): the launcher's loop passes run only as the board
// grants them, through a futex pair in the board state: the launcher counts up `reached` at
// each sleep between passes and waits there until `granted` has caught up.
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>

#include "board/board.h"

namespace vxboard {

namespace {

// How often a wait for the launcher's next pass looks again without being woken.
constexpr auto PARK_RECHECK = std::chrono::milliseconds(5);
constexpr uint64_t US_PER_MS = 1000;

long futex(U32& word, int op, uint32_t value, const timespec* timeout) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), op, value, timeout, nullptr, 0);
}

Millis left_until(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
}

} // namespace

// The launcher is parked in the sleep after its last granted pass. The wake that grants a
// pass is sent again at every look, in case it reached the launcher before its wait began.
bool Board::wait_parked(std::chrono::steady_clock::time_point deadline) {
    if (!config_.stepped) throw std::logic_error("the board is not stepped");
    LauncherClock& c = state_->clock;
    const timespec recheck{0, std::chrono::nanoseconds(PARK_RECHECK).count()};
    for (;;) {
        const uint32_t reached = c.reached.load();
        if (reached == c.granted.load() + 1) return true;
        if (state_->launcher.exited.load() != 0 || std::chrono::steady_clock::now() >= deadline)
            return false;
        futex(c.granted, FUTEX_WAKE, INT32_MAX, nullptr);
        futex(c.reached, FUTEX_WAIT, reached, &recheck);
    }
}

bool Board::step(Millis max_real) {
    const auto deadline = std::chrono::steady_clock::now() + max_real;
    if (!wait_parked(deadline)) return false;
    state_->clock.granted.fetch_add(1);
    futex(state_->clock.granted, FUTEX_WAKE, INT32_MAX, nullptr);
    if (!wait_parked(deadline)) return false;
    std::lock_guard<std::mutex> lock(mu_);
    take_stderr_locked();
    return true;
}

bool Board::run_passes(int n, Millis max_real) {
    const auto deadline = std::chrono::steady_clock::now() + max_real;
    if (!wait_parked(deadline)) return false;
    for (int i = 0; i < n; ++i) {
        const Millis left = left_until(deadline);
        if (left.count() <= 0 || !step(left)) return false;
    }
    return true;
}

bool Board::run_until(const std::function<bool()>& done, Millis max_virtual, Millis max_real) {
    const auto deadline = std::chrono::steady_clock::now() + max_real;
    if (!wait_parked(deadline)) return false;
    const int64_t end = virtual_ms() + max_virtual.count();
    for (;;) {
        if (done()) return true;
        const Millis left = left_until(deadline);
        if (virtual_ms() >= end || left.count() <= 0 || !step(left)) return false;
    }
}

bool Board::run_for(Millis span, Millis max_real) {
    const auto deadline = std::chrono::steady_clock::now() + max_real;
    if (!wait_parked(deadline)) return false;
    const int64_t end = virtual_ms() + span.count();
    return run_until([&] { return virtual_ms() >= end; }, span, max_real);
}

int64_t Board::virtual_ms() const {
    return static_cast<int64_t>(state_->clock.virtual_us.load() / US_PER_MS);
}

} // namespace vxboard
