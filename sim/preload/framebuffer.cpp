// /dev/fb0 as the goggles' framebuffer driver answers it, from the board state: the screen
// information, a change of the virtual height, pans, and the checks the driver makes on each
// and on a mapping of its memory. The launcher's termination handler pans back to the
// goggles' page, so nothing here allocates or locks.
#include <cerrno>
#include <cstring>
#include <linux/fb.h>

#include "base/screen.h"
#include "devices/fb_rules.h"
#include "devices/screen_record.h"
#include "preload.h"

namespace vxpreload {

namespace {

using vxboard::FbDevice;

constexpr char FB_ID[] = "vx-board-fb";
static_assert(sizeof FB_ID <= sizeof fb_fix_screeninfo::id);

// The pixel layout the goggles' driver reports: 32-bit words, 0xAARRGGBB.
constexpr fb_bitfield ALPHA_BITS = {24, 8, 0};
constexpr fb_bitfield RED_BITS = {16, 8, 0};
constexpr fb_bitfield GREEN_BITS = {8, 8, 0};
constexpr fb_bitfield BLUE_BITS = {0, 8, 0};

void fill_var(const FbDevice& d, fb_var_screeninfo* v) {
    std::memset(v, 0, sizeof *v);
    v->xres = d.xres.load();
    v->yres = d.yres.load();
    v->xres_virtual = d.xres_virtual.load();
    v->yres_virtual = d.yres_virtual.load();
    v->xoffset = d.xoffset.load();
    v->yoffset = d.yoffset.load();
    v->bits_per_pixel = PIXEL_BYTES * 8;
    v->transp = ALPHA_BITS;
    v->red = RED_BITS;
    v->green = GREEN_BITS;
    v->blue = BLUE_BITS;
}

void fill_fix(const FbDevice& d, fb_fix_screeninfo* f) {
    std::memset(f, 0, sizeof *f);
    std::memcpy(f->id, FB_ID, sizeof FB_ID);
    f->smem_len = d.smem_len.load();
    f->type = FB_TYPE_PACKED_PIXELS;
    f->visual = FB_VISUAL_TRUECOLOR;
    f->xpanstep = vxdevices::FB_XPANSTEP;
    f->ypanstep = vxdevices::FB_YPANSTEP;
    f->ywrapstep = vxdevices::FB_YWRAPSTEP;
    f->line_length = d.line_length.load();
}

int put_var(FbDevice& d, fb_var_screeninfo* v) {
    d.put_vars.fetch_add(1);
    if (const uint32_t e = d.fail_put_var.load()) return fail(static_cast<int>(e));
    if (const int e = vxdevices::fb_put_var_refusal(d, *v)) return fail(e);
    d.yres_virtual.store(v->yres_virtual);
    fill_var(d, v);
    return 0;
}

int pan(BoardState& s, const fb_var_screeninfo* v) {
    FbDevice& d = s.fb;
    if (const uint32_t e = d.fail_pan.load()) return fail(static_cast<int>(e));
    if (const int e = vxdevices::fb_pan_refusal(d, *v)) return fail(e);
    d.xoffset.store(v->xoffset);
    d.yoffset.store(v->yoffset);
    d.pans.fetch_add(1);
    vxdevices::screen_changed(s);
    return 0;
}

} // namespace

int fb_ioctl(BoardState& s, OpenDevice&, unsigned long req, void* arg) {
    FbDevice& d = s.fb;
    switch (req) {
    case FBIOGET_VSCREENINFO:
        if (const uint32_t e = d.fail_get_var.load()) return fail(static_cast<int>(e));
        fill_var(d, static_cast<fb_var_screeninfo*>(arg));
        return 0;
    case FBIOGET_FSCREENINFO:
        if (const uint32_t e = d.fail_get_fix.load()) return fail(static_cast<int>(e));
        fill_fix(d, static_cast<fb_fix_screeninfo*>(arg));
        return 0;
    case FBIOPUT_VSCREENINFO:
        return put_var(d, static_cast<fb_var_screeninfo*>(arg));
    case FBIOPAN_DISPLAY:
        return pan(s, static_cast<const fb_var_screeninfo*>(arg));
    default:
        return fail(ENOTTY);
    }
}

int fb_map_error(const BoardState& s, off_t offset, size_t len) {
    if (const uint32_t e = s.fb.fail_mmap.load()) return static_cast<int>(e);
    if (offset < 0 || static_cast<uint64_t>(offset) + len > s.fb.smem_len.load()) return EINVAL;
    return 0;
}

} // namespace vxpreload
