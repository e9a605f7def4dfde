#include "apps/launch.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "apps/regular_file.h"
#include "core/log.h"

namespace {

constexpr mode_t STAGING_DIR_MODE = 0755;
constexpr mode_t STAGED_MODE = 0755;
constexpr mode_t LOG_MODE = 0644;
constexpr mode_t PID_MODE = 0644;

int open_retry(int dirfd, const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = openat(dirfd, path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t read_retry(int fd, void* buf, size_t n) {
    ssize_t r;
    do {
        r = read(fd, buf, n);
    } while (r < 0 && errno == EINTR);
    return r;
}

ssize_t write_retry(int fd, const void* buf, size_t n) {
    ssize_t r;
    do {
        r = write(fd, buf, n);
    } while (r < 0 && errno == EINTR);
    return r;
}

// /tmp is writable by everybody: a directory of ours there is only trusted if it is a real
// directory (not a link planted in its place), owned by us and writable by nobody else.
// Everything inside is then reached relative to its descriptor.
int open_private_dir(int parent, const char* name) {
    mkdirat(parent, name, STAGING_DIR_MODE);
    const int fd = open_retry(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
        close(fd);
        return -1;
    }
    return fd;
}

// Copies src to dst; false on a read error or a short write.
bool copy_all(int src, int dst) {
    static char buf[LAUNCH_COPY_BYTES];
    for (;;) {
        const ssize_t n = read_retry(src, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0 || write_retry(dst, buf, static_cast<size_t>(n)) != n) return false;
    }
}

// Stages the executable as app_dir/app through app.tmp and a rename, so that an earlier
// copy is replaced whole or not at all; no app.tmp is left behind on failure.
bool stage_executable(const char* source, int app_dir) {
    const int src = open_regular_file(source);
    if (src < 0) return false;
    unlinkat(app_dir, "app.tmp", 0);
    const int tmp =
        open_retry(app_dir, "app.tmp", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, STAGED_MODE);
    if (tmp < 0) {
        close(src);
        return false;
    }
    const bool copied = copy_all(src, tmp);
    close(src);
    close(tmp);
    if (!copied || renameat(app_dir, "app.tmp", app_dir, "app") != 0) {
        unlinkat(app_dir, "app.tmp", 0);
        return false;
    }
    return true;
}

void write_pid_file(int staging, const char* name, pid_t pid) {
    char file[APP_PATH_BYTES];
    std::snprintf(file, sizeof file, "%s.pid", name);
    const int fd = open_retry(staging, file, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, PID_MODE);
    if (fd < 0) return;
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d\n", pid);
    write_retry(fd, text, static_cast<size_t>(n));
    close(fd);
}

// Between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(int log_fd, const char* cwd, char* const argv[]) {
    setsid();
    signal(SIGHUP, SIG_IGN);
    signal(SIGCHLD, SIG_DFL);
    dup2(log_fd, 1);
    dup2(log_fd, 2);
    for (int fd = 3; fd <= LAUNCH_MAX_FD; ++fd)
        close(fd);
    if (chdir(cwd) != 0) {
        // The app still runs, from wherever the launcher was.
    }
    static const char* const ENV[] = {LAUNCH_PATH_ENV, nullptr};
    execve(argv[0], argv, const_cast<char* const*>(ENV));
    _exit(127);
}

int32_t fail(const AppEntry& e) {
    log_line("launch failed: %s\n", e.name);
    return -1;
}

} // namespace

int launch_split_args(char* args, char* argv[LAUNCH_ARGV_SLOTS]) {
    int n = 0;
    char* save = nullptr;
    for (char* w = strtok_r(args, " ", &save); w != nullptr && n < LAUNCH_MAX_WORDS;
         w = strtok_r(nullptr, " ", &save))
        argv[1 + n++] = w;
    argv[1 + n] = nullptr;
    return n;
}

int32_t launch_app(const AppEntry& e, const char* apps_dir, const char* staging_dir,
                   RunningApp* running) {
    char source[APP_PATH_BYTES], app_dir_path[APP_PATH_BYTES], staged[APP_PATH_BYTES];
    std::snprintf(source, sizeof source, "%s/%s/app", apps_dir, e.name);
    std::snprintf(app_dir_path, sizeof app_dir_path, "%s/%s", staging_dir, e.name);
    std::snprintf(staged, sizeof staged, "%s/%s/app", staging_dir, e.name);

    const int staging = open_private_dir(AT_FDCWD, staging_dir);
    if (staging < 0) return fail(e);
    const int app_dir = open_private_dir(staging, e.name);
    if (app_dir < 0 || !stage_executable(source, app_dir)) {
        if (app_dir >= 0) close(app_dir);
        close(staging);
        return fail(e);
    }
    close(app_dir);

    char log_name[APP_PATH_BYTES];
    std::snprintf(log_name, sizeof log_name, "%s.log", e.name);
    const int log_fd =
        open_retry(staging, log_name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, LOG_MODE);
    if (log_fd < 0) {
        close(staging);
        return fail(e);
    }
    char args[sizeof e.args];
    std::memcpy(args, e.args, sizeof args);
    args[sizeof args - 1] = '\0';
    char* argv[LAUNCH_ARGV_SLOTS];
    argv[0] = staged;
    launch_split_args(args, argv);

    const pid_t pid = fork();
    if (pid == 0) exec_child(log_fd, app_dir_path, argv);
    close(log_fd);
    if (pid < 0) {
        close(staging);
        return fail(e);
    }
    write_pid_file(staging, e.name, pid);
    close(staging);
    running->pid = pid;
    std::memcpy(running->name, e.name, sizeof running->name);
    log_line("launched %s pid=%d\n", e.name, pid);
    return pid;
}

int32_t launch_selected_app() {
    return launch_app(g_apps.entries[g_apps.selected], APPS_DIR, STAGING_DIR, &g_running);
}
