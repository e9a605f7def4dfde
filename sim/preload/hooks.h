#pragma once
// What the preload library's pieces share: the libc calls behind the hooks, the board state,
// and the launcher's open device descriptors. Everything here is safe from a signal handler
// (the launcher's termination handler writes PWM files and pans the framebuffer): the libc
// calls are looked up before main, the state is mapped on first use through them, and the
// descriptor table is a fixed array of atomics.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <ctime>

#include "board_state.h"

namespace vxpreload {

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

// The board state, or nullptr outside the sandbox.
vxboard::BoardState* board();

// The devices the board answers for, by the path the launcher opens.
enum class Device : uint32_t {
    None,
    Fb,
    RemoteI2c,
    Mem,
    PwmExport,
    PwmPeriod,
    PwmDuty,
    PwmEnable,
    PwmOther, // any other path below the chip's directory
};

inline bool is_pwm(Device d) {
    return d >= Device::PwmExport;
}

// One open descriptor of a device, classified when it was opened.
struct OpenDevice {
    std::atomic<int> fd_plus_one{0}; // 0: a free slot, -1: being filled
    std::atomic<Device> device{Device::None};
    std::atomic<int> access{0};            // O_RDONLY, O_WRONLY or O_RDWR
    std::atomic<uint32_t> osd_selected{0}; // a select of the OSD controller awaits its cell access
};

// The device behind `fd`, or nullptr for anything else.
OpenDevice* device_at(int fd);
// Records `fd` as a descriptor of `device` (Device::None: of nothing the board answers for);
// false when the table is full.
bool track(int fd, Device device, int access);

// The chip's files (pwm_sysfs.cpp): a descriptor for an open of one of them.
int pwm_open(Device file, int flags);

// The clock (clock.cpp): the ADC page the launcher mapped, which makes that process the
// launcher for the board's clock and converter.
void adc_mapped(volatile uint32_t* page);
// Whether the calling process is that launcher (not its watchdog, not an app before exec).
bool is_launcher();

int fail(int err);

} // namespace vxpreload
