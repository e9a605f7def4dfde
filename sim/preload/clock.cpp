// The launcher's time. Only the launcher process is modelled: the process that mapped the ADC
// page. Its watchdog (a fork of it) and the apps it starts keep the real clock.
//
// The launcher's loop sleeps between two passes; inside a pass it may sleep too, for the
// hardware: the converter's settling, the OSD controller's busy bit, a beep. The length of
// the sleep tells the two apart: a pass sleep is one of the loop's own spans.
#include <cerrno>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "base/timings.h"
#include "hw/keys.h"
#include "preload.h"

namespace vxpreload {
namespace {

using vxboard::LauncherClock;

constexpr uint64_t US_PER_S = 1000000;
constexpr uint64_t NS_PER_US = 1000;
constexpr uint32_t FUTEX_WAIT_FALLBACK_US = 100;
constexpr uint32_t PASS_SLEEP_US[] = {POLL_IDLE_US, POLL_ACTIVE_US};

// The launcher's last reading of its monotonic clock: a deadline it sets is that reading
// plus the span it means to sleep.
uint64_t g_last_reading_ns = 0;

BoardState* launcher_board() {
    return is_launcher() ? board() : nullptr;
}

// Another process's sleep (an app's, on the real clock): one that is not the settle wait of a
// sample leaves its converter idle.
void after_real_sleep(uint64_t us) {
    if (!adc_mapped()) return;
    if (BoardState* s = board()) adc_after_sleep(*s, us, us != ADC_SETTLE_US);
}

uint64_t timespec_ns(const timespec& t) {
    return static_cast<uint64_t>(t.tv_sec) * US_PER_S * NS_PER_US +
           static_cast<uint64_t>(t.tv_nsec);
}

uint64_t timespec_us(const timespec& t) {
    return timespec_ns(t) / NS_PER_US;
}

timespec span_of(uint64_t us) {
    return timespec{static_cast<time_t>(us / US_PER_S),
                    static_cast<long>(us % US_PER_S) * static_cast<long>(NS_PER_US)};
}

uint64_t real_now_us(clockid_t clock) {
    timespec ts{};
    real().clock_gettime(clock, &ts);
    return timespec_us(ts);
}

// The launcher's monotonic clock when the board steps it, else false.
bool board_now_us(BoardState& s, uint64_t* us) {
    LauncherClock& c = s.clock;
    if (c.stepped.load() == 0) return false;
    // Stepping starts where the real clock is, so that the launcher's time never goes back.
    if (c.virtual_set.load() == 0) {
        c.virtual_us.store(real_now_us(CLOCK_MONOTONIC));
        c.virtual_set.store(1);
    }
    *us = c.virtual_us.load();
    return true;
}

bool stepped(BoardState& s) {
    uint64_t now;
    return board_now_us(s, &now);
}

bool is_pass_sleep(uint64_t us) {
    for (const uint32_t p : PASS_SLEEP_US)
        if (us == p) return true;
    return false;
}

void note_sleep(vxboard::SleepStats& st, uint64_t us, bool pass) {
    st.calls.fetch_add(1);
    st.total_us.fetch_add(us);
    st.last_us.store(static_cast<uint32_t>(us));
    if (pass) return;
    const uint32_t i = st.hw_count.load();
    st.hw_us[i % vxboard::HW_SLEEP_RING].store(static_cast<uint32_t>(us));
    st.hw_count.store(i + 1);
}

long futex(vxboard::U32& word, int op, uint32_t value) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), op, value, nullptr, nullptr, 0);
}

// The sleep between two passes in stepped mode: the launcher says it is there and waits
// until the board grants the next pass. A signal's handler runs meanwhile as in any sleep.
void wait_for_grant(LauncherClock& c) {
    const int saved_errno = errno;
    const uint32_t k = c.reached.load() + 1;
    c.reached.store(k);
    futex(c.reached, FUTEX_WAKE, INT_MAX);
    for (;;) {
        const uint32_t g = c.granted.load();
        if (static_cast<int32_t>(g - k) >= 0 || c.stepped.load() == 0) break;
        if (futex(c.granted, FUTEX_WAIT, g) != 0 && errno != EAGAIN && errno != EINTR) {
            const timespec pause = span_of(FUTEX_WAIT_FALLBACK_US);
            real().nanosleep(&pause, nullptr);
        }
    }
    errno = saved_errno;
}

// A sleep of `us` by the launcher on the stepped clock: the clock moved on, and between
// passes the board's grant waited for. Returns what the sleep returns, or -1 when the real
// sleep is the one to make.
int board_sleep(BoardState& s, uint64_t us, bool pass) {
    if (!stepped(s)) return -1;
    s.clock.virtual_us.fetch_add(us);
    if (pass) wait_for_grant(s.clock);
    return 0;
}

// The span an absolute deadline on `clock` stands for, from the launcher's last reading.
uint64_t span_until_us(clockid_t clock, const timespec& deadline) {
    const uint64_t until = timespec_ns(deadline);
    const uint64_t from = clock == CLOCK_MONOTONIC && g_last_reading_ns != 0
                              ? g_last_reading_ns
                              : real_now_us(clock) * NS_PER_US;
    return until > from ? (until - from) / NS_PER_US : 0;
}

} // namespace

uint64_t launcher_clock_us() {
    uint64_t us;
    BoardState* s = board();
    return s != nullptr && board_now_us(*s, &us) ? us : real_now_us(CLOCK_MONOTONIC);
}

} // namespace vxpreload

using namespace vxpreload;

extern "C" {

int clock_gettime(clockid_t clock, timespec* ts) {
    BoardState* s = clock == CLOCK_MONOTONIC ? launcher_board() : nullptr;
    if (s == nullptr) {
        const int r = real().clock_gettime(clock, ts);
        if (r == 0 && clock == CLOCK_MONOTONIC) g_last_reading_ns = timespec_ns(*ts);
        return r;
    }
    uint64_t us;
    if (board_now_us(*s, &us))
        *ts = span_of(us);
    else if (const int r = real().clock_gettime(clock, ts); r != 0)
        return r;
    g_last_reading_ns = timespec_ns(*ts);
    return 0;
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* req, timespec* rem) {
    BoardState* s = launcher_board();
    if (s == nullptr) {
        const uint64_t us =
            (flags & TIMER_ABSTIME) != 0 ? span_until_us(clock, *req) : timespec_us(*req);
        const int r = real().clock_nanosleep(clock, flags, req, rem);
        after_real_sleep(us);
        return r;
    }
    uint64_t now = 0;
    const bool board_clock = clock == CLOCK_MONOTONIC && board_now_us(*s, &now);
    const uint64_t us =
        (flags & TIMER_ABSTIME) != 0 ? span_until_us(clock, *req) : timespec_us(*req);
    const bool pass = is_pass_sleep(us);
    note_sleep(s->sleeps, us, pass);
    int r = board_clock ? board_sleep(*s, us, pass) : -1;
    if (r < 0) r = real().clock_nanosleep(clock, flags, req, rem);
    adc_after_sleep(*s, us, pass);
    return r;
}

int nanosleep(const timespec* req, timespec* rem) {
    BoardState* s = launcher_board();
    if (s == nullptr) {
        const int r = real().nanosleep(req, rem);
        after_real_sleep(timespec_us(*req));
        return r;
    }
    const uint64_t us = timespec_us(*req);
    const bool pass = is_pass_sleep(us);
    note_sleep(s->sleeps, us, pass);
    int r = stepped(*s) ? board_sleep(*s, us, pass) : -1;
    if (r < 0) r = real().nanosleep(req, rem);
    adc_after_sleep(*s, us, pass);
    return r;
}

} // extern "C"
