#pragma once
// What the kernel's framebuffer core and its DRM fbdev emulation refuse of a screen record the
// caller writes: a change of the virtual screen (FBIOPUT_VSCREENINFO) and a pan
// (FBIOPAN_DISPLAY). The fast board's preload answers from these; the emulated goggles have
// the real kernel.
#include <linux/fb.h>

#include "board_state.h"

namespace vxdevices {

using vxboard::FbDevice;

// The pan steps the goggles' driver reports: any row, no horizontal pan, no wrap.
constexpr uint32_t FB_XPANSTEP = 0;
constexpr uint32_t FB_YPANSTEP = 1;
constexpr uint32_t FB_YWRAPSTEP = 0;

// 0, or the errno of the refusal.
int fb_put_var_refusal(const FbDevice& d, const fb_var_screeninfo& v);
int fb_pan_refusal(const FbDevice& d, const fb_var_screeninfo& v);

} // namespace vxdevices
