#pragma once
#include <cstdint>

#include "display/canvas.h"

// The progress panel shown at the bottom of the canvas while PLAY is held, between the
// moment the buttons are taken (500 ms) and the menu opening (1500 ms).

constexpr int32_t HOLD_PANEL_START_MS = 500;
constexpr int HOLD_TRACK_PX = 340;

// Width of the fill after `elapsed_ms` of holding: 0.34 px per ms past 500 ms, truncated.
constexpr int hold_fill_width(int32_t elapsed_ms) {
    const int64_t p = static_cast<int64_t>(elapsed_ms - HOLD_PANEL_START_MS) * HOLD_TRACK_PX;
    return p < 1000 ? 0 : static_cast<int>(p / 1000);
}

void draw_hold_panel(Canvas c, int32_t elapsed_ms);
