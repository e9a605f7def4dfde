#include "board/video_standin.h"

#include <cmath>

namespace vxboard {

namespace {

uint32_t rgb(double r, double g, double b) {
    auto c = [](double v) { return static_cast<uint32_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    return 0xFF000000u | c(r) << 16 | c(g) << 8 | c(b);
}

} // namespace

void standin_video_frame(uint32_t* out, uint32_t t_ms) {
    const double t = t_ms / 1000.0;
    const double bank = 0.12 * std::sin(t * 0.7);   // roll, radians
    const double pitch = 60.0 * std::sin(t * 0.45); // pixels
    const double travel = t * 0.9;                  // forward motion over the fields
    const double cs = std::cos(bank), sn = std::sin(bank);
    for (uint32_t y = 0; y < SCREEN_H; ++y) {
        for (uint32_t x = 0; x < SCREEN_W; ++x) {
            const double dx = x - SCREEN_W / 2.0, dy = y - SCREEN_H * 0.55 - pitch;
            const double u = dx * cs + dy * sn;  // along the horizon
            const double v = -dx * sn + dy * cs; // below the horizon when positive
            uint32_t px;
            if (v < 0) {
                const double k = std::fmin(1.0, -v / 600.0);
                px = rgb(150 - 90 * k, 190 - 70 * k, 230 - 20 * k);
            } else {
                // Perspective: a ground point at depth 1/v; fields are a checker of crops.
                const double depth = 400.0 / (v + 4.0);
                const double gx = u * depth / 400.0, gz = depth + travel;
                const bool a = static_cast<int>(std::floor(gx * 1.5)) % 2 == 0;
                const bool b = static_cast<int>(std::floor(gz * 0.8)) % 2 == 0;
                const double haze = std::fmin(1.0, depth / 60.0);
                const double r = (a != b ? 90 : 120), g = (a != b ? 120 : 105),
                             bl = (a != b ? 50 : 60);
                px = rgb(r + (170 - r) * haze, g + (185 - g) * haze, bl + (200 - bl) * haze);
            }
            out[static_cast<size_t>(y) * SCREEN_W + x] = px;
        }
    }
}

void composite_over(uint32_t* screen, const uint32_t* page, uint32_t stride) {
    for (uint32_t y = 0; y < SCREEN_H; ++y) {
        for (uint32_t x = 0; x < SCREEN_W; ++x) {
            const uint32_t p = page[static_cast<size_t>(y) * stride + x];
            const uint32_t a = p >> 24;
            if (a == 0) continue;
            uint32_t& s = screen[static_cast<size_t>(y) * SCREEN_W + x];
            auto mix = [&](int shift) {
                const uint32_t fg = (p >> shift) & 0xFF, bg = (s >> shift) & 0xFF;
                return ((fg * a + bg * (255 - a) + 127) / 255) << shift;
            };
            s = 0xFF000000u | mix(16) | mix(8) | mix(0);
        }
    }
}

} // namespace vxboard
