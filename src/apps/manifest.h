#pragma once
#include <cstdint>
#include <cstdio>

#include "apps/catalogue.h"

// The plain-text manifest beside an app: "desc=", "version=", "args=" and "modes=" lines.

constexpr int MANIFEST_LINE_BYTES = 512;
constexpr int MANIFEST_MODES_BYTES = 64;

// The keys a manifest line may start with, and where each value goes.
enum class ManifestKey { Desc, Version, Args, Modes };
struct ManifestKeyName {
    ManifestKey key;
    const char* prefix; // the key as a line starts with it, "=" included
};
constexpr ManifestKeyName MANIFEST_KEYS[] = {
    {ManifestKey::Desc, "desc="},
    {ManifestKey::Version, "version="},
    {ManifestKey::Args, "args="},
    {ManifestKey::Modes, "modes="},
};

// The modes bit set named by a "modes=" value; never 0, NORMAL when nothing is recognised.
uint32_t parse_modes(const char* text);

// 1 when an app with `modes` may run in `video_mode`.
int32_t app_allowed_in_mode(uint32_t modes, int32_t video_mode);

// Applies one line (or one 511-byte part of a longer line) to the entry.
void manifest_apply_line(AppEntry* entry, const char* line);

// Reads every line of an open manifest into the entry.
void manifest_read(AppEntry* entry, FILE* file);
