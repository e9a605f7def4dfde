// The app's page on the framebuffer: the launcher's own pages, primitives and fonts.
#include <cstring>

#include "applib/app_state.h"
#include "base/screen.h"
#include "base/video_modes.h"
#include "display/draw.h"
#include "display/fb.h"
#include "hw/video_mode.h"

namespace {

constexpr ClipRect SCREEN{0, 0, static_cast<int32_t>(SCREEN_W), static_cast<int32_t>(SCREEN_H)};

const Font* font_of(vx_font font) {
    switch (font) {
    case VX_FONT_SMALL:
        return &FONT_SMALL;
    case VX_FONT_MEDIUM:
        return &FONT_MEDIUM;
    case VX_FONT_LARGE:
        return &FONT_LARGE;
    }
    return nullptr;
}

vx_status drawing() {
    if (!g_app.open) return VX_ERR_NOT_OPEN;
    return g_app.screen ? VX_OK : VX_ERR_NO_FRAMEBUFFER;
}

} // namespace

extern "C" {

vx_status vx_screen_open(void) {
    if (!g_app.open) return VX_ERR_NOT_OPEN;
    if (g_app.screen) return VX_OK;
    const vx_status mode = app_mode_status(video_mode_read_quietly(), MODE_NORMAL);
    if (mode != VX_OK) return mode;
    if (!fb_is_open() && fb_open() != 0) return VX_ERR_NO_FRAMEBUFFER;
    // The launcher's menu page is on screen: the first picture goes to the other one.
    fb_follow_screen();
    fb_begin_frame_no_clear();
    g_app.screen = true;
    return VX_OK;
}

vx_status vx_clear(uint32_t argb) {
    if (const vx_status s = drawing(); s != VX_OK) return s;
    fill_rect(fb_canvas(), 0, 0, static_cast<int32_t>(SCREEN_W), static_cast<int32_t>(SCREEN_H),
              argb);
    return VX_OK;
}

vx_status vx_fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t argb) {
    if (const vx_status s = drawing(); s != VX_OK) return s;
    if (w < 0 || h < 0) return VX_ERR_ARGUMENT;
    fill_rect_in(fb_canvas(), SCREEN, x, y, w, h, argb);
    return VX_OK;
}

vx_status vx_text(vx_font font, int32_t x, int32_t y, uint32_t rgb, const char* text) {
    if (const vx_status s = drawing(); s != VX_OK) return s;
    const Font* f = font_of(font);
    if (f == nullptr || text == nullptr || rgb > 0xFFFFFF) return VX_ERR_ARGUMENT;
    draw_text_in(fb_canvas(), *f, x, y, rgb, text, SCREEN);
    return VX_OK;
}

vx_status vx_text_size(vx_font font, const char* text, int32_t* w, int32_t* h) {
    const Font* f = font_of(font);
    if (f == nullptr || text == nullptr || w == nullptr || h == nullptr) return VX_ERR_ARGUMENT;
    const size_t n = std::strlen(text);
    *w = n > static_cast<size_t>(INT32_MAX / f->w) ? INT32_MAX : static_cast<int32_t>(n) * f->w;
    *h = f->h;
    return VX_OK;
}

vx_status vx_blit(int32_t x, int32_t y, int32_t w, int32_t h, const uint32_t* argb,
                  int32_t stride) {
    if (const vx_status s = drawing(); s != VX_OK) return s;
    if (argb == nullptr || w < 0 || h < 0 || stride < w) return VX_ERR_ARGUMENT;
    const int64_t x0 = x > 0 ? x : 0, y0 = y > 0 ? y : 0;
    const int64_t x1 = int64_t{x} + w < SCREEN.x1 ? int64_t{x} + w : SCREEN.x1;
    const int64_t y1 = int64_t{y} + h < SCREEN.y1 ? int64_t{y} + h : SCREEN.y1;
    for (int64_t row = y0; row < y1 && x1 > x0; ++row)
        std::memcpy(canvas_row(fb_canvas(), static_cast<uint32_t>(row)) + x0,
                    argb + (row - y) * stride + (x0 - x), static_cast<size_t>(x1 - x0) * 4);
    return VX_OK;
}

vx_status vx_present(void) {
    if (const vx_status s = drawing(); s != VX_OK) return s;
    if (g_app.quit) return VX_QUIT; // the page was given back: it stays so
    fb_present();
    fb_begin_frame_no_clear();
    return VX_OK;
}

} // extern "C"
