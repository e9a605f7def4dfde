// The board's life: making its files, starting the sandbox with init and the launcher in it,
// and taking it all down again.
#include "board/board.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "board/errors.h"
#include "goggles/machine.h"

namespace fs = std::filesystem;

namespace vxboard {

namespace {

constexpr char WORK_DIR_TEMPLATE[] = "/tmp/vx-board-XXXXXX";
// bwrap's report of the sandbox's first process, on its info descriptor.
constexpr char CHILD_PID_KEY[] = "\"child-pid\":";

std::mutex g_hook_mu;
std::function<void(const Board&)> g_stop_hook;

// Init's pid on the host, from bwrap's report; -1 when it made no sandbox.
pid_t read_init_pid(int info_fd) {
    std::string json;
    char buf[256];
    for (ssize_t n; (n = read(info_fd, buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        json.append(buf, static_cast<size_t>(n));
        if (json.find('}') != std::string::npos) break;
    }
    const auto at = json.find(CHILD_PID_KEY);
    return at == std::string::npos ? -1 : std::atoi(json.c_str() + at + sizeof CHILD_PID_KEY - 1);
}

} // namespace

void throw_errno(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

Board::Board(BoardConfig config)
    : config_(std::move(config)), target_(config_.target.value_or(target_from_env())) {}

Board::~Board() {
    stop();
}

void Board::start() {
    char work[sizeof WORK_DIR_TEMPLATE];
    std::memcpy(work, WORK_DIR_TEMPLATE, sizeof work);
    if (mkdtemp(work) == nullptr) throw_errno("mkdtemp");
    work_ = work;
    make_files();
    if (target_ == Target::Goggles) {
        start_goggles();
        return;
    }
    int info[2];
    if (pipe2(info, O_CLOEXEC) != 0) throw_errno("pipe");
    launch(sandbox_command(artefacts_for(target_), info[1]), info);
}

void Board::launch(std::vector<std::string> command, int info[2]) {
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) throw_errno("pipe");
    std::vector<char*> argv;
    for (std::string& s : command)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw_errno("fork");
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
    init_host_pid_ = read_init_pid(info[0]);
    close(info[0]);
    if (init_host_pid_ < 0) {
        stop();
        throw std::runtime_error("bwrap did not start the sandbox");
    }
    reader_ = std::thread([this] { read_stderr(); });
}

void Board::stop() {
    const bool ran = bwrap_pid_ > 0 || goggles_;
    goggles_.reset();
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

void Board::set_stop_hook(std::function<void(const Board&)> hook) {
    std::lock_guard<std::mutex> lock(g_hook_mu);
    g_stop_hook = std::move(hook);
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
