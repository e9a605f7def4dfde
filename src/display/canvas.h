#pragma once
#include <cstddef>
#include <cstdint>

#include "base/screen.h"

// A drawing surface laid out like a framebuffer page: 32-bit 0xAARRGGBB pixels, SCREEN_W to
// a line, of which the launcher draws the top-left CANVAS_W x CANVAS_H.
constexpr uint32_t LINE_PIXELS = LINE_BYTES / PIXEL_BYTES;

struct Canvas {
    uint32_t* base; // pixel (0, 0)
};

inline uint32_t* canvas_row(Canvas c, uint32_t y) {
    return c.base + static_cast<size_t>(y) * LINE_PIXELS;
}
