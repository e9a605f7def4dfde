#include "goggles/app_ledger.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/log_lines.h"
#include "board/log_forms.h"

namespace vxgoggles {

vxboard::AppRun* AppLedger::latest(const std::string& name, pid_t pid) {
    const uint32_t started = runs_.started.load();
    const uint32_t oldest = started > vxboard::APP_RUN_SLOTS ? started - vxboard::APP_RUN_SLOTS : 0;
    for (uint32_t i = started; i-- > oldest;) {
        vxboard::AppRun& r = runs_.runs[i % vxboard::APP_RUN_SLOTS];
        if (r.state.load() == vxboard::APP_RUN_FREE) continue;
        if (pid > 0 ? r.ns_pid.load() == pid
                    : std::strncmp(r.name, name.c_str(), sizeof r.name) == 0)
            return &r;
    }
    return nullptr;
}

void AppLedger::collect(vxboard::AppRun& run, const End& end) {
    run.exec_errno.store(end.exec_errno);
    run.wait_status.store(end.wait_status);
    run.state.store(vxboard::APP_RUN_COLLECTED);
}

void AppLedger::log_line(const std::string& line) {
    const std::optional<vxboard::LogLine> l = vxboard::read_log_line(line);
    if (!l || (l->form != LOG_LAUNCHED && l->form != LOG_CHILD_EXITED)) return;
    std::lock_guard<std::mutex> lock(mu_);
    const std::string& name = l->values[0];
    if (l->form == LOG_LAUNCHED) {
        const pid_t pid = std::atoi(l->values[1].c_str());
        vxboard::AppRun& r = runs_.runs[runs_.started.fetch_add(1) % vxboard::APP_RUN_SLOTS];
        r.state.store(vxboard::APP_RUN_FREE);
        std::memset(r.name, 0, sizeof r.name);
        std::memcpy(r.name, name.data(), std::min(name.size(), sizeof r.name - 1));
        r.ns_pid.store(pid);
        r.wait_status.store(0);
        // A process that could not exec ends before the launcher's line about it is read.
        const auto end = ends_.find(pid);
        r.exec_errno.store(end != ends_.end() ? end->second.exec_errno : 0);
        r.state.store(vxboard::APP_RUN_EXEC);
        return;
    }
    vxboard::AppRun* r = latest(name, 0);
    if (r == nullptr || r->state.load() != vxboard::APP_RUN_EXEC) return;
    const auto end = ends_.find(r->ns_pid.load());
    if (end != ends_.end())
        collect(*r, end->second);
    else
        collected_.push_back(r->ns_pid.load());
}

void AppLedger::exited(pid_t pid, int wait_status, int exec_errno) {
    std::lock_guard<std::mutex> lock(mu_);
    const End end{wait_status, exec_errno};
    ends_[pid] = end;
    vxboard::AppRun* r = latest("", pid);
    if (r == nullptr || r->state.load() != vxboard::APP_RUN_EXEC) return;
    r->exec_errno.store(exec_errno);
    const auto waiting = std::find(collected_.begin(), collected_.end(), pid);
    if (waiting == collected_.end()) return;
    collected_.erase(waiting);
    collect(*r, end);
}

void AppLedger::reset() {
    std::lock_guard<std::mutex> lock(mu_);
    ends_.clear();
    collected_.clear();
}

bool AppLedger::ended(pid_t pid) const {
    std::lock_guard<std::mutex> lock(mu_);
    return ends_.count(pid) != 0;
}

} // namespace vxgoggles
