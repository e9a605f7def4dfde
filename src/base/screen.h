#pragma once
#include <cstdint>

// The goggles' screen as the launcher requires its framebuffer: 1920 x 1080 pixels of 32-bit
// 0xAARRGGBB words, three such pages stacked in its memory (the goggles' own at row 0, the
// launcher's two below it), of which the launcher draws the top-left 1280 x 720 canvas.

constexpr uint32_t SCREEN_W = 1920;
constexpr uint32_t SCREEN_H = 1080;
constexpr uint32_t SCREEN_PAGES = 3;
constexpr uint32_t PIXEL_BYTES = 4;
constexpr uint32_t LINE_BYTES = SCREEN_W * PIXEL_BYTES;
constexpr uint32_t VIRTUAL_ROWS = SCREEN_H * SCREEN_PAGES;

constexpr uint32_t CANVAS_W = 1280;
constexpr uint32_t CANVAS_H = 720;
