#include "board/app_control.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>

#include "apps/service.h"
#include "goggles/machine.h"

namespace vxboard {

namespace {

// How long a killed app's processes may take to be gone.
constexpr std::chrono::milliseconds KILLED_APP_GONE{2000};

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The app NAME when one of the first two arguments (the app itself, or the script an
// interpreter runs) is the launcher's staged copy /tmp/vorna-x/NAME/app.
std::string app_of_cmdline(pid_t host_pid) {
    if (host_pid <= 0) return {}; // not a process of this machine
    std::ifstream in("/proc/" + std::to_string(host_pid) + "/cmdline", std::ios::binary);
    const std::string prefix = std::string(STAGING_DIR_IN_SANDBOX) + "/";
    std::string arg;
    for (int i = 0; i < 2 && std::getline(in, arg, '\0'); ++i) {
        if (arg.rfind(prefix, 0) != 0 || !ends_with(arg, "/app")) continue;
        const std::string name = arg.substr(prefix.size(), arg.size() - prefix.size() - 4);
        if (!name.empty() && name.find('/') == std::string::npos) return name;
    }
    return {};
}

} // namespace

std::optional<RunningApp> running_app(const Board& board) {
    const std::string dir = board.sandbox_path(STAGING_DIR_IN_SANDBOX);
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return std::nullopt;
    std::vector<std::pair<std::string, pid_t>> pid_files;
    while (const dirent* de = readdir(d)) {
        const std::string f = de->d_name;
        if (!ends_with(f, ".pid")) continue;
        std::ifstream in(dir + "/" + f);
        pid_t p = 0;
        if (in >> p && p > 1) pid_files.emplace_back(f.substr(0, f.size() - 4), p);
    }
    closedir(d);
    if (pid_files.empty()) return std::nullopt;
    // In the guest a pid file's app runs until the agent tells its end: its process list may
    // not have it yet.
    if (const vxgoggles::GogglesMachine* g = board.goggles())
        for (const auto& [name, pid] : pid_files)
            if (!g->ended(pid)) return RunningApp{name, pid, 0};
    for (const SandboxProcess& sp : board.processes())
        for (const auto& [name, pid] : pid_files)
            if (sp.ns_pid == pid && sp.state != 'Z') return RunningApp{name, pid, sp.host_pid};
    return std::nullopt;
}

AppStop stop_app(Board& board, std::chrono::milliseconds grace) {
    const std::optional<RunningApp> app = running_app(board);
    if (!app) return AppStop::NoApp;
    board.signal_group(app->ns_pid, app->host_pid, SIGTERM);
    if (board.wait_ended(app->ns_pid, grace)) return AppStop::Ended;
    board.signal_group(app->ns_pid, app->host_pid, SIGKILL);
    board.wait_ended(app->ns_pid, KILLED_APP_GONE);
    return AppStop::Killed;
}

AppStop kill_app(Board& board) {
    const std::optional<RunningApp> app = running_app(board);
    if (!app) return AppStop::NoApp;
    board.signal_group(app->ns_pid, app->host_pid, SIGKILL);
    board.wait_ended(app->ns_pid, KILLED_APP_GONE);
    return AppStop::Killed;
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

std::optional<std::string> app_end_text(const Board& board, const std::string& name) {
    const std::vector<AppEnd> ends = board.app_ends();
    for (auto e = ends.rbegin(); e != ends.rend(); ++e)
        if (e->name == name && (e->wait_status || e->exec_errno != 0)) return describe(*e);
    return std::nullopt;
}

std::vector<NamedProcess> named_processes(Board& board) {
    std::vector<NamedProcess> out;
    const std::vector<SandboxProcess> procs = board.processes();
    const pid_t launcher = board.state().launcher.ns_pid.load();
    std::string launcher_comm;
    for (const SandboxProcess& p : procs)
        if (p.ns_pid == launcher) launcher_comm = p.comm;
    std::map<pid_t, std::string> apps; // host pid -> app name
    for (const SandboxProcess& p : procs)
        if (std::string name = app_of_cmdline(p.host_pid); !name.empty()) apps[p.host_pid] = name;
    // What an app starts is the app's too: found through its parents.
    std::map<pid_t, pid_t> parent;
    for (const SandboxProcess& p : procs)
        parent[p.host_pid] = p.host_ppid;
    auto app_above = [&](pid_t host) -> std::string {
        for (int depth = 0; depth < 64 && parent.count(host); ++depth) {
            host = parent[host];
            if (apps.count(host)) return apps[host];
        }
        return {};
    };
    for (const SandboxProcess& p : procs) {
        std::string role;
        if (p.ns_pid == 1)
            role = "init";
        else if (p.comm == "board-init")
            role = "init's subreaper";
        else if (p.comm == SERVICE_COMM)
            role = "the goggles' service";
        else if (p.ns_pid == launcher)
            role = "the launcher";
        else if (apps.count(p.host_pid))
            role = "app " + apps[p.host_pid];
        else if (!launcher_comm.empty() && p.comm == launcher_comm)
            role = "the launcher's watchdog";
        else if (std::string app = app_above(p.host_pid); !app.empty())
            role = p.comm + ", started by app " + app;
        else
            role = p.comm;
        out.push_back({p, role});
    }
    std::sort(out.begin(), out.end(), [](const NamedProcess& a, const NamedProcess& b) {
        return a.proc.ns_pid < b.proc.ns_pid;
    });
    return out;
}

} // namespace vxboard
