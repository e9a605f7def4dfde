#pragma once
// The page on the goggles' screen as the browser receives it: half size, alpha kept, so the
// page can blend it over its own moving picture as the display controller blends the
// framebuffer plane over the video plane.
#include <cstdint>
#include <string>
#include <vector>

namespace vxweb {

constexpr uint32_t FRAME_W = 960;
constexpr uint32_t FRAME_H = 540;

// Halves a 1920 x 1080 page of 0xAARRGGBB words (stride in pixels) into `out`, averaging each
// 2 x 2 block with its colours weighted by alpha, so a translucent panel's edge over a
// transparent page keeps the panel's colour instead of darkening towards black.
void halve_page(const uint32_t* page, uint32_t stride, std::vector<uint32_t>& out);
// The same for the out_w x out_h picture of the 2 * out_w x 2 * out_h pixels at `src`.
void halve(const uint32_t* src, uint32_t stride, uint32_t out_w, uint32_t out_h,
           std::vector<uint32_t>& out);

// An RGBA PNG of `px` (0xAARRGGBB, w x h, packed) in memory; empty on failure.
std::string png_rgba(const std::vector<uint32_t>& px, uint32_t w, uint32_t h);

} // namespace vxweb
