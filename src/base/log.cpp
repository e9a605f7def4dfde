#include "base/log.h"

#include <cstdarg>
#include <cstdio>

#include "base/sys.h"

namespace {
constexpr size_t LOG_LINE_BYTES = 512;
}

void log_bytes(const char* bytes, size_t len) {
    sys_write_all(2, bytes, len);
}

void log_line(const char* fmt, ...) {
    char buf[LOG_LINE_BYTES];
    va_list ap;
    va_start(ap, fmt);
    const int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) return;
    const size_t len =
        static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1;
    log_bytes(buf, len);
}
