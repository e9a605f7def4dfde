#include "display/draw.h"

#include "display/logo.h"

namespace {

uint32_t* pixel(Canvas c, int32_t x, int32_t y) {
    return canvas_row(c, static_cast<uint32_t>(y)) + x;
}

// A plain loop the compiler turns into wide stores (or a memset for 0), so that the
// write-combined framebuffer sees whole bursts.
void fill_line(uint32_t* p, int32_t n, uint32_t px) {
    for (int32_t k = 0; k < n; ++k)
        p[k] = px;
}

} // namespace

void fill_rect(Canvas c, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t px) {
    for (int32_t r = 0; r < h; ++r)
        fill_line(pixel(c, x, y + r), w, px);
}

void fill_runs(Canvas c, int32_t x, int32_t y, int32_t h, const Run* runs, int32_t n) {
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
    for (int32_t pen = x; *s != '\0'; ++s, pen += f.w) {
        const auto ch = static_cast<uint8_t>(*s);
        if (ch < GLYPH_FIRST || ch > GLYPH_LAST) continue;
        const uint8_t* g = font_glyph(f, ch);
        for (int32_t r = 0; r < f.h; ++r, g += f.w) {
            uint32_t* row = canvas_row(c, static_cast<uint32_t>(y + r));
            for (int32_t k = 0; k < f.w; ++k) {
                const uint32_t a = g[k];
                if (a == 0) continue;
                const int32_t px = pen + k;
                // Taken unsigned, a negative x is as far out as one past the right edge.
                if (clip && static_cast<uint32_t>(px) > CANVAS_W - 1) continue;
                row[px] = (a << 24) + rgb;
            }
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
