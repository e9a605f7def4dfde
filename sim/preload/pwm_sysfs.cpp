// The PWM controller's sysfs directory as the goggles' kernel presents it, from the board
// state: the launcher opens /sys/class/pwm/pwmchip0/... and gets a descriptor whose writes
// follow the PWM core's rules. Every open and write is kept in the state's history ring.
//
// The launcher's termination handler silences the buzzer through these files, so nothing
// here allocates or locks.
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "base/paths.h"
#include "preload.h"

using vxboard::PwmChip;

extern "C" {
ssize_t vx_pwm_write(int fd, const void* buf, size_t n) __asm__("write");
}

namespace vxpreload {

namespace {

constexpr uint64_t US_PER_MS = 1000;

// The chip's files as the board's history names them.
struct PwmFileOf {
    Device device;
    uint32_t file;
};
constexpr PwmFileOf PWM_FILES[] = {
    {Device::PwmExport, vxboard::PWM_FILE_EXPORT},
    {Device::PwmPeriod, vxboard::PWM_FILE_PERIOD},
    {Device::PwmDuty, vxboard::PWM_FILE_DUTY},
    {Device::PwmEnable, vxboard::PWM_FILE_ENABLE},
};

uint32_t file_of(Device d) {
    for (const PwmFileOf& f : PWM_FILES)
        if (f.device == d) return f.file;
    return vxboard::PWM_FILE_OTHER;
}

void record(PwmChip& chip, uint32_t file, bool is_write, uint32_t value, int error) {
    const uint32_t i = chip.accesses.fetch_add(1) % vxboard::PWM_HISTORY;
    vxboard::PwmAccess& a = chip.history[i];
    a.at_ms.store(launcher_clock_us() / US_PER_MS);
    a.file.store(file);
    a.is_write.store(is_write ? 1 : 0);
    a.value.store(value);
    a.error.store(error);
}

// The channel's directory appears only once the channel is exported; without the chip
// there is no directory at all.
bool file_exists(const PwmChip& chip, uint32_t file) {
    if (chip.missing.load() != 0 || file == vxboard::PWM_FILE_OTHER) return false;
    return file == vxboard::PWM_FILE_EXPORT || chip.exported.load() != 0;
}

// The decimal text of an attribute write, as the kernel's kstrtouint takes it: digits with
// an optional trailing newline.
int parse_value(const char* text, size_t n, uint32_t* out) {
    if (n > 0 && text[n - 1] == '\n') --n;
    if (n == 0) return EINVAL;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9') return EINVAL;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > UINT32_MAX) return ERANGE;
    }
    *out = static_cast<uint32_t>(v);
    return 0;
}

// Every attribute write asks the PWM core for a whole new state of the channel, and the core
// refuses a state without a period or with a duty cycle longer than the period, enabled or
// not. A freshly exported channel has no period: until one is written, the duty cycle and
// enable files refuse every value.
int apply_write(PwmChip& chip, uint32_t file, uint32_t v) {
    const uint32_t period = chip.period_ns.load();
    switch (file) {
    case vxboard::PWM_FILE_EXPORT:
        if (v >= vxboard::PWM_NPWM) return EINVAL;
        if (const uint32_t e = chip.export_errno.load()) return static_cast<int>(e);
        if (v != BUZZER_CHANNEL) return 0; // a channel the board leaves alone
        return chip.exported.exchange(1) != 0 ? EBUSY : 0;
    case vxboard::PWM_FILE_PERIOD:
        if (v == 0 || v < chip.duty_ns.load()) return EINVAL;
        chip.period_ns.store(v);
        return 0;
    case vxboard::PWM_FILE_DUTY:
        if (period == 0 || v > period) return EINVAL;
        chip.duty_ns.store(v);
        return 0;
    case vxboard::PWM_FILE_ENABLE:
        if (v > 1 || period == 0) return EINVAL;
        chip.enabled.store(v);
        return 0;
    default:
        return EINVAL;
    }
}

} // namespace

// The descriptor is a real one on /dev/null, opened with the launcher's access mode, so that
// whatever the launcher does with it besides writing behaves like a file.
int pwm_open(Device device, int flags) {
    BoardState* s = board();
    if (s == nullptr) return fail(ENOENT);
    PwmChip& chip = s->pwm;
    const uint32_t file = file_of(device);
    const int access = flags & O_ACCMODE;
    int err = 0;
    if (!file_exists(chip, file))
        err = ENOENT;
    else if (file == vxboard::PWM_FILE_EXPORT && access != O_WRONLY)
        err = EACCES; // export is write-only
    int fd = -1;
    if (err == 0) {
        fd = real().open(DEV_NULL, access | (flags & O_CLOEXEC));
        if (fd < 0)
            err = errno;
        else if (!track(fd, device, access)) {
            real().close(fd);
            fd = -1;
            err = ENFILE;
        }
    }
    record(chip, file, false, 0, err);
    return err == 0 ? fd : fail(err);
}

} // namespace vxpreload

using namespace vxpreload;

// A write to a descriptor opened read-only fails as the kernel fails it, before the
// attribute sees it.
ssize_t vx_pwm_write(int fd, const void* buf, size_t n) {
    const OpenDevice* d = device_at(fd);
    BoardState* s = d != nullptr && is_pwm(d->device.load()) ? board() : nullptr;
    if (s == nullptr) return real().write(fd, buf, n);
    const uint32_t file = file_of(d->device.load());
    uint32_t value = 0;
    int err = d->access.load() == O_RDONLY ? EBADF : 0;
    if (err == 0) err = parse_value(static_cast<const char*>(buf), n, &value);
    if (err == 0) err = apply_write(s->pwm, file, value);
    record(s->pwm, file, true, value, err);
    if (err != 0) return fail(err);
    return static_cast<ssize_t>(n);
}
