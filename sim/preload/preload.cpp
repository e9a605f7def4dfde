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
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "board_map.h"
#include "board_state.h"

namespace {

using vxboard::BoardState;

// The libc symbols behind the names the launcher's headers use: with 64-bit time and file
// offsets on 32-bit ARM the calls are bound to the *64 variants.
#if defined(__arm__)
constexpr const char* SYM_MMAP = "mmap64";
constexpr const char* SYM_CLOCK_NANOSLEEP = "__clock_nanosleep_time64";
constexpr const char* SYM_NANOSLEEP = "__nanosleep64";
constexpr const char* SYM_IOCTL = "__ioctl_time64";
constexpr const char* SYM_CLOCK_GETTIME = "__clock_gettime64";
#else
constexpr const char* SYM_CLOCK_GETTIME = "clock_gettime";
constexpr const char* SYM_IOCTL = "ioctl";
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

volatile uint32_t* g_adc_page = nullptr;

BoardState* state() {
    return preload_board_state();
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
int real_clock_gettime(clockid_t clock, timespec* ts) {
    using Fn = int (*)(clockid_t, timespec*);
    static const auto real_get = real<Fn>(SYM_CLOCK_GETTIME);
    return real_get(clock, ts);
}

bool clock_frozen(clockid_t clock) {
    BoardState* s = state();
    return s != nullptr && clock == CLOCK_MONOTONIC && s->clock.frozen.load() != 0;
}

// The real length of a sleep of `us`: cut short while the test drives a frozen clock.
uint64_t real_sleep_us(uint64_t us) {
    BoardState* s = state();
    if (s == nullptr || s->clock.frozen.load() == 0 || s->clock.short_sleeps.load() == 0) return us;
    return us < vxboard::SHORT_SLEEP_US ? us : vxboard::SHORT_SLEEP_US;
}

timespec span_of(uint64_t us) {
    return timespec{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
}

// The launcher's reading of the monotonic clock: the real one, or the frozen value.
void launcher_now(clockid_t clock, timespec* ts) {
    if (clock_frozen(clock)) {
        const uint64_t ms = state()->clock.frozen_ms.load();
        ts->tv_sec = static_cast<time_t>(ms / 1000);
        ts->tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
        return;
    }
    real_clock_gettime(clock, ts);
}

uint64_t requested_us(clockid_t clock, int flags, const timespec* req) {
    if ((flags & TIMER_ABSTIME) == 0) return timespec_us(req);
    timespec now{};
    launcher_now(clock, &now);
    const uint64_t a = timespec_us(req), b = timespec_us(&now);
    return a > b ? a - b : 0;
}

int fail_with(int err) {
    errno = err;
    return -1;
}

// ---- /dev/fb0 -------------------------------------------------------------------------

void fill_var(const vxboard::FbDevice& d, fb_var_screeninfo* v) {
    std::memset(v, 0, sizeof *v);
    v->xres = d.xres.load();
    v->yres = d.yres.load();
    v->xres_virtual = d.xres_virtual.load();
    v->yres_virtual = d.yres_virtual.load();
    v->xoffset = d.xoffset.load();
    v->yoffset = d.yoffset.load();
    v->bits_per_pixel = 32;
    v->transp = {24, 8, 0};
    v->red = {16, 8, 0};
    v->green = {8, 8, 0};
    v->blue = {0, 8, 0};
}

void fill_fix(const vxboard::FbDevice& d, fb_fix_screeninfo* f) {
    std::memset(f, 0, sizeof *f);
    std::strncpy(f->id, "vx-board-fb", sizeof f->id);
    f->smem_len = d.smem_len.load();
    f->type = FB_TYPE_PACKED_PIXELS;
    f->visual = FB_VISUAL_TRUECOLOR;
    f->ypanstep = 1;
    f->line_length = d.line_length.load();
}

// The checks a framebuffer driver makes: the virtual screen must fit the memory, and a pan
// must keep the visible area inside the virtual screen.
int fb_ioctl(vxboard::FbDevice& d, unsigned long req, void* arg) {
    switch (req) {
    case FBIOGET_VSCREENINFO:
        if (const uint32_t e = d.fail_get_var.load()) return fail_with(static_cast<int>(e));
        fill_var(d, static_cast<fb_var_screeninfo*>(arg));
        return 0;
    case FBIOGET_FSCREENINFO:
        if (const uint32_t e = d.fail_get_fix.load()) return fail_with(static_cast<int>(e));
        fill_fix(d, static_cast<fb_fix_screeninfo*>(arg));
        return 0;
    case FBIOPUT_VSCREENINFO: {
        d.put_vars.fetch_add(1);
        if (const uint32_t e = d.fail_put_var.load()) return fail_with(static_cast<int>(e));
        auto* v = static_cast<fb_var_screeninfo*>(arg);
        if (v->yres_virtual < d.yres.load() ||
            static_cast<uint64_t>(v->yres_virtual) * d.line_length.load() > d.smem_len.load())
            return fail_with(EINVAL);
        d.yres_virtual.store(v->yres_virtual);
        fill_var(d, v);
        return 0;
    }
    case FBIOPAN_DISPLAY: {
        if (const uint32_t e = d.fail_pan.load()) return fail_with(static_cast<int>(e));
        const auto* v = static_cast<const fb_var_screeninfo*>(arg);
        if (static_cast<uint64_t>(v->yoffset) + d.yres.load() > d.yres_virtual.load() ||
            static_cast<uint64_t>(v->xoffset) + d.xres.load() > d.xres_virtual.load())
            return fail_with(EINVAL);
        d.xoffset.store(v->xoffset);
        d.yoffset.store(v->yoffset);
        d.pans.fetch_add(1);
        return 0;
    }
    default:
        return fail_with(ENOTTY);
    }
}

// ---- /dev/remote_i2c ------------------------------------------------------------------

constexpr unsigned long REMOTE_I2C_IOCTL = 0xC00C4110;

struct I2cRequest {
    uint32_t op;
    uint32_t len;
    uint8_t* payload;
};

uint32_t word(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

bool is_lt8668(uint32_t bus, uint32_t addr) {
    return bus == 1 && addr == 0x43;
}

int lt8668_write(vxboard::I2cBus& bus, const uint8_t* bytes, uint32_t n) {
    if (n < 2) return fail_with(EINVAL);
    if (bytes[0] == 0xFF)
        bus.lt8668_page.store(bytes[1]);
    else if (bus.lt8668_page.load() == 0xE0)
        bus.lt8668_regs[bytes[0]] = bytes[1];
    return 0;
}

int lt8668_read(vxboard::I2cBus& bus, const uint8_t* w, uint32_t wn, uint8_t* r, uint32_t rn) {
    if (wn != 1 || rn != 1) return fail_with(EINVAL);
    // Only the status page is modelled; other pages read as zero.
    r[0] = bus.lt8668_page.load() == 0xE0 ? bus.lt8668_regs[w[0]] : 0;
    return 0;
}

bool is_osd(uint32_t bus, uint32_t addr) {
    return bus == 2 && addr == 0x5B;
}

// The OSD controller's registers. A character write takes effect at once but keeps the busy
// bit up for `busy_polls` status reads; a faulty cell drops its writes.
int osd_write(vxboard::OsdController& osd, const uint8_t* bytes, uint32_t n) {
    if (n != 3) return fail_with(EINVAL);
    const uint32_t reg = bytes[0] | (bytes[1] << 8);
    const uint8_t v = bytes[2];
    if (reg >= 0x0A04 && reg <= 0x0A0B) {
        osd.window[reg - 0x0A04] = v;
    } else if (reg == 0x0A00) {
        if (v == 1) osd.commits.fetch_add(1);
    } else if (reg == 0x0A01) {
        osd.control.store(v);
    } else if (reg == 0x0A1C) {
        osd.cmd.store(v);
    } else if (reg == 0x0A1D) {
        osd.col.store(v);
    } else if (reg == 0x0A1E) {
        const uint32_t row = osd.cmd.load() >> 4, op = osd.cmd.load() & 0x0F, col = osd.col.load();
        if (row >= vxboard::OSD_ROWS || col >= vxboard::OSD_COLS) return 0;
        if (op == 8) {
            osd.raw_clears.fetch_add(1);
            osd.cells[row][col] = v;
        } else if (op == 11) {
            osd.char_writes.fetch_add(1);
            osd.busy_left.store(osd.busy_polls.load());
            uint32_t bad = osd.bad_count.load();
            if (bad > 0 && row == osd.bad_row.load() && col == osd.bad_col.load()) {
                if (bad != vxboard::OSD_FOREVER) osd.bad_count.store(bad - 1);
                return 0;
            }
            osd.cells[row][col] = v;
        }
    }
    return 0;
}

int osd_read(vxboard::OsdController& osd, const uint8_t* w, uint32_t wn, uint8_t* r, uint32_t rn) {
    if (wn != 2 || rn != 1) return fail_with(EINVAL);
    const uint32_t reg = w[0] | (w[1] << 8);
    switch (reg) {
    case 0x0A22: {
        osd.status_reads.fetch_add(1);
        uint32_t left = osd.busy_left.load();
        const bool busy = osd.busy_stuck.load() != 0 || left > 0;
        if (left > 0) osd.busy_left.store(left - 1);
        r[0] = busy ? 1 : 0;
        return 0;
    }
    case 0x0A1E: {
        osd.readbacks.fetch_add(1);
        const uint32_t row = osd.cmd.load() >> 4, col = osd.col.load();
        r[0] = row < vxboard::OSD_ROWS && col < vxboard::OSD_COLS ? osd.cells[row][col] : 0;
        return 0;
    }
    case 0x0A01:
        r[0] = static_cast<uint8_t>(osd.control.load());
        return 0;
    default:
        r[0] = 0;
        return 0;
    }
}

enum class Chip { None, Lt8668, Osd };

Chip chip_at(const BoardState& s, uint32_t bus, uint32_t addr) {
    if (is_lt8668(bus, addr)) return Chip::Lt8668;
    if (is_osd(bus, addr) && s.osd.missing.load() == 0) return Chip::Osd;
    return Chip::None;
}

// The firmware driver: checks that each payload is as long as its own counts say, then
// hands it to the chip at the payload's bus and address. A chip that is not there does not
// acknowledge (ENXIO).
int i2c_transfer(BoardState& s, const I2cRequest& req) {
    vxboard::I2cBus& bus = s.i2c;
    const uint8_t* p = req.payload;
    if (req.len < 12) return fail_with(EINVAL);
    const Chip chip = chip_at(s, word(p), word(p + (req.op == 1 ? 8 : 4)));
    if (chip == Chip::Osd) s.osd.transfers.fetch_add(1);
    switch (req.op) {
    case 1:
        if (req.len != 16) return fail_with(EINVAL);
        return chip != Chip::None ? 0 : fail_with(ENXIO);
    case 2: {
        if (req.len != 12 + word(p + 8)) return fail_with(EINVAL);
        if (chip == Chip::None) return fail_with(ENXIO);
        return chip == Chip::Osd ? osd_write(s.osd, p + 12, word(p + 8))
                                 : lt8668_write(bus, p + 12, word(p + 8));
    }
    case 3: {
        if (req.len < 16 || req.len != 16 + word(p + 8) + word(p + 12)) return fail_with(EINVAL);
        if (chip == Chip::None) return fail_with(ENXIO);
        const uint32_t w = word(p + 8);
        return chip == Chip::Osd ? osd_read(s.osd, p + 16, w, req.payload + 16 + w, word(p + 12))
                                 : lt8668_read(bus, p + 16, w, req.payload + 16 + w, word(p + 12));
    }
    default:
        return fail_with(EINVAL);
    }
}

int i2c_ioctl(BoardState& s, unsigned long req, void* arg) {
    vxboard::I2cBus& bus = s.i2c;
    if (req != REMOTE_I2C_IOCTL) return fail_with(ENOTTY);
    bus.transfers.fetch_add(1);
    const int r =
        bus.fail_all.load() ? fail_with(EIO) : i2c_transfer(s, *static_cast<I2cRequest*>(arg));
    if (r != 0) bus.failed.fetch_add(1);
    return r;
}

// Lets `left` opens through before the fault takes effect; true when this open fails.
bool open_fails(vxboard::U32& err, vxboard::U32& left, vxboard::U32& count) {
    count.fetch_add(1);
    if (err.load() == 0) return false;
    uint32_t n = left.load();
    while (n > 0 && !left.compare_exchange_weak(n, n - 1)) {
    }
    return n == 0;
}

} // namespace

int preload_open_fault(const char* path) {
    BoardState* s = state();
    if (s == nullptr || path == nullptr) return 0;
    vxboard::DeviceOpenFaults& f = s->opens;
    if (std::strcmp(path, "/dev/fb0") == 0 &&
        open_fails(f.fb0_errno, f.fb0_opens_left, f.fb0_opens))
        return static_cast<int>(f.fb0_errno.load());
    if (std::strcmp(path, "/dev/remote_i2c") == 0 &&
        open_fails(f.remote_i2c_errno, f.remote_i2c_opens_left, f.remote_i2c_opens))
        return static_cast<int>(f.remote_i2c_errno.load());
    return 0;
}

extern "C" {

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) {
    using MmapFn = void* (*)(void*, size_t, int, int, int, off_t);
    static const auto real_mmap = real<MmapFn>(SYM_MMAP);
    if (BoardState* s = state(); s != nullptr && fd_is(fd, "/dev/fb0")) {
        if (const uint32_t e = s->fb.fail_mmap.load()) {
            errno = static_cast<int>(e);
            return MAP_FAILED;
        }
        if (offset < 0 || static_cast<uint64_t>(offset) + len > s->fb.smem_len.load()) {
            errno = EINVAL;
            return MAP_FAILED;
        }
    }
    void* p = real_mmap(addr, len, prot, flags, fd, offset);
    if (p != MAP_FAILED && static_cast<uint64_t>(offset) == vxboard::ADC_PAGE_PHYS &&
        fd_is(fd, "/dev/mem"))
        g_adc_page = static_cast<volatile uint32_t*>(p);
    return p;
}

int ioctl(int fd, unsigned long req, ...) {
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (BoardState* s = state()) {
        if (fd_is(fd, "/dev/fb0")) return fb_ioctl(s->fb, req, arg);
        if (fd_is(fd, "/dev/remote_i2c")) return i2c_ioctl(*s, req, arg);
    }
    using Fn = int (*)(int, unsigned long, void*);
    static const auto real_ioctl = real<Fn>(SYM_IOCTL);
    return real_ioctl(fd, req, arg);
}

int clock_gettime(clockid_t clock, timespec* ts) {
    if (clock_frozen(clock)) {
        launcher_now(clock, ts);
        return 0;
    }
    return real_clock_gettime(clock, ts);
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* req, timespec* rem) {
    using Fn = int (*)(clockid_t, int, const timespec*, timespec*);
    static const auto real_sleep = real<Fn>(SYM_CLOCK_NANOSLEEP);
    const uint64_t us = requested_us(clock, flags, req);
    note_sleep(us);
    int r;
    const uint64_t real_us = real_sleep_us(us);
    if (real_us != us || (clock_frozen(clock) && (flags & TIMER_ABSTIME))) {
        // A deadline on the frozen clock, or a sleep cut short: its span on the real one.
        const timespec span = span_of(real_us);
        r = real_sleep(clock, 0, &span, nullptr);
        // What is left of a cut sleep is nothing: a caller resuming after a signal stops.
        if (r == EINTR && rem != nullptr && !(flags & TIMER_ABSTIME)) *rem = timespec{};
    } else {
        r = real_sleep(clock, flags, req, rem);
    }
    after_sleep(us);
    return r;
}

int nanosleep(const timespec* req, timespec* rem) {
    using Fn = int (*)(const timespec*, timespec*);
    static const auto real_sleep = real<Fn>(SYM_NANOSLEEP);
    const uint64_t us = timespec_us(req);
    note_sleep(us);
    const uint64_t real_us = real_sleep_us(us);
    int r;
    if (real_us != us) {
        const timespec span = span_of(real_us);
        r = real_sleep(&span, nullptr);
        if (r != 0 && rem != nullptr) *rem = timespec{};
    } else {
        r = real_sleep(req, rem);
    }
    after_sleep(us);
    return r;
}

} // extern "C"
