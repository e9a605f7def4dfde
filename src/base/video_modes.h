#pragma once
#include <cstdint>

// The goggles' video modes, numbered as the launcher stores and logs them, and what names each
// has elsewhere: its bit in an app's `modes` set and its word in a manifest's "modes=" line.
// Every other numbering of the modes is taken from this table.

enum VideoMode : int32_t {
    MODE_UNKNOWN = 0,
    MODE_NORMAL = 1,
    MODE_HDMI = 2,
    MODE_AV = 3,
};

// How log lines explain a mode's number.
constexpr char VIDEO_MODE_LEGEND[] = "(0=? 1=NORMAL 2=HDMI 3=AV)";

struct VideoModeName {
    VideoMode mode;
    uint32_t app_bit; // in AppEntry::modes
    const char* word; // in a manifest's "modes=" value
};

// In the order a manifest's words are tried. The bits are those stored in an app's set since
// the first manifests: AV before HDMI.
constexpr VideoModeName VIDEO_MODE_NAMES[] = {
    {MODE_NORMAL, 1, "normal"},
    {MODE_AV, 2, "av"},
    {MODE_HDMI, 4, "hdmi"},
};

// The bit of `mode` in an app's `modes` set; 0 for a mode no app can ask for.
constexpr uint32_t app_mode_bit(int32_t mode) {
    for (const VideoModeName& n : VIDEO_MODE_NAMES)
        if (n.mode == mode) return n.app_bit;
    return 0;
}

constexpr uint32_t APP_MODE_NORMAL = app_mode_bit(MODE_NORMAL);
constexpr uint32_t APP_MODE_AV = app_mode_bit(MODE_AV);
constexpr uint32_t APP_MODE_HDMI = app_mode_bit(MODE_HDMI);
static_assert(APP_MODE_NORMAL == 1 && APP_MODE_AV == 2 && APP_MODE_HDMI == 4);
