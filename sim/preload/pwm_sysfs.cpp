// The PWM controller's sysfs directory as the goggles' kernel presents it, from the board
// state: the launcher opens /sys/class/pwm/pwmchip0/... and gets a descriptor whose writes
// follow the PWM core's rules. Every open and write is kept in the state's history ring.
//
// The launcher's termination handler silences the buzzer through these files, so nothing
// here allocates or locks: the real symbols are looked up before main, the descriptor table
// is a fixed array of atomics.
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "board_map.h"
#include "board_state.h"

using vxboard::BoardState;
using vxboard::PwmChip;
using vxboard::PwmFile;

// With 64-bit file offsets on 32-bit ARM the headers rename open() to open64(), so defining
// both under their C names would give two open64s. The hooks carry their symbol names
// explicitly instead.
extern "C" {
int vx_pwm_open(const char* path, int flags, ...) __asm__("open");
int vx_pwm_open64(const char* path, int flags, ...) __asm__("open64");
int vx_pwm_openat(int dir, const char* path, int flags, ...) __asm__("openat");
int vx_pwm_openat64(int dir, const char* path, int flags, ...) __asm__("openat64");
int vx_pwm_open_2(const char* path, int flags) __asm__("__open_2");
int vx_pwm_open64_2(const char* path, int flags) __asm__("__open64_2");
ssize_t vx_pwm_write(int fd, const void* buf, size_t n) __asm__("write");
int vx_pwm_close(int fd) __asm__("close");
}

namespace {

#if defined(__arm__)
constexpr const char* SYM_MMAP = "mmap64";
#else
constexpr const char* SYM_MMAP = "mmap";
#endif

constexpr const char* CHIP_DIR = "/sys/class/pwm/pwmchip0";
constexpr size_t CHIP_DIR_LEN = 23;
static_assert(CHIP_DIR_LEN == sizeof "/sys/class/pwm/pwmchip0" - 1);
constexpr uint32_t MAX_OPEN_FILES = 16;
constexpr uint64_t NS_PER_MS = 1000000;
constexpr uint64_t MS_PER_S = 1000;

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);
using Open2Fn = int (*)(const char*, int);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using CloseFn = int (*)(int);
using MmapFn = void* (*)(void*, size_t, int, int, int, off_t);

struct RealCalls {
    std::atomic<OpenFn> open{nullptr}, open64{nullptr};
    std::atomic<OpenAtFn> openat{nullptr}, openat64{nullptr};
    std::atomic<Open2Fn> open_2{nullptr}, open64_2{nullptr};
    std::atomic<WriteFn> write{nullptr};
    std::atomic<CloseFn> close{nullptr};
    std::atomic<MmapFn> mmap{nullptr};
};
RealCalls g_real;

template <typename F> F lookup(std::atomic<F>& slot, const char* name) {
    F f = slot.load(std::memory_order_acquire);
    if (f == nullptr) {
        f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
        slot.store(f, std::memory_order_release);
    }
    return f;
}

OpenFn real_open() {
    return lookup(g_real.open, "open");
}
OpenFn real_open64() {
    return lookup(g_real.open64, "open64");
}
OpenAtFn real_openat() {
    return lookup(g_real.openat, "openat");
}
OpenAtFn real_openat64() {
    return lookup(g_real.openat64, "openat64");
}
Open2Fn real_open_2() {
    return lookup(g_real.open_2, "__open_2");
}
Open2Fn real_open64_2() {
    return lookup(g_real.open64_2, "__open64_2");
}
WriteFn real_write() {
    return lookup(g_real.write, "write");
}
CloseFn real_close() {
    return lookup(g_real.close, "close");
}
MmapFn real_mmap() {
    return lookup(g_real.mmap, SYM_MMAP);
}

// dlsym may allocate: done before main so that a signal handler never gets there first.
__attribute__((constructor)) void resolve_real_calls() {
    real_open();
    real_open64();
    real_openat();
    real_openat64();
    real_open_2();
    real_open64_2();
    real_write();
    real_close();
    real_mmap();
}

std::atomic<BoardState*> g_board{nullptr};
std::atomic<bool> g_board_tried{false};

} // namespace

BoardState* preload_board_state() {
    if (BoardState* s = g_board.load(std::memory_order_acquire)) return s;
    if (g_board_tried.exchange(true)) return g_board.load(std::memory_order_acquire);
    const int fd = real_open()(vxboard::BOARD_STATE_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    void* p =
        real_mmap()(nullptr, vxboard::BOARD_STATE_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    real_close()(fd);
    if (p == MAP_FAILED || static_cast<BoardState*>(p)->magic != vxboard::BOARD_MAGIC)
        return nullptr;
    g_board.store(static_cast<BoardState*>(p), std::memory_order_release);
    return static_cast<BoardState*>(p);
}

namespace {

BoardState* board() {
    return preload_board_state();
}

// The launcher's own reading of its monotonic clock: through the public symbol, so that a
// frozen board clock (answered by the other hooks of this library) applies here too.
uint64_t launcher_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * MS_PER_S +
           static_cast<uint64_t>(ts.tv_nsec) / NS_PER_MS;
}

void record(PwmChip& chip, uint32_t file, bool is_write, uint32_t value, int error) {
    const uint32_t i = chip.accesses.fetch_add(1) % vxboard::PWM_HISTORY;
    vxboard::PwmAccess& a = chip.history[i];
    a.at_ms.store(launcher_ms());
    a.file.store(file);
    a.is_write.store(is_write ? 1 : 0);
    a.value.store(value);
    a.error.store(error);
}

bool under_chip(const char* path) {
    return path != nullptr && std::strncmp(path, CHIP_DIR, CHIP_DIR_LEN) == 0 &&
           (path[CHIP_DIR_LEN] == '\0' || path[CHIP_DIR_LEN] == '/');
}

// Which file a path below the chip directory names, whether it is there or not.
uint32_t file_named(const char* rest) {
    if (std::strcmp(rest, "/export") == 0) return vxboard::PWM_FILE_EXPORT;
    constexpr const char* CHANNEL_DIR = "/pwm7/";
    constexpr size_t CHANNEL_DIR_LEN = 6;
    if (std::strncmp(rest, CHANNEL_DIR, CHANNEL_DIR_LEN) != 0) return vxboard::PWM_FILE_OTHER;
    const char* leaf = rest + CHANNEL_DIR_LEN;
    if (std::strcmp(leaf, "period") == 0) return vxboard::PWM_FILE_PERIOD;
    if (std::strcmp(leaf, "duty_cycle") == 0) return vxboard::PWM_FILE_DUTY;
    if (std::strcmp(leaf, "enable") == 0) return vxboard::PWM_FILE_ENABLE;
    return vxboard::PWM_FILE_OTHER;
}

// The channel's directory appears only once the channel is exported; without the chip
// there is no directory at all.
bool file_exists(const PwmChip& chip, uint32_t file) {
    if (chip.missing.load() != 0 || file == vxboard::PWM_FILE_OTHER) return false;
    return file == vxboard::PWM_FILE_EXPORT || chip.exported.load() != 0;
}

// Open descriptors of the chip's files: fd + 1 (0 marks a free slot) and the file.
struct OpenFile {
    std::atomic<int> fd_plus_one{0};
    std::atomic<uint32_t> file{0};
};
OpenFile g_files[MAX_OPEN_FILES];

OpenFile* find_open(int fd) {
    if (fd < 0) return nullptr;
    for (OpenFile& f : g_files)
        if (f.fd_plus_one.load() == fd + 1) return &f;
    return nullptr;
}

bool remember(int fd, uint32_t file) {
    for (OpenFile& f : g_files) {
        int expected = 0;
        if (f.fd_plus_one.compare_exchange_strong(expected, fd + 1)) {
            f.file.store(file);
            return true;
        }
    }
    return false;
}

int fail(int err) {
    errno = err;
    return -1;
}

// An open of a path below the chip directory. The descriptor is a real one on /dev/null,
// so that whatever the launcher does with it besides writing behaves like a file.
int open_chip_file(const char* path, int flags) {
    BoardState* s = board();
    if (s == nullptr) return fail(ENOENT);
    PwmChip& chip = s->pwm;
    const uint32_t file = file_named(path + CHIP_DIR_LEN);
    const int access = flags & O_ACCMODE;
    int err = 0;
    if (!file_exists(chip, file))
        err = ENOENT;
    else if (file == vxboard::PWM_FILE_EXPORT && access != O_WRONLY)
        err = EACCES; // export is write-only
    int fd = -1;
    if (err == 0) {
        fd = real_open()("/dev/null", access | (flags & O_CLOEXEC));
        if (fd < 0)
            err = errno;
        else if (!remember(fd, file)) {
            real_close()(fd);
            fd = -1;
            err = ENFILE;
        }
    }
    record(chip, file, false, 0, err);
    return err == 0 ? fd : fail(err);
}

bool absolute_chip_path(int dir, const char* path) {
    (void)dir; // the launcher names its sysfs files by absolute paths
    return under_chip(path);
}

mode_t mode_arg(int flags, va_list ap) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
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

// The PWM core's checks: a duty cycle never longer than the period, and no enabled output
// without a period.
int apply_write(PwmChip& chip, uint32_t file, uint32_t v) {
    switch (file) {
    case vxboard::PWM_FILE_EXPORT:
        if (v >= vxboard::PWM_NPWM) return EINVAL;
        if (const uint32_t e = chip.export_errno.load()) return static_cast<int>(e);
        if (v != vxboard::PWM_BUZZER_CHANNEL) return 0; // a channel the board leaves alone
        return chip.exported.exchange(1) != 0 ? EBUSY : 0;
    case vxboard::PWM_FILE_PERIOD:
        if (v < chip.duty_ns.load() || (v == 0 && chip.enabled.load() != 0)) return EINVAL;
        chip.period_ns.store(v);
        return 0;
    case vxboard::PWM_FILE_DUTY:
        if (v > chip.period_ns.load()) return EINVAL;
        chip.duty_ns.store(v);
        return 0;
    case vxboard::PWM_FILE_ENABLE:
        if (v > 1 || (v == 1 && chip.period_ns.load() == 0)) return EINVAL;
        chip.enabled.store(v);
        return 0;
    default:
        return EINVAL;
    }
}

} // namespace

extern "C" {

int vx_pwm_open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    if (under_chip(path)) return open_chip_file(path, flags);
    if (const int e = preload_open_fault(path)) return fail(e);
    return real_open()(path, flags, mode);
}

int vx_pwm_open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    if (under_chip(path)) return open_chip_file(path, flags);
    if (const int e = preload_open_fault(path)) return fail(e);
    return real_open64()(path, flags, mode);
}

int vx_pwm_openat(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    if (absolute_chip_path(dir, path)) return open_chip_file(path, flags);
    if (const int e = preload_open_fault(path)) return fail(e);
    return real_openat()(dir, path, flags, mode);
}

int vx_pwm_openat64(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    if (absolute_chip_path(dir, path)) return open_chip_file(path, flags);
    if (const int e = preload_open_fault(path)) return fail(e);
    return real_openat64()(dir, path, flags, mode);
}

int vx_pwm_open_2(const char* path, int flags) {
    if (under_chip(path)) return open_chip_file(path, flags);
    if (const int e = preload_open_fault(path)) return fail(e);
    return real_open_2()(path, flags);
}

int vx_pwm_open64_2(const char* path, int flags) {
    if (under_chip(path)) return open_chip_file(path, flags);
    if (const int e = preload_open_fault(path)) return fail(e);
    return real_open64_2()(path, flags);
}

ssize_t vx_pwm_write(int fd, const void* buf, size_t n) {
    const OpenFile* f = find_open(fd);
    BoardState* s = f != nullptr ? board() : nullptr;
    if (s == nullptr) return real_write()(fd, buf, n);
    const uint32_t file = f->file.load();
    uint32_t value = 0;
    int err = parse_value(static_cast<const char*>(buf), n, &value);
    if (err == 0) err = apply_write(s->pwm, file, value);
    record(s->pwm, file, true, value, err);
    if (err != 0) return fail(err);
    return static_cast<ssize_t>(n);
}

int vx_pwm_close(int fd) {
    if (OpenFile* f = find_open(fd)) {
        f->file.store(0);
        f->fd_plus_one.store(0);
    }
    return real_close()(fd);
}

} // extern "C"
