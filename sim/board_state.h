#pragma once
// The virtual goggles board's shared state: one file mapped by the board (tests, the
// command-line front end), by the sandbox's init and by the preload library inside the
// launcher. The launcher itself and the preload may be 32-bit ARM under qemu while the board
// is x86-64, so every field has a fixed width and the layout is checked below.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vxboard {

constexpr uint32_t BOARD_MAGIC = 0x44425856; // "VXBD"
constexpr uint32_t BOARD_VERSION = 3;
// Where the sandbox sees the state file; the preload library opens it there.
constexpr const char* BOARD_STATE_PATH = "/run/vx-board/state";
constexpr uint32_t BOARD_STATE_BYTES = 64 * 1024;

// The SoC's ADC page, reached by the launcher through the sparse file bound at /dev/mem.
constexpr uint64_t ADC_PAGE_PHYS = 0x60632000u;
constexpr uint32_t ADC_PAGE_BYTES = 4096;
constexpr uint32_t ADC_CTRL0_OFFSET = 0x18;
constexpr uint32_t ADC_SAMPLE_OFFSET = 0x810;

using U32 = std::atomic<uint32_t>;
using I32 = std::atomic<int32_t>;
using U64 = std::atomic<uint64_t>;

struct AdcFaults {
    // Number of coming samples during which control register 0x18 loses its value, as a
    // disturbed conversion does on the real SoC. The preload clears the register while the
    // reader waits for the second conversion.
    U32 ctrl0_losses;
    U32 ctrl0_lost; // how many times it was cleared
};

// The launcher's monotonic clock as the preload reports it: when frozen, every reading is
// frozen_ms, so a test can place events to the millisecond; sleeps still take real time.
struct LauncherClock {
    U32 frozen;
    // While frozen, no sleep takes more than SHORT_SLEEP_US of real time: the loop then passes
    // as fast as a test can drive it, and only the frozen clock says how long it waited.
    U32 short_sleeps;
    U64 frozen_ms;
};

constexpr uint64_t SHORT_SLEEP_US = 1000;

struct SleepStats {
    U64 calls;
    U64 total_us;
    U32 last_us;
    U32 pad;
};

// The framebuffer as the preload library presents it through /dev/fb0's ioctls.
struct FbDevice {
    U32 line_length;
    U32 xres, yres;
    U32 xres_virtual, yres_virtual;
    U32 xoffset, yoffset; // the pan position: which rows are on screen
    U32 bits_per_pixel;
    U32 smem_len;
    U32 fail_get_var, fail_get_fix, fail_put_var, fail_pan, fail_mmap; // injected errno, 0 = none
    U32 pans, put_vars;
};

// The I2C transport through /dev/remote_i2c and the chips behind it.
struct I2cBus {
    U32 fail_all;    // every transfer fails with EIO
    U32 transfers;   // ioctl requests answered
    U32 failed;      // of which failed
    U32 lt8668_page; // last value written to the page register 0xFF
    uint8_t lt8668_regs[256];
};

// The AV path's OSD controller, on bus 2 at 0x5B behind the same transport: a grid of
// character cells, each written through a command, a column and a data register.
constexpr uint32_t OSD_ROWS = 8;
constexpr uint32_t OSD_COLS = 32;
constexpr uint32_t OSD_FOREVER = 0xFFFFFFFFu;

struct OsdController {
    U32 missing;          // the controller does not acknowledge (ENXIO)
    U32 busy_polls;       // status reads that report busy after each character write
    U32 busy_stuck;       // the busy bit never clears
    U32 bad_row, bad_col; // a cell whose character writes do not take...
    U32 bad_count;        // ...for this many more writes (OSD_FOREVER: never)
    U32 transfers;        // requests addressed to the controller
    U32 char_writes;      // character writes (command low nibble 11)
    U32 raw_clears;       // raw cell clears (command low nibble 8)
    U32 readbacks;        // reads of the cell data register
    U32 status_reads;
    U32 commits;
    U32 busy_left;                     // busy status reads still to report for the last write
    U32 cmd, col;                      // the command and column registers
    U32 control;                       // bit 0: overlay enabled
    uint8_t window[8];                 // registers 0x0A04..0x0A0B
    uint8_t cells[OSD_ROWS][OSD_COLS]; // what each cell shows: 0x80 | code; 0 never written
};

// The PWM controller's sysfs directory /sys/class/pwm/pwmchip0 with the buzzer on channel 7.
// Every open and write of its files is kept, with the launcher's clock, in a ring.
constexpr uint32_t PWM_BUZZER_CHANNEL = 7;
constexpr uint32_t PWM_NPWM = 8;
constexpr uint32_t PWM_HISTORY = 1024;
enum PwmFile : uint32_t {
    PWM_FILE_EXPORT = 1,
    PWM_FILE_PERIOD,
    PWM_FILE_DUTY,
    PWM_FILE_ENABLE,
    PWM_FILE_OTHER
};

struct PwmAccess {
    U64 at_ms;    // the launcher's monotonic clock
    U32 file;     // PwmFile
    U32 is_write; // 0: an open, 1: a write
    U32 value;    // the number written
    I32 error;    // errno of a failed open or write, 0 on success
};

struct PwmChip {
    U32 missing;      // there is no pwmchip0
    U32 export_errno; // the export write fails with this errno (0: the kernel's own rules)
    U32 exported;     // channel 7 is exported
    U32 period_ns, duty_ns, enabled;
    U32 accesses; // recorded so far; entry i is history[i % PWM_HISTORY]
    U32 pad;
    PwmAccess history[PWM_HISTORY];
};

struct LauncherProcess {
    I32 ns_pid;      // the launcher's pid inside the sandbox, 0 before it started
    I32 exited;      // 1 once init has collected it
    I32 wait_status; // as waitpid reported it
    I32 pad;
};

// Device nodes that stop opening, as a driver that failed to probe or a firmware that took
// its node away leaves them: an open of the path fails with the errno (0: opens normally)
// once `*_opens_left` more opens have succeeded.
struct DeviceOpenFaults {
    U32 fb0_errno;
    U32 fb0_opens_left;
    U32 remote_i2c_errno;
    U32 remote_i2c_opens_left;
    U32 fb0_opens, remote_i2c_opens; // opens tried by the launcher
    U32 pad[2];
};

struct BoardState {
    uint32_t magic;
    uint32_t version;
    AdcFaults adc;
    SleepStats sleeps;
    FbDevice fb;
    I2cBus i2c;
    LauncherProcess launcher;
    LauncherClock clock;
    OsdController osd;
    PwmChip pwm;
    DeviceOpenFaults opens;
};

static_assert(std::atomic<uint32_t>::is_always_lock_free &&
                  std::atomic<uint64_t>::is_always_lock_free,
              "the state is shared between processes: its atomics must not hide a lock");
static_assert(sizeof(U32) == 4 && sizeof(U64) == 8);
static_assert(offsetof(BoardState, sleeps) == 16 && alignof(SleepStats) == 8);
static_assert(offsetof(BoardState, fb) == 40);
static_assert(offsetof(BoardState, i2c) == 40 + 16 * 4);
static_assert(offsetof(BoardState, launcher) == 104 + 16 + 256);
static_assert(offsetof(BoardState, clock) == 376 + 16);
static_assert(offsetof(BoardState, osd) == 392 + 16);
static_assert(sizeof(OsdController) == 16 * 4 + 8 + OSD_ROWS * OSD_COLS);
static_assert(sizeof(PwmAccess) == 24 && alignof(PwmChip) == 8);
static_assert(offsetof(BoardState, pwm) == 736);
static_assert(offsetof(PwmChip, history) == 32);
static_assert(sizeof(PwmChip) == 32 + 24 * PWM_HISTORY);
static_assert(offsetof(BoardState, opens) == 736 + 32 + 24 * PWM_HISTORY);
static_assert(sizeof(DeviceOpenFaults) == 32);
static_assert(sizeof(BoardState) <= BOARD_STATE_BYTES);

} // namespace vxboard
