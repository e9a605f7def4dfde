#pragma once
// The framebuffer's record, with the kernel's screen-information types: for the device layer
// and its tests, not for the launcher's core.
#include <linux/fb.h>

#include "display/fb.h"

static_assert(sizeof(fb_var_screeninfo) == 160, "the kernel's variable screen record");

struct Framebuffer {
    int32_t fd = -1;
    uint8_t* mem = nullptr;
    fb_var_screeninfo var{};
    fb_fix_screeninfo fix{};
    fb_var_screeninfo saved_var{};
    int32_t boot_yoffset = 0;
    uint8_t ready = 0;
    int32_t page = 1;
    int32_t panned = 0;
    uint8_t* draw = nullptr;
};

extern Framebuffer g_fb;

// 1 when the device's memory holds the launcher's pages at the line length it draws with.
int fb_layout_ok(const fb_fix_screeninfo& fix, const fb_var_screeninfo& var);

// First row of the page that is drawn next.
constexpr uint32_t fb_back_page_row(int32_t page) {
    return PAGE_Y[page ^ 1];
}
