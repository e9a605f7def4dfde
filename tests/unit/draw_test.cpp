#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
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

// Text inside the canvas takes one path, text that crosses an edge with clipping on
// another. Every byte advances the pen one cell, only 32..126 ink, and ink replaces what is
// under it: over a filled background, and 'A' has partially covered edges in every set. '#'
// has ink in every column of its cell, so a clip one pixel off shows.
TEST(DrawText, EveryByteAdvancesOneCellAndClippingCutsAtBothEdgesPixelByPixel) {
    struct Case {
        int at, cells; // x is at + cells * the glyph width
        std::string text;
        bool clip;
    };
    std::vector<Case> cases = {
        {W - 4, 0, "#", true},    // the first four columns inside
        {-3, 0, "#", true},       // all but three
        {W - 4, -2, "###", true}, // the third glyph cut
        {-3, -1, "##", true},     // the first glyph wholly outside, the second cut
        {W - 3, 0, "###", true},  // the second and third wholly beyond the edge
        {W - 4, 0, "#", false},   // unclipped, it runs on into the rest of the line
    };
    // A tab, DEL, a stray control byte, the bytes of a UTF-8 sequence, and the space.
    for (char sep : {'\t', '\x7f', '\x1f', '\xc3', '\xa9', ' '})
        for (int x : {100, -2})
            cases.push_back({x, 0, std::string("A") + sep + "g", true});
    for (const Font* f : {&FONT_SMALL, &FONT_MEDIUM, &FONT_LARGE}) {
        for (const Case& c : cases) {
            const int x = c.at + c.cells * f->w;
            SCOPED_TRACE(std::to_string(f->h) + " rows at " + std::to_string(x) + " \"" + c.text +
                         "\"");
            TestCanvas got, want;
            fill_rect(got.c, 0, 18, W, f->h + 4, COL_ROW_HIGHLIGHT);
            want.rect(0, 18, W, f->h + 4, COL_ROW_HIGHLIGHT);
            draw_text(got.c, *f, x, 20, RGB_PINK, c.text.c_str(), c.clip);
            for (size_t i = 0; i < c.text.size(); ++i) {
                const auto ch = static_cast<uint8_t>(c.text[i]);
                if (ch >= 32 && ch <= 126)
                    want.glyph(*f, char(ch), x + static_cast<int>(i) * f->w, 20, RGB_PINK, c.clip);
            }
            expect_same(got, want);
        }
    }
}

// For apps: text and rectangles cut to a rectangle on all four sides, and a byte the font
// lacks drawn as a hollow box in its cell. Nothing is stored outside the rectangle.
TEST(DrawTextIn, CutsToTheRectangleOnEverySideAndBoxesBytesTheFontLacks) {
    const ClipRect clip{10, 20, 120, 60};
    auto inside = [&](int x, int y) { return x >= 10 && x < 120 && y >= 20 && y < 60; };
    struct Case {
        int x, y;
        std::string text;
    };
    const Case cases[] = {
        {30, 30, "Ag"},       // wholly inside
        {4, 30, "##"},        // cut at the left
        {112, 30, "##"},      // at the right
        {30, 14, "#"},        // at the top
        {30, 52, "#"},        // at the bottom
        {30, 30, "A	BÃ"}, // a tab and a UTF-8 lead byte: boxes
        {125, 30, "##"},      // wholly to the right: nothing
        {30, -40, "#"},       // wholly above: nothing
        {INT32_MIN, 30, "#"}, {30, INT32_MAX, "#"},
    };
    for (const Font* f : {&FONT_SMALL, &FONT_LARGE}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(f->h) + " rows at " + std::to_string(c.x) + "," +
                         std::to_string(c.y) + " \"" + c.text + "\"");
            TestCanvas got, want, full;
            draw_text_in(got.c, *f, c.x, c.y, RGB_WARN, c.text.c_str(), clip);
            // The whole text where it lies on the canvas' memory: what the cut keeps of it.
            if (c.x > -100 && c.y >= 0 && int64_t{c.y} + f->h <= TestCanvas::ROWS) {
                for (size_t i = 0; i < c.text.size(); ++i) {
                    const auto ch = static_cast<uint8_t>(c.text[i]);
                    const int x = c.x + static_cast<int>(i) * f->w;
                    if (ch >= 32 && ch <= 126) {
                        full.glyph(*f, char(ch), x, c.y, RGB_WARN);
                        continue;
                    }
                    full.rect(x + 1, c.y + 1, f->w - 2, 1, 0xFF000000u | RGB_WARN);
                    full.rect(x + 1, c.y + f->h - 2, f->w - 2, 1, 0xFF000000u | RGB_WARN);
                    full.rect(x + 1, c.y + 1, 1, f->h - 2, 0xFF000000u | RGB_WARN);
                    full.rect(x + f->w - 2, c.y + 1, 1, f->h - 2, 0xFF000000u | RGB_WARN);
                }
            }
            for (int y = 0; y < TestCanvas::ROWS; ++y)
                for (int x = 0; x < W; ++x)
                    if (inside(x, y)) want.at(x, y) = full.at(x, y);
            expect_same(got, want);
        }
    }
    const int rects[][4] = {{0, 0, 200, 100},
                            {-5, 25, 20, 5},
                            {115, 55, 10, 10},
                            {50, 30, 0, 4},
                            {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
                            {130, 30, 5, 5}};
    for (const auto& r : rects) {
        SCOPED_TRACE("rect at " + std::to_string(r[0]) + "," + std::to_string(r[1]));
        TestCanvas got, want;
        fill_rect_in(got.c, clip, r[0], r[1], r[2], r[3], COL_ACCENT);
        for (int y = 0; y < TestCanvas::ROWS; ++y)
            for (int x = 0; x < W; ++x)
                if (inside(x, y) && int64_t{x} >= r[0] && int64_t{x} < int64_t{r[0]} + r[2] &&
                    int64_t{y} >= r[1] && int64_t{y} < int64_t{r[1]} + r[3])
                    want.at(x, y) = COL_ACCENT;
        expect_same(got, want);
    }
}

// fill_rect at widths on both sides of where a fill stops storing pixel by pixel, at every
// alignment; fill_runs with runs end to end, black among them (the guard value is not 0).
TEST(Fill, StoresExactlyTheRectangleOrRuns) {
    for (int x : {0, 1, 2, 3, 1275}) {
        for (int w = 0; w <= 9; ++w) {
            SCOPED_TRACE("x " + std::to_string(x) + " w " + std::to_string(w));
            TestCanvas got, want;
            fill_rect(got.c, x, 2, w, 3, COL_ACCENT);
            want.rect(x, 2, w, 3, COL_ACCENT);
            expect_same(got, want);
        }
    }
    const struct {
        int x, y, h;
        std::vector<PixelRun> runs;
    } cases[] = {
        {0, 1, 3, {{2, COL_FRAME}, {7, 0}, {8, COL_PANEL}}},
        {5, 4, 2, {{6, COL_RULE}, {6, COL_ACCENT}, {11, COL_TRACK}}},
        {0, 0, 2, {{250, 0}, {1030, COL_PANEL}, {W, 0}}},
        {0, 3, 0, {{40, COL_ACCENT}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("runs from " + std::to_string(c.x) + " to " +
                     std::to_string(c.runs.back().end));
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
