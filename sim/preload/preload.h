#pragma once
// What the preload library's pieces share: the libc calls behind the hooks, the board state,
// the launcher's open device descriptors and the entry points of the devices behind them.
// Everything here is safe from a signal handler (the launcher's termination handler writes
// PWM files and pans the framebuffer): the libc calls are looked up before main, the state
// is mapped on first use through them, and the descriptor table is a fixed array of atomics.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <ctime>

#include "board_state.h"
#include "devices/remote_i2c.h"

namespace vxpreload {

using vxboard::BoardState;

// ---- libc_calls.cpp ---------------------------------------------------------------------

// The libc symbols the launcher's calls are bound to (with 64-bit time and file offsets on
// 32-bit ARM some of them under other names), resolved once before main.
struct RealCalls {
    int (*open)(const char*, int, ...);
    int (*open64)(const char*, int, ...);
    int (*openat)(int, const char*, int, ...);
    int (*openat64)(int, const char*, int, ...);
    int (*open_2)(const char*, int);
    int (*open64_2)(const char*, int);
    int (*close)(int);
    ssize_t (*write)(int, const void*, size_t);
    int (*dup)(int);
    int (*dup2)(int, int);
    int (*dup3)(int, int, int);
    int (*fcntl)(int, int, ...);
    void* (*mmap)(void*, size_t, int, int, int, off_t);
    int (*ioctl)(int, unsigned long, ...);
    int (*clock_gettime)(clockid_t, timespec*);
    int (*clock_nanosleep)(clockid_t, int, const timespec*, timespec*);
    int (*nanosleep)(const timespec*, timespec*);
};
const RealCalls& real();

// Sets errno and returns -1, as a failing system call does.
int fail(int err);

// ---- board_link.cpp ---------------------------------------------------------------------

// The board state, or nullptr outside the sandbox.
BoardState* board();

// ---- descriptors.cpp --------------------------------------------------------------------

// The devices the board answers for, by the path the launcher opens.
enum class Device : uint32_t {
    None,
    Fb,
    RemoteI2c,
    Mem,
    Pwm, // a path of the PWM chip's directory
};

// One open descriptor of a device, classified when it was opened.
struct OpenDevice {
    std::atomic<int> fd_plus_one{0}; // 0: a free slot, -1: being filled
    std::atomic<Device> device{Device::None};
    std::atomic<int> access{0};        // O_RDONLY, O_WRONLY or O_RDWR
    vxdevices::I2cSession i2c;         // the transport's, for a descriptor of /dev/remote_i2c
    std::atomic<uint32_t> pwm_file{0}; // the PwmFile, for one of the PWM chip's
};

// The device behind `fd`, or nullptr for anything else.
OpenDevice* device_at(int fd);
// Records `fd` as a descriptor of `device` (Device::None: of nothing the board answers for),
// of the PWM chip's file `pwm_file`; false when the table is full.
bool track(int fd, Device device, int access, uint32_t pwm_file = 0);

// ---- the devices ------------------------------------------------------------------------

// framebuffer.cpp: /dev/fb0's ioctls, and the errno that refuses a mapping of it (0: none).
int fb_ioctl(BoardState& s, OpenDevice& fd, unsigned long req, void* arg);
int fb_map_error(const BoardState& s, off_t offset, size_t len);

// remote_i2c.cpp: the transport's one ioctl.
int remote_i2c_ioctl(BoardState& s, OpenDevice& fd, unsigned long req, void* arg);

// adc_line.cpp: a mapping of /dev/mem at `offset`. A process other than the launcher gets a
// page of its own for the ADC's (adc_mem_map; nullptr: the real mapping is made).
void* adc_mem_map(size_t len, int prot, off_t offset);
void adc_mem_mapped(void* at, off_t offset, int flags);
bool adc_mapped();
// Whether the calling process is the launcher, as the sandbox's init started it (not its
// watchdog, not an app before exec).
bool is_launcher();
// The converter after a sleep of `us` by a process that mapped it: one that leaves it idle
// (the launcher's between two passes, an app's between two samples) or one inside a sample.
void adc_after_sleep(BoardState& s, uint64_t us, bool idle);

// clock.cpp: the launcher's monotonic clock, in us, as any process of the sandbox reads it:
// the board's when it steps it, the real one otherwise. An app's tones are kept on it too.
uint64_t launcher_clock_us();

// pwm_sysfs.cpp: a descriptor for an open of one of the chip's files (a PwmFile).
int pwm_open(uint32_t file, int flags);

} // namespace vxpreload
