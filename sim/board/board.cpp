#include "board/board.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/futex.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "board_paths.h"
#include "hw/keys.h"
#include "hw/osd.h"
#include "png/png_io.h"
#include "video/standin.h"

namespace fs = std::filesystem;

namespace vxboard {

namespace {

constexpr const char* SANDBOX_APPS_DIR = "/record/vorna-x/apps";
constexpr const char* ARM_SYSROOT = "/usr/arm-linux-gnueabihf";
constexpr const char* SANDBOX_BIN_DIR = "/opt/vx-board/";
constexpr Millis RELEASE_SETTLE(160);
// Samples the launcher's debouncer takes to see a new level: the third in a row decides.
constexpr int DEBOUNCE_PASSES = 3;
// How often a wait for the launcher's next pass looks again without being woken.
constexpr auto PARK_RECHECK = std::chrono::milliseconds(5);
// ADC counts at the centre of each button's band, indexed by key code (1020 counts = 1.8 V).
constexpr uint32_t KEY_CENTRE_MV[8] = {800, 1600, 1000, 1200, 1400, 1800, 400, 600};

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

std::string env_or(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

void* map_file(const std::string& path, uint64_t size, uint64_t offset, uint64_t len) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) fail("open " + path);
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) fail("truncate " + path);
    void* p =
        mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(offset));
    close(fd);
    if (p == MAP_FAILED) fail("mmap " + path);
    return p;
}

std::string read_small(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string ns_link(pid_t pid) {
    char buf[128];
    const std::string link = "/proc/" + std::to_string(pid) + "/ns/pid";
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

// The last NSpid field (the pid inside the innermost namespace), or -1.
// The last number of a status line listing an id in each nested PID namespace ("NSpid:",
// "NSpgid:"): the id inside the sandbox.
pid_t innermost_id(const std::string& status, const std::string& key) {
    const auto at = status.find(key);
    if (at == std::string::npos) return -1;
    const auto from = at + key.size();
    std::istringstream line(status.substr(from, status.find('\n', at) - from));
    pid_t last = -1;
    for (pid_t v; line >> v;)
        last = v;
    return last;
}

std::mutex g_hook_mu;
std::function<void(const Board&)> g_stop_hook;

// A user no other process on the machine has, one per board: a process limit counts every
// process of the user.
uid_t fresh_uid() {
    static std::atomic<uint32_t> boards{0};
    return static_cast<uid_t>(0x40000000u + ((static_cast<uint32_t>(getpid()) & 0xFFFFFu) << 8) +
                              (boards.fetch_add(1) & 0xFFu));
}

void give_to(const std::string& path, uid_t uid) {
    if (lchown(path.c_str(), uid, uid) != 0) fail("chown " + path);
}

// Root file system of the sandbox: the host's system directories read-only, merged-/usr
// links kept as links.
void add_system_dirs(std::vector<std::string>& a) {
    for (const char* dir : {"/usr", "/etc", "/bin", "/sbin", "/lib", "/lib32", "/lib64"}) {
        struct stat st {};
        if (lstat(dir, &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            a.insert(a.end(), {"--symlink", fs::read_symlink(dir).string(), dir});
        } else {
            a.insert(a.end(), {"--ro-bind", dir, dir});
        }
    }
}

} // namespace

Target target_from_env() {
    const std::string t = env_or("VX_TARGET", "host");
    if (t == "armhf") return Target::Arm;
    if (t == "armhf-static") return Target::ArmStatic;
    return Target::Host;
}

Artefacts artefacts_for(Target target) {
    Artefacts a;
    a.init = VX_BOARD_INIT_PATH;
    if (target == Target::Host) {
        a.launcher = env_or("VX_LAUNCHER", VX_HOST_LAUNCHER_PATH);
        a.preload = env_or("VX_PRELOAD", VX_HOST_PRELOAD_PATH);
        return a;
    }
    const std::string dir = env_or("VX_ARMHF_DIR", VX_ARMHF_BUILD_DIR);
    a.emulator = {"qemu-arm", "-L", ARM_SYSROOT};
    if (target == Target::Arm) {
        a.launcher = dir + "/src/vornax-launcher-dyn";
        a.preload = dir + "/sim/libvx-preload.so";
        a.emulator.insert(a.emulator.end(), {"-E", std::string("LD_PRELOAD=") + SANDBOX_BIN_DIR +
                                                       "libvx-preload.so"});
    } else {
        a.launcher = dir + "/src/vornax-launcher";
    }
    return a;
}

uint32_t Board::raw_for_key(int key_code) {
    if (key_code < 0 || key_code > 7) return 0;
    // Round up so that the launcher's truncating conversion lands on the centre.
    return (KEY_CENTRE_MV[key_code] * 1020 + 1799) / 1800;
}

Board::Board(BoardConfig config)
    : config_(std::move(config)), target_(config_.target.value_or(target_from_env())) {}

Board::~Board() {
    stop();
}

void Board::start() {
    char tmpl[] = "/tmp/vx-board-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) fail("mkdtemp");
    work_ = tmpl;
    fs::create_directories(work_ + "/tmp");

    state_ = static_cast<BoardState*>(
        map_file(work_ + "/state", BOARD_STATE_BYTES, 0, BOARD_STATE_BYTES));
    std::memset(static_cast<void*>(state_), 0, sizeof(BoardState));
    state_->version = BOARD_VERSION;
    state_->magic = BOARD_MAGIC;

    // The ADC page's registers belong to the launcher and the preload library in its process:
    // the board only makes the file, sparse up to the page.
    munmap(map_file(work_ + "/mem", ADC_PAGE_PHYS + ADC_MAP_BYTES, ADC_PAGE_PHYS, ADC_MAP_BYTES),
           ADC_MAP_BYTES);

    FbDevice& fb = state_->fb;
    fb.line_length = config_.fb_line_length;
    fb.xres = 1920;
    fb.yres = 1080;
    fb.xres_virtual = 1920;
    fb.yres_virtual = config_.fb_yres_virtual;
    fb.yoffset = config_.fb_yoffset;
    fb.bits_per_pixel = 32;
    fb.smem_len = config_.fb_smem_len;
    fb_ = static_cast<uint32_t*>(
        map_file(work_ + "/fb0", config_.fb_smem_len, 0, config_.fb_smem_len));
    std::ofstream(work_ + "/remote_i2c").flush();
    set_video_mode(config_.video_mode);
    state_->clock.stepped.store(config_.stepped ? 1 : 0);
    if (config_.before_launch) config_.before_launch(*state_);
    for (const auto& [rel, content] : config_.tmp_files) {
        const fs::path p = fs::path(work_) / "tmp" / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << content;
    }
    if (config_.unprivileged) {
        uid_ = fresh_uid();
        for (const char* f : {"/state", "/mem", "/fb0", "/remote_i2c", "/tmp"})
            give_to(work_ + f, uid_);
        for (const auto& e : fs::recursive_directory_iterator(work_ + "/tmp"))
            give_to(e.path().string(), uid_);
    }

    const Artefacts art = artefacts_for(target_);
    std::vector<std::string> a;
    if (config_.seconds_before_wrap > 0) {
        // Time namespaces shift the monotonic clock by whole seconds.
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long wrap_s = 2147483; // 2^31 ms, rounded down
        const long long offset = wrap_s - config_.seconds_before_wrap - now.tv_sec;
        clock_offset_s_ = offset;
        a = {"unshare", "--time", "--monotonic", std::to_string(offset), "--fork", "--kill-child"};
    }
    a.insert(a.end(),
             {"bwrap", "--die-with-parent", "--unshare-pid", "--as-pid-1", "--unshare-ipc",
              "--unshare-uts", "--clearenv", "--setenv", "PATH", "/usr/bin:/bin:/usr/sbin:/sbin"});
    add_system_dirs(a);
    // The build's pieces appear at fixed places, wherever the build tree is (under /tmp,
    // which the sandbox replaces, for one).
    const std::string launcher = SANDBOX_BIN_DIR + fs::path(art.launcher).filename().string();
    const std::string preload = SANDBOX_BIN_DIR + fs::path(art.preload).filename().string();
    const std::string init = SANDBOX_BIN_DIR + std::string("board-init");
    // Directories that bwrap makes for a mount point are root's alone: another user needs
    // them searchable.
    if (config_.unprivileged)
        a.insert(a.end(), {"--perms", "0755", "--dir", SANDBOX_BIN_DIR, "--perms", "0755", "--dir",
                           "/record", "--perms", "0755", "--dir", "/record/vorna-x"});
    a.insert(a.end(), {"--ro-bind", art.launcher, launcher, "--ro-bind", art.init, init});
    if (!art.preload.empty()) a.insert(a.end(), {"--ro-bind", art.preload, preload});
    a.insert(a.end(), {"--proc", "/proc", "--dev", "/dev", "--tmpfs", "/run", "--dir",
                       "/run/vx-board", "--bind", work_ + "/state", BOARD_STATE_PATH});
    if (config_.tmp_size_kb > 0) {
        if (config_.unprivileged) a.insert(a.end(), {"--perms", "01777"});
        a.insert(a.end(),
                 {"--size", std::to_string(config_.tmp_size_kb * 1024ull), "--tmpfs", "/tmp"});
    } else
        a.insert(a.end(), {"--bind", work_ + "/tmp", "/tmp"});
    if (config_.with_apps && !config_.apps_dir.empty())
        a.insert(a.end(), {"--bind", fs::absolute(config_.apps_dir).string(), SANDBOX_APPS_DIR});
    if (config_.with_mem) a.insert(a.end(), {"--bind", work_ + "/mem", "/dev/mem"});
    if (config_.with_fb) a.insert(a.end(), {"--bind", work_ + "/fb0", "/dev/fb0"});
    if (config_.with_i2c) a.insert(a.end(), {"--bind", work_ + "/remote_i2c", "/dev/remote_i2c"});

    int info[2], err[2];
    if (pipe2(info, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) fail("pipe");
    a.insert(a.end(), {"--info-fd", std::to_string(info[1]), "--chdir", "/", init});
    if (config_.with_service) a.push_back("--service");
    if (target_ == Target::Host) a.insert(a.end(), {"--preload", preload});
    if (uid_ != 0) a.insert(a.end(), {"--uid", std::to_string(uid_)});
    if (config_.subreaper) a.push_back("--subreaper");
    a.push_back("--");
    a.insert(a.end(), art.emulator.begin(), art.emulator.end());
    a.push_back(launcher);
    a.insert(a.end(), config_.args.begin(), config_.args.end());

    std::vector<char*> argv;
    for (std::string& s : a)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) fail("fork");
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(err[1], 2);
        fcntl(info[1], F_SETFD, 0);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    bwrap_pid_ = pid;
    close(info[1]);
    close(err[1]);
    err_fd_ = err[0];
    // Read by the reader thread and, at the end of every stepped pass, by the test's own:
    // never blocking, so that neither holds the lines while the pipe is empty.
    fcntl(err_fd_, F_SETFL, O_NONBLOCK);

    std::string json;
    char buf[256];
    for (ssize_t n; (n = read(info[0], buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        json.append(buf, static_cast<size_t>(n));
        if (json.find('}') != std::string::npos) break;
    }
    close(info[0]);
    const auto at = json.find("\"child-pid\":");
    if (at == std::string::npos) {
        stop();
        throw std::runtime_error("bwrap did not start the sandbox");
    }
    init_host_pid_ = std::atoi(json.c_str() + at + 12);
    reader_ = std::thread([this] { read_stderr(); });
}

void Board::stop() {
    const bool ran = bwrap_pid_ > 0;
    if (bwrap_pid_ > 0) {
        if (init_host_pid_ > 0) kill(init_host_pid_, SIGKILL);
        kill(bwrap_pid_, SIGKILL);
        int status;
        while (waitpid(bwrap_pid_, &status, 0) < 0 && errno == EINTR) {
        }
        bwrap_pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    if (err_fd_ >= 0) close(err_fd_), err_fd_ = -1;
    if (ran) {
        std::function<void(const Board&)> hook;
        {
            std::lock_guard<std::mutex> lock(g_hook_mu);
            hook = g_stop_hook;
        }
        if (hook) hook(*this);
    }
    if (fb_) munmap(fb_, config_.fb_smem_len), fb_ = nullptr;
    if (state_) munmap(state_, BOARD_STATE_BYTES), state_ = nullptr;
    if (!work_.empty()) {
        std::error_code ec;
        fs::remove_all(work_, ec);
        work_.clear();
    }
}

void Board::read_stderr() {
    pollfd p{err_fd_, POLLIN, 0};
    for (;;) {
        if (poll(&p, 1, -1) < 0 && errno != EINTR) return;
        std::lock_guard<std::mutex> lock(mu_);
        if (!take_stderr_locked()) return;
    }
}

// Takes whatever the pipe holds into the lines; false once it has reached its end.
bool Board::take_stderr_locked() {
    if (eof_) return false;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(err_fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            cv_.notify_all();
            return true;
        }
        if (n <= 0) {
            if (!partial_.empty()) lines_.push_back(partial_), partial_.clear();
            eof_ = true;
            cv_.notify_all();
            return false;
        }
        partial_.append(buf, static_cast<size_t>(n));
        for (size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, nl + 1));
            partial_.erase(0, nl + 1);
        }
    }
}

void Board::set_adc_raw(uint32_t raw) {
    state_->adc.raw.store(raw);
}
void Board::press(int key_code) {
    set_adc_raw(raw_for_key(key_code));
}
void Board::release() {
    set_adc_raw(0);
}
void Board::tap(int key_code, Millis held) {
    press(key_code);
    if (config_.stepped) {
        const bool held_through = run_for(held);
        release();
        if (!held_through || !run_passes(DEBOUNCE_PASSES))
            throw std::runtime_error("the launcher stopped passing during a tap");
        return;
    }
    std::this_thread::sleep_for(held);
    release();
    // The launcher needs three idle samples to see the release: a press that followed at
    // once would merge with this one.
    std::this_thread::sleep_for(RELEASE_SETTLE);
}

void Board::set_lt8668(uint8_t b7, uint8_t ad, uint8_t ac) {
    state_->i2c.lt8668_regs[0xB7] = b7;
    state_->i2c.lt8668_regs[0xAD] = ad;
    state_->i2c.lt8668_regs[0xAC] = ac;
}

void Board::set_video_mode(int mode) {
    switch (mode) {
    case 1:
        set_lt8668(1, 0, 0);
        break;
    case 2:
        set_lt8668(2, 0, 0);
        break;
    case 3:
        set_lt8668(2, 2, 1);
        break;
    default:
        set_lt8668(0, 0, 0);
        break;
    }
}

// The registers as the launcher reads them, back to the mode they stand for.
int Board::video_mode() const {
    const uint8_t* r = state_->i2c.lt8668_regs;
    if (r[0xB7] == 1) return 1;
    if (r[0xB7] == 2) return r[0xAD] == 2 && r[0xAC] == 1 ? 3 : 2;
    return 0;
}

void Board::screenshot(const std::string& png_path) const {
    const uint32_t row = screen_row();
    const uint32_t stride = state_->fb.line_length.load() / 4;
    std::vector<uint32_t> screen(VIDEO_W * VIDEO_H);
    standin_video_frame(screen.data(), 0);
    const uint64_t needed = (static_cast<uint64_t>(row) + VIDEO_H) * stride * 4;
    if (stride >= VIDEO_W && needed <= config_.fb_smem_len)
        composite_over(screen.data(), fb_ + static_cast<size_t>(row) * stride, stride);
    write_png_rgb(png_path, screen.data(), VIDEO_W, VIDEO_H, VIDEO_W);
}

std::vector<std::string> Board::lines(size_t from) const {
    std::lock_guard<std::mutex> lock(mu_);
    if (from >= lines_.size()) return {};
    return {lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.end()};
}

size_t Board::line_count() const {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_.size();
}

std::optional<size_t> Board::wait_line(const std::string& needle, Millis timeout, size_t from) {
    std::unique_lock<std::mutex> lock(mu_);
    std::optional<size_t> found;
    cv_.wait_for(lock, timeout, [&] {
        for (size_t i = from; i < lines_.size(); ++i)
            if (lines_[i].find(needle) != std::string::npos) return found = i, true;
        return eof_;
    });
    return found;
}

std::vector<std::string> Board::settle(Millis quiet, Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mu_);
    size_t seen = lines_.size();
    while (std::chrono::steady_clock::now() < end && !eof_) {
        cv_.wait_for(lock, quiet);
        if (lines_.size() == seen) break;
        seen = lines_.size();
    }
    return lines_;
}

pid_t Board::host_pid_of(pid_t ns_pid) const {
    for (const SandboxProcess& p : processes())
        if (p.ns_pid == ns_pid) return p.host_pid;
    return -1;
}

std::vector<SandboxProcess> Board::processes() const {
    std::vector<SandboxProcess> out;
    const std::string ns = ns_link(init_host_pid_);
    if (ns.empty()) return out;
    DIR* d = opendir("/proc");
    if (d == nullptr) return out;
    while (const dirent* de = readdir(d)) {
        const pid_t pid = std::atoi(de->d_name);
        if (pid <= 0 || ns_link(pid) != ns) continue;
        const std::string status = read_small("/proc/" + std::to_string(pid) + "/status");
        SandboxProcess p{pid, -1,  innermost_id(status, "NSpid:"),
                         {},  '?', innermost_id(status, "NSpgid:")};
        const auto pp = status.find("PPid:\t");
        if (pp != std::string::npos) p.host_ppid = std::atoi(status.c_str() + pp + 6);
        const auto name = status.find("Name:\t");
        if (name != std::string::npos)
            p.comm = status.substr(name + 6, status.find('\n', name) - name - 6);
        const auto st = status.find("State:\t");
        if (st != std::string::npos) p.state = status[st + 7];
        out.push_back(p);
    }
    closedir(d);
    return out;
}

bool Board::wait_ended(pid_t ns_pid, Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool running = false;
        for (const SandboxProcess& p : processes())
            running = running || (p.ns_pid == ns_pid && p.state != 'Z');
        if (!running) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(Millis(2));
    }
}

std::vector<AppEnd> Board::app_ends() const {
    const AppRuns& apps = state_->apps;
    const uint32_t started = apps.started.load();
    std::vector<AppEnd> out;
    for (uint32_t i = started > APP_RUN_SLOTS ? started - APP_RUN_SLOTS : 0; i < started; ++i) {
        const AppRun& r = apps.runs[i % APP_RUN_SLOTS];
        const uint32_t st = r.state.load();
        if (st == APP_RUN_FREE) continue;
        AppEnd e{std::string(r.name, strnlen(r.name, sizeof r.name)), r.ns_pid.load(),
                 r.exec_errno.load(), std::nullopt};
        if (st == APP_RUN_COLLECTED) e.wait_status = r.wait_status.load();
        out.push_back(std::move(e));
    }
    return out;
}

std::optional<AppEnd> Board::app_end(pid_t ns_pid) const {
    const std::vector<AppEnd> all = app_ends();
    for (auto e = all.rbegin(); e != all.rend(); ++e)
        if (e->ns_pid == ns_pid) return *e;
    return std::nullopt;
}

std::string describe(const AppEnd& end) {
    if (end.exec_errno != 0) return std::string("exec failed: ") + std::strerror(end.exec_errno);
    if (!end.wait_status) return "not collected";
    const int st = *end.wait_status;
    if (WIFEXITED(st)) return "exited " + std::to_string(WEXITSTATUS(st));
    if (WIFSIGNALED(st)) {
        const char* abbrev = sigabbrev_np(WTERMSIG(st));
        return "killed by " +
               (abbrev ? "SIG" + std::string(abbrev) : "signal " + std::to_string(WTERMSIG(st)));
    }
    return "wait status " + std::to_string(st);
}

char Board::service_state() const {
    for (const SandboxProcess& p : processes())
        if (p.comm == "fpv_grd_service") return p.state;
    return 0;
}

int64_t Board::sandbox_monotonic_ms() const {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec + clock_offset_s_) * 1000 + now.tv_nsec / 1000000;
}

namespace {

// The controller's 42-character set, by code.
constexpr char OSD_CHARSET[] = " %./0123456789:@ABCDEFGHIJKLMNOPQRSTUVWXYZ";
static_assert(sizeof OSD_CHARSET == 42 + 1);

} // namespace

std::vector<std::string> Board::osd_text() const {
    const bool on = (state_->osd.control.load() & 1u) != 0;
    std::vector<std::string> rows;
    for (uint32_t r = 0; r < OSD_ROWS; ++r) {
        std::string row;
        for (uint32_t c = 0; c < OSD_COLS; ++c) {
            const uint8_t v = state_->osd.shown[r][c];
            const uint32_t code = v & 0x7F;
            row += !on || (v & OSD_DATA_BIT) == 0 ? ' ' : code < 42 ? OSD_CHARSET[code] : '#';
        }
        rows.push_back(row);
    }
    return rows;
}

namespace {

long futex(U32& word, int op, uint32_t value, const timespec* timeout) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), op, value, timeout, nullptr, 0);
}

} // namespace

// The launcher is parked in the sleep after its last granted pass. The wake that grants a
// pass is sent again at every look, in case it reached the launcher before its wait began.
bool Board::wait_parked(std::chrono::steady_clock::time_point deadline) {
    if (!config_.stepped) throw std::logic_error("the board is not stepped");
    LauncherClock& c = state_->clock;
    const timespec recheck{0, std::chrono::nanoseconds(PARK_RECHECK).count()};
    for (;;) {
        const uint32_t reached = c.reached.load();
        if (reached == c.granted.load() + 1) return true;
        if (state_->launcher.exited.load() != 0 || std::chrono::steady_clock::now() >= deadline)
            return false;
        futex(c.granted, FUTEX_WAKE, INT32_MAX, nullptr);
        futex(c.reached, FUTEX_WAIT, reached, &recheck);
    }
}

bool Board::step(Millis max_real) {
    const auto deadline = std::chrono::steady_clock::now() + max_real;
    if (!wait_parked(deadline)) return false;
    state_->clock.granted.fetch_add(1);
    futex(state_->clock.granted, FUTEX_WAKE, INT32_MAX, nullptr);
    if (!wait_parked(deadline)) return false;
    std::lock_guard<std::mutex> lock(mu_);
    take_stderr_locked();
    return true;
}

bool Board::run_passes(int n, Millis max_real) {
    const auto deadline = std::chrono::steady_clock::now() + max_real;
    if (!wait_parked(deadline)) return false;
    for (int i = 0; i < n; ++i) {
        const auto left =
            std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !step(left)) return false;
    }
    return true;
}

bool Board::run_until(const std::function<bool()>& done, Millis max_virtual, Millis max_real) {
    const auto deadline = std::chrono::steady_clock::now() + max_real;
    if (!wait_parked(deadline)) return false;
    const int64_t end = virtual_ms() + max_virtual.count();
    for (;;) {
        if (done()) return true;
        const auto left =
            std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        if (virtual_ms() >= end || left.count() <= 0 || !step(left)) return false;
    }
}

bool Board::run_for(Millis span, Millis max_real) {
    const auto deadline = std::chrono::steady_clock::now() + max_real;
    if (!wait_parked(deadline)) return false;
    const int64_t end = virtual_ms() + span.count();
    return run_until([&] { return virtual_ms() >= end; }, span, max_real);
}

int64_t Board::virtual_ms() const {
    return static_cast<int64_t>(state_->clock.virtual_us.load() / 1000);
}

std::string Board::sandbox_path(const std::string& path) const {
    return "/proc/" + std::to_string(init_host_pid_) + "/root" + path;
}

pid_t Board::launcher_host_pid(Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (state_->launcher.exited.load()) return -1;
        const pid_t ns = state_->launcher.ns_pid.load();
        if (ns > 0) {
            const pid_t host = host_pid_of(ns);
            if (host > 0) return host;
        }
        std::this_thread::sleep_for(Millis(5));
    }
    return -1;
}

void Board::limit_processes(std::optional<uint64_t> max) {
    const pid_t pid = launcher_host_pid();
    if (pid <= 0 || uid_ == 0) throw std::runtime_error("no unprivileged launcher to limit");
    // Changing another user's limits takes CAP_SYS_RESOURCE, which a container's root may
    // lack; that user itself may move its soft limit anywhere below the hard one.
    const pid_t helper = fork();
    if (helper < 0) fail("fork");
    if (helper == 0) {
        rlimit lim{};
        if (setgroups(0, nullptr) != 0 || setresgid(uid_, uid_, uid_) != 0 ||
            setresuid(uid_, uid_, uid_) != 0 || prlimit(pid, RLIMIT_NPROC, nullptr, &lim) != 0)
            _exit(1);
        lim.rlim_cur = max && *max < lim.rlim_max ? static_cast<rlim_t>(*max) : lim.rlim_max;
        _exit(prlimit(pid, RLIMIT_NPROC, &lim, nullptr) == 0 ? 0 : 1);
    }
    int status = 0;
    while (waitpid(helper, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cannot set the launcher's process limit");
}

void Board::set_stop_hook(std::function<void(const Board&)> hook) {
    std::lock_guard<std::mutex> lock(g_hook_mu);
    g_stop_hook = std::move(hook);
}

void Board::signal_launcher(int sig) {
    const pid_t pid = launcher_host_pid();
    if (pid <= 0 || kill(pid, sig) != 0) throw std::runtime_error("launcher not running");
}

std::optional<int> Board::wait_exit(Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (state_->launcher.exited.load()) return state_->launcher.wait_status.load();
        std::this_thread::sleep_for(Millis(5));
    }
    return std::nullopt;
}

void make_app(const std::string& apps_dir, const std::string& name, const std::string& script,
              const std::string& manifest, unsigned mode) {
    const fs::path dir = fs::path(apps_dir) / name;
    fs::create_directories(dir);
    std::ofstream(dir / "app") << script;
    chmod((dir / "app").c_str(), mode);
    if (!manifest.empty()) std::ofstream(dir / "manifest") << manifest;
}

} // namespace vxboard
