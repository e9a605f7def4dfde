// The libc calls the hooks stand in front of. dlsym may allocate, so they are looked up
// before main: a signal handler that reaches a hook first finds them ready.
#include <cerrno>
#include <dlfcn.h>

#include "preload.h"

namespace vxpreload {

namespace {

#if defined(__arm__)
constexpr const char* SYM_FCNTL = "__fcntl_time64";
constexpr const char* SYM_MMAP = "mmap64";
constexpr const char* SYM_IOCTL = "__ioctl_time64";
constexpr const char* SYM_CLOCK_GETTIME = "__clock_gettime64";
constexpr const char* SYM_CLOCK_NANOSLEEP = "__clock_nanosleep_time64";
constexpr const char* SYM_NANOSLEEP = "__nanosleep64";
#else
constexpr const char* SYM_FCNTL = "fcntl64";
constexpr const char* SYM_MMAP = "mmap";
constexpr const char* SYM_IOCTL = "ioctl";
constexpr const char* SYM_CLOCK_GETTIME = "clock_gettime";
constexpr const char* SYM_CLOCK_NANOSLEEP = "clock_nanosleep";
constexpr const char* SYM_NANOSLEEP = "nanosleep";
#endif

RealCalls g_real{};
std::atomic<bool> g_resolved{false};

template <typename F> void bind(F& slot, const char* name) {
    slot = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void resolve() {
    if (g_resolved.load(std::memory_order_acquire)) return;
    bind(g_real.open, "open");
    bind(g_real.open64, "open64");
    bind(g_real.openat, "openat");
    bind(g_real.openat64, "openat64");
    bind(g_real.open_2, "__open_2");
    bind(g_real.open64_2, "__open64_2");
    bind(g_real.close, "close");
    bind(g_real.write, "write");
    bind(g_real.dup, "dup");
    bind(g_real.dup2, "dup2");
    bind(g_real.dup3, "dup3");
    bind(g_real.fcntl, SYM_FCNTL);
    bind(g_real.mmap, SYM_MMAP);
    bind(g_real.ioctl, SYM_IOCTL);
    bind(g_real.clock_gettime, SYM_CLOCK_GETTIME);
    bind(g_real.clock_nanosleep, SYM_CLOCK_NANOSLEEP);
    bind(g_real.nanosleep, SYM_NANOSLEEP);
    g_resolved.store(true, std::memory_order_release);
}

} // namespace

const RealCalls& real() {
    if (!g_resolved.load(std::memory_order_acquire)) resolve();
    return g_real;
}

int fail(int err) {
    errno = err;
    return -1;
}

} // namespace vxpreload
