// The launcher's device descriptors. Every open of a path the board answers for is
// classified once, here, into a fixed table: the ioctls, mappings and writes that follow
// look the descriptor up instead of asking what it names. Closing forgets it, duplicating
// copies it, and a number the kernel hands out again through any of these calls replaces
// whatever stale entry it had (a descriptor glibc closed behind the hooks' back).
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "base/ctext.h"
#include "base/paths.h"
#include "devices/pwm_chip.h"
#include "preload.h"

// The hooks carry their symbol names: with 64-bit file offsets and time on 32-bit ARM the
// headers rename open() to open64() and fcntl() to its time64 variant, so definitions under
// the C names would clash or land on the wrong symbol.
extern "C" {
int vx_open(const char* path, int flags, ...) __asm__("open");
int vx_open64(const char* path, int flags, ...) __asm__("open64");
int vx_openat(int dir, const char* path, int flags, ...) __asm__("openat");
int vx_openat64(int dir, const char* path, int flags, ...) __asm__("openat64");
int vx_open_2(const char* path, int flags) __asm__("__open_2");
int vx_open64_2(const char* path, int flags) __asm__("__open64_2");
int vx_close(int fd) __asm__("close");
int vx_dup(int fd) __asm__("dup");
int vx_dup2(int fd, int to) __asm__("dup2");
int vx_dup3(int fd, int to, int flags) __asm__("dup3");
#if defined(__arm__)
int vx_fcntl(int fd, int cmd, ...) __asm__("__fcntl_time64");
#else
int vx_fcntl(int fd, int cmd, ...) __asm__("fcntl64");
#endif
}

namespace vxpreload {

namespace {

using vxboard::DeviceOpenFaults;
using vxboard::U32;

// ---- the devices, as data -----------------------------------------------------------------

struct DeviceNode {
    const char* path;
    Device device;
};

constexpr DeviceNode NODES[] = {
    {FB_DEVICE, Device::Fb},
    {REMOTE_I2C_DEVICE, Device::RemoteI2c},
    {ADC_MEM_DEVICE, Device::Mem},
};

// Nodes that the board can make stop opening: the fault's errno, the opens it still lets
// through, the opens tried.
struct OpenFault {
    Device device;
    U32 DeviceOpenFaults::*err;
    U32 DeviceOpenFaults::*left;
    U32 DeviceOpenFaults::*count;
};

constexpr OpenFault OPEN_FAULTS[] = {
    {Device::Fb, &DeviceOpenFaults::fb0_errno, &DeviceOpenFaults::fb0_opens_left,
     &DeviceOpenFaults::fb0_opens},
    {Device::RemoteI2c, &DeviceOpenFaults::remote_i2c_errno,
     &DeviceOpenFaults::remote_i2c_opens_left, &DeviceOpenFaults::remote_i2c_opens},
};

// The launcher names its devices by absolute paths; a relative one is never a device. Every
// path of the PWM chip's directory is the chip model's, which tells its files apart.
Device classify(const char* path, uint32_t* pwm_file) {
    if (path == nullptr || path[0] != '/') return Device::None;
    for (const DeviceNode& n : NODES)
        if (std::strcmp(path, n.path) == 0) return n.device;
    if (const vxboard::BoardState* s = board()) {
        *pwm_file = vxdevices::pwm_node(s->pwm, path).file;
        if (*pwm_file != 0) return Device::Pwm;
    }
    return Device::None;
}

// Lets the fault's remaining opens through before it takes effect; the errno of this open,
// or 0.
int open_fault(Device d) {
    BoardState* s = board();
    if (s == nullptr) return 0;
    for (const OpenFault& f : OPEN_FAULTS) {
        if (f.device != d) continue;
        DeviceOpenFaults& faults = s->opens;
        (faults.*f.count).fetch_add(1);
        const uint32_t e = (faults.*f.err).load();
        if (e == 0) return 0;
        U32& left = faults.*f.left;
        uint32_t n = left.load();
        while (n > 0 && !left.compare_exchange_weak(n, n - 1)) {
        }
        return n == 0 ? static_cast<int>(e) : 0;
    }
    return 0;
}

// ---- the descriptor table -----------------------------------------------------------------

constexpr int MAX_OPEN_DEVICES = 64;
OpenDevice g_open[MAX_OPEN_DEVICES];

void forget(int fd) {
    if (OpenDevice* d = device_at(fd)) {
        d->device.store(Device::None);
        d->fd_plus_one.store(0);
    }
}

// `to` now refers to what `from` did.
void copy(int from, int to) {
    const OpenDevice* d = device_at(from);
    if (d == nullptr) {
        forget(to);
        return;
    }
    const Device device = d->device.load();
    const uint32_t selected = d->i2c.osd_selected.load();
    if (track(to, device, d->access.load(), d->pwm_file.load()))
        if (OpenDevice* copy = device_at(to)) copy->i2c.osd_selected.store(selected);
}

mode_t mode_arg(int flags, va_list ap) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
}

// An open through whichever libc entry the launcher called (`real_open`, given the flags).
template <typename RealOpen> int open_path(const char* path, int flags, RealOpen real_open) {
    uint32_t pwm_file = 0;
    const Device d = classify(path, &pwm_file);
    if (d == Device::Pwm) return pwm_open(pwm_file, flags);
    if (const int e = open_fault(d)) return fail(e);
    const int fd = real_open();
    if (fd < 0) return fd;
    if (!track(fd, d, flags & O_ACCMODE)) {
        real().close(fd);
        return fail(ENFILE);
    }
    return fd;
}

} // namespace

OpenDevice* device_at(int fd) {
    if (fd < 0) return nullptr;
    for (OpenDevice& d : g_open)
        if (d.fd_plus_one.load() == fd + 1) return &d;
    return nullptr;
}

bool track(int fd, Device device, int access, uint32_t pwm_file) {
    forget(fd);
    if (device == Device::None) return true;
    for (OpenDevice& d : g_open) {
        int expected = 0;
        if (!d.fd_plus_one.compare_exchange_strong(expected, -1)) continue;
        d.device.store(device);
        d.access.store(access);
        d.i2c.osd_selected.store(0);
        d.pwm_file.store(pwm_file);
        d.fd_plus_one.store(fd + 1);
        return true;
    }
    return false;
}

} // namespace vxpreload

using namespace vxpreload;

extern "C" {

int vx_open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    return open_path(path, flags, [&] { return real().open(path, flags, mode); });
}

int vx_open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    return open_path(path, flags, [&] { return real().open64(path, flags, mode); });
}

int vx_openat(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    return open_path(path, flags, [&] { return real().openat(dir, path, flags, mode); });
}

int vx_openat64(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    return open_path(path, flags, [&] { return real().openat64(dir, path, flags, mode); });
}

int vx_open_2(const char* path, int flags) {
    return open_path(path, flags, [&] { return real().open_2(path, flags); });
}

int vx_open64_2(const char* path, int flags) {
    return open_path(path, flags, [&] { return real().open64_2(path, flags); });
}

// Forgotten before the real close: a handler that opens in between may get the number.
int vx_close(int fd) {
    forget(fd);
    return real().close(fd);
}

int vx_dup(int fd) {
    const int r = real().dup(fd);
    if (r >= 0) copy(fd, r);
    return r;
}

int vx_dup2(int fd, int to) {
    const int r = real().dup2(fd, to);
    if (r >= 0 && r != fd) copy(fd, r);
    return r;
}

int vx_dup3(int fd, int to, int flags) {
    const int r = real().dup3(fd, to, flags);
    if (r >= 0) copy(fd, r);
    return r;
}

int vx_fcntl(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    const int r = real().fcntl(fd, cmd, arg);
    if (r >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC)) copy(fd, r);
    return r;
}

} // extern "C"
