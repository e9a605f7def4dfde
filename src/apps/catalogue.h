#pragma once
#include <cstdint>

#include "base/paths.h"
#include "base/video_modes.h"

// Installed apps: one sub-directory of the app directory each, with an executable `app` and
// an optional `manifest`.

constexpr const char* LAUNCHER_APP_NAME = "VornaX-Launcher";
constexpr int MAX_APPS = 16;
constexpr int APP_NAME_MAX = 39;
constexpr int APP_PATH_BYTES = 300;

struct AppEntry {
    char name[40];
    char desc[96];
    char version[16];
    char args[128];
    uint32_t modes;
    int32_t allowed;
};
static_assert(sizeof(AppEntry) == 288, "an entry is a fixed 288-byte record");

struct AppTable {
    AppEntry entries[MAX_APPS];
    int32_t count;
    int32_t selected;
};

extern AppTable g_apps;

// 1 if a directory entry's name may name an app: 1..39 bytes of [A-Za-z0-9_-], not starting
// with a dot, and not the launcher's own directory.
int app_name_acceptable(const char* name);

// Rebuilds the table from `dir` for `video_mode`; the launcher always scans APPS_DIR.
void scan_apps_in(AppTable* table, const char* dir, int32_t video_mode);

void scan_apps(int32_t video_mode);
