// The libc calls the hooks stand in front of. dlsym may allocate, so they are looked up
// before main: a signal handler that reaches a hook first finds them ready.
#include <cerrno>
#include <dlfcn.h>

#include "preload.h"

namespace vxpreload {

namespace {

// With 64-bit offsets and time, 32-bit ARM's libc answers some calls under other symbols.
#if defined(__arm__)
constexpr bool TIME64_SYMBOLS = true;
#else
constexpr bool TIME64_SYMBOLS = false;
#endif

constexpr const char* symbol(const char* native, const char* time64) {
    return TIME64_SYMBOLS ? time64 : native;
}

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
    bind(g_real.fcntl, symbol("fcntl64", "__fcntl_time64"));
    bind(g_real.mmap, symbol("mmap", "mmap64"));
    bind(g_real.ioctl, symbol("ioctl", "__ioctl_time64"));
    bind(g_real.clock_gettime, symbol("clock_gettime", "__clock_gettime64"));
    bind(g_real.clock_nanosleep, symbol("clock_nanosleep", "__clock_nanosleep_time64"));
    bind(g_real.nanosleep, symbol("nanosleep", "__nanosleep64"));
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
