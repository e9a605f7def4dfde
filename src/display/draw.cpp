#include "display/draw.h"

#include <cstring>
#include <cwchar>

#include "display/logo.h"

namespace {

uint32_t* pixel(Canvas c, int32_t x, int32_t y) {
    return canvas_row(c, static_cast<uint32_t>(y)) + x;
}

// The C library's fills have the widest stores the machine offers, which a loop built for
// the baseline instruction set does not: black through memset, other colours through
// wmemset, whose wchar_t is a 32-bit unit on every target here. The write-combined
// framebuffer sees whole bursts either way.
static_assert(sizeof(wchar_t) == sizeof(uint32_t), "wmemset stores 32-bit pixels");

void fill_line(uint32_t* p, int32_t n, uint32_t px) {
    if (n <= 0) return;
    if (px == 0)
        std::memset(p, 0, static_cast<size_t>(n) * sizeof *p);
    else
        std::wmemset(reinterpret_cast<wchar_t*>(p), static_cast<wchar_t>(px),
                     static_cast<size_t>(n));
}

} // namespace

void fill_rect(Canvas c, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t px) {
    for (int32_t r = 0; r < h; ++r)
        fill_line(pixel(c, x, y + r), w, px);
}

void fill_runs(Canvas c, int32_t x, int32_t y, int32_t h, const PixelRun* runs, int32_t n) {
    for (int32_t r = 0; r < h; ++r) {
        uint32_t* line = canvas_row(c, static_cast<uint32_t>(y + r));
        int32_t from = x;
        for (int32_t i = 0; i < n; ++i) {
            fill_line(line + from, runs[i].end - from, runs[i].px);
            from = runs[i].end;
        }
    }
}

void draw_text(Canvas c, const Font& f, int32_t x, int32_t y, uint32_t rgb, const char* s,
               bool clip) {
    constexpr int32_t W = static_cast<int32_t>(CANVAS_W);
    for (int32_t pen = x; *s != '\0'; ++s, pen += f.w) {
        const auto ch = static_cast<uint8_t>(*s);
        if (ch < GLYPH_FIRST || ch > GLYPH_LAST) continue;
        const uint8_t* g = font_glyph(f, ch);
        const InkRun* end = font_runs_end(f, ch);
        for (const InkRun* run = font_runs_begin(f, ch); run != end; ++run) {
            int32_t from = pen + run->col;
            int32_t to = from + run->len;
            if (clip) {
                from = from < 0 ? 0 : from;
                to = to > W ? W : to;
            }
            uint32_t* line = canvas_row(c, static_cast<uint32_t>(y + run->row));
            // Every byte of a run has ink: no test left per pixel.
            const uint8_t* a = g + run->row * f.w + (from - pen);
            uint32_t* p = line + from;
            for (int32_t k = 0; k < to - from; ++k)
                p[k] = (static_cast<uint32_t>(a[k]) << 24) + rgb;
        }
    }
}

void draw_image(Canvas c, int32_t x, int32_t y, const uint8_t* rgba, int32_t w, int32_t h) {
    for (int32_t r = 0; r < h; ++r) {
        uint32_t* row = pixel(c, x, y + r);
        for (int32_t k = 0; k < w; ++k, rgba += 4) {
            if (rgba[3] <= 128) continue;
            row[k] = 0xFF000000u | static_cast<uint32_t>(rgba[0]) << 16 |
                     static_cast<uint32_t>(rgba[1]) << 8 | rgba[2];
        }
    }
}

void draw_logo(Canvas c, int32_t x, int32_t y) {
    draw_image(c, x, y, LOGO, LOGO_W, LOGO_H);
}
