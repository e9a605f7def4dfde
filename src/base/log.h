#pragma once
#include <cstddef>

// One diagnostic line to standard error, formatted on the stack and written with a single
// unbuffered write so that lines from the launcher and its children never interleave.
[[gnu::format(printf, 1, 2)]] void log_line(const char* fmt, ...);

// Writes bytes to standard error as they are.
void log_bytes(const char* bytes, size_t len);
