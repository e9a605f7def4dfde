#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/draw.h"
#include "display/logo.h"

namespace {

constexpr uint32_t BG = 0x5A5A5A5A; // never produced by any primitive here

// Canvas rows in ordinary memory at the framebuffer's line pitch, with a guard row above
// and below, so that stray writes on either side of a line or of the drawn rows show up.
struct TestCanvas {
    static constexpr int ROWS = 112;
    std::vector<uint32_t> mem = std::vector<uint32_t>(LINE_PIXELS * (ROWS + 2), BG);
    Canvas c{mem.data() + LINE_PIXELS};

    // x may run past either end of the line into the neighbouring row, as memory does.
    uint32_t at(int x, int y) const { return c.base[static_cast<ptrdiff_t>(y) * LINE_PIXELS + x]; }
    int changed() const {
        int n = 0;
        for (uint32_t v : mem)
            n += v != BG;
        return n;
    }
};

uint8_t coverage(const Font& f, char ch, int k, int r) {
    return font_glyph(f, static_cast<uint8_t>(ch))[r * f.w + k];
}

int ink_count(const Font& f, char ch) {
    int n = 0;
    for (int i = 0; i < f.w * f.h; ++i)
        n += font_glyph(f, static_cast<uint8_t>(ch))[i] != 0;
    return n;
}

// The glyph's cell on the canvas at (x, y) holds exactly its ink in colour rgb over `under`.
void expect_glyph(const TestCanvas& t, const Font& f, char ch, int x, int y, uint32_t rgb,
                  uint32_t under = BG) {
    for (int r = 0; r < f.h; ++r) {
        for (int k = 0; k < f.w; ++k) {
            const uint32_t a = coverage(f, ch, k, r);
            ASSERT_EQ(t.at(x + k, y + r), a != 0 ? (a << 24) + rgb : under)
                << "'" << ch << "' column " << k << " row " << r;
        }
    }
}

void expect_blank(const TestCanvas& t, int x, int y, int w, int h) {
    for (int r = 0; r < h; ++r)
        for (int k = 0; k < w; ++k)
            ASSERT_EQ(t.at(x + k, y + r), BG) << x + k << "," << y + r;
}

struct NamedFont {
    const Font* f;
    const char* name;
};
const NamedFont FONTS[] = {
    {&FONT_SMALL, "small"}, {&FONT_MEDIUM, "medium"}, {&FONT_LARGE, "large"}};

TEST(DrawText, EveryByteAdvancesOneCellButOnlyPrintablesInk) {
    // A tab, DEL, a stray control byte, the bytes of a UTF-8 sequence, and the space.
    const char separators[] = {'\t', '\x7f', '\x1f', '\xc3', '\xa9', ' '};
    for (const NamedFont& nf : FONTS) {
        const Font& f = *nf.f;
        for (char sep : separators) {
            SCOPED_TRACE(std::string(nf.name) + " separator " + std::to_string(uint8_t(sep)));
            TestCanvas t;
            const char text[] = {'A', sep, 'B', '\0'};
            draw_text(t.c, f, 100, 10, RGB_LABEL, text, true);
            expect_glyph(t, f, 'A', 100, 10, RGB_LABEL);
            expect_blank(t, 100 + f.w, 10, f.w, f.h);
            expect_glyph(t, f, 'B', 100 + 2 * f.w, 10, RGB_LABEL);
            EXPECT_EQ(t.changed(), ink_count(f, 'A') + ink_count(f, 'B'));
        }
    }
}

TEST(DrawText, ClippingCutsAtBothCanvasEdgesPixelByPixel) {
    const Font& f = FONT_SMALL;
    // Letters leave the cell's last column blank; the bars of '#' reach across the whole cell.
    for (int k = 0; k < f.w; ++k) {
        int ink = 0;
        for (int r = 0; r < f.h; ++r)
            ink += coverage(f, '#', k, r) != 0;
        ASSERT_GT(ink, 0) << "the test needs ink in every column of '#'; column " << k;
    }
    const int right = static_cast<int>(CANVAS_W) - 4; // glyph columns 0..3 stay inside
    TestCanvas t;
    draw_text(t.c, f, right, 20, RGB_WHITE, "#", true);
    draw_text(t.c, f, -3, 40, RGB_WHITE, "#", true); // columns 3..6 inside
    draw_text(t.c, f, right - 2 * f.w, 60, RGB_WHITE, "###", true);
    for (int r = 0; r < f.h; ++r) {
        for (int k = 0; k < f.w; ++k) {
            const uint32_t a = coverage(f, '#', k, r);
            const uint32_t ink = a != 0 ? (a << 24) + RGB_WHITE : BG;
            EXPECT_EQ(t.at(right + k, 20 + r), k <= 3 ? ink : BG) << "right edge, column " << k;
            EXPECT_EQ(t.at(-3 + k, 40 + r), k >= 3 ? ink : BG) << "left edge, column " << k;
            EXPECT_EQ(t.at(right - f.w + k, 60 + r), ink) << "second of three, column " << k;
        }
    }
    // Beyond the right edge of the line nothing at all, whichever glyph it would have been.
    expect_blank(t, static_cast<int>(CANVAS_W), 0, LINE_PIXELS - CANVAS_W, TestCanvas::ROWS);

    // Unclipped, the same text runs on into the rest of the line.
    TestCanvas u;
    draw_text(u.c, f, right, 20, RGB_WHITE, "#", false);
    expect_glyph(u, f, '#', right, 20, RGB_WHITE);
}

TEST(DrawText, InkReplacesTheBackgroundWithoutBlending) {
    TestCanvas t;
    const Font& f = FONT_MEDIUM;
    fill_rect(t.c, 50, 5, 4 * f.w, f.h + 4, COL_ROW_HIGHLIGHT);
    draw_text(t.c, f, 52, 7, RGB_WHITE, "Ag", true);
    expect_glyph(t, f, 'A', 52, 7, RGB_WHITE, COL_ROW_HIGHLIGHT);
    expect_glyph(t, f, 'g', 52 + f.w, 7, RGB_WHITE, COL_ROW_HIGHLIGHT);
    int partial = 0;
    for (int i = 0; i < f.w * f.h; ++i) {
        const uint8_t a = font_glyph(f, 'A')[i];
        partial += a != 0 && a != 255;
    }
    EXPECT_GT(partial, 0) << "anti-aliased edges are what this is about";
}

TEST(FillRect, FillsExactlyTheRectangleAtAnyWidthAndAlignment) {
    TestCanvas t;
    for (int x : {0, 1, 2, 3, 1275}) {
        for (int w = 0; w <= 9; ++w) {
            for (int h : {1, 3}) {
                SCOPED_TRACE("x " + std::to_string(x) + " w " + std::to_string(w) + " h " +
                             std::to_string(h));
                std::fill(t.mem.begin(), t.mem.end(), BG);
                fill_rect(t.c, x, 2, w, h, COL_ACCENT);
                EXPECT_EQ(t.changed(), w * h);
                for (int r = 0; r < h; ++r)
                    for (int k = 0; k < w; ++k)
                        ASSERT_EQ(t.at(x + k, 2 + r), COL_ACCENT);
            }
        }
    }
    std::fill(t.mem.begin(), t.mem.end(), BG);
    fill_rect(t.c, 0, 0, static_cast<int>(CANVAS_W), 2, COL_PANEL);
    EXPECT_EQ(t.changed(), 2 * static_cast<int>(CANVAS_W));
    EXPECT_EQ(t.at(static_cast<int>(CANVAS_W) - 1, 1), COL_PANEL);
}

TEST(FillRuns, EachLineGetsItsRunsEndToEndAndNothingOutside) {
    struct Case {
        const char* name;
        int x, y, h;
        std::vector<PixelRun> runs;
    } cases[] = {
        {"one run", 3, 2, 1, {{9, COL_ACCENT}}},
        {"black between colours", 0, 1, 3, {{2, COL_FRAME}, {7, 0}, {8, COL_PANEL}}},
        {"empty run in the middle", 5, 4, 2, {{6, COL_RULE}, {6, COL_ACCENT}, {11, COL_TRACK}}},
        {"whole canvas line", 0, 0, 2, {{250, 0}, {1030, COL_PANEL}, {1280, 0}}},
        {"no lines", 0, 3, 0, {{40, COL_ACCENT}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestCanvas t;
        fill_runs(t.c, c.x, c.y, c.h, c.runs.data(), static_cast<int32_t>(c.runs.size()));
        int written = 0;
        for (int r = 0; r < c.h; ++r) {
            int from = c.x;
            for (const PixelRun& run : c.runs) {
                for (int k = from; k < run.end; ++k)
                    ASSERT_EQ(t.at(k, c.y + r), run.px) << k << "," << c.y + r;
                written += run.end > from ? run.end - from : 0;
                from = run.end;
            }
        }
        // Black counts as written: the guard value is not 0.
        EXPECT_EQ(t.changed(), written);
    }
}

// The menu draws the logo in bands around its rule and highlight. The logo's ink ends at
// row 42, so one band cuts through it at both ends, where a bound drawn one row off shows.
TEST(DrawLogo, ABandDrawsExactlyItsRowsOpaquePixelsAndNothingElse) {
    const int bands[][2] = {{0, LOGO_H}, {0, 66}, {10, 30}, {66, 67}, {76, LOGO_H}, {40, 40}};
    const int x0 = 7, y0 = 2;
    for (const auto& band : bands) {
        SCOPED_TRACE("rows " + std::to_string(band[0]) + ".." + std::to_string(band[1]));
        TestCanvas t;
        draw_logo(t.c, x0, y0, band[0], band[1]);
        int opaque = 0;
        for (int r = band[0]; r < band[1]; ++r) {
            for (int k = 0; k < LOGO_W; ++k) {
                const uint8_t* px = LOGO + (r * LOGO_W + k) * 4;
                const uint32_t rgb = uint32_t{px[0]} << 16 | uint32_t{px[1]} << 8 | px[2];
                opaque += px[3] > 128;
                ASSERT_EQ(t.at(x0 + k, y0 + r), px[3] > 128 ? 0xFF000000u | rgb : BG) << k << "," << r;
            }
        }
        EXPECT_EQ(t.changed(), opaque);
    }
}

} // namespace
