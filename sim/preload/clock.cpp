// The launcher's time and the ADC's button line. Only the launcher process is modelled: the
// process that mapped the ADC page. Its watchdog (a fork of it) and the apps it starts keep
// the real clock and never touch the page.
//
// The launcher's loop sleeps between two passes; inside a pass it may sleep too, for the
// hardware: the converter's settling, the OSD controller's busy bit, a beep. The length of
// the sleep tells the two apart (PASS_SLEEP_US).
#include <cerrno>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "hooks.h"

namespace vxpreload {
namespace {

using vxboard::BoardState;
using vxboard::LauncherClock;

constexpr uint64_t US_PER_S = 1000000;
constexpr uint64_t NS_PER_US = 1000;
constexpr uint32_t FUTEX_WAIT_FALLBACK_US = 100;

volatile uint32_t* g_adc_page = nullptr;
pid_t g_launcher = 0;
// The sample in progress reads the unsettled line until the launcher has waited this long
// inside the pass: the second conversion it starts after that reads the true level.
bool g_settling = false;
uint64_t g_waited_us = 0;
// The launcher's last reading of its monotonic clock: a deadline it sets is that reading
// plus the span it means to sleep.
uint64_t g_last_reading_ns = 0;

BoardState* launcher_board() {
    return g_launcher != 0 && getpid() == g_launcher ? board() : nullptr;
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
    for (const uint32_t p : vxboard::PASS_SLEEP_US)
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

// The converter after a sleep of the launcher: a sleep between passes leaves it idle, so
// the next sample's first conversion reads the line unsettled; waiting inside the pass lets
// the line settle, and a pending fault clears control register 0x18 during the conversion
// that reads it settled.
void after_sleep(BoardState& s, uint64_t us, bool pass) {
    if (g_adc_page == nullptr) return;
    vxboard::AdcLine& line = s.adc;
    volatile uint32_t& sample = g_adc_page[vxboard::ADC_SAMPLE_OFFSET / 4];
    if (pass) {
        const uint32_t raw = line.raw.load();
        g_settling = raw >= vxboard::ADC_SETTLED_BELOW;
        g_waited_us = 0;
        sample = g_settling ? raw + vxboard::ADC_UNSETTLED_OFFSET : raw;
        if (!g_settling) line.reads.fetch_add(1);
        return;
    }
    if (!g_settling) return;
    g_waited_us += us;
    if (g_waited_us < vxboard::ADC_SETTLE_US) return;
    g_settling = false;
    sample = line.raw.load();
    uint32_t pending = line.ctrl0_losses.load();
    while (pending > 0 && !line.ctrl0_losses.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending == 0) {
        line.reads.fetch_add(1);
        return;
    }
    g_adc_page[vxboard::ADC_CTRL0_OFFSET / 4] = 0;
    line.ctrl0_lost.fetch_add(1);
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

} // namespace

bool is_launcher() {
    return g_launcher != 0 && getpid() == g_launcher;
}

void adc_mapped(volatile uint32_t* page) {
    g_adc_page = page;
    g_launcher = getpid();
    if (BoardState* s = board()) after_sleep(*s, 0, true);
}

} // namespace vxpreload

using namespace vxpreload;

extern "C" {

int clock_gettime(clockid_t clock, timespec* ts) {
    BoardState* s = clock == CLOCK_MONOTONIC ? launcher_board() : nullptr;
    if (s == nullptr) return real().clock_gettime(clock, ts);
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
    if (s == nullptr) return real().clock_nanosleep(clock, flags, req, rem);
    uint64_t now = 0;
    const bool board_clock = clock == CLOCK_MONOTONIC && board_now_us(*s, &now);
    uint64_t us = timespec_us(*req);
    if ((flags & TIMER_ABSTIME) != 0) {
        const uint64_t until = timespec_ns(*req);
        const uint64_t from = clock == CLOCK_MONOTONIC && g_last_reading_ns != 0
                                  ? g_last_reading_ns
                                  : real_now_us(clock) * NS_PER_US;
        us = until > from ? (until - from) / NS_PER_US : 0;
    }
    const bool pass = is_pass_sleep(us);
    note_sleep(s->sleeps, us, pass);
    int r = board_clock ? board_sleep(*s, us, pass) : -1;
    if (r < 0) r = real().clock_nanosleep(clock, flags, req, rem);
    after_sleep(*s, us, pass);
    return r;
}

int nanosleep(const timespec* req, timespec* rem) {
    BoardState* s = launcher_board();
    if (s == nullptr) return real().nanosleep(req, rem);
    const uint64_t us = timespec_us(*req);
    const bool pass = is_pass_sleep(us);
    note_sleep(s->sleeps, us, pass);
    int r = stepped(*s) ? board_sleep(*s, us, pass) : -1;
    if (r < 0) r = real().nanosleep(req, rem);
    after_sleep(*s, us, pass);
    return r;
}

} // extern "C"
