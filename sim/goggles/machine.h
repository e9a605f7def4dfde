#pragma once
// The emulated goggles: qemu running the guest (sim/guest) with the release installed, and the
// board's side of it: the device relay answered from the models on the board state, the ADC
// played in the guest's RAM, the framebuffer's page on screen copied from the guest's RAM
// into the board's framebuffer at each pan, the guest's /tmp files mirrored, its processes,
// and pictures of qemu's display.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "board/board.h"
#include "board_state.h"
#include "goggles/agent_link.h"
#include "goggles/app_ledger.h"
#include "goggles/guest_memory.h"
#include "goggles/relay_answer.h"

namespace vxgoggles {

class Qmp;

// What the board builds and brings: the guest (tools/goggles/build-image.sh) and the release
// archive (tools/release.sh), with its .sha256 beside it.
struct GogglesArtefacts {
    std::string kernel, initramfs, release_archive;
};
GogglesArtefacts goggles_artefacts();

struct GogglesSetup {
    std::string work;       // the board's work directory: sockets, the console's log
    std::string tmp_mirror; // where the guest's followed /tmp files are mirrored
    std::string apps_dir;   // installed in place of the release's apps ("": theirs)
    vxboard::BoardState* state;
    uint32_t* fb;    // the board's framebuffer memory...
    size_t fb_bytes; // ...and its size
    int log_fd;      // the launcher's log goes here, as it grows; closed at the machine's end
    // Recordings on the goggles' storage, made in the guest as the DVR leaves them.
    std::vector<vxboard::BoardConfig::Recording> recordings;
};

class GogglesMachine {
  public:
    GogglesMachine(const GogglesSetup& setup, const GogglesArtefacts& artefacts);
    ~GogglesMachine();
    GogglesMachine(const GogglesMachine&) = delete;
    GogglesMachine& operator=(const GogglesMachine&) = delete;

    // The button line's level, put in the ADC page's sample register.
    void set_adc_level(uint32_t raw);
    std::vector<GuestProcess> processes() const;
    // Waits until the agent has sent what the followed files hold now (the launcher's log,
    // the apps' logs): false when it did not answer within `timeout`.
    bool sync_files(std::chrono::milliseconds timeout);
    // The launcher's pid in the guest, from the pid file its start-up script writes; 0 before.
    pid_t launcher_pid() const;
    // Whether the guest told the end of a process of this pid (the agent tells each at once,
    // its process list only every half second).
    bool ended(pid_t pid) const { return ledger_.ended(pid); }
    // Between two runs on one boot. Ends every process of the last run (the launcher, its
    // watchdog, the apps, the service); false when some did not end.
    bool halt_run();
    // Then, on a board state made afresh: the next run's apps (those of `apps_dir`, or the
    // release's own when it is "") and recordings put in place, the display back on the
    // goggles' page, the service and the launcher started. Throws when the guest could not.
    void start_run(const std::string& apps_dir,
                   const std::vector<vxboard::BoardConfig::Recording>& recordings);
    // A signal to a process (a negative pid: a group) in the guest, sent by the agent.
    void signal(pid_t pid, int sig);
    // qemu's display into a PPM file.
    bool screendump(const std::string& ppm_path);
    pid_t qemu_pid() const { return qemu_pid_; }
    // Whether qemu still runs.
    bool running() const;
    std::string console_path() const { return setup_.work + "/console.log"; }

  private:
    void start_qemu(const std::vector<std::string>& command);
    void accept_all();
    void serve_relay(int fd);
    void read_agent(int fd);
    void watch();
    void on_pan(uint32_t x, uint32_t y);
    void on_file(const std::string& path, uint64_t offset, const std::string& bytes);
    void on_truncate(const std::string& path, uint64_t size);
    void on_processes();
    void on_exit(pid_t pid, int wait_status, int exec_errno);
    bool copy_page(uint32_t yoffset, bool only_if_changed);
    std::string mirror_of(const std::string& guest_path) const;

    GogglesSetup setup_;
    std::string ram_file_;
    pid_t qemu_pid_ = -1;
    int listeners_[4] = {-1, -1, -1, -1};
    int agent_fd_ = -1, i2c_fd_ = -1, pwm_fd_ = -1;
    std::unique_ptr<Qmp> qmp_;
    std::mutex qmp_mu_, agent_write_mu_, page_mu_;
    std::unique_ptr<GuestMemory> memory_;
    AgentLink agent_;
    AppLedger ledger_;
    std::string log_pending_; // the launcher's log after its last whole line
    std::mutex sync_mu_;
    std::condition_variable synced_cv_;
    uint64_t asked_ = 0;
    std::map<uint64_t, int> replies_; // the agent's answers to the board's numbered commands
    // Sends `command N` and waits for the agent's answer; nullopt when none came in time.
    std::optional<int> ask(const std::string& command, std::chrono::milliseconds timeout);
    void put_file(const std::string& guest_path, const std::string& bytes, unsigned mode);
    void apply_fb();
    std::vector<uint32_t> page_; // a page's worth, for comparing
    std::atomic<bool> quit_{false};
    std::atomic<uint32_t> level_{0};
    std::vector<std::thread> threads_;
};

} // namespace vxgoggles
