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
constexpr uint32_t BOARD_VERSION = 5;
// Where the sandbox sees the state file; the preload library opens it there.
constexpr const char* BOARD_STATE_PATH = "/run/vx-board/state";
constexpr uint32_t BOARD_STATE_BYTES = 64 * 1024;

// The SoC's ADC page, reached by the launcher through the sparse file bound at /dev/mem, and
// its sample register: where a front end reads the line as the launcher does. (The preload,
// which sees the launcher's own hw/keys.h, checks that they agree.)
constexpr uint64_t ADC_PAGE_PHYS = 0x60632000u;
constexpr uint32_t ADC_SAMPLE_OFFSET = 0x810;

using U32 = std::atomic<uint32_t>;
using I32 = std::atomic<int32_t>;
using U64 = std::atomic<uint64_t>;

// The button line as the SoC's converter sees it. The first conversion after the converter
// has been idle (the launcher's sleep between two passes) samples the resistor ladder before
// it has settled: a button's level then reads about 200 mV high, one band up. A line at
// rest, below ADC_SETTLED_BELOW counts, reads as it is. A conversion started once the line
// has had ADC_LINE_SETTLE_US to settle reads its true level. These are the ladder's and the
// converter's, not the launcher's: a launcher that waits less reads its buttons a band high.
constexpr uint32_t ADC_SETTLED_BELOW = 115;    // counts
constexpr uint32_t ADC_UNSETTLED_OFFSET = 114; // counts, about 201 mV at 1800 mV / 1020
constexpr uint32_t ADC_LINE_SETTLE_US = 9000;

struct AdcLine {
    U32 raw; // the line's true level in counts: the held button's, or no button's
    // Number of coming second conversions during which control register 0x18 loses its
    // value, as a disturbed conversion does on the real SoC.
    U32 ctrl0_losses;
    U32 ctrl0_lost; // how many times it was cleared
    // Conversions of the launcher that read the line's true level: a front end holds a level
    // until the launcher has read it as often as its debouncer needs.
    U32 reads;
};

// The launcher's monotonic clock as the preload reports it to the launcher process (not to
// its children). Stepped: the clock is virtual_us, every sleep moves it on by the span asked for
// and returns at once, except the sleep between two loop passes, which waits for the board to grant
// the next pass: a futex pair, `reached` counted up by the launcher, `granted` by the board.
struct LauncherClock {
    U32 stepped;
    U32 pad0;
    U64 virtual_us;
    U32 virtual_set; // 0 until the launcher's first reading in stepped mode takes the real time
    U32 granted;     // passes the board has let start
    U32 reached;     // sleeps between passes the launcher has come to
    U32 pad;
};

// The launcher's sleeps: all of them, and the lengths of the last HW_SLEEP_RING waits inside
// a pass (entry i is hw_us[i % HW_SLEEP_RING]): the converter's settling, the OSD
// controller's busy bit or a retry, a beep.
constexpr uint32_t HW_SLEEP_RING = 64;

struct SleepStats {
    U64 calls;
    U64 total_us;
    U32 last_us;
    U32 hw_count;
    U32 hw_us[HW_SLEEP_RING];
};

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
// character cells, each written through a command, a column and a data register. What is
// written goes to the cell memory; the screen shows the cell memory as it was at the last
// commit (register 0x0A00), and a cell only with bit 7 of its data set, the rest blank. A
// cell access (a write or read of the data register) must come in a transaction that a
// select of the controller opened on the same descriptor since the previous cell access;
// outside one the controller does not acknowledge it. The window, control, commit and
// status registers, and the command and column latches, answer without a select.
constexpr uint32_t OSD_ROWS = 8; // the preload checks the launcher's grid against these
constexpr uint32_t OSD_COLS = 32;
constexpr uint32_t OSD_FOREVER = 0xFFFFFFFFu;

struct OsdController {
    U32 missing;          // the controller does not acknowledge (ENXIO)
    U32 busy_polls;       // status reads that report busy after each character write
    U32 busy_stuck;       // the busy bit never clears
    U32 bad_row, bad_col; // a cell whose character writes do not take...
    U32 bad_count;        // ...for this many more writes (OSD_FOREVER: never)
    U32 half_cells;       // every second cell (odd row * 32 + column) drops its writes
    U32 transfers;        // requests addressed to the controller
    U32 char_writes;      // character writes (command low nibble 11)
    U32 raw_clears;       // raw cell clears (command low nibble 8)
    U32 readbacks;        // reads of the cell data register
    U32 status_reads;
    U32 commits;
    U32 unselected;                    // cell accesses refused for want of a select
    U32 busy_left;                     // busy status reads still to report for the last write
    U32 cmd, col;                      // the command and column registers
    U32 control;                       // bit 0: overlay enabled
    uint8_t window[8];                 // registers 0x0A04..0x0A0B
    uint8_t cells[OSD_ROWS][OSD_COLS]; // the cell memory: data as written, 0 never written
    uint8_t shown[OSD_ROWS][OSD_COLS]; // the cell memory as of the last commit
};

// The PWM controller's sysfs directory /sys/class/pwm/pwmchip0 with the buzzer on channel 7.
// Every open and write of its files is kept, with the launcher's clock, in a ring.
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

// The apps the launcher started and how each ended, in a ring of APP_RUN_SLOTS entries
// (entry i is runs[i % APP_RUN_SLOTS]). The launcher's child fills an entry as it execs,
// with the errno of an exec that failed; the launcher's waitpid adds the wait status.
constexpr uint32_t APP_RUN_SLOTS = 16;
constexpr uint32_t APP_RUN_NAME_BYTES = 40;
enum AppRunState : uint32_t { APP_RUN_FREE, APP_RUN_EXEC, APP_RUN_COLLECTED };

struct AppRun {
    U32 state;       // AppRunState; the fields below are written before it leaves FREE
    I32 ns_pid;      // the app's pid inside the sandbox
    I32 exec_errno;  // 0: the exec went through (or has yet to fail)
    I32 wait_status; // as the launcher's waitpid got it, once collected
    char name[APP_RUN_NAME_BYTES];
};

struct AppRuns {
    U32 started; // entries claimed so far
    U32 pad;
    AppRun runs[APP_RUN_SLOTS];
};

// What the launcher shows changes only when it pans the framebuffer, commits the OSD
// controller's cells or switches the overlay: the preload counts these, and stamps the
// latest with CLOCK_REALTIME (no time namespace shifts it), so that a front end looks at
// the pictures only when this changes and can tell how long its picture took to follow.
struct ScreenRecord {
    U32 generation;
    U32 pad;
    U64 changed_realtime_ns;
};

struct BoardState {
    uint32_t magic;
    uint32_t version;
    AdcLine adc;
    SleepStats sleeps;
    FbDevice fb;
    I2cBus i2c;
    LauncherProcess launcher;
    LauncherClock clock;
    OsdController osd;
    PwmChip pwm;
    DeviceOpenFaults opens;
    AppRuns apps;
    ScreenRecord screen;
};

static_assert(std::atomic<uint32_t>::is_always_lock_free &&
                  std::atomic<uint64_t>::is_always_lock_free,
              "the state is shared between processes: its atomics must not hide a lock");

static_assert(sizeof(U32) == 4 && sizeof(U64) == 8);
static_assert(offsetof(BoardState, adc) == 8 && sizeof(AdcLine) == 16);
static_assert(offsetof(BoardState, sleeps) == 24 && alignof(SleepStats) == 8);
static_assert(sizeof(SleepStats) == 24 + 4 * HW_SLEEP_RING);
static_assert(offsetof(BoardState, fb) == 304);
static_assert(offsetof(BoardState, i2c) == 304 + 16 * 4);
static_assert(offsetof(BoardState, launcher) == 368 + 16 + 256);
static_assert(offsetof(BoardState, clock) == 640 + 16 && sizeof(LauncherClock) == 32);
static_assert(offsetof(BoardState, osd) == 656 + 32);
static_assert(sizeof(OsdController) == 18 * 4 + 8 + 2 * OSD_ROWS * OSD_COLS);
static_assert(sizeof(PwmAccess) == 24 && alignof(PwmChip) == 8);
static_assert(offsetof(BoardState, pwm) == 1280); // 688 + 592
static_assert(offsetof(PwmChip, history) == 32);
static_assert(sizeof(PwmChip) == 32 + 24 * PWM_HISTORY);
static_assert(offsetof(BoardState, opens) == 1280 + 32 + 24 * PWM_HISTORY);
static_assert(sizeof(DeviceOpenFaults) == 32);
static_assert(sizeof(AppRun) == 56 && sizeof(AppRuns) == 8 + 56 * APP_RUN_SLOTS);
static_assert(offsetof(BoardState, apps) == 1280 + 32 + 24 * PWM_HISTORY + 32);
static_assert(offsetof(BoardState, screen) ==
              1280 + 32 + 24 * PWM_HISTORY + 32 + 8 + 56 * APP_RUN_SLOTS);
static_assert(sizeof(BoardState) <= BOARD_STATE_BYTES);

} // namespace vxboard
