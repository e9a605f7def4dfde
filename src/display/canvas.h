#pragma once
#include <cstddef>
#include <cstdint>

// A drawing surface laid out like a framebuffer page: 32-bit 0xAARRGGBB pixels, 1920 to a
// line, of which the launcher draws the top-left 1280 x 720.
constexpr uint32_t LINE_BYTES = 7680;
constexpr uint32_t LINE_PIXELS = LINE_BYTES / 4;
constexpr uint32_t CANVAS_W = 1280;
constexpr uint32_t CANVAS_H = 720;

struct Canvas {
    uint32_t* base; // pixel (0, 0)
};

inline uint32_t* canvas_row(Canvas c, uint32_t y) {
    return c.base + static_cast<size_t>(y) * LINE_PIXELS;
}
