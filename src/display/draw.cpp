#include "display/draw.h"

#include <bit>
#include <climits>
#include <cstring>
#include <cwchar>

#include "display/logo.h"

namespace {

uint32_t* pixel(Canvas c, int32_t x, int32_t y) {
    return canvas_row(c, static_cast<uint32_t>(y)) + x;
}

// wmemset has the widest stores the machine offers, which a loop built for the baseline
// instruction set does not. It fills black too: memset hands lines of a few hundred bytes to
// the string-store instruction on some x86 hosts, at half the speed of the vector loop
// (measured on the development machines; the write-combined framebuffer sees whole bursts
// either way). wchar_t is a 32-bit unit on every target here.
static_assert(sizeof(wchar_t) == sizeof(uint32_t), "wmemset stores 32-bit pixels");

constexpr int32_t SHORT_RUN = 8; // pixels

void fill_line(uint32_t* p, int32_t n, uint32_t px) {
    // The panel's frame columns and the scroll track are runs of a few pixels, which cost
    // less stored one by one than as a call.
    if (n <= SHORT_RUN) {
        for (int32_t i = 0; i < n; ++i)
            p[i] = px;
        return;
    }
    std::wmemset(reinterpret_cast<wchar_t*>(p), static_cast<wchar_t>(px), static_cast<size_t>(n));
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

namespace {

// A pixel pair is stored as one 64-bit word, the left pixel in its low half.
static_assert(std::endian::native == std::endian::little);

// Text wholly inside the canvas: one store per pair of inked neighbours and one per inked
// pixel without an inked neighbour (a few in the whole font). The font comes by value so that the
// compiler need not reload it after every store into the canvas.
void draw_ink(uint32_t* __restrict p, const Font f, uint32_t rgb, const char* s) {
    const uint64_t rgb2 = uint64_t{rgb} << 32 | rgb;
    constexpr uint64_t ALPHA2 = 0xFF000000FF000000u;
    for (; *s != '\0'; ++s, p += f.w) {
        const auto ch = static_cast<uint8_t>(*s);
        if (ch < GLYPH_FIRST || ch > GLYPH_LAST) continue;
        const int32_t g = ch - GLYPH_FIRST;
        // Unrolled: a glyph has up to 164 pairs, 47 in the middle set on average.
#pragma GCC unroll 4
        for (uint32_t i = f.ink_pair_starts[g]; i < f.ink_pair_starts[g + 1]; ++i) {
            const uint64_t e = f.ink_pairs[i];
            const uint64_t two = (e & ALPHA2) | rgb2;
            std::memcpy(p + (e & INK_OFFSET_MASK), &two, sizeof two);
        }
        for (uint32_t i = f.ink_single_starts[g]; i < f.ink_single_starts[g + 1]; ++i) {
            const uint32_t e = f.ink_singles[i];
            p[e & INK_OFFSET_MASK] = (e & 0xFF000000u) | rgb;
        }
    }
}

constexpr int32_t BOX_INSET = 1; // the placeholder's box, in pixels from its cell's edges

bool printable(uint8_t ch) {
    return ch >= GLYPH_FIRST && ch <= GLYPH_LAST;
}

// A glyph's row runs, each cut to the clip rectangle. The glyph's cell overlaps the rectangle
// across (the caller skips those that do not), so the cuts stay within the cell.
void draw_glyph_clipped(Canvas c, const Font& f, int32_t pen, int32_t y, uint32_t rgb,
                        uint8_t ch, ClipRect clip) {
    const uint8_t* g = font_glyph(f, ch);
    const InkRun* end = font_runs_end(f, ch);
    const int32_t first = clip.x0 - pen > 0 ? clip.x0 - pen : 0; // cell columns kept
    const int32_t last = clip.x1 - pen < f.w ? clip.x1 - pen : f.w;
    for (const InkRun* run = font_runs_begin(f, ch); run != end; ++run) {
        const int64_t row = int64_t{y} + run->row;
        if (row < clip.y0 || row >= clip.y1) continue;
        const int32_t from = run->col > first ? run->col : first;
        const int32_t to = run->col + run->len < last ? run->col + run->len : last;
        // Every byte of a run has ink: no test left per pixel.
        uint32_t* p = canvas_row(c, static_cast<uint32_t>(row)) + pen;
        const uint8_t* a = g + run->row * f.w;
        for (int32_t k = from; k < to; ++k)
            p[k] = (static_cast<uint32_t>(a[k]) << 24) + rgb;
    }
}

// The placeholder of a byte the font lacks: a hollow box inside its cell.
void draw_box_clipped(Canvas c, const Font& f, int32_t pen, int32_t y, uint32_t rgb,
                      ClipRect clip) {
    const int32_t x0 = pen + BOX_INSET, x1 = pen + f.w - BOX_INSET;
    const int32_t y0 = y + BOX_INSET, y1 = y + f.h - BOX_INSET;
    const uint32_t px = 0xFF000000u | rgb;
    fill_rect_in(c, clip, x0, y0, x1 - x0, 1, px);
    fill_rect_in(c, clip, x0, y1 - 1, x1 - x0, 1, px);
    fill_rect_in(c, clip, x0, y0, 1, y1 - y0, px);
    fill_rect_in(c, clip, x1 - 1, y0, 1, y1 - y0, px);
}

// Text that may cross an edge, glyph by glyph.
void draw_glyphs_clipped(Canvas c, const Font& f, int32_t x, int32_t y, uint32_t rgb, const char* s,
                         ClipRect clip, bool boxes) {
    // The pen stops at the right edge: nothing further is seen, and it cannot overflow.
    for (int32_t pen = x; *s != '\0' && pen < clip.x1; ++s, pen += f.w) {
        const auto ch = static_cast<uint8_t>(*s);
        if (int64_t{pen} + f.w <= clip.x0) continue; // wholly left of the rectangle
        if (printable(ch))
            draw_glyph_clipped(c, f, pen, y, rgb, ch, clip);
        else if (boxes)
            draw_box_clipped(c, f, pen, y, rgb, clip);
    }
}

} // namespace

void draw_text(Canvas c, const Font& f, int32_t x, int32_t y, uint32_t rgb, const char* s,
               bool clip) {
    const auto width = static_cast<int64_t>(std::strlen(s)) * f.w;
    // The launcher's own texts are clipped at the canvas' right edge only.
    constexpr ClipRect CANVAS_COLUMNS{0, INT32_MIN, static_cast<int32_t>(CANVAS_W), INT32_MAX};
    if (clip && (x < 0 || x + width > static_cast<int64_t>(CANVAS_W)))
        draw_glyphs_clipped(c, f, x, y, rgb, s, CANVAS_COLUMNS, false);
    else
        draw_ink(pixel(c, x, y), f, rgb, s);
}

void draw_text_in(Canvas c, const Font& f, int32_t x, int32_t y, uint32_t rgb, const char* s,
                  ClipRect clip) {
    if (y >= clip.y1 || int64_t{y} + f.h <= clip.y0) return;
    const size_t n = std::strlen(s);
    bool all_printable = true;
    for (size_t i = 0; i < n && all_printable; ++i)
        all_printable = printable(static_cast<uint8_t>(s[i]));
    const bool inside = x >= clip.x0 && y >= clip.y0 && y + f.h <= clip.y1 &&
                        x + static_cast<int64_t>(n) * f.w <= clip.x1;
    if (inside && all_printable)
        draw_ink(pixel(c, x, y), f, rgb, s);
    else
        draw_glyphs_clipped(c, f, x, y, rgb, s, clip, true);
}

void fill_rect_in(Canvas c, ClipRect clip, int32_t x, int32_t y, int32_t w, int32_t h,
                  uint32_t px) {
    const int64_t x0 = x > clip.x0 ? x : clip.x0, y0 = y > clip.y0 ? y : clip.y0;
    const int64_t x1 = int64_t{x} + w < clip.x1 ? int64_t{x} + w : clip.x1;
    const int64_t y1 = int64_t{y} + h < clip.y1 ? int64_t{y} + h : clip.y1;
    if (x1 <= x0 || y1 <= y0) return;
    fill_rect(c, static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
              static_cast<int32_t>(y1 - y0), px);
}

void draw_logo(Canvas c, int32_t x, int32_t y, int32_t first_row, int32_t end_row) {
    for (int32_t r = first_row; r < end_row; ++r) {
        uint32_t* row = pixel(c, x, y + r);
        const uint8_t* line = LOGO + static_cast<size_t>(r) * LOGO_W * 4;
        for (int32_t i = LOGO_ROW_STARTS[r]; i < LOGO_ROW_STARTS[r + 1]; ++i) {
            const LogoRun run = LOGO_RUNS[i];
            for (int32_t k = run.col; k < run.col + run.len; ++k) {
                const uint8_t* px = line + k * 4;
                row[k] = 0xFF000000u | static_cast<uint32_t>(px[0]) << 16 |
                         static_cast<uint32_t>(px[1]) << 8 | px[2];
            }
        }
    }
}
