// App names come from the directory listing: any bytes but '/' and NUL.
#include <cstdint>
#include <cstring>

#include "apps/catalogue.h"

namespace {

bool name_char(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char name[300];
    const size_t n = size < sizeof name - 1 ? size : sizeof name - 1;
    std::memcpy(name, data, n);
    name[n] = '\0';
    if (app_name_acceptable(name) == 0) return 0;
    // Whatever is accepted can be joined into the app's paths without escaping them.
    const size_t len = std::strlen(name);
    if (len < 1 || len > APP_NAME_MAX || name[0] == '.') __builtin_trap();
    for (size_t i = 0; i < len; ++i)
        if (!name_char(static_cast<unsigned char>(name[i]))) __builtin_trap();
    if (std::strcmp(name, LAUNCHER_APP_NAME) == 0) __builtin_trap();
    return 0;
}
