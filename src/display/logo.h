#pragma once
#include <cstdint>

// The menu logo: red, green, blue, alpha bytes per pixel, rows from the top.
constexpr int32_t LOGO_W = 103;
constexpr int32_t LOGO_H = 100;
constexpr int32_t LOGO_BYTES = LOGO_W * LOGO_H * 4;

extern const uint8_t LOGO[LOGO_BYTES];
