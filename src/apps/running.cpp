#include "apps/running.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apps/catalogue.h"
#include "base/log.h"
#include "base/log_lines.h"
#include "base/safe_open.h"
#include "base/sys.h"

RunningApp g_running;

namespace {

constexpr int PID_TEXT_BYTES = 32;
constexpr int STAT_READ_BYTES = 128; // enough for the fields up to the process group

bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whoever can write the staging directory can name anything ".pid": the open neither
// follows a link (a device behind it could react to being opened) nor waits for a FIFO's
// writer, and only a regular file is read.
bool read_pid_file(int dir, const char* name, char* text, size_t size) {
    const int fd = open_regular_at(dir, name, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return false;
    const ssize_t n = sys_read(fd, text, size - 1);
    close(fd);
    if (n < 0) return false;
    text[n] = '\0';
    return true;
}

// The state letter and process group of /proc/PID/stat: "pid (comm) S ppid pgrp ...". The
// name may hold spaces and parentheses, so the fields are read from its last ')'.
bool read_stat(const char* proc_dir, const char* pid, char* state, int32_t* pgrp) {
    char path[APP_PATH_BYTES];
    const int n = std::snprintf(path, sizeof path, "%s/%s/stat", proc_dir, pid);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) return false;
    const int fd = sys_open(path, O_RDONLY);
    if (fd < 0) return false;
    char text[STAT_READ_BYTES];
    const ssize_t got = sys_read(fd, text, sizeof text - 1);
    close(fd);
    if (got < 1) return false;
    text[got] = '\0';
    const char* end = std::strrchr(text, ')');
    int ppid = 0;
    int group = 0;
    if (end == nullptr || std::sscanf(end + 1, " %c %d %d", state, &ppid, &group) != 3)
        return false;
    *pgrp = group;
    return true;
}

bool ends_with_pid(const char* name) {
    const size_t len = std::strlen(name);
    return len >= 5 && std::strcmp(name + len - 4, ".pid") == 0;
}

} // namespace

int32_t parse_pid_text(const char* text, int32_t* pid) {
    const char* p = text;
    while (is_space(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return 0;
    // 64 bits hold every value up to one past the 32-bit range, so stopping there keeps
    // the arithmetic defined however many digits follow.
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > int64_t{INT32_MAX} + 1) return 0;
    }
    if (negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return 0;
    *pid = static_cast<int32_t>(v);
    return 1;
}

int32_t any_app_running_in(const char* staging_dir) {
    // A staging directory the launcher would not launch into cannot hold its pid files;
    // trusting one made by somebody else would let them hide the menu for good.
    const int dir = open_private_dir(AT_FDCWD, staging_dir);
    if (dir < 0) return 0;
    DIR* d = fdopendir(dir);
    if (d == nullptr) {
        close(dir);
        return 0;
    }
    const pid_t self = getpid();
    int32_t alive = 0;
    while (const dirent* de = readdir(d)) {
        if (!ends_with_pid(de->d_name)) continue;
        char text[PID_TEXT_BYTES];
        int32_t pid = 0;
        if (!read_pid_file(dir, de->d_name, text, sizeof text) || !parse_pid_text(text, &pid))
            continue;
        // 0, 1 and negative numbers would probe process groups or init, not an app.
        if (pid < 2 || pid == self) continue;
        if (kill(pid, 0) == 0 || errno == EPERM) {
            alive = 1;
            break;
        }
    }
    closedir(d);
    return alive;
}

int32_t any_app_running() {
    return any_app_running_in(STAGING_DIR);
}

int32_t reap_running_app_in(const char* staging_dir) {
    // Waiting for pid 0 or -1 would take any child, the service watchdog included.
    if (g_running.pid < 1) return 0;
    int status = 0;
    if (waitpid(g_running.pid, &status, WNOHANG) != g_running.pid) return 0;
    char path[APP_PATH_BYTES];
    const int n = std::snprintf(path, sizeof path, "%s/%s.pid", staging_dir, g_running.name);
    if (n > 0 && static_cast<size_t>(n) < sizeof path) unlink(path);
    log_line(LOG_CHILD_EXITED, g_running.name);
    g_running.pid = -1;
    return 1;
}

int32_t running_app_ended() {
    if (g_running.pid < 1) return 0;
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(g_running.pid), &info, WEXITED | WNOHANG | WNOWAIT) ==
                       0 &&
                   info.si_pid == g_running.pid
               ? 1
               : 0;
}

int32_t running_app_group_lingers(const char* proc_dir) {
    if (g_running.pid < 2) return 0;
    DIR* d = opendir(proc_dir);
    if (d == nullptr) return 0;
    int32_t lingers = 0;
    while (const dirent* de = readdir(d)) {
        int32_t pid = 0;
        if (!parse_pid_text(de->d_name, &pid) || pid == g_running.pid) continue;
        char state = 0;
        int32_t pgrp = 0;
        if (read_stat(proc_dir, de->d_name, &state, &pgrp) && pgrp == g_running.pid &&
            state != 'Z' && state != 'X') {
            lingers = 1;
            break;
        }
    }
    closedir(d);
    return lingers;
}

int32_t signal_running_app(int sig) {
    // pid 1 and below would name init's group or every process the launcher may signal.
    if (g_running.pid < 2) return -1;
    return kill(-g_running.pid, sig) == 0 ? 0 : -1;
}

int32_t reap_running_app() {
    return reap_running_app_in(STAGING_DIR);
}
