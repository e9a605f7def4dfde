#pragma once
#include <cstdint>

#include "display/canvas.h"
#include "display/font.h"

// The menu palette. COL_ values are complete 0xAARRGGBB pixels; RGB_ values are text
// colours, whose alpha comes from the glyph coverage.
constexpr uint32_t COL_PANEL = 0xDE283650;         // translucent dark blue panel
constexpr uint32_t COL_FRAME = 0xFF00DAE8;         // panel border
constexpr uint32_t COL_RULE = 0xFF8898A8;          // separators, bar of an app that may not run
constexpr uint32_t COL_ROW_HIGHLIGHT = 0xE01E2C44; // selected row
constexpr uint32_t COL_ACCENT = 0xFFFF47A5;        // selection bar, scroll thumb, progress fill
constexpr uint32_t COL_TRACK = 0x40FFFFFF;         // scroll and progress tracks
constexpr uint32_t RGB_WHITE = 0xFFFFFF;
constexpr uint32_t RGB_LABEL = 0x9AC8F8;
constexpr uint32_t RGB_DIM = 0x8898A8;
constexpr uint32_t RGB_PINK = 0xFF47A5;
constexpr uint32_t RGB_WARN = 0xFFB347;

// The primitives only store into the canvas; they never read it back (it is uncached device
// memory on the goggles). None of them checks y, and only clipped text checks x: callers
// keep their drawing inside the canvas.

// Writes px into every pixel of the w x h rectangle at (x, y).
void fill_rect(Canvas c, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t px);

// One colour of a line, from where the previous run ended up to `end` (exclusive).
struct PixelRun {
    int32_t end;
    uint32_t px;
};

// Writes the n consecutive runs into each of the h lines from y, the first run starting at
// x. Each line is stored once from left to right, whatever its colours.
void fill_runs(Canvas c, int32_t x, int32_t y, int32_t h, const PixelRun* runs, int32_t n);

// Draws a NUL-terminated string on one line from (x, y), the top-left corner of its first
// glyph. Ink replaces the pixel with coverage << 24 | rgb, no blending; pixels without ink
// are left alone. Every byte advances the pen by f.w, so bytes outside 32..126 leave a gap.
// With clip set, pixels whose x lies outside 0..CANVAS_W - 1 are dropped.
void draw_text(Canvas c, const Font& f, int32_t x, int32_t y, uint32_t rgb, const char* s,
               bool clip);

// The part of a canvas a drawing may touch: x0 <= x < x1, y0 <= y < y1.
struct ClipRect {
    int32_t x0, y0, x1, y1;
};

// draw_text cut to `clip` on both axes, and a byte the font lacks drawn as a hollow box in
// its cell rather than left as a gap: for text that is not the launcher's own.
void draw_text_in(Canvas c, const Font& f, int32_t x, int32_t y, uint32_t rgb, const char* s,
                  ClipRect clip);

// fill_rect cut to `clip`.
void fill_rect_in(Canvas c, ClipRect clip, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t px);

// Draws rows first_row..end_row - 1 of LOGO, the image's top-left corner at (x, y): pixels
// with alpha above 128 are written opaque in their colour, the rest are left alone. In row
// bands, so that the menu can leave out the rows its rule and highlight lie over; the drawn
// pixels come from the logo's runs rather than a test of every alpha byte.
void draw_logo(Canvas c, int32_t x, int32_t y, int32_t first_row, int32_t end_row);
