#pragma once
#include <cstdint>

#include "base/timings.h"
#include "display/canvas.h"

// The progress panel shown at the bottom of the canvas while PLAY is held, between the
// moment the buttons are taken and the menu opening.

constexpr int HOLD_TRACK_PX = 340;

// Where the panel lies on the canvas, and a point inside it clear of its caption and track,
// where whoever reads the screen (the virtual board's front ends) looks for the panel.
namespace hold_layout {
constexpr int PANEL_X = 450, PANEL_Y = 658, PANEL_W = 380, PANEL_H = 46;
constexpr int PROBE_X = PANEL_X + 5, PROBE_Y = PANEL_Y + 32;
} // namespace hold_layout

// Width of the fill after `elapsed_ms` of holding: the track's width over the panel's span
// (0.34 px per ms), truncated, so that it stops a pixel short of the track's end.
constexpr int hold_fill_width(int32_t elapsed_ms) {
    const int64_t p = static_cast<int64_t>(elapsed_ms - HOLD_PANEL_FIRST_MS) * HOLD_TRACK_PX;
    return p < HOLD_PANEL_SPAN_MS ? 0 : static_cast<int>(p / HOLD_PANEL_SPAN_MS);
}

void draw_hold_panel(Canvas c, int32_t elapsed_ms);
