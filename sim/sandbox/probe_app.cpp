// An app for the virtual board's tests: reports how the launcher started it, then behaves as
// its arguments say.
//
//   probe [--sleep-ms N] [--exit N] [other words...]
//
// It prints, one per line: argv entries, the working directory, the environment, the open
// descriptors, whether SIGHUP is ignored, and whether it leads its own session.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern char** environ;

int main(int argc, char** argv) {
    for (int i = 0; i < argc; ++i)
        std::printf("argv[%d]=%s\n", i, argv[i]);
    char cwd[512];
    std::printf("cwd=%s\n", getcwd(cwd, sizeof cwd) ? cwd : "?");
    for (char** e = environ; *e; ++e)
        std::printf("env=%s\n", *e);
    if (DIR* d = opendir("/proc/self/fd")) {
        const int own = dirfd(d);
        while (const dirent* de = readdir(d))
            if (de->d_name[0] != '.' && std::atoi(de->d_name) != own)
                std::printf("fd=%s\n", de->d_name);
        closedir(d);
    }
    struct sigaction sa {};
    sigaction(SIGHUP, nullptr, &sa);
    std::printf("sighup=%s\n", sa.sa_handler == SIG_IGN ? "ignored" : "default");
    std::printf("session_leader=%d\n", getsid(0) == getpid() ? 1 : 0);
    std::fflush(stdout);

    long sleep_ms = 0;
    int status = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--sleep-ms") == 0) sleep_ms = std::atol(argv[i + 1]);
        if (std::strcmp(argv[i], "--exit") == 0) status = std::atoi(argv[i + 1]);
    }
    timespec ts{sleep_ms / 1000, (sleep_ms % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0) {
    }
    std::printf("probe done\n");
    return status;
}
