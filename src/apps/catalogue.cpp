#include "apps/catalogue.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "apps/manifest.h"
#include "base/safe_open.h"

AppTable g_apps;

namespace {

bool name_byte_ok(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

FILE* open_manifest(const char* path) {
    const int fd = open_regular_file(path);
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, "r");
    if (f == nullptr) close(fd);
    return f;
}

void clamp_selection(AppTable* table) {
    if (table->selected >= table->count || table->selected < 0) {
        const int32_t hi = table->count - 1;
        const int32_t v = table->selected < hi ? table->selected : hi;
        table->selected = v > 0 ? v : 0;
    }
}

} // namespace

int app_name_acceptable(const char* name) {
    const size_t len = std::strlen(name);
    if (len == 0 || name[0] == '.' || len > static_cast<size_t>(APP_NAME_MAX)) return 0;
    for (size_t i = 0; i < len; ++i)
        if (!name_byte_ok(static_cast<unsigned char>(name[i]))) return 0;
    return std::strcmp(name, LAUNCHER_APP_NAME) != 0 ? 1 : 0;
}

void scan_apps_in(AppTable* table, const char* dir, int32_t video_mode) {
    table->count = 0;
    DIR* d = opendir(dir);
    if (d == nullptr) return;
    while (table->count < MAX_APPS) {
        const dirent* de = readdir(d);
        if (de == nullptr) break;
        if (!app_name_acceptable(de->d_name)) continue;
        char path[APP_PATH_BYTES];
        std::snprintf(path, sizeof path, "%s/%s/app", dir, de->d_name);
        struct stat st {};
        if (stat(path, &st) != 0 || (st.st_mode & S_IRUSR) == 0) continue;

        AppEntry* e = &table->entries[table->count];
        std::memset(e, 0, sizeof *e);
        std::memcpy(e->name, de->d_name,
                    std::strlen(de->d_name)); // at most 39 bytes, checked above
        e->modes = APP_MODE_NORMAL;
        e->version[0] = '1';
        std::snprintf(path, sizeof path, "%s/%s/manifest", dir, de->d_name);
        if (FILE* f = open_manifest(path)) {
            manifest_read(e, f);
            std::fclose(f);
        }
        e->allowed = app_allowed_in_mode(e->modes, video_mode);
        ++table->count;
    }
    closedir(d);
    clamp_selection(table);
}

void scan_apps(int32_t video_mode) {
    scan_apps_in(&g_apps, APPS_DIR, video_mode);
}
