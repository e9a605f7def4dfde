// Pid files live in world-writable /tmp: their text is whatever somebody put there.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "apps/running.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char text[64];
    const size_t n = size < sizeof text - 1 ? size : sizeof text - 1;
    std::memcpy(text, data, n);
    text[n] = '\0';
    int32_t pid = -12345;
    const int32_t ok = parse_pid_text(text, &pid);
    if (ok != 0 && ok != 1) __builtin_trap();
    if (!ok) {
        if (pid != -12345) __builtin_trap(); // a refused text leaves the caller's value
        return 0;
    }
    // An accepted number is what strtoll reads from the same text, and fits 32 bits.
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || v != pid) __builtin_trap();
    return 0;
}
