// Loaded into the launcher on the virtual board (LD_PRELOAD, or qemu-arm's -E). The launcher
// opens its fixed device paths as usual; inside the sandbox those are files shared with the
// board, and this library supplies what a plain file cannot: the behaviour of the hardware
// behind them, from the board state.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "board_state.h"

namespace {

using vxboard::BoardState;

// The libc symbols behind the names the launcher's headers use: with 64-bit time and file
// offsets on 32-bit ARM the calls are bound to the *64 variants.
#if defined(__arm__)
constexpr const char* SYM_MMAP = "mmap64";
constexpr const char* SYM_CLOCK_NANOSLEEP = "__clock_nanosleep_time64";
constexpr const char* SYM_NANOSLEEP = "__nanosleep64";
#else
constexpr const char* SYM_MMAP = "mmap";
constexpr const char* SYM_CLOCK_NANOSLEEP = "clock_nanosleep";
constexpr const char* SYM_NANOSLEEP = "nanosleep";
#endif

// Sleeps shorter than this happen inside a hardware access (the ADC's settle wait), not
// between loop passes.
constexpr uint32_t HW_SLEEP_MAX_US = 20000;

template <typename F> F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

BoardState* g_state = nullptr;
bool g_state_tried = false;
volatile uint32_t* g_adc_page = nullptr;

BoardState* state() {
    if (!g_state_tried) {
        g_state_tried = true;
        const int fd = open(vxboard::BOARD_STATE_PATH, O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            using MmapFn = void* (*)(void*, size_t, int, int, int, off_t);
            static const auto real_mmap = real<MmapFn>(SYM_MMAP);
            void* p = real_mmap(nullptr, vxboard::BOARD_STATE_BYTES, PROT_READ | PROT_WRITE,
                                MAP_SHARED, fd, 0);
            close(fd);
            if (p != MAP_FAILED && static_cast<BoardState*>(p)->magic == vxboard::BOARD_MAGIC)
                g_state = static_cast<BoardState*>(p);
        }
    }
    return g_state;
}

// The path an open descriptor was opened under, as the sandbox names it.
bool fd_is(int fd, const char* path) {
    char link[32];
    char target[128];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 0) return false;
    target[n] = '\0';
    return strcmp(target, path) == 0;
}

uint64_t timespec_us(const timespec* t) {
    return static_cast<uint64_t>(t->tv_sec) * 1000000u + static_cast<uint64_t>(t->tv_nsec) / 1000u;
}

void note_sleep(uint64_t us) {
    BoardState* s = state();
    if (s == nullptr) return;
    s->sleeps.calls.fetch_add(1);
    s->sleeps.total_us.fetch_add(us);
    s->sleeps.last_us.store(static_cast<uint32_t>(us));
}

// Called after a sleep has ended: a pending ADC fault clears control register 0x18 while
// the reader waits for its second conversion, so the read-back that follows sees it lost.
void after_sleep(uint64_t us) {
    BoardState* s = state();
    if (s == nullptr || g_adc_page == nullptr || us >= HW_SLEEP_MAX_US) return;
    uint32_t pending = s->adc.ctrl0_losses.load();
    while (pending > 0 && !s->adc.ctrl0_losses.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending == 0) return;
    g_adc_page[vxboard::ADC_CTRL0_OFFSET / 4] = 0;
    s->adc.ctrl0_lost.fetch_add(1);
}

// Relative span of an absolute or relative monotonic sleep request.
uint64_t requested_us(clockid_t clock, int flags, const timespec* req) {
    if ((flags & TIMER_ABSTIME) == 0) return timespec_us(req);
    timespec now{};
    clock_gettime(clock, &now);
    const uint64_t a = timespec_us(req), b = timespec_us(&now);
    return a > b ? a - b : 0;
}

} // namespace

extern "C" {

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) {
    using MmapFn = void* (*)(void*, size_t, int, int, int, off_t);
    static const auto real_mmap = real<MmapFn>(SYM_MMAP);
    void* p = real_mmap(addr, len, prot, flags, fd, offset);
    if (p != MAP_FAILED && static_cast<uint64_t>(offset) == vxboard::ADC_PAGE_PHYS &&
        fd_is(fd, "/dev/mem"))
        g_adc_page = static_cast<volatile uint32_t*>(p);
    return p;
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* req, timespec* rem) {
    using Fn = int (*)(clockid_t, int, const timespec*, timespec*);
    static const auto real_sleep = real<Fn>(SYM_CLOCK_NANOSLEEP);
    const uint64_t us = requested_us(clock, flags, req);
    note_sleep(us);
    const int r = real_sleep(clock, flags, req, rem);
    after_sleep(us);
    return r;
}

int nanosleep(const timespec* req, timespec* rem) {
    using Fn = int (*)(const timespec*, timespec*);
    static const auto real_sleep = real<Fn>(SYM_NANOSLEEP);
    const uint64_t us = timespec_us(req);
    note_sleep(us);
    const int r = real_sleep(req, rem);
    after_sleep(us);
    return r;
}

} // extern "C"
