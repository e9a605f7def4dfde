#pragma once
// The page on the goggles' screen as the browser receives it: a head, then an RGBA PNG of a
// rectangle of the page, at half size or full; alpha kept, so the page can blend it over its
// own moving picture as the display controller blends the framebuffer plane over the video
// plane.
#include <cstdint>
#include <string>
#include <vector>

#include "base/screen.h"

namespace vxweb {

// The half-size picture.
constexpr uint32_t FRAME_W = SCREEN_W / 2;
constexpr uint32_t FRAME_H = SCREEN_H / 2;

// Before each PNG: where its rectangle goes and the width of the page it belongs to, in the
// picture's own pixels, as 16-bit little-endian words (the host's, as the goggles'); the page
// reads them at the offsets /contract.json gives.
struct FrameHead {
    uint16_t x, y, page_w, zero;
};
static_assert(sizeof(FrameHead) == 8);

// The head and the PNG as one message.
std::string frame_message(const FrameHead& head, const std::string& png);

// Halves the out_w x out_h picture of the 2 * out_w x 2 * out_h pixels at `src` (0xAARRGGBB
// words, `stride` pixels to a line) into `out`, averaging each 2 x 2 block with its colours
// weighted by alpha, so a translucent panel's edge over a transparent page keeps the panel's
// colour instead of darkening towards black.
void halve(const uint32_t* src, uint32_t stride, uint32_t out_w, uint32_t out_h,
           std::vector<uint32_t>& out);

// An RGBA PNG of `px` (0xAARRGGBB, w x h, packed) in memory; empty on failure.
std::string png_rgba(const std::vector<uint32_t>& px, uint32_t w, uint32_t h);

} // namespace vxweb
