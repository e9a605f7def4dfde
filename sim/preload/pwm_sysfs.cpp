// The PWM controller's sysfs directory on the launcher's descriptors: an open of one of its
// paths gets a descriptor whose writes go to the chip's model, at the launcher's clock.
//
// The launcher's termination handler silences the buzzer through these files, so nothing
// here allocates or locks.
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

#include "base/paths.h"
#include "devices/pwm_chip.h"
#include "preload.h"

extern "C" {
ssize_t vx_pwm_write(int fd, const void* buf, size_t n) __asm__("write");
}

namespace vxpreload {

namespace {

constexpr uint64_t US_PER_MS = 1000;

uint64_t now_ms() {
    return launcher_clock_us() / US_PER_MS;
}

} // namespace

// The descriptor is a real one on /dev/null, opened with the launcher's access mode, so that
// whatever the launcher does with it besides writing behaves like a file.
int pwm_open(uint32_t file, int flags) {
    BoardState* s = board();
    if (s == nullptr) return fail(ENOENT);
    const int access = flags & O_ACCMODE;
    const int err = vxdevices::pwm_open(s->pwm, file, access, now_ms());
    if (err != 0) return fail(err);
    const int fd = real().open(DEV_NULL, access | (flags & O_CLOEXEC));
    if (fd < 0) return fd;
    if (!track(fd, Device::Pwm, access, file)) {
        real().close(fd);
        return fail(ENFILE);
    }
    return fd;
}

} // namespace vxpreload

using namespace vxpreload;

ssize_t vx_pwm_write(int fd, const void* buf, size_t n) {
    const OpenDevice* d = device_at(fd);
    BoardState* s = d != nullptr && d->device.load() == Device::Pwm ? board() : nullptr;
    if (s == nullptr) return real().write(fd, buf, n);
    const int err = vxdevices::pwm_write(s->pwm, d->pwm_file.load(), d->access.load(),
                                         static_cast<const char*>(buf), n, now_ms());
    if (err != 0) return fail(err);
    return static_cast<ssize_t>(n);
}
