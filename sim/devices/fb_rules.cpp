#include "devices/fb_rules.h"

#include <cerrno>
#include <cstdint>

namespace vxdevices {

namespace {

// The core's drawing helpers assume at least 8 x 8 pixels.
constexpr uint32_t FB_MIN_RES = 8;

} // namespace

int fb_put_var_refusal(const FbDevice& d, const fb_var_screeninfo& v) {
    // A record the caller did not fill in (zeroed, or from another structure) is refused by
    // the core before the driver sees it.
    if (v.xres < FB_MIN_RES || v.yres < FB_MIN_RES) return EINVAL;
    // The DRM emulation keeps its one framebuffer: nothing wider, taller or deeper than it,
    // its rows being what the memory holds.
    const uint32_t width = d.xres_virtual.load();
    const uint64_t rows = d.line_length.load() == 0 ? 0 : d.smem_len.load() / d.line_length.load();
    if (v.bits_per_pixel > d.bits_per_pixel.load() || v.xres > width || v.yres > rows ||
        v.xres_virtual > width || v.yres_virtual > rows)
        return EINVAL;
    // It then keeps its own mode's resolution, which the virtual screen must hold.
    if (v.xres_virtual < d.xres.load() || v.yres_virtual < d.yres.load()) return EINVAL;
    return 0;
}

int fb_pan_refusal(const FbDevice& d, const fb_var_screeninfo& v) {
    // Steps of 0 refuse a wrap, and any horizontal offset, outright; a step of one row takes
    // every row.
    static_assert(FB_YWRAPSTEP == 0 && FB_XPANSTEP == 0 && FB_YPANSTEP == 1);
    if (v.yoffset > 0 && (v.vmode & FB_VMODE_YWRAP) != 0) return EINVAL;
    if (v.xoffset > 0) return EINVAL;
    if (static_cast<uint64_t>(v.yoffset) + d.yres.load() > d.yres_virtual.load()) return EINVAL;
    return 0;
}

} // namespace vxdevices
