// How the launcher's apps end, as the board reports it. The launcher forks, and its child
// (still carrying this library) execs the app: the child takes an entry of the board's ring
// as it execs and keeps the errno of an exec that fails, before it ends with 127. The
// launcher's waitpid on that child adds the wait status. The child runs between fork and
// exec, and the launcher may reap from its signal handler: nothing here allocates or locks.
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hooks.h"

namespace vxpreload {
namespace {

using vxboard::AppRun;
using vxboard::AppRuns;

using ExecveFn = int (*)(const char*, char* const[], char* const[]);
using WaitpidFn = pid_t (*)(pid_t, int*, int);
ExecveFn g_execve = nullptr;
WaitpidFn g_waitpid = nullptr;

// dlsym may allocate: resolved before main, never in the forked child.
__attribute__((constructor)) void resolve_app_calls() {
    g_execve = reinterpret_cast<ExecveFn>(dlsym(RTLD_NEXT, "execve"));
    g_waitpid = reinterpret_cast<WaitpidFn>(dlsym(RTLD_NEXT, "waitpid"));
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
    if (s == nullptr) return nullptr;
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
