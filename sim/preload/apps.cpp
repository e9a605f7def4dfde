// The launcher's processes as the board sees them: how its apps end, and its stops and
// continues of the goggles' service.
//
// How the launcher's apps end, as the board reports it. The launcher forks, and its child
// (still carrying this library) execs the app: the child takes an entry of the board's ring
// as it execs and keeps the errno of an exec that fails, before it ends with 127. The
// launcher's waitpid on that child adds the wait status. The child runs between fork and
// exec, and the launcher may reap from its signal handler: nothing here allocates or locks.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "base/paths.h"
#include "preload.h"

namespace vxpreload {
namespace {

using vxboard::AppRun;
using vxboard::AppRuns;

using ExecveFn = int (*)(const char*, char* const[], char* const[]);
using WaitpidFn = pid_t (*)(pid_t, int*, int);
using KillFn = int (*)(pid_t, int);
ExecveFn g_execve = nullptr;
WaitpidFn g_waitpid = nullptr;
KillFn g_kill = nullptr;

// dlsym may allocate: resolved before main, never in the forked child.
__attribute__((constructor)) void resolve_app_calls() {
    g_execve = reinterpret_cast<ExecveFn>(dlsym(RTLD_NEXT, "execve"));
    g_waitpid = reinterpret_cast<WaitpidFn>(dlsym(RTLD_NEXT, "waitpid"));
    g_kill = reinterpret_cast<KillFn>(dlsym(RTLD_NEXT, "kill"));
}

constexpr int STATE_WAIT_POLLS = 500;
constexpr long STATE_POLL_NS = 1000000;

// Whether `pid` is stopped, from the state letter of /proc/PID/stat (by system calls alone:
// the launcher may be in its signal handler).
bool stopped(pid_t pid) {
    char path[32];
    snprintf(path, sizeof path, "%s/%d/stat", PROC_DIR, static_cast<int>(pid));
    const int fd = static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, O_RDONLY | O_CLOEXEC));
    if (fd < 0) return false;
    char text[256];
    const ssize_t n = syscall(SYS_read, fd, text, sizeof text - 1);
    syscall(SYS_close, fd);
    if (n <= 0) return false;
    text[n] = '\0';
    const char* paren = std::strrchr(text, ')');
    return paren != nullptr && paren[1] == ' ' && (paren[2] == 'T' || paren[2] == 't');
}

// A stop or continue takes effect when the kernel next schedules its target, which on a
// loaded machine may come after whoever watches the board has looked. The launcher's signals
// are waited for until their target shows them, so that what the launcher has done is what
// the board shows once its pass is over.
void wait_until_taken(pid_t pid, bool stop) {
    const int saved_errno = errno;
    const timespec poll{0, STATE_POLL_NS};
    for (int i = 0; i < STATE_WAIT_POLLS && stopped(pid) != stop; ++i)
        real().nanosleep(&poll, nullptr);
    errno = saved_errno;
}

// The launcher stages every app as STAGING/NAME/app: the name is the directory's.
void name_of(const char* path, char* out) {
    const char* end = std::strrchr(path, '/');
    const char* begin = end;
    while (begin != nullptr && begin > path && begin[-1] != '/')
        --begin;
    size_t n = begin != nullptr && end != nullptr ? static_cast<size_t>(end - begin) : 0;
    if (n >= vxboard::APP_RUN_NAME_BYTES) n = vxboard::APP_RUN_NAME_BYTES - 1;
    std::memcpy(out, begin, n);
    out[n] = '\0';
}

AppRun* note_exec(const char* path) {
    vxboard::BoardState* s = board();
    // Only the launcher's child execs an app: an app's own execs, and init's, are not apps.
    if (s == nullptr || getppid() != s->launcher.ns_pid.load()) return nullptr;
    AppRuns& apps = s->apps;
    AppRun& r = apps.runs[apps.started.fetch_add(1) % vxboard::APP_RUN_SLOTS];
    r.state.store(vxboard::APP_RUN_FREE);
    r.ns_pid.store(getpid());
    r.exec_errno.store(0);
    r.wait_status.store(0);
    name_of(path, r.name);
    r.state.store(vxboard::APP_RUN_EXEC);
    return &r;
}

void note_collected(pid_t pid, int status) {
    vxboard::BoardState* s = board();
    if (s == nullptr) return;
    for (AppRun& r : s->apps.runs)
        if (r.state.load() == vxboard::APP_RUN_EXEC && r.ns_pid.load() == pid) {
            r.wait_status.store(status);
            r.state.store(vxboard::APP_RUN_COLLECTED);
        }
}

} // namespace
} // namespace vxpreload

using namespace vxpreload;

extern "C" {

int execve(const char* path, char* const argv[], char* const envp[]) {
    AppRun* r = note_exec(path);
    const int rc = g_execve(path, argv, envp);
    const int err = errno;
    if (r != nullptr) r->exec_errno.store(err);
    errno = err;
    return rc;
}

int kill(pid_t pid, int sig) {
    const int rc = g_kill(pid, sig);
    if (rc == 0 && pid > 0 && (sig == SIGSTOP || sig == SIGCONT) && is_launcher())
        wait_until_taken(pid, sig == SIGSTOP);
    return rc;
}

pid_t waitpid(pid_t pid, int* status, int options) {
    int st = 0;
    const pid_t r = g_waitpid(pid, &st, options);
    if (r > 0) {
        note_collected(r, st);
        if (status != nullptr) *status = st;
    }
    return r;
}

} // extern "C"
