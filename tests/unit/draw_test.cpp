#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "display/draw.h"
#include "display/logo.h"

namespace {

constexpr uint32_t BG = 0x5A5A5A5A; // never produced by any primitive here
constexpr int W = static_cast<int>(CANVAS_W);

// Canvas rows in ordinary memory at the framebuffer's line pitch, with a guard row above
// and below, so that stray writes on either side of a line or of the drawn rows show up.
// A test draws into one with the primitive and sets the pixels it expects into another one
// by one; the two must then agree everywhere.
struct TestCanvas {
    static constexpr int ROWS = 112;
    std::vector<uint32_t> mem = std::vector<uint32_t>(LINE_PIXELS * (ROWS + 2), BG);
    Canvas c{mem.data() + LINE_PIXELS};

    // x may run past either end of the line into the neighbouring row, as memory does.
    uint32_t& at(int x, int y) { return c.base[y * static_cast<ptrdiff_t>(LINE_PIXELS) + x]; }

    void rect(int x, int y, int w, int h, uint32_t px) {
        for (int r = 0; r < h; ++r)
            for (int k = 0; k < w; ++k)
                at(x + k, y + r) = px;
    }

    // Each inked byte of the glyph as coverage << 24 | rgb; with clip, only where x lies
    // inside the canvas.
    void glyph(const Font& f, char ch, int x, int y, uint32_t rgb, bool clip = false) {
        const uint8_t* g = font_glyph(f, static_cast<uint8_t>(ch));
        for (int r = 0; r < f.h; ++r) {
            for (int k = 0; k < f.w; ++k) {
                const uint32_t a = g[r * f.w + k];
                if (a != 0 && (!clip || (x + k >= 0 && x + k < W)))
                    at(x + k, y + r) = a << 24 | rgb;
            }
        }
    }
};

void expect_same(const TestCanvas& got, const TestCanvas& want) {
    const auto [g, w] = std::mismatch(got.mem.begin(), got.mem.end(), want.mem.begin());
    if (g == got.mem.end()) return;
    const auto i = static_cast<int>(g - got.mem.begin()), line = static_cast<int>(LINE_PIXELS);
    ADD_FAILURE() << std::hex << *g << " where " << *w << " belongs, at x " << std::dec << i % line
                  << ", y " << i / line - 1;
}

const Font* const FONTS[] = {&FONT_SMALL, &FONT_MEDIUM, &FONT_LARGE};

std::string font_name(const Font& f) {
    return std::to_string(f.w) + "x" + std::to_string(f.h);
}

// Inside the canvas and across its left edge, which text draws two ways. Over a filled
// background, so that ink blended with what lies under it would show: 'A' has partially
// covered edges in every set.
TEST(DrawText, EveryByteAdvancesOneCellOnlyPrintablesInkAndInkReplacesWhatIsUnder) {
    // A tab, DEL, a stray control byte, the bytes of a UTF-8 sequence, and the space.
    const char separators[] = {'\t', '\x7f', '\x1f', '\xc3', '\xa9', ' '};
    for (const Font* f : FONTS) {
        const uint8_t* a = font_glyph(*f, 'A');
        ASSERT_TRUE(std::any_of(a, a + f->w * f->h, [](uint8_t v) { return v != 0 && v != 255; }));
        for (int x : {100, -2}) {
            for (char sep : separators) {
                SCOPED_TRACE(font_name(*f) + " at " + std::to_string(x) + ", separator " +
                             std::to_string(uint8_t(sep)));
                const char text[] = {'A', sep, 'g', '\0'};
                TestCanvas got, want;
                fill_rect(got.c, 0, 8, x + 3 * f->w + 2, f->h + 4, COL_ROW_HIGHLIGHT);
                want.rect(0, 8, x + 3 * f->w + 2, f->h + 4, COL_ROW_HIGHLIGHT);
                draw_text(got.c, *f, x, 10, RGB_LABEL, text, true);
                want.glyph(*f, 'A', x, 10, RGB_LABEL, true);
                want.glyph(*f, 'g', x + 2 * f->w, 10, RGB_LABEL, true);
                expect_same(got, want);
            }
        }
    }
}

TEST(DrawText, ClippingCutsAtBothCanvasEdgesPixelByPixel) {
    // x is at + cells * the glyph width. '#' has ink in every column of its cell.
    const struct {
        int at, cells;
        const char* text;
        bool clip;
    } cases[] = {
        {W - 4, 0, "#", true},    // the first four columns inside
        {-3, 0, "#", true},       // all but three
        {W - 4, -2, "###", true}, // the third glyph cut
        {-3, -1, "##", true},     // the first glyph wholly outside, the second cut
        {W - 3, 0, "###", true},  // the second and third wholly beyond the edge
        {W - 4, 0, "#", false},   // unclipped, it runs on into the rest of the line
    };
    for (const Font* f : FONTS) {
        const uint8_t* g = font_glyph(*f, '#');
        for (int k = 0; k < f->w; ++k) {
            bool ink = false;
            for (int r = 0; r < f->h; ++r)
                ink = ink || g[r * f->w + k] != 0;
            ASSERT_TRUE(ink) << font_name(*f) << ": no ink in column " << k << " of '#'";
        }
        for (const auto& c : cases) {
            const int x = c.at + c.cells * f->w;
            SCOPED_TRACE(font_name(*f) + " at " + std::to_string(x) + " \"" + c.text + "\"");
            TestCanvas got, want;
            draw_text(got.c, *f, x, 20, RGB_PINK, c.text, c.clip);
            for (size_t i = 0; i < std::strlen(c.text); ++i)
                want.glyph(*f, '#', x + static_cast<int>(i) * f->w, 20, RGB_PINK, c.clip);
            expect_same(got, want);
        }
    }
}

// Widths on both sides of where a fill stops storing pixel by pixel, at every alignment.
TEST(FillRect, FillsExactlyTheRectangleAtAnyWidthAndAlignment) {
    struct Rect {
        int x, y, w, h;
    };
    std::vector<Rect> rects = {{0, 0, W, 2}};
    for (int x : {0, 1, 2, 3, 1275})
        for (int w = 0; w <= 9; ++w)
            for (int h : {1, 3})
                rects.push_back({x, 2, w, h});
    for (const Rect& r : rects) {
        SCOPED_TRACE("x " + std::to_string(r.x) + " w " + std::to_string(r.w) + " h " +
                     std::to_string(r.h));
        TestCanvas got, want;
        fill_rect(got.c, r.x, r.y, r.w, r.h, COL_ACCENT);
        want.rect(r.x, r.y, r.w, r.h, COL_ACCENT);
        expect_same(got, want);
    }
}

TEST(FillRuns, EachLineGetsItsRunsEndToEndAndNothingOutside) {
    struct Case {
        const char* name;
        int x, y, h;
        std::vector<PixelRun> runs;
    } cases[] = {
        {"one run", 3, 2, 1, {{9, COL_ACCENT}}},
        // Black is written too: the guard value is not 0.
        {"black between colours", 0, 1, 3, {{2, COL_FRAME}, {7, 0}, {8, COL_PANEL}}},
        {"empty run in the middle", 5, 4, 2, {{6, COL_RULE}, {6, COL_ACCENT}, {11, COL_TRACK}}},
        {"whole canvas line", 0, 0, 2, {{250, 0}, {1030, COL_PANEL}, {W, 0}}},
        {"no lines", 0, 3, 0, {{40, COL_ACCENT}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestCanvas got, want;
        fill_runs(got.c, c.x, c.y, c.h, c.runs.data(), static_cast<int32_t>(c.runs.size()));
        int from = c.x;
        for (const PixelRun& run : c.runs) {
            want.rect(from, c.y, run.end - from, c.h, run.px);
            from = run.end;
        }
        expect_same(got, want);
    }
}

// The menu draws the logo in bands around its rule and highlight. The logo's ink ends at
// row 42, so one band cuts through it at both ends, where a bound drawn one row off shows.
TEST(DrawLogo, ABandDrawsExactlyItsRowsOpaquePixelsAndNothingElse) {
    const int bands[][2] = {{0, LOGO_H}, {0, 66}, {10, 30}, {66, 67}, {76, LOGO_H}, {40, 40}};
    for (const auto& band : bands) {
        SCOPED_TRACE("rows " + std::to_string(band[0]) + ".." + std::to_string(band[1]));
        TestCanvas got, want;
        draw_logo(got.c, 7, 2, band[0], band[1]);
        for (int r = band[0]; r < band[1]; ++r) {
            for (int k = 0; k < LOGO_W; ++k) {
                const uint8_t* px = LOGO + (r * LOGO_W + k) * 4;
                if (px[3] > 128)
                    want.at(7 + k, 2 + r) = 0xFF000000u | px[0] << 16 | px[1] << 8 | px[2];
            }
        }
        expect_same(got, want);
    }
}

} // namespace
