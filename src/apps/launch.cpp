#include "apps/launch.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/log.h"
#include "base/log_lines.h"
#include "base/safe_open.h"
#include "base/sys.h"

namespace {

constexpr mode_t STAGING_DIR_MODE = 0755;
constexpr mode_t STAGED_MODE = 0755;
constexpr mode_t LOG_MODE = 0644;
constexpr mode_t PID_MODE = 0644;
constexpr const char* STAGED_NAME = "app";
constexpr const char* STAGED_TMP_NAME = "app.tmp";
// Nothing of the launcher's environment reaches an app.
const char* const CHILD_ENV[] = {LAUNCH_PATH_ENV, nullptr};

// Closes a descriptor on every way out of the launch.
struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0) close(fd);
    }
};

bool fits(int n, size_t size) {
    return n > 0 && static_cast<size_t>(n) < size;
}

// An existing directory is as good as a new one, provided it passes the same checks.
int make_private_dir(int parent, const char* name) {
    mkdirat(parent, name, STAGING_DIR_MODE);
    return open_private_dir(parent, name);
}

// A file of the staging area that the launcher writes, created or emptied. The directory is
// private, but an app run earlier could have left a link, a FIFO or a device under the
// name: no link is followed, a FIFO cannot hold up the open, only a regular file is taken.
int open_staging_file(int dir, const char* name, mode_t mode) {
    return open_regular_at(dir, name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, mode);
}

// False on a read error or a short write; a full /tmp shows up as the latter.
bool copy_all(int src, int dst) {
    char buf[LAUNCH_COPY_BYTES];
    for (;;) {
        const ssize_t n = sys_read(src, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0 || sys_write(dst, buf, static_cast<size_t>(n)) != n) return false;
    }
}

// Stages the executable as app_dir/app through app.tmp and a rename, so that an earlier
// copy is replaced whole or not at all (and a copy still running keeps its own file). The
// source must be a regular file: a FIFO or a device named `app` would block the launcher or
// feed it without end. No app.tmp is left behind on failure.
bool stage_executable(const char* source, int app_dir) {
    const FdGuard src{open_regular_file(source)};
    if (src.fd < 0) return false;
    // Exclusive creation below refuses whatever is in the way, a planted link included;
    // a copy left by a launcher that died mid-copy is ours to remove.
    unlinkat(app_dir, STAGED_TMP_NAME, 0);
    const int tmp =
        sys_openat(app_dir, STAGED_TMP_NAME, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, STAGED_MODE);
    if (tmp < 0) return false;
    const bool copied = copy_all(src.fd, tmp);
    close(tmp);
    if (!copied || renameat(app_dir, STAGED_TMP_NAME, app_dir, STAGED_NAME) != 0) {
        unlinkat(app_dir, STAGED_TMP_NAME, 0);
        return false;
    }
    return true;
}

// Without a pid file the app still runs; only a later launcher would not know of it.
void write_pid_file(int staging, const char* name, pid_t pid) {
    char file[APP_PATH_BYTES];
    if (!fits(std::snprintf(file, sizeof file, "%s.pid", name), sizeof file)) return;
    const FdGuard fd{open_staging_file(staging, file, PID_MODE)};
    if (fd.fd < 0) return;
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d\n", pid);
    sys_write_all(fd.fd, text, static_cast<size_t>(n));
}

void redirect(int fd, int target) {
    // dup2 onto itself would leave close-on-exec set and the log would vanish at the exec.
    if (fd == target) {
        fcntl(fd, F_SETFD, 0);
        return;
    }
    sys_dup2(fd, target);
}

// Between fork and exec: only async-signal-safe calls, on data prepared by the parent.
[[noreturn]] void exec_child(int log_fd, int app_dir, char* const argv[]) {
    // Until the exec this is a copy of the launcher; its termination handler (framebuffer,
    // goggle service) must not run here if the new pid is signalled early.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    setsid();
    // The app outlives the launcher; a hang-up of the session must not take it along.
    signal(SIGHUP, SIG_IGN);
    signal(SIGCHLD, SIG_DFL);
    // Before the redirection, which may reuse the directory's descriptor number.
    if (fchdir(app_dir) != 0) {
        // The app still runs, from wherever the launcher was.
    }
    redirect(log_fd, 1);
    redirect(log_fd, 2);
    for (int fd = 3; fd <= LAUNCH_MAX_FD; ++fd)
        close(fd);
    execve(argv[0], argv, const_cast<char* const*>(CHILD_ENV));
    _exit(127);
}

int32_t fail(const char* name) {
    log_line(LOG_LAUNCH_FAILED, name);
    return -1;
}

} // namespace

int launch_split_args(char* args, char* argv[], int slots) {
    if (slots < 2) return 0;
    const int max_words = slots - 2 < LAUNCH_MAX_WORDS ? slots - 2 : LAUNCH_MAX_WORDS;
    int n = 0;
    char* save = nullptr;
    for (char* w = strtok_r(args, " ", &save); w != nullptr && n < max_words;
         w = strtok_r(nullptr, " ", &save))
        argv[1 + n++] = w;
    argv[1 + n] = nullptr;
    return n;
}

int32_t launch_app(const AppEntry& e, const char* apps_dir, const char* staging_dir,
                   RunningApp* running) {
    char name[sizeof e.name];
    std::memcpy(name, e.name, sizeof name);
    const bool terminated = std::memchr(name, '\0', sizeof name) != nullptr;
    name[sizeof name - 1] = '\0';
    // The name becomes a path component under /tmp: a slash or a dot-dot in it would reach
    // out of the staging area.
    if (!terminated || !app_name_acceptable(name)) return fail(name);

    char source[APP_PATH_BYTES], staged[APP_PATH_BYTES], log_name[APP_PATH_BYTES];
    if (!fits(std::snprintf(source, sizeof source, "%s/%s/%s", apps_dir, name, STAGED_NAME),
              sizeof source) ||
        !fits(std::snprintf(staged, sizeof staged, "%s/%s/%s", staging_dir, name, STAGED_NAME),
              sizeof staged) ||
        !fits(std::snprintf(log_name, sizeof log_name, "%s.log", name), sizeof log_name))
        return fail(name);

    const FdGuard staging{make_private_dir(AT_FDCWD, staging_dir)};
    if (staging.fd < 0) return fail(name);
    const FdGuard app_dir{make_private_dir(staging.fd, name)};
    if (app_dir.fd < 0 || !stage_executable(source, app_dir.fd)) return fail(name);

    pid_t pid;
    {
        const FdGuard log_fd{open_staging_file(staging.fd, log_name, LOG_MODE)};
        if (log_fd.fd < 0) return fail(name);
        // Split before the fork: the child then only has to exec.
        char args[sizeof e.args];
        std::memcpy(args, e.args, sizeof args);
        args[sizeof args - 1] = '\0';
        char* argv[LAUNCH_ARGV_SLOTS];
        argv[0] = staged;
        launch_split_args(args, argv, LAUNCH_ARGV_SLOTS);

        pid = fork();
        if (pid == 0) exec_child(log_fd.fd, app_dir.fd, argv);
    }
    if (pid < 0) return fail(name);
    write_pid_file(staging.fd, name, pid);
    running->pid = pid;
    std::memcpy(running->name, name, sizeof running->name);
    log_line(LOG_LAUNCHED, name, pid);
    return pid;
}
