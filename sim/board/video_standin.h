#pragma once
// A stand-in for the goggles' live video: what lies behind the framebuffer plane, so that
// the launcher's translucent panel can be judged as it looks on the goggles.
#include <cstdint>

#include "base/screen.h"

namespace vxboard {

// A flying scene (sky, a banked horizon, fields) at time t_ms, as opaque 0xFFRRGGBB: a frame
// of SCREEN_W x SCREEN_H pixels, the screen the video fills.
void standin_video_frame(uint32_t* out, uint32_t t_ms);

// Composites `page` (stride in pixels) over a `screen` frame by each pixel's alpha, as the display
// controller blends the framebuffer plane over the video plane.
void composite_over(uint32_t* screen, const uint32_t* page, uint32_t stride);

} // namespace vxboard
