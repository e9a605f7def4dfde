#pragma once
// The virtual goggles board: runs the real launcher binary, with its fixed paths, inside a
// bubblewrap sandbox whose devices are files shared with this process, and lets a test or a
// person press the buttons and watch what the launcher does.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/screen.h"
#include "base/video_modes.h"
#include "board_state.h"

namespace vxgoggles {
class GogglesMachine;
}

namespace vxboard {

using Millis = std::chrono::milliseconds;

// Which build of the launcher runs: the host build, or the 32-bit ARM build under qemu-arm
// (dynamically linked so that the preload library can join it, or the static product); or
// the release's static launcher, installed from its archive on the emulated goggles (qemu's
// ARM board with a Debian kernel, sim/goggles).
enum class Target { Host, Arm, ArmStatic, Goggles };

// Pages of the screen the framebuffer's virtual height spans as the goggles' driver sets it
// up, before the launcher asks for all of its memory.
constexpr uint32_t FB_PAGES_AT_BOOT = 2;

struct BoardConfig {
    std::string apps_dir;          // host directory seen as the launcher's APPS_DIR
    bool with_apps = true;         // false: the sandbox has no app directory at all
    std::vector<std::string> args; // the launcher's command-line arguments
    bool with_mem = true;          // bind the ADC's /dev/mem
    bool with_service = true;      // run the fpv_grd_service stand-in
    bool with_fb = true;           // bind /dev/fb0
    bool with_i2c = true;          // bind /dev/remote_i2c
    // The framebuffer as the goggles' driver sets it up: the launcher's screen with memory
    // for all its pages, FB_PAGES_AT_BOOT of them reachable until the launcher asks.
    uint32_t fb_line_length = LINE_BYTES;
    uint32_t fb_yres_virtual = SCREEN_H * FB_PAGES_AT_BOOT;
    uint32_t fb_smem_len = LINE_BYTES * VIRTUAL_ROWS;
    uint32_t fb_yoffset = 0;
    int video_mode = MODE_NORMAL; // what the LT8668's registers say at start: a VideoMode
    // Files to put in the sandbox's /tmp before the launcher starts: path below /tmp and
    // content.
    std::vector<std::pair<std::string, std::string>> tmp_files;
    // Recordings on the goggles' storage (/record), as the DVR leaves them: a name, a size
    // (the file is sparse) and the time it was written, in seconds since the epoch.
    struct Recording {
        std::string name;
        uint64_t bytes;
        int64_t written;
    };
    std::vector<Recording> recordings;
    uint32_t tmp_size_kb = 0; // > 0: the sandbox's /tmp is a tmpfs of that size
    // > 0: a time namespace whose monotonic clock starts this many seconds before the
    // launcher's 32-bit millisecond count wraps (2^31 ms)
    uint32_t seconds_before_wrap = 0;
    // Runs on the fresh board state before the launcher starts: faults to inject from the
    // first instruction on.
    std::function<void(BoardState&)> before_launch;
    std::optional<Target> target; // default: from VX_TARGET, else Host
    // true: the goggles' service and the launcher run as a user of their own rather than
    // root, so that permission bits and a process limit bind them (root passes both). The
    // board gives that user its device files and /tmp; the app directory stays as it is.
    bool unprivileged = false;
    // true: a process that made itself a child subreaper stands between the sandbox's init
    // and the launcher, as a service manager does; orphans of the launcher go to it.
    bool subreaper = false;
    // true: the launcher's monotonic clock is virtual and its loop passes run only as the
    // test grants them (step, run_for, run_until); its watchdog and apps keep real time.
    bool stepped = false;
};

struct SandboxProcess {
    pid_t host_pid;
    pid_t host_ppid;
    pid_t ns_pid;
    std::string comm;
    char state;    // R, S, T, Z, ... as /proc reports it
    pid_t ns_pgid; // its process group inside the sandbox
};

// An app the launcher started, as the board saw it exec and, once the launcher collected it,
// end.
struct AppEnd {
    std::string name;
    pid_t ns_pid = 0;
    int exec_errno = 0;             // the exec failed with it, and the child ended with 127
    std::optional<int> wait_status; // as the launcher's waitpid got it; nullopt before
};
// "exited 3", "killed by SIGSEGV", "exec failed: Exec format error", "not collected".
std::string describe(const AppEnd& end);

// The build's own artefacts, for a target.
struct Artefacts {
    std::string launcher, init;
    std::string preload, arm_preload;  // the board's library for the host and for ARM programs
    std::vector<std::string> emulator; // command prefix, empty for the host
};
Artefacts artefacts_for(Target target);
// The sample apps as the build of `target` staged them: host programs for the host; for ARM
// the static programs, each with the dynamically linked twin the board runs in its place.
std::string sample_apps_dir(Target target);
Target target_from_env();
// The apps of the release the emulated goggles install, as tools/release.sh unpacked them.
std::string goggles_release_apps_dir();
// What a configuration asks that the emulated goggles cannot give (a stepped clock, a board
// without a device...), in words that follow "the emulated goggles cannot give"; "" when
// they can run it.
std::string goggles_cannot_give(const BoardConfig& config);

class Board {
  public:
    explicit Board(BoardConfig config);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // Starts the sandbox and the launcher in it.
    void start();
    // Takes the whole sandbox down (every process in it).
    void stop();
    // On the emulated goggles, the next run on the same boot: every process of the last run
    // ended, the board state and screen made afresh as start() makes them for `config`, its
    // apps and recordings put in place and the launcher started anew. The index of the first
    // line of the new launcher's log. Throws when the guest could not.
    size_t rerun(BoardConfig config);

    // Buttons: the ADC line's true level, the button's band centre or no button. A tap holds
    // the button for `held` and waits until the launcher has seen it go: in stepped mode both
    // by the virtual clock.
    void press(int key_code);
    void release();
    void tap(int key_code, Millis held);
    void set_adc_raw(uint32_t raw);
    static uint32_t raw_for_key(int key_code);

    // The LT8668 status registers (page 0xE0) and the mode they stand for.
    void set_lt8668(uint8_t b7, uint8_t ad, uint8_t ac);
    void set_video_mode(int mode);
    int video_mode() const;

    // The framebuffer memory, the row the display starts at, and a picture of the screen as
    // the wearer sees it: the page on screen over a stand-in for the goggles' video.
    const uint32_t* fb_pixels() const { return fb_; }
    uint32_t screen_row() const { return state_->fb.yoffset.load(); }
    void screenshot(const std::string& png_path) const;
    // On the emulated goggles, a picture of qemu's display as the guest's display driver last
    // gave it (what the GPU scans out, without the goggles' blending over the video); false
    // on the fast board, or when qemu gave none.
    bool display_picture(const std::string& png_path) const;

    // What the OSD shows, one 32-character string per row: the grid as of the controller's
    // last commit, all blank while the overlay is off. A cell without bit 7 or never written
    // is ' ', a code outside the controller's set '#'.
    std::vector<std::string> osd_text() const;

    // Stepped mode (BoardConfig::stepped). Each grants loop passes one at a time, each pass
    // followed by the launcher's standard error up to its end; false when the launcher does
    // not come to its next pass within `max_real` of real time (it ended, or hangs).
    // One pass:
    bool step(Millis max_real = STEP_MAX_REAL);
    // `n` passes (0: none, once the launcher has come to its next sleep between passes):
    bool run_passes(int n, Millis max_real = STEP_MAX_REAL);
    // Passes until the virtual clock has moved on by `span`:
    bool run_for(Millis span, Millis max_real = STEP_MAX_REAL);
    // Passes until `done` holds (tried before the first), at most `max_virtual` of the
    // virtual clock:
    bool run_until(const std::function<bool()>& done, Millis max_virtual,
                   Millis max_real = STEP_MAX_REAL);
    // Sleeps between passes the launcher has come to, and its clock, in ms.
    uint32_t passes() const { return state_->clock.reached.load(); }
    int64_t virtual_ms() const;
    static constexpr Millis STEP_MAX_REAL{20000};

    // The launcher's standard error, a line at a time, from line `from` on.
    std::vector<std::string> lines(size_t from = 0) const;
    size_t line_count() const;
    // Waits for a line containing `needle` at or after line `from`; its index, or nullopt.
    std::optional<size_t> wait_line(const std::string& needle, Millis timeout, size_t from = 0);
    // Returns the lines when the launcher has been quiet for `quiet`, at most `timeout`.
    std::vector<std::string> settle(Millis quiet, Millis timeout);

    // The launcher process: its pid on the host, waited for while it starts; -1 once it ended.
    pid_t launcher_host_pid(Millis timeout = Millis(5000));
    void signal_launcher(int sig);
    // A signal to the process group `ns_pgid` of the board (an app's: the launcher starts
    // each in a session of its own), whose leader is `host_pid` on this machine.
    void signal_group(pid_t ns_pgid, pid_t host_pid, int sig);
    // Its wait status once init has collected it.
    std::optional<int> wait_exit(Millis timeout);

    // The user the service and the launcher run as: 0, or a user of this board alone.
    uid_t launcher_uid() const { return uid_; }
    // Lets the launcher's user have at most `max` processes (RLIMIT_NPROC of the launcher),
    // so that its next fork fails with EAGAIN; nullopt lifts the limit. Binds only an
    // unprivileged launcher.
    void limit_processes(std::optional<uint64_t> max);

    // Called with every board as it is taken down, once the launcher's standard error has
    // been read to its end: a test fixture looks there for sanitizer reports.
    static void set_stop_hook(std::function<void(const Board&)> hook);

    std::vector<SandboxProcess> processes() const;
    // Waits in real time until the sandbox's process `ns_pid` has ended (gone, or a zombie
    // its parent has yet to collect). An app runs in real time while a stepped launcher
    // waits for its passes: this is how long to let the app run before granting them.
    bool wait_ended(pid_t ns_pid, Millis timeout);
    // The apps the launcher started, the last APP_RUN_SLOTS of them, oldest first; the latest
    // with pid `ns_pid`.
    std::vector<AppEnd> app_ends() const;
    std::optional<AppEnd> app_end(pid_t ns_pid) const;
    // The state letter of the goggles' service stand-in (R, S, T for stopped...), or 0.
    char service_state() const;
    // The sandbox's CLOCK_MONOTONIC in ms (shifted when seconds_before_wrap is set).
    int64_t sandbox_monotonic_ms() const;
    // A path inside the sandbox, as the host reaches it.
    std::string sandbox_path(const std::string& path) const;
    BoardState& state() { return *state_; }
    const BoardState& state() const { return *state_; }
    const BoardConfig& config() const { return config_; }
    const std::string& workdir() const { return work_; }
    Target target() const { return target_; }
    // The emulated goggles' machine, or nullptr on the fast board.
    vxgoggles::GogglesMachine* goggles() const { return goggles_.get(); }

  private:
    // The state file and the files behind the devices, in the work directory (board_files.cpp).
    void make_files();
    void make_recordings();
    // The command that makes the sandbox and starts init in it, which reports its pid on
    // `info_fd` (sandbox_command.cpp).
    std::vector<std::string> sandbox_command(const Artefacts& art, int info_fd);
    // Runs the command with the launcher's standard error on a pipe; waits for init's pid.
    void launch(std::vector<std::string> command, int info[2]);
    // Boots the emulated goggles instead of the sandbox (goggles_board.cpp).
    void start_goggles();
    void read_stderr();
    bool take_stderr_locked();
    bool wait_parked(std::chrono::steady_clock::time_point deadline);
    pid_t host_pid_of(pid_t ns_pid) const;

    BoardConfig config_;
    Target target_;
    std::string work_;
    BoardState* state_ = nullptr;
    uint32_t* fb_ = nullptr;
    pid_t bwrap_pid_ = -1;
    int64_t clock_offset_s_ = 0;
    pid_t init_host_pid_ = -1;
    int err_fd_ = -1;
    std::thread reader_;
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::vector<std::string> lines_;
    std::string partial_;
    bool eof_ = false;
    uid_t uid_ = 0;
    std::unique_ptr<vxgoggles::GogglesMachine> goggles_;
};

// Makes an app directory entry: `name`/app with `script` (mode `mode`) and, unless empty,
// `name`/manifest.
void make_app(const std::string& apps_dir, const std::string& name, const std::string& script,
              const std::string& manifest = "", unsigned mode = 0755);

} // namespace vxboard
