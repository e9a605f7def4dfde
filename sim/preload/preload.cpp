// Loaded into the launcher on the virtual board (LD_PRELOAD, or qemu-arm's -E). The launcher
// opens its fixed device paths as usual; inside the sandbox those are files shared with the
// board, and this library supplies what a plain file cannot: the behaviour of the hardware
// behind them, from the board state. This part answers the framebuffer's and the I2C
// transport's ioctls and the devices' mappings; devices.cpp classifies the descriptors,
// clock.cpp keeps the launcher's time and the ADC's line, pwm_sysfs.cpp the buzzer's PWM.
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <linux/fb.h>
#include <linux/futex.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "hooks.h"

namespace vxpreload {
namespace {

using vxboard::BoardState;

// ---- what the screen shows ------------------------------------------------------------

void screen_changed(BoardState& s) {
    timespec now{};
    real().clock_gettime(CLOCK_REALTIME, &now);
    s.screen.changed_realtime_ns.store(static_cast<uint64_t>(now.tv_sec) * 1000000000u +
                                       static_cast<uint64_t>(now.tv_nsec));
    s.screen.generation.fetch_add(1);
    // A front end may be waiting for the change rather than looking for it now and then.
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&s.screen.generation), FUTEX_WAKE, INT_MAX,
            nullptr, nullptr, 0);
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
        if (const uint32_t e = d.fail_get_var.load()) return fail(static_cast<int>(e));
        fill_var(d, static_cast<fb_var_screeninfo*>(arg));
        return 0;
    case FBIOGET_FSCREENINFO:
        if (const uint32_t e = d.fail_get_fix.load()) return fail(static_cast<int>(e));
        fill_fix(d, static_cast<fb_fix_screeninfo*>(arg));
        return 0;
    case FBIOPUT_VSCREENINFO: {
        d.put_vars.fetch_add(1);
        if (const uint32_t e = d.fail_put_var.load()) return fail(static_cast<int>(e));
        auto* v = static_cast<fb_var_screeninfo*>(arg);
        if (v->yres_virtual < d.yres.load() ||
            static_cast<uint64_t>(v->yres_virtual) * d.line_length.load() > d.smem_len.load())
            return fail(EINVAL);
        d.yres_virtual.store(v->yres_virtual);
        fill_var(d, v);
        return 0;
    }
    case FBIOPAN_DISPLAY: {
        if (const uint32_t e = d.fail_pan.load()) return fail(static_cast<int>(e));
        const auto* v = static_cast<const fb_var_screeninfo*>(arg);
        if (static_cast<uint64_t>(v->yoffset) + d.yres.load() > d.yres_virtual.load() ||
            static_cast<uint64_t>(v->xoffset) + d.xres.load() > d.xres_virtual.load())
            return fail(EINVAL);
        d.xoffset.store(v->xoffset);
        d.yoffset.store(v->yoffset);
        d.pans.fetch_add(1);
        return 0;
    }
    default:
        return fail(ENOTTY);
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
    if (n < 2) return fail(EINVAL);
    if (bytes[0] == 0xFF)
        bus.lt8668_page.store(bytes[1]);
    else if (bus.lt8668_page.load() == 0xE0)
        bus.lt8668_regs[bytes[0]] = bytes[1];
    return 0;
}

int lt8668_read(vxboard::I2cBus& bus, const uint8_t* w, uint32_t wn, uint8_t* r, uint32_t rn) {
    if (wn != 1 || rn != 1) return fail(EINVAL);
    // Only the status page is modelled; other pages read as zero.
    r[0] = bus.lt8668_page.load() == 0xE0 ? bus.lt8668_regs[w[0]] : 0;
    return 0;
}

bool is_osd(uint32_t bus, uint32_t addr) {
    return bus == 2 && addr == 0x5B;
}

constexpr uint32_t OSD_REG_COMMIT = 0x0A00;
constexpr uint32_t OSD_REG_CONTROL = 0x0A01;
constexpr uint32_t OSD_REG_WINDOW_FIRST = 0x0A04, OSD_REG_WINDOW_LAST = 0x0A0B;
constexpr uint32_t OSD_REG_CMD = 0x0A1C, OSD_REG_COL = 0x0A1D, OSD_REG_DATA = 0x0A1E;
constexpr uint32_t OSD_REG_STATUS = 0x0A22;
constexpr uint32_t OSD_OP_CLEAR = 8, OSD_OP_CHAR = 11;

// A cell access closes the transaction its select opened; without one the controller does
// not acknowledge it and nothing changes.
bool cell_access_allowed(vxboard::OsdController& osd, OpenDevice& fd) {
    if (fd.osd_selected.exchange(0) != 0) return true;
    osd.unselected.fetch_add(1);
    return false;
}

// The OSD controller's registers. A character write lands in the cell memory at once but
// keeps the busy bit up for `busy_polls` status reads; a faulty cell drops its writes. The
// screen takes the cell memory at a commit.
int osd_write(vxboard::OsdController& osd, OpenDevice& fd, const uint8_t* bytes, uint32_t n) {
    if (n != 3) return fail(EINVAL);
    const uint32_t reg = bytes[0] | (bytes[1] << 8);
    const uint8_t v = bytes[2];
    if (reg >= OSD_REG_WINDOW_FIRST && reg <= OSD_REG_WINDOW_LAST) {
        osd.window[reg - OSD_REG_WINDOW_FIRST] = v;
    } else if (reg == OSD_REG_COMMIT) {
        if ((v & 1) == 0) return 0;
        osd.commits.fetch_add(1);
        std::memcpy(osd.shown, osd.cells, sizeof osd.shown);
    } else if (reg == OSD_REG_CONTROL) {
        osd.control.store(v);
    } else if (reg == OSD_REG_CMD) {
        osd.cmd.store(v);
    } else if (reg == OSD_REG_COL) {
        osd.col.store(v);
    } else if (reg == OSD_REG_DATA) {
        if (!cell_access_allowed(osd, fd)) return fail(ENXIO);
        const uint32_t row = osd.cmd.load() >> 4, op = osd.cmd.load() & 0x0F, col = osd.col.load();
        if (row >= vxboard::OSD_ROWS || col >= vxboard::OSD_COLS) return 0;
        if (op == OSD_OP_CLEAR) {
            osd.raw_clears.fetch_add(1);
            osd.cells[row][col] = v;
        } else if (op == OSD_OP_CHAR) {
            osd.char_writes.fetch_add(1);
            osd.busy_left.store(osd.busy_polls.load());
            uint32_t bad = osd.bad_count.load();
            if (bad > 0 && row == osd.bad_row.load() && col == osd.bad_col.load()) {
                if (bad != vxboard::OSD_FOREVER) osd.bad_count.store(bad - 1);
                return 0;
            }
            if (osd.half_cells.load() != 0 && (row * vxboard::OSD_COLS + col) % 2 == 1) return 0;
            osd.cells[row][col] = v;
        }
    }
    return 0;
}

int osd_read(vxboard::OsdController& osd, OpenDevice& fd, const uint8_t* w, uint32_t wn, uint8_t* r,
             uint32_t rn) {
    if (wn != 2 || rn != 1) return fail(EINVAL);
    const uint32_t reg = w[0] | (w[1] << 8);
    switch (reg) {
    case OSD_REG_STATUS: {
        osd.status_reads.fetch_add(1);
        uint32_t left = osd.busy_left.load();
        const bool busy = osd.busy_stuck.load() != 0 || left > 0;
        if (left > 0) osd.busy_left.store(left - 1);
        r[0] = busy ? 1 : 0;
        return 0;
    }
    case OSD_REG_DATA: {
        if (!cell_access_allowed(osd, fd)) return fail(ENXIO);
        osd.readbacks.fetch_add(1);
        const uint32_t row = osd.cmd.load() >> 4, col = osd.col.load();
        r[0] = row < vxboard::OSD_ROWS && col < vxboard::OSD_COLS ? osd.cells[row][col] : 0;
        return 0;
    }
    case OSD_REG_CONTROL:
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
// acknowledge (ENXIO). A select opens a transaction with the chip on this descriptor.
int i2c_transfer(BoardState& s, OpenDevice& fd, const I2cRequest& req) {
    vxboard::I2cBus& bus = s.i2c;
    const uint8_t* p = req.payload;
    if (req.len < 12) return fail(EINVAL);
    const Chip chip = chip_at(s, word(p), word(p + (req.op == 1 ? 8 : 4)));
    if (chip == Chip::Osd) s.osd.transfers.fetch_add(1);
    switch (req.op) {
    case 1:
        if (req.len != 16) return fail(EINVAL);
        if (chip == Chip::None) return fail(ENXIO);
        if (chip == Chip::Osd) fd.osd_selected.store(1);
        return 0;
    case 2: {
        if (req.len != 12 + word(p + 8)) return fail(EINVAL);
        if (chip == Chip::None) return fail(ENXIO);
        if (chip != Chip::Osd) return lt8668_write(bus, p + 12, word(p + 8));
        const uint32_t commits = s.osd.commits.load(), control = s.osd.control.load();
        const int r = osd_write(s.osd, fd, p + 12, word(p + 8));
        if (s.osd.commits.load() != commits || s.osd.control.load() != control) screen_changed(s);
        return r;
    }
    case 3: {
        if (req.len < 16 || req.len != 16 + word(p + 8) + word(p + 12)) return fail(EINVAL);
        if (chip == Chip::None) return fail(ENXIO);
        const uint32_t w = word(p + 8);
        return chip == Chip::Osd
                   ? osd_read(s.osd, fd, p + 16, w, req.payload + 16 + w, word(p + 12))
                   : lt8668_read(bus, p + 16, w, req.payload + 16 + w, word(p + 12));
    }
    default:
        return fail(EINVAL);
    }
}

int i2c_ioctl(BoardState& s, OpenDevice& fd, unsigned long req, void* arg) {
    vxboard::I2cBus& bus = s.i2c;
    if (req != REMOTE_I2C_IOCTL) return fail(ENOTTY);
    bus.transfers.fetch_add(1);
    const int r =
        bus.fail_all.load() ? fail(EIO) : i2c_transfer(s, fd, *static_cast<I2cRequest*>(arg));
    if (r != 0) bus.failed.fetch_add(1);
    return r;
}

} // namespace
} // namespace vxpreload

using namespace vxpreload;

extern "C" {

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) {
    const OpenDevice* d = device_at(fd);
    const Device device = d != nullptr ? d->device.load() : Device::None;
    if (BoardState* s = board(); s != nullptr && device == Device::Fb) {
        if (const uint32_t e = s->fb.fail_mmap.load()) {
            errno = static_cast<int>(e);
            return MAP_FAILED;
        }
        if (offset < 0 || static_cast<uint64_t>(offset) + len > s->fb.smem_len.load()) {
            errno = EINVAL;
            return MAP_FAILED;
        }
    }
    void* p = real().mmap(addr, len, prot, flags, fd, offset);
    if (p != MAP_FAILED && device == Device::Mem &&
        static_cast<uint64_t>(offset) == vxboard::ADC_PAGE_PHYS)
        adc_mapped(static_cast<volatile uint32_t*>(p));
    return p;
}

int ioctl(int fd, unsigned long req, ...) {
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (OpenDevice* d = device_at(fd)) {
        if (BoardState* s = board()) {
            if (d->device.load() == Device::Fb) {
                const int r = fb_ioctl(s->fb, req, arg);
                if (r == 0 && req == FBIOPAN_DISPLAY) screen_changed(*s);
                return r;
            }
            if (d->device.load() == Device::RemoteI2c) return i2c_ioctl(*s, *d, req, arg);
        }
    }
    return real().ioctl(fd, req, arg);
}

} // extern "C"
