#include "goggles/machine.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/paths.h"
#include "base/version.h"
#include "board/errors.h"
#include "board_paths.h"
#include "devices/adc_line.h"
#include "devices/relay.h"
#include "devices/screen_record.h"
#include "goggles/cpio.h"
#include "goggles/qemu_command.h"
#include "goggles/qmp.h"
#include "hw/keys.h"

namespace fs = std::filesystem;

namespace vxgoggles {

namespace {

using Clock = std::chrono::steady_clock;
using vxdevices::read_all;
using vxdevices::write_all;

// qemu connects to the board's sockets as it starts, before the guest runs.
constexpr std::chrono::seconds CONNECT_TIMEOUT(20);
// The ADC's sampling register is written at every sample the launcher (or an app) takes:
// the board clears it and counts the samples that write it again, as the goggles' service
// sets the shared converter up its own way between the launcher's samples. It looks this
// often, well inside the 9 ms a sample with a button down takes.
constexpr std::chrono::milliseconds ADC_WATCH(2);
// An app may draw into the page on screen without a pan: the board compares the page this
// often (the launcher itself always pans).
constexpr int PAGE_CHECK_EVERY = 125; // ADC_WATCH periods: 250 ms
// How long after a press or a release the agent looks for pans often: past the 3 s hold
// that closes the menu, with its last pictures.
constexpr int AGENT_BUSY_MS = 5000;
constexpr char LAUNCHER_LOG[] = "/tmp/vornax-launcher.log";
constexpr char LAUNCHER_PID[] = "/tmp/vornax-launcher.pid";
constexpr char RAM_TEMPLATE[] = "/dev/shm/vx-goggles-XXXXXX";
// Between two runs on one boot: where the next run's files go in the guest, in lines of
// this many bytes, and how long the agent may take to end a run or start the next.
constexpr char NEXT_RUN_DIR[] = "/release/next/";
constexpr size_t PUT_CHUNK = 32768;
constexpr std::chrono::seconds RUN_COMMAND_TIMEOUT(20);
constexpr std::chrono::seconds AGENT_SEND_LIMIT(20);
enum Listener { AGENT, I2C, PWM, QMP, LISTENERS };
constexpr const char* SOCKET_NAMES[LISTENERS] = {"agent.sock", "i2c.sock", "pwm.sock", "qmp.sock"};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int listen_at(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        throw std::runtime_error("socket path too long: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, 1) != 0)
        vxboard::throw_errno("listen " + path);
    return fd;
}

uint64_t monotonic_ms() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

// The release archive and its checksum under release/, and an app directory's entries under
// release/apps/, as the guest's start-up finds them.
// The board's recordings as lines NAME BYTES SECONDS under release/recordings, which the
// guest's start-up makes on its storage.
std::string release_cpio(const GogglesArtefacts& a, const std::string& apps_dir,
                         const std::vector<vxboard::BoardConfig::Recording>& recordings) {
    std::vector<CpioEntry> entries = {{"release", S_IFDIR | 0755, {}}};
    const std::string name = fs::path(a.release_archive).filename();
    entries.push_back({"release/" + name, S_IFREG | 0644, read_file(a.release_archive)});
    entries.push_back(
        {"release/" + name + ".sha256", S_IFREG | 0644, read_file(a.release_archive + ".sha256")});
    if (!apps_dir.empty()) {
        entries.push_back({"release/apps", S_IFDIR | 0755, {}});
        for (const auto& e : fs::recursive_directory_iterator(apps_dir)) {
            const std::string rel = "release/apps/" + fs::relative(e.path(), apps_dir).string();
            const auto perms = static_cast<unsigned>(e.status().permissions()) & 07777;
            if (e.is_directory())
                entries.push_back({rel, S_IFDIR | perms, {}});
            else if (e.is_regular_file())
                entries.push_back({rel, S_IFREG | perms, read_file(e.path())});
        }
    }
    if (!recordings.empty()) {
        std::string list;
        for (const vxboard::BoardConfig::Recording& r : recordings)
            list += r.name + " " + std::to_string(r.bytes) + " " + std::to_string(r.written) + "\n";
        entries.push_back({"release/recordings", S_IFREG | 0644, list});
    }
    return cpio_newc(entries);
}

} // namespace

GogglesArtefacts goggles_artefacts() {
    const std::string release =
        std::string(VX_RELEASE_DIR) + "/vornax-launcher-" + VERSION + "-armhf.tar.gz";
    return {std::string(VX_GOGGLES_DIR) + "/vmlinuz", std::string(VX_GOGGLES_DIR) + "/guest.cpio",
            release};
}

GogglesMachine::GogglesMachine(const GogglesSetup& setup, const GogglesArtefacts& a)
    : setup_(setup),
      agent_(AgentEvents{
          [this] { apply_fb(); }, [this](uint32_t x, uint32_t y) { on_pan(x, y); },
          [this](const std::string& p, uint64_t o, const std::string& b) { on_file(p, o, b); },
          [this](const std::string& p, uint64_t s) { on_truncate(p, s); },
          [this] { on_processes(); },
          [this](pid_t pid, int status, int err) { on_exit(pid, status, err); },
          [this](uint64_t n) {
              {
                  std::lock_guard<std::mutex> lock(sync_mu_);
                  replies_[n] = 0;
              }
              synced_cv_.notify_all();
          },
          [this](uint64_t n, int status) {
              {
                  std::lock_guard<std::mutex> lock(sync_mu_);
                  replies_[n] = status;
              }
              synced_cv_.notify_all();
          }}),
      ledger_(setup.state->apps) {
    for (const std::string& f : {a.kernel, a.initramfs, a.release_archive})
        if (!fs::exists(f))
            throw std::runtime_error(f + " is missing (tools/goggles/build-image.sh builds the "
                                         "guest, tools/release.sh the release)");
    for (int i = 0; i < LISTENERS; ++i)
        listeners_[i] = listen_at(setup_.work + "/" + SOCKET_NAMES[i]);
    const std::string initrd = setup_.work + "/boot.cpio";
    std::ofstream(initrd, std::ios::binary)
        << read_file(a.initramfs) << release_cpio(a, setup_.apps_dir, setup_.recordings);
    char ram[sizeof RAM_TEMPLATE];
    std::memcpy(ram, RAM_TEMPLATE, sizeof ram);
    const int ram_fd = mkstemp(ram);
    if (ram_fd < 0) vxboard::throw_errno("mkstemp");
    ram_file_ = ram;
    const int sized = ftruncate(ram_fd, static_cast<off_t>(GUEST_RAM_BYTES));
    close(ram_fd);
    if (sized != 0) vxboard::throw_errno("truncate " + ram_file_);
    memory_ = std::make_unique<GuestMemory>(ram_file_);
    QemuFiles files{a.kernel, initrd, ram_file_, console_path(), "", "", "", ""};
    files.agent_socket = setup_.work + "/" + SOCKET_NAMES[AGENT];
    files.i2c_socket = setup_.work + "/" + SOCKET_NAMES[I2C];
    files.pwm_socket = setup_.work + "/" + SOCKET_NAMES[PWM];
    files.qmp_socket = setup_.work + "/" + SOCKET_NAMES[QMP];
    start_qemu(qemu_command(files));
    accept_all();
    threads_.emplace_back([this] { serve_relay(i2c_fd_); });
    threads_.emplace_back([this] { serve_relay(pwm_fd_); });
    threads_.emplace_back([this] { read_agent(agent_fd_); });
    threads_.emplace_back([this] { watch(); });
}

GogglesMachine::~GogglesMachine() {
    quit_ = true;
    if (qemu_pid_ > 0) {
        kill(qemu_pid_, SIGKILL);
        int status;
        while (waitpid(qemu_pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (int fd : {agent_fd_, i2c_fd_, pwm_fd_})
        if (fd >= 0) shutdown(fd, SHUT_RDWR);
    for (std::thread& t : threads_)
        t.join();
    qmp_.reset();
    for (int fd : {agent_fd_, i2c_fd_, pwm_fd_})
        if (fd >= 0) close(fd);
    for (int fd : listeners_)
        if (fd >= 0) close(fd);
    if (!ram_file_.empty()) unlink(ram_file_.c_str());
    close(setup_.log_fd);
}

void GogglesMachine::start_qemu(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& s : command)
        argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    const std::string log = setup_.work + "/qemu.log";
    qemu_pid_ = fork();
    if (qemu_pid_ < 0) vxboard::throw_errno("fork");
    if (qemu_pid_ == 0) {
        // qemu goes with the board, however the board ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
}

void GogglesMachine::accept_all() {
    int* fds[LISTENERS] = {&agent_fd_, &i2c_fd_, &pwm_fd_, nullptr};
    int qmp_fd = -1;
    fds[QMP] = &qmp_fd;
    const auto end = Clock::now() + CONNECT_TIMEOUT;
    for (int left = LISTENERS; left > 0;) {
        pollfd p[LISTENERS];
        for (int i = 0; i < LISTENERS; ++i)
            p[i] = {*fds[i] < 0 ? listeners_[i] : -1, POLLIN, 0};
        if (Clock::now() >= end || !running())
            throw std::runtime_error("qemu did not connect to the board (" + setup_.work +
                                     "/qemu.log): " + read_file(setup_.work + "/qemu.log"));
        if (poll(p, LISTENERS, 100) <= 0) continue;
        for (int i = 0; i < LISTENERS; ++i)
            if (p[i].revents & POLLIN) {
                *fds[i] = accept4(listeners_[i], nullptr, nullptr, SOCK_CLOEXEC);
                if (*fds[i] >= 0) --left;
            }
    }
    qmp_ = std::make_unique<Qmp>(qmp_fd);
    // A guest whose agent no longer reads fails the board's next command rather than
    // hanging it.
    const timeval send_limit{static_cast<time_t>(AGENT_SEND_LIMIT.count()), 0};
    setsockopt(agent_fd_, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
}

bool GogglesMachine::running() const {
    return qemu_pid_ > 0 && waitpid(qemu_pid_, nullptr, WNOHANG) == 0;
}

void GogglesMachine::serve_relay(int fd) {
    I2cSessions sessions;
    std::vector<uint8_t> bytes;
    for (;;) {
        vxdevices::RelayRequest req{};
        if (!read_all(fd, &req, sizeof req) || req.magic != vxdevices::RELAY_MAGIC ||
            req.len > vxdevices::RELAY_MAX_BYTES)
            return;
        bytes.resize(req.len);
        if (req.len > 0 && !read_all(fd, bytes.data(), req.len)) return;
        const vxdevices::RelayReply reply =
            relay_answer(*setup_.state, sessions, req, bytes, monotonic_ms());
        if (!write_all(fd, &reply, sizeof reply) ||
            (!bytes.empty() && !write_all(fd, bytes.data(), bytes.size())))
            return;
    }
}

void GogglesMachine::read_agent(int fd) {
    std::string pending;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        pending.append(buf, static_cast<size_t>(n));
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
            agent_.take(pending.substr(0, nl));
    }
}

void GogglesMachine::watch() {
    volatile uint32_t* page = memory_->adc_page();
    volatile uint32_t& marker = page[ADC_REG_CTRL3 / sizeof(uint32_t)];
    for (int tick = 0; !quit_; ++tick) {
        if (marker != 0) {
            marker = 0;
            setup_.state->adc.reads.fetch_add(1);
        }
        if (tick % PAGE_CHECK_EVERY == 0) {
            std::lock_guard<std::mutex> lock(page_mu_);
            if (copy_page(setup_.state->fb.yoffset.load(), true))
                vxdevices::screen_changed(*setup_.state);
        }
        std::this_thread::sleep_for(ADC_WATCH);
    }
}

void GogglesMachine::set_adc_level(uint32_t raw) {
    volatile uint32_t* page = memory_->adc_page();
    vxdevices::adc_sample_register(page) = vxdevices::adc_conversion(raw, true);
    // Samples counted from here on read the new level.
    page[ADC_REG_CTRL3 / sizeof(uint32_t)] = 0;
    level_ = raw;
    // The pictures that follow a button come soon after it: the agent looks often meanwhile.
    const std::string line = "busy " + std::to_string(AGENT_BUSY_MS) + "\n";
    std::lock_guard<std::mutex> lock(agent_write_mu_);
    write_all(agent_fd_, line.data(), line.size());
}

// The page at `yoffset` from the guest's framebuffer into the board's; with `only_if_changed`
// copied (and true) only when it differs from what the board has.
bool GogglesMachine::copy_page(uint32_t yoffset, bool only_if_changed) {
    const GuestFb fb = agent_.fb();
    const std::vector<PageRun> runs = agent_.fb_pages();
    if (runs.empty() || fb.line_length == 0) return false;
    const size_t offset = static_cast<size_t>(yoffset) * fb.line_length;
    const size_t len = static_cast<size_t>(fb.yres) * fb.line_length;
    if (offset + len > setup_.fb_bytes) return false;
    page_.resize(len / sizeof(uint32_t));
    if (!memory_->read_scattered(runs, offset, page_.data(), len)) return false;
    uint8_t* board = reinterpret_cast<uint8_t*>(setup_.fb) + offset;
    if (only_if_changed && std::memcmp(board, page_.data(), len) == 0) return false;
    std::memcpy(board, page_.data(), len);
    return true;
}

void GogglesMachine::on_pan(uint32_t x, uint32_t y) {
    std::lock_guard<std::mutex> lock(page_mu_);
    copy_page(y, false);
    vxboard::FbDevice& d = setup_.state->fb;
    d.xoffset = x;
    d.yoffset = y;
    d.pans.fetch_add(1);
    vxdevices::screen_changed(*setup_.state);
}

std::string GogglesMachine::mirror_of(const std::string& guest_path) const {
    const std::string tmp = "/tmp/";
    if (guest_path.compare(0, tmp.size(), tmp) != 0 || guest_path.find("..") != std::string::npos)
        return {};
    return setup_.tmp_mirror + guest_path.substr(tmp.size() - 1);
}

void GogglesMachine::on_file(const std::string& path, uint64_t offset, const std::string& bytes) {
    if (path == LAUNCHER_LOG) {
        write_all(setup_.log_fd, bytes.data(), bytes.size());
        log_pending_ += bytes;
        for (size_t nl; (nl = log_pending_.find('\n')) != std::string::npos;
             log_pending_.erase(0, nl + 1))
            ledger_.log_line(log_pending_.substr(0, nl + 1));
    }
    const std::string mirror = mirror_of(path);
    if (mirror.empty()) return;
    fs::create_directories(fs::path(mirror).parent_path());
    const int fd = open(mirror.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const bool written = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                         static_cast<ssize_t>(bytes.size());
    close(fd);
    if (written && path == LAUNCHER_PID)
        setup_.state->launcher.ns_pid.store(std::atoi(read_file(mirror).c_str()));
}

// The launcher has ended once the pid its start-up script wrote is no process any more. How it
// ended stays the guest's init's to know.
void GogglesMachine::on_processes() {
    const pid_t launcher = setup_.state->launcher.ns_pid.load();
    if (launcher <= 0) return;
    for (const GuestProcess& p : agent_.processes())
        if (p.pid == launcher && p.state != 'Z') return;
    setup_.state->launcher.exited.store(1);
}

void GogglesMachine::on_exit(pid_t pid, int wait_status, int exec_errno) {
    ledger_.exited(pid, wait_status, exec_errno);
    if (pid != setup_.state->launcher.ns_pid.load()) return;
    setup_.state->launcher.wait_status.store(wait_status);
    setup_.state->launcher.exited.store(1);
}

void GogglesMachine::on_truncate(const std::string& path, uint64_t size) {
    const std::string mirror = mirror_of(path);
    if (!mirror.empty()) truncate(mirror.c_str(), static_cast<off_t>(size));
}

std::vector<GuestProcess> GogglesMachine::processes() const {
    return agent_.processes();
}

pid_t GogglesMachine::launcher_pid() const {
    return static_cast<pid_t>(std::atoi(read_file(mirror_of(LAUNCHER_PID)).c_str()));
}

std::optional<int> GogglesMachine::ask(const std::string& command,
                                       std::chrono::milliseconds timeout) {
    uint64_t n;
    {
        std::lock_guard<std::mutex> lock(sync_mu_);
        n = ++asked_;
    }
    const std::string line = command + " " + std::to_string(n) + "\n";
    {
        std::lock_guard<std::mutex> lock(agent_write_mu_);
        if (!write_all(agent_fd_, line.data(), line.size())) return std::nullopt;
    }
    std::unique_lock<std::mutex> lock(sync_mu_);
    if (!synced_cv_.wait_for(lock, timeout, [&] { return replies_.count(n) != 0; }))
        return std::nullopt;
    const int status = replies_[n];
    replies_.erase(n);
    return status;
}

bool GogglesMachine::sync_files(std::chrono::milliseconds timeout) {
    return ask("sync", timeout).has_value();
}

bool GogglesMachine::halt_run() {
    const std::optional<int> status = ask("halt", RUN_COMMAND_TIMEOUT);
    return status && *status == 0;
}

void GogglesMachine::put_file(const std::string& guest_path, const std::string& bytes,
                              unsigned mode) {
    static const char HEX[] = "0123456789abcdef";
    size_t at = 0;
    do {
        const size_t n = std::min(PUT_CHUNK, bytes.size() - at);
        std::ostringstream head;
        head << "put " << guest_path << " " << at << " " << std::oct << mode << " ";
        std::string line = head.str();
        line.reserve(line.size() + 2 * n + 1);
        for (size_t i = at; i < at + n; ++i) {
            line += HEX[static_cast<uint8_t>(bytes[i]) >> 4];
            line += HEX[static_cast<uint8_t>(bytes[i]) & 0xF];
        }
        line += "\n";
        std::lock_guard<std::mutex> lock(agent_write_mu_);
        if (!write_all(agent_fd_, line.data(), line.size()))
            throw std::runtime_error("the emulated goggles' agent is gone");
        at += n;
    } while (at < bytes.size());
}

void GogglesMachine::start_run(const std::string& apps_dir,
                               const std::vector<vxboard::BoardConfig::Recording>& recordings) {
    // What the board knew of the last run's processes and files goes with it.
    ledger_.reset();
    log_pending_.clear();
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(setup_.tmp_mirror, ec))
        fs::remove_all(e.path(), ec);
    apply_fb();
    if (!apps_dir.empty())
        for (const auto& e : fs::recursive_directory_iterator(apps_dir))
            if (e.is_regular_file())
                put_file(
                    std::string(NEXT_RUN_DIR) + "apps/" + fs::relative(e.path(), apps_dir).string(),
                    read_file(e.path()), static_cast<unsigned>(e.status().permissions()) & 07777);
    if (!recordings.empty()) {
        std::string list;
        for (const vxboard::BoardConfig::Recording& r : recordings)
            list += r.name + " " + std::to_string(r.bytes) + " " + std::to_string(r.written) + "\n";
        put_file(std::string(NEXT_RUN_DIR) + "recordings", list, 0644);
    }
    const std::optional<int> status = ask("start", RUN_COMMAND_TIMEOUT);
    if (!status) throw std::runtime_error("the emulated goggles' agent did not start the next run");
    if (*status != 0)
        throw std::runtime_error("the emulated goggles' next run did not start (status " +
                                 std::to_string(*status) + ", " + console_path() + ")");
}

// The framebuffer's geometry as the agent reported it, into the board state.
void GogglesMachine::apply_fb() {
    const GuestFb fb = agent_.fb();
    if (fb.line_length == 0) return;
    vxboard::FbDevice& d = setup_.state->fb;
    d.xres = fb.xres, d.yres = fb.yres, d.xres_virtual = fb.xres_virtual;
    d.yres_virtual = fb.yres_virtual, d.line_length = fb.line_length;
    on_pan(0, 0);
}

void GogglesMachine::signal(pid_t pid, int sig) {
    const std::string line = "kill " + std::to_string(pid) + " " + std::to_string(sig) + "\n";
    std::lock_guard<std::mutex> lock(agent_write_mu_);
    write_all(agent_fd_, line.data(), line.size());
}

bool GogglesMachine::screendump(const std::string& ppm_path) {
    std::lock_guard<std::mutex> lock(qmp_mu_);
    return qmp_ && qmp_->screendump(ppm_path);
}

} // namespace vxgoggles
