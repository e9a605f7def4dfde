// The first process of the virtual board's sandbox (pid 1 of its PID namespace). It starts
// the stand-in for the goggles' own service and the launcher, collects every process that
// ends (apps outlive the launcher and are re-parented here, as on the goggles), records the
// launcher's exit in the board state, and stays until the board takes the sandbox down.
//
//   board-init [--service] [--uid N] [--subreaper] -- LAUNCHER [ARGS...]
//
// The board's library joins the launcher, and every other program here, through the
// sandbox's /etc/ld.so.preload; the launcher is known to it by the pid recorded here.
//
// With --uid the service and the launcher run as that user (and group) instead of root:
// then permission bits bind them, and so does a process limit, which root is exempt from.
// With --subreaper the launcher runs under a process that made itself a child subreaper,
// as under a service manager: the launcher's orphans then go to it rather than to pid 1.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board_state.h"
#include "sandbox/service_standin.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void on_stop(int) {
    g_stop = 1;
}

vxboard::BoardState* map_state() {
    const int fd = open(vxboard::BOARD_STATE_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    void* p = mmap(nullptr, vxboard::BOARD_STATE_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<vxboard::BoardState*>(p);
}

// Drops root for good, before an exec; init itself stays root to collect every process.
void become(uid_t uid) {
    if (uid == 0) return;
    if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
        setresuid(uid, uid, uid) != 0) {
        fprintf(stderr, "board-init: cannot become uid %u: %s\n", static_cast<unsigned>(uid),
                strerror(errno));
        _exit(126);
    }
}

pid_t start_service(uid_t uid) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    become(uid);
    vxboard::run_service_standin();
}

// The launcher records its own pid before it execs, so that the board's library knows it
// from its first call on (init records it too, as it may look first).
[[noreturn]] void exec_launcher(vxboard::BoardState* state, char** argv, uid_t uid) {
    state->launcher.ns_pid.store(getpid());
    become(uid);
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    // A sanitizer build of the launcher insists on its runtime being loaded first; the
    // board's library goes first on purpose, so that it sees the device calls before anyone.
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 0);
    // A sanitizer report must reach the launcher's standard error, which the board reads,
    // and end the process rather than let it run on in an undefined state.
    setenv("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1", 0);
    execvp(argv[0], argv);
    fprintf(stderr, "board-init: exec %s: %s\n", argv[0], strerror(errno));
    _exit(126);
}

// The subreaper between init and the launcher: it starts the launcher, records its end as
// init would, and collects whatever the launcher leaves behind, until the board goes.
[[noreturn]] void run_under_subreaper(vxboard::BoardState* state, char** argv, uid_t uid) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    const pid_t launcher = fork();
    if (launcher == 0) exec_launcher(state, argv, uid);
    state->launcher.ns_pid.store(launcher);
    for (;;) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0 && errno == ECHILD) pause();
        if (pid == launcher) {
            state->launcher.wait_status.store(status);
            state->launcher.exited.store(1);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    bool service = false;
    uid_t uid = 0;
    bool subreaper = false;
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strcmp(argv[i], "--service") == 0)
            service = true;
        else if (strcmp(argv[i], "--subreaper") == 0)
            subreaper = true;
        else if (strcmp(argv[i], "--uid") == 0 && i + 1 < argc)
            uid = static_cast<uid_t>(strtoul(argv[++i], nullptr, 10));
    }
    if (i + 1 >= argc) {
        fprintf(stderr, "usage: board-init [--service] [--uid N] [--subreaper] -- "
                        "LAUNCHER [ARGS...]\n");
        return 2;
    }
    char** launcher_argv = argv + i + 1;
    vxboard::BoardState* state = map_state();
    if (state == nullptr) {
        fprintf(stderr, "board-init: no board state at %s\n", vxboard::BOARD_STATE_PATH);
        return 2;
    }

    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigaction(SIGTERM, &sa, nullptr);

    if (service) start_service(uid);
    const pid_t launcher = fork();
    if (launcher == 0) {
        if (subreaper) run_under_subreaper(state, launcher_argv, uid);
        exec_launcher(state, launcher_argv, uid);
    }
    if (!subreaper) state->launcher.ns_pid.store(launcher);

    while (!g_stop) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            if (errno == ECHILD) {
                pause(); // nothing left to collect: wait to be taken down
                continue;
            }
            break;
        }
        if (pid == launcher && !subreaper) {
            state->launcher.wait_status.store(status);
            state->launcher.exited.store(1);
        }
    }
    kill(-1, SIGKILL);
    return 0;
}
