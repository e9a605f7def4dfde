#include "web/app_watch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>

#include "base/paths.h"
#include "board/app_control.h"
#include "scenario/staging.h"

namespace vxweb {
namespace {

using nlohmann::json;

// Enough of an app's log for the page to show its last lines.
constexpr size_t LOG_TAIL_BYTES = 4000;

std::string slurp_tail(const std::string& path, size_t max) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamoff size = in.tellg();
    const std::streamoff from = size > static_cast<std::streamoff>(max) ? size - max : 0;
    in.seekg(from);
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (from > 0) {
        const auto nl = s.find('\n');
        if (nl != std::string::npos) s.erase(0, nl + 1);
    }
    return s;
}

bool ends_with(const std::string& f, const char* ext) {
    const size_t n = std::strlen(ext);
    return f.size() > n && f.compare(f.size() - n, n, ext) == 0;
}

bool alive(const json& processes, int pid) {
    for (const json& p : processes)
        if (p["pid"] == pid && p["state"] != "Z") return true;
    return false;
}

bool newer(const timespec& a, const timespec& b) {
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

} // namespace

// The running app: the one whose pid file names a live process of the sandbox; else the app
// whose log was written last, so its last words stay readable after it ended.
AppWatch::Seen AppWatch::find_app(const json& processes) const {
    const std::string dir = board_.sandbox_path(STAGING_DIR);
    Seen seen;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return seen;
    std::string newest_log;
    timespec newest{};
    while (const dirent* de = readdir(d)) {
        const std::string f = de->d_name;
        const std::string app = f.substr(0, f.size() > 4 ? f.size() - 4 : 0);
        int pid = 0;
        struct stat st {};
        if (ends_with(f, ".pid") && std::ifstream(dir + "/" + f) >> pid && alive(processes, pid))
            seen = {app, true, pid};
        else if (ends_with(f, ".log") && stat((dir + "/" + f).c_str(), &st) == 0 &&
                 (newest_log.empty() || newer(st.st_mtim, newest))) {
            newest = st.st_mtim;
            newest_log = app;
        }
    }
    closedir(d);
    if (!seen.running) seen.name = newest_log;
    return seen;
}

bool AppWatch::look_at_processes(bool& new_app) {
    json list = json::array();
    for (const vxboard::NamedProcess& p : vxboard::named_processes(board_))
        list.push_back(
            {{"pid", p.proc.ns_pid}, {"role", p.role}, {"state", std::string(1, p.proc.state)}});
    const Seen seen = find_app(list);
    const char service = board_.service_state();
    json j = {{"processes", list},
              {"service", service ? std::string(1, service) : ""},
              {"app", app_json(seen, new_app)}};
    if (j == shown_) return false;
    shown_ = std::move(j);
    return true;
}

json AppWatch::app_json(const Seen& seen, bool& new_app) {
    new_app = false;
    if (seen.name != name_ || (seen.running && seen.pid != pid_)) {
        log_.clear();
        log_size_ = -1;
        new_app = seen.running;
    }
    name_ = seen.name;
    pid_ = seen.running ? seen.pid : pid_;
    running_ = seen.running;
    const std::optional<std::string> end =
        seen.running || seen.name.empty() ? std::nullopt : vxboard::app_end_text(board_, name_);
    const std::string status = seen.running ? "running" : end ? *end : name_.empty() ? "" : "ended";
    return {{"name", name_}, {"running", running_}, {"pid", pid_}, {"status", status}};
}

bool AppWatch::look_at_log() {
    const std::string path = board_.sandbox_path(vxscenario::staged(name_, ".log"));
    struct stat st {};
    const off_t size = stat(path.c_str(), &st) == 0 ? st.st_size : 0;
    if (size == log_size_) return false;
    log_size_ = size;
    log_ = slurp_tail(path, LOG_TAIL_BYTES);
    return true;
}

json AppWatch::as_json() const {
    nlohmann::json j = shown_;
    if (j.contains("app")) j["app"]["log"] = log_;
    return j;
}

} // namespace vxweb
