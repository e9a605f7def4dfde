// A small native app: prints the monotonic time once a second for ten seconds, then exits,
// so the launcher's menu comes back. Built static for the goggles by tools/release.sh.
#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
    std::printf("button-clock: %d argument(s)\n", argc - 1);
    for (int i = 1; i < argc; ++i) std::printf("  %s\n", argv[i]);
    for (int s = 0; s < 10; ++s) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("uptime %lld.%03ld s\n", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000000);
        std::fflush(stdout);
        const timespec second{1, 0};
        while (nanosleep(&second, nullptr) != 0) {
        }
    }
    return 0;
}
