// The ioctls and mappings on the launcher's device descriptors, handed to the driver of the
// device the descriptor was classified as when it was opened; anything else goes to libc.
// The hooks are defined under the headers' declarations, which give them the symbols the
// launcher's calls bind to (mmap64 and __ioctl_time64 with 64-bit offsets and time on 32-bit
// ARM).
#include <cerrno>
#include <cstdarg>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include "preload.h"

namespace vxpreload {

namespace {

struct DeviceDriver {
    Device device;
    // The device's ioctls (nullptr: the real call).
    int (*ioctl)(BoardState& s, OpenDevice& fd, unsigned long req, void* arg);
    // The errno that refuses a mapping before the real one is tried, or 0.
    int (*map_error)(const BoardState& s, off_t offset, size_t len);
    // A mapping made in place of the real one (nullptr: the real one).
    void* (*map)(size_t len, int prot, off_t offset);
    // Told of a mapping that went through, board or not, with the caller's flags.
    void (*mapped)(void* at, off_t offset, int flags);
};

constexpr DeviceDriver DRIVERS[] = {
    {Device::Fb, fb_ioctl, fb_map_error, nullptr, nullptr},
    {Device::RemoteI2c, remote_i2c_ioctl, nullptr, nullptr, nullptr},
    {Device::Mem, nullptr, nullptr, adc_mem_map, adc_mem_mapped},
};

const DeviceDriver* driver_of(const OpenDevice* d) {
    if (d == nullptr) return nullptr;
    for (const DeviceDriver& driver : DRIVERS)
        if (driver.device == d->device.load()) return &driver;
    return nullptr;
}

} // namespace

} // namespace vxpreload

using namespace vxpreload;

extern "C" {

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t offset) {
    const DeviceDriver* driver = driver_of(device_at(fd));
    const BoardState* s = driver != nullptr && driver->map_error ? board() : nullptr;
    if (const int e = s != nullptr ? driver->map_error(*s, offset, len) : 0) {
        errno = e;
        return MAP_FAILED;
    }
    void* p = driver != nullptr && driver->map ? driver->map(len, prot, offset) : nullptr;
    if (p == nullptr) p = real().mmap(addr, len, prot, flags, fd, offset);
    if (p != MAP_FAILED && driver != nullptr && driver->mapped) driver->mapped(p, offset, flags);
    return p;
}

int ioctl(int fd, unsigned long req, ...) {
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    OpenDevice* d = device_at(fd);
    const DeviceDriver* driver = driver_of(d);
    BoardState* s = driver != nullptr && driver->ioctl ? board() : nullptr;
    if (s != nullptr) return driver->ioctl(*s, *d, req, arg);
    return real().ioctl(fd, req, arg);
}

} // extern "C"
