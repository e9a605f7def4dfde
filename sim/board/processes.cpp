// The sandbox's processes as the host sees them: which run in it (by their PID namespace),
// their pids inside it, the service's state, and the launcher: its pid, a signal to it, its
// end, and its process limit.
#include <dirent.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "apps/service.h"
#include "board/board.h"
#include "board/errors.h"
#include "goggles/machine.h"

namespace vxboard {

namespace {

constexpr Millis ENDED_POLL(2);
constexpr Millis LAUNCHER_POLL(5);

std::string read_small(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string proc_path(pid_t pid, const char* leaf) {
    return "/proc/" + std::to_string(pid) + "/" + leaf;
}

std::string ns_link(pid_t pid) {
    char buf[128];
    const ssize_t n = readlink(proc_path(pid, "ns/pid").c_str(), buf, sizeof buf - 1);
    if (n < 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

// The last number of a status line listing an id in each nested PID namespace ("NSpid:",
// "NSpgid:"): the id inside the sandbox, or -1.
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

// The text of a status line ("Name:\t..."), or empty.
std::string status_field(const std::string& status, const std::string& key) {
    const auto at = status.find(key);
    if (at == std::string::npos) return {};
    const auto from = at + key.size();
    return status.substr(from, status.find('\n', at) - from);
}

SandboxProcess process_of(pid_t pid) {
    const std::string status = read_small(proc_path(pid, "status"));
    SandboxProcess p{pid, -1,  innermost_id(status, "NSpid:"),
                     {},  '?', innermost_id(status, "NSpgid:")};
    if (const std::string ppid = status_field(status, "PPid:\t"); !ppid.empty())
        p.host_ppid = std::atoi(ppid.c_str());
    p.comm = status_field(status, "Name:\t");
    if (const std::string state = status_field(status, "State:\t"); !state.empty())
        p.state = state[0];
    return p;
}

} // namespace

std::vector<SandboxProcess> Board::processes() const {
    std::vector<SandboxProcess> out;
    // The guest's processes are no processes of this machine: they have no pid here.
    if (goggles_) {
        for (const vxgoggles::GuestProcess& p : goggles_->processes())
            out.push_back({0, 0, p.pid, p.comm, p.state, p.pgid});
        return out;
    }
    const std::string ns = ns_link(init_host_pid_);
    if (ns.empty()) return out;
    DIR* d = opendir("/proc");
    if (d == nullptr) return out;
    while (const dirent* de = readdir(d)) {
        const pid_t pid = std::atoi(de->d_name);
        if (pid > 0 && ns_link(pid) == ns) out.push_back(process_of(pid));
    }
    closedir(d);
    return out;
}

pid_t Board::host_pid_of(pid_t ns_pid) const {
    for (const SandboxProcess& p : processes())
        if (p.ns_pid == ns_pid) return p.host_pid;
    return -1;
}

bool Board::wait_ended(pid_t ns_pid, Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // The guest's agent tells an end at once; its process list comes every half second.
        if (goggles_ && goggles_->ended(ns_pid)) return true;
        bool running = false;
        for (const SandboxProcess& p : processes())
            running = running || (p.ns_pid == ns_pid && p.state != 'Z');
        if (!running) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(ENDED_POLL);
    }
}

char Board::service_state() const {
    for (const SandboxProcess& p : processes())
        if (p.comm == SERVICE_COMM) return p.state;
    return 0;
}

pid_t Board::launcher_host_pid(Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (state_->launcher.exited.load()) return -1;
        if (goggles_) {
            // In the guest: its pid there, once its start-up script wrote it.
            if (const pid_t pid = state_->launcher.ns_pid.load(); pid > 0) return pid;
            std::this_thread::sleep_for(LAUNCHER_POLL);
            continue;
        }
        const pid_t ns = state_->launcher.ns_pid.load();
        if (ns > 0) {
            const pid_t host = host_pid_of(ns);
            if (host > 0) return host;
        }
        std::this_thread::sleep_for(LAUNCHER_POLL);
    }
    return -1;
}

void Board::signal_launcher(int sig) {
    const pid_t pid = launcher_host_pid();
    if (pid > 0 && goggles_) {
        goggles_->signal(pid, sig);
        return;
    }
    if (pid <= 0 || kill(pid, sig) != 0) throw std::runtime_error("launcher not running");
}

void Board::signal_group(pid_t ns_pgid, pid_t host_pid, int sig) {
    if (goggles_)
        goggles_->signal(-ns_pgid, sig);
    else if (host_pid > 0)
        kill(-host_pid, sig);
}

std::optional<int> Board::wait_exit(Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (state_->launcher.exited.load()) return state_->launcher.wait_status.load();
        std::this_thread::sleep_for(LAUNCHER_POLL);
    }
    return std::nullopt;
}

void Board::limit_processes(std::optional<uint64_t> max) {
    const pid_t pid = launcher_host_pid();
    if (pid <= 0 || uid_ == 0) throw std::runtime_error("no unprivileged launcher to limit");
    // Changing another user's limits takes CAP_SYS_RESOURCE, which a container's root may
    // lack; that user itself may move its soft limit anywhere below the hard one.
    const pid_t helper = fork();
    if (helper < 0) throw_errno("fork");
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

} // namespace vxboard
