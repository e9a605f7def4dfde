#pragma once
#include <cstdint>

// The menu logo: red, green, blue, alpha bytes per pixel, rows from the top.
constexpr int32_t LOGO_W = 103;
constexpr int32_t LOGO_H = 100;
constexpr int32_t LOGO_BYTES = LOGO_W * LOGO_H * 4;

extern const uint8_t LOGO[LOGO_BYTES];

// Consecutive pixels of one logo row with alpha above 128, the ones drawn: len of them from
// column col. Row y's runs are LOGO_RUNS[LOGO_ROW_STARTS[y]] up to the next row's start.
struct LogoRun {
    uint8_t col, len;
};
extern const LogoRun LOGO_RUNS[];
extern const uint16_t LOGO_ROW_STARTS[LOGO_H + 1];
