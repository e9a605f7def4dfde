#include "apps/service.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apps/running.h"
#include "base/clock.h"
#include "base/paths.h"
#include "base/sys.h"

ServiceControl g_service;

namespace {

constexpr size_t COMM_MATCH_BYTES = 15; // the kernel keeps 15 bytes of a process name
constexpr size_t COMM_PATH_BYTES = 64;
constexpr size_t COMM_READ_BYTES = 32;
constexpr uint32_t WATCHDOG_PERIOD_US = 1000000;

int32_t find_service(const char* proc_dir) {
    DIR* d = opendir(proc_dir);
    if (d == nullptr) return -1;
    int32_t found = -1;
    while (const dirent* de = readdir(d)) {
        if (de->d_name[0] < '0' || de->d_name[0] > '9') continue;
        char path[COMM_PATH_BYTES];
        const int len = std::snprintf(path, sizeof path, "%s/%s/comm", proc_dir, de->d_name);
        if (len < 0 || static_cast<size_t>(len) >= sizeof path) continue;
        const int fd = sys_open(path, O_RDONLY);
        if (fd < 0) continue;
        char comm[COMM_READ_BYTES];
        const ssize_t n = sys_read(fd, comm, sizeof comm - 1);
        close(fd);
        if (n < 1) continue;
        comm[n] = '\0';
        if (std::strncmp(comm, SERVICE_COMM, COMM_MATCH_BYTES) != 0) continue;
        // Stopping pid 0 would stop the launcher's own process group.
        int32_t pid = 0;
        if (parse_pid_text(de->d_name, &pid) && pid >= 1) {
            found = pid;
            break;
        }
    }
    closedir(d);
    return found;
}

[[noreturn]] void watchdog(pid_t launcher, int32_t service_pid) {
    // Until now a copy of the launcher: a SIGTERM sent to it (it has the launcher's name)
    // must end it, not run the launcher's termination handler here.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    // Its own session: a hang-up or a signal to the launcher's group does not end it.
    setsid();
    const int null_fd = sys_open(DEV_NULL, O_RDWR);
    if (null_fd >= 0) {
        sys_dup2(null_fd, 1);
        sys_dup2(null_fd, 2);
    }
    // The launcher has gone without resuming once the watchdog has another parent: init,
    // or a subreaper when the launcher runs under a service manager or in a PID namespace.
    do {
        sleep_us(WATCHDOG_PERIOD_US);
    } while (getppid() == launcher);
    if (service_pid > 0) kill(service_pid, SIGCONT);
    _exit(0);
}

// A watchdog killed from outside covers nothing: it is collected, so that the pause starts
// another.
bool watchdog_alive() {
    if (g_service.watchdog_pid <= 0) return false;
    if (waitpid(g_service.watchdog_pid, nullptr, WNOHANG) == 0) return true;
    g_service.watchdog_pid = -1;
    return false;
}

} // namespace

void pause_goggle_service_in(const char* proc_dir) {
    // The cached pid saves the /proc walk on every menu opening; once it no longer answers
    // the service has died or restarted under another pid.
    if (g_service.service_pid < 1 || kill(g_service.service_pid, 0) != 0) {
        g_service.service_pid = -1;
        g_service.service_pid = find_service(proc_dir);
    }
    if (g_service.service_pid < 0) return;
    kill(g_service.service_pid, SIGSTOP);
    if (watchdog_alive()) return;
    const pid_t launcher = getpid();
    const pid_t pid = fork();
    if (pid < 0) return;
    if (pid == 0) watchdog(launcher, g_service.service_pid);
    g_service.watchdog_pid = pid;
}

void pause_goggle_service() {
    pause_goggle_service_in(PROC_DIR);
}

void resume_goggle_service() {
    if (g_service.watchdog_pid >= 1) {
        kill(g_service.watchdog_pid, SIGKILL);
        sys_waitpid(g_service.watchdog_pid, nullptr, 0);
        g_service.watchdog_pid = -1;
    }
    if (g_service.service_pid >= 1) kill(g_service.service_pid, SIGCONT);
}
