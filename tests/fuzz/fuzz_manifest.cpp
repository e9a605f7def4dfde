// Manifests are written by whoever installs an app: any bytes may arrive, through the file
// reader (long lines split, CRLF, NUL bytes) and straight into the line parser.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "apps/manifest.h"

namespace {

bool terminated(const char* s, size_t size) {
    return std::memchr(s, '\0', size) != nullptr;
}

void check_entry(const AppEntry& e) {
    // Every text field stays a terminated string inside its record.
    if (!terminated(e.desc, sizeof e.desc) || !terminated(e.version, sizeof e.version) ||
        !terminated(e.args, sizeof e.args))
        __builtin_trap();
    if (e.modes == 0 || (e.modes & ~(APP_MODE_NORMAL | APP_MODE_AV | APP_MODE_HDMI)) != 0)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AppEntry entry{};
    entry.modes = APP_MODE_NORMAL;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (f == nullptr) return 0;
    manifest_read(&entry, f);
    fclose(f);
    check_entry(entry);

    char line[MANIFEST_LINE_BYTES];
    const size_t n = size < sizeof line - 1 ? size : sizeof line - 1;
    std::memcpy(line, data, n);
    line[n] = '\0';
    AppEntry direct{};
    direct.modes = APP_MODE_NORMAL;
    manifest_apply_line(&direct, line);
    check_entry(direct);

    const uint32_t modes = parse_modes(line);
    if (modes == 0 || (modes & ~(APP_MODE_NORMAL | APP_MODE_AV | APP_MODE_HDMI)) != 0)
        __builtin_trap();
    for (int32_t mode = -1; mode <= 4; ++mode) {
        const int32_t a = app_allowed_in_mode(modes, mode);
        if (a != 0 && a != 1) __builtin_trap();
    }
    return 0;
}
