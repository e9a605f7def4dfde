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

// The pairs and single pixels, stored as the unclipped text stores them, give back every
// inked byte of the cell with its coverage and nothing else; a byte is stored twice at most
// (where an odd run's last pair overlaps the one before it).
TEST(GlyphSets, InkPairsAndSinglesStoreEveryInkedByteAndNoOther) {
    for (const NamedFont& nf : FONTS) {
        const Font& f = *nf.f;
        for (int c = GLYPH_FIRST; c <= GLYPH_LAST; ++c) {
            SCOPED_TRACE(std::string(nf.name) + " '" + char(c) + "'");
            const int g = c - GLYPH_FIRST;
            std::vector<int> stores(static_cast<size_t>(f.w * f.h), 0);
            std::vector<int> coverage(static_cast<size_t>(f.w * f.h), 0);
            const uint8_t* cell = font_glyph(f, static_cast<uint8_t>(c));
            auto store = [&](uint32_t offset, uint32_t a) {
                const auto r = static_cast<int>(offset / LINE_PIXELS);
                const auto k = static_cast<int>(offset % LINE_PIXELS);
                ASSERT_LT(r, f.h);
                ASSERT_LT(k, f.w) << "row " << r;
                const auto i = static_cast<size_t>(r * f.w + k);
                if (stores[i]++ > 0) {
                    EXPECT_EQ(static_cast<int>(a), coverage[i]) << "row " << r;
                }
                coverage[i] = static_cast<int>(a);
            };
            for (uint32_t i = f.ink_pair_starts[g]; i < f.ink_pair_starts[g + 1]; ++i) {
                const uint64_t e = f.ink_pairs[i];
                ASSERT_EQ(e & 0x00FFFFFF00000000u, 0u);
                store(e & INK_OFFSET_MASK, (e >> 24) & 0xFF);
                store((e & INK_OFFSET_MASK) + 1, e >> 56);
            }
            for (uint32_t i = f.ink_single_starts[g]; i < f.ink_single_starts[g + 1]; ++i)
                store(f.ink_singles[i] & INK_OFFSET_MASK, f.ink_singles[i] >> 24);
            for (int i = 0; i < f.w * f.h; ++i) {
                const int n = stores[static_cast<size_t>(i)];
                EXPECT_TRUE(cell[i] ? n == 1 || n == 2 : n == 0)
                    << "row " << i / f.w << " column " << i % f.w;
                EXPECT_EQ(coverage[static_cast<size_t>(i)], cell[i])
                    << "row " << i / f.w << " column " << i % f.w;
            }
        }
    }
}

TEST(GlyphSets, InkRunsCoverExactlyTheInkedBytesRowByRow) {
    for (const NamedFont& nf : FONTS) {
        const Font& f = *nf.f;
        for (int c = GLYPH_FIRST; c <= GLYPH_LAST; ++c) {
            SCOPED_TRACE(std::string(nf.name) + " '" + char(c) + "'");
            const auto ch = static_cast<uint8_t>(c);
            std::vector<uint8_t> covered(static_cast<size_t>(f.w * f.h), 0);
            int last_row = 0;
            for (const InkRun* r = font_runs_begin(f, ch); r != font_runs_end(f, ch); ++r) {
                ASSERT_LT(r->row, f.h);
                ASSERT_GT(r->len, 0);
                ASSERT_LE(r->col + r->len, f.w);
                ASSERT_GE(r->row, last_row) << "runs out of row order";
                last_row = r->row;
                const uint8_t* g = font_glyph(f, ch) + r->row * f.w;
                // Maximal: the bytes just before and after a run are blank or off the row.
                const int before = r->col > 0 ? g[r->col - 1] : 0;
                const int after = r->col + r->len < f.w ? g[r->col + r->len] : 0;
                EXPECT_EQ(before, 0) << "row " << int(r->row);
                EXPECT_EQ(after, 0) << "row " << int(r->row);
                for (int k = r->col; k < r->col + r->len; ++k)
                    covered[static_cast<size_t>(r->row * f.w + k)] += 1;
            }
            for (int i = 0; i < f.w * f.h; ++i)
                ASSERT_EQ(covered[static_cast<size_t>(i)], font_glyph(f, ch)[i] != 0 ? 1 : 0)
                    << "column " << i % f.w << " row " << i / f.w;
        }
    }
}

TEST(DrawImage, OnlyAlphaAbove128IsDrawnAndAlwaysOpaque) {
    // 3 x 2 pixels: red, green, blue, alpha.
    const uint8_t img[] = {
        0x11, 0x22, 0x33, 128, 0x44, 0x55, 0x66, 129, 0xAB, 0xCD, 0xEF, 255, //
        0x01, 0x02, 0x03, 0,   0x00, 0x00, 0x00, 200, 0x10, 0x20, 0x30, 1,
    };
    TestCanvas t;
    draw_image(t.c, 10, 3, img, 3, 2);
    EXPECT_EQ(t.at(10, 3), BG);
    EXPECT_EQ(t.at(11, 3), 0xFF445566u);
    EXPECT_EQ(t.at(12, 3), 0xFFABCDEFu);
    EXPECT_EQ(t.at(10, 4), BG);
    EXPECT_EQ(t.at(11, 4), 0xFF000000u);
    EXPECT_EQ(t.at(12, 4), BG);
    EXPECT_EQ(t.changed(), 3);
}

TEST(DrawLogo, SolidPixelsComeOutOpaqueBlackAndNothingElseIsTouched) {
    TestCanvas t;
    const int x0 = 5, y0 = 4;
    draw_logo(t.c, x0, y0);
    int solid = 0;
    for (int r = 0; r < LOGO_H; ++r) {
        for (int k = 0; k < LOGO_W; ++k) {
            const uint8_t a = LOGO[(r * LOGO_W + k) * 4 + 3];
            solid += a > 128;
            ASSERT_EQ(t.at(x0 + k, y0 + r), a > 128 ? 0xFF000000u : BG) << k << "," << r;
        }
    }
    EXPECT_EQ(t.changed(), solid);
    // A line drawing, not a blot or an empty frame: about a sixth of the image is solid.
    EXPECT_GT(solid, 1500);
    EXPECT_LT(solid, 2200);
}

TEST(DrawLogo, RowRangesDrawExactlyTheirRowsOfTheImage) {
    // The menu draws the logo in pieces around a rule and a highlight.
    const int ranges[][2] = {{0, 66}, {66, 67}, {67, 76}, {76, LOGO_H}, {40, 40}};
    for (const auto& rg : ranges) {
        TestCanvas part, whole;
        draw_logo_rows(part.c, 7, 2, rg[0], rg[1]);
        draw_image(whole.c, 7, 2 + rg[0], LOGO + rg[0] * LOGO_W * 4, LOGO_W, rg[1] - rg[0]);
        EXPECT_EQ(part.changed(), whole.changed()) << rg[0] << ".." << rg[1];
        for (int r = 0; r < LOGO_H; ++r)
            for (int k = 0; k < LOGO_W; ++k)
                ASSERT_EQ(part.at(7 + k, 2 + r), whole.at(7 + k, 2 + r)) << k << "," << r;
    }
}

// Rows and columns of a glyph that carry any ink.
struct Ink {
    int top = -1, bottom = -1, left = -1, right = -1;
};

Ink ink_of(const Font& f, char ch) {
    Ink ink;
    for (int r = 0; r < f.h; ++r) {
        for (int k = 0; k < f.w; ++k) {
            if (coverage(f, ch, k, r) == 0) continue;
            if (ink.top < 0) ink.top = r;
            ink.bottom = r;
            ink.left = ink.left < 0 ? k : std::min(ink.left, k);
            ink.right = std::max(ink.right, k);
        }
    }
    return ink;
}

struct RowLayout {
    const Font* f;
    const char* name;
    int w, h;
    int baseline;  // first row below the capitals; capitals start at row 1
    int descender; // last row of g, p, q, y
};

const RowLayout LAYOUTS[] = {
    {&FONT_SMALL, "small", 7, 12, 9, 10},
    {&FONT_MEDIUM, "medium", 13, 22, 16, 20},
    {&FONT_LARGE, "large", 19, 31, 23, 29},
};

TEST(GlyphSets, RowsOfCapitalsBaselineAndDescenders) {
    for (const RowLayout& l : LAYOUTS) {
        SCOPED_TRACE(l.name);
        const Font& f = *l.f;
        ASSERT_EQ(f.w, l.w);
        ASSERT_EQ(f.h, l.h);
        for (char ch = 'A'; ch <= 'Z'; ++ch) {
            const Ink i = ink_of(f, ch);
            EXPECT_EQ(i.top, 1) << ch;
            if (ch == 'Q') {
                EXPECT_GE(i.bottom, l.baseline) << "the tail of Q crosses the baseline";
                EXPECT_LE(i.bottom, l.descender);
            } else {
                EXPECT_EQ(i.bottom, l.baseline - 1) << ch;
            }
        }
        // Lower case without descenders stands on the same baseline, under one x-height.
        const int x_height = ink_of(f, 'x').top;
        EXPECT_GT(x_height, 1);
        for (char ch : std::string("acemnorsuvwxz")) {
            EXPECT_EQ(ink_of(f, ch).bottom, l.baseline - 1) << ch;
            EXPECT_EQ(ink_of(f, ch).top, x_height) << ch;
        }
        for (char ch : std::string("gpqy"))
            EXPECT_EQ(ink_of(f, ch).bottom, l.descender) << ch;
        EXPECT_EQ(ink_of(f, '|').top, 0);
        for (char ch : std::string("bdhkl"))
            EXPECT_LT(ink_of(f, ch).top, 1) << "ascender " << ch;
    }
}

TEST(GlyphSets, CellsKeepTheirLastRowAndPaddingBlank) {
    for (const RowLayout& l : LAYOUTS) {
        SCOPED_TRACE(l.name);
        const Font& f = *l.f;
        for (int c = GLYPH_FIRST; c <= GLYPH_LAST; ++c) {
            const uint8_t* g = font_glyph(f, static_cast<uint8_t>(c));
            const Ink i = ink_of(f, static_cast<char>(c));
            if (c == ' ') {
                EXPECT_EQ(i.top, -1) << "space has ink";
            } else {
                EXPECT_GE(i.top, 0) << "no ink in " << char(c);
                EXPECT_LT(i.bottom, f.h - 1) << "ink in the last row of " << char(c);
            }
            for (int b = f.w * f.h; b < GLYPH_CELL_BYTES; ++b)
                ASSERT_EQ(g[b], 0) << "padding byte " << b << " of " << char(c);
        }
    }
    // One run of cells per set, in the order small, medium, large.
    EXPECT_EQ(FONT_MEDIUM.glyphs, FONT_SMALL.glyphs + GLYPH_COUNT * GLYPH_CELL_BYTES);
    EXPECT_EQ(FONT_LARGE.glyphs, FONT_MEDIUM.glyphs + GLYPH_COUNT * GLYPH_CELL_BYTES);
}

} // namespace
