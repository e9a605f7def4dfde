// Generates the launcher's constant display tables: the three glyph sets
// (src/display/generated/glyph_data.cpp) and the menu logo (src/display/generated/logo_data.cpp).
//
//   glyphgen FONT.ttf GLYPH_DATA.cpp LOGO_DATA.cpp
//   glyphgen FONT.ttf --sheet DIR       pictures of the glyph sets to judge them by (sheet.h)
//
// The glyphs come from a bold fixed-pitch TrueType face rendered by FreeType with its
// classic (v35) bytecode interpreter: the face's own hints snap stems and horizontal edges
// to whole pixels in both directions, which is what keeps 7-pixel-wide text readable on the
// goggles' panel. The hinted outlines are then fitted to the menu's row layout with a few
// whole-pixel moves (so nothing the hinter aligned is blurred again) and checked; nothing is
// written unless every set meets its row layout and the legibility rules, and the tables
// made from the sets give back exactly their ink.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_DRIVER_H
#include FT_MODULE_H
#include FT_BBOX_H
#include FT_BITMAP_H
#include FT_OUTLINE_H

#include "display/canvas.h"
#include "display/font.h"
#include "sheet.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int FIRST = 32;
constexpr int COUNT = 95;

// Glyphs drawn by hand, side by side: row r of the cell of the i-th character of `chars` is
// the i-th space-separated word of rows[r]. '.' is no ink, '#' full ink and a digit d partial
// ink, d tenths of full.
struct DrawnGlyphs {
    const char* chars;
    const char* rows[12];
};

// At 7 pixels wide the bold face's stems take two columns each, and the hinter has nowhere
// to put a third stem or a diagonal: 'M' comes out as two stems joined by a grey block that
// reads as the bar of 'H', 'm' as a thick stem beside an 'n', and 'W' and 'w' fill the cell
// in grey and run into their neighbours. These are drawn instead, on the same rows and in
// the first six columns, with one-pixel stems where counters are needed: a gap of one clean
// pixel reads better than a grey one. The hinter also flattens the flag of '1' into a bar,
// leaving it two pixels short of 'I', and the dot of '0' into one grey pixel, leaving it one
// short of 'O' (the menu shows version numbers and an IP address in this set): '1' gets its
// flag back as a diagonal, '0' a diagonal stroke across its counter. The diagonal of '%',
// which the renderer leaves at a quarter to half coverage, becomes a line of whole pixels.
// clang-format off
const DrawnGlyphs SMALL_DRAWN = {"%01MWmw", {
    "....... ....... ....... ....... ....... ....... .......",
    "6#6.... .6996.. ..##... ##..##. #5..5#. ....... .......",
    "#3#..#. 5#44#5. ####... ##55##. #5..5#. ....... .......",
    "6#6.#.. 8#.3#8. 5.##... #5##5#. #5..5#. #8##84. #5..5#.",
    "...#... 9#.9#9. ..##... #.##.#. #.##.#. #.##.#. #5..5#.",
    "..#.... 9#9.#9. ..##... #.77.#. #.##.#. #.##.#. #.##.#.",
    ".#.6#6. 8#3.#8. ..##... #....#. #.##.#. #.##.#. #.##.#.",
    "#..#3#. 5#44#5. ..##... #....#. ##..##. #.##.#. ##..##.",
    "...6#6. .6996.. ######. #....#. 5#..#5. #.##.#. 5#..#5.",
    "....... ....... ....... ....... ....... ....... .......",
    "....... ....... ....... ....... ....... ....... .......",
    "....... ....... ....... ....... ....... ....... .......",
}};
// clang-format on

// One glyph set and the rows the menu layout expects of it. Rows count from the top of the
// cell; the baseline row is the first row below the capitals.
struct SetLayout {
    const char* name;
    const char* stem; // of the sheet files
    int w, h;
    double ppem_x, ppem_y; // FreeType character size in pixels, horizontal and vertical
    int cap_top;           // first row of the capitals
    int baseline;          // first row below the capitals
    int desc_row;          // last row that descenders (g, p, q, y) reach
    // Whether letters and digits the face draws across the whole cell (W, w, Y) may touch
    // their neighbours: at 13 pixels and up the eye still parts them; at 7 it does not.
    bool wide_may_touch;
    const DrawnGlyphs* drawn = nullptr; // glyphs that replace the rendered ones
    // Glyphs the hinter widens to the whole cell with only a tail of ink in its last column,
    // the space before the next glyph: that column is cleared.
    const char* trimmed = "";
};

// The pixel sizes are those at which the face's hinted capitals come out exactly
// (baseline - cap_top) rows tall; the horizontal size makes the hinted advance the cell
// width. The face's descenders end a row short of desc_row at the two larger sizes, and
// the accent and the dots of i and j stick out above row 0; fit_outline() corrects both.
const SetLayout SETS[] = {
    {"FONT_SMALL", "small", 7, 12, 11.0, 11.0, 1, 9, 10, false, &SMALL_DRAWN, "2KR"},
    {"FONT_MEDIUM", "medium", 13, 22, 21.0, 21.0, 1, 16, 20, true},
    {"FONT_LARGE", "large", 19, 31, 31.0, 30.0, 1, 23, 29, true},
};

struct Glyph {
    std::vector<uint8_t> px; // w * h coverage bytes
};

struct RenderedSet {
    const SetLayout* layout;
    std::vector<Glyph> glyphs; // COUNT of them, code FIRST first
};

struct Ink {
    int top = -1, bottom = -1, left = -1, right = -1; // inclusive; -1 when empty
    bool empty() const { return top < 0; }
};

Ink ink_of(const uint8_t* px, int w, int h) {
    Ink ink;
    for (int r = 0; r < h; ++r) {
        for (int k = 0; k < w; ++k) {
            if (px[r * w + k] == 0) continue;
            if (ink.top < 0) ink.top = r;
            ink.bottom = r;
            ink.left = ink.left < 0 ? k : std::min(ink.left, k);
            ink.right = std::max(ink.right, k);
        }
    }
    return ink;
}

FT_BBox outline_box(FT_Outline* o) {
    FT_BBox box;
    FT_Outline_Get_BBox(o, &box);
    return box;
}

// Points of the outline that satisfy `pick`, moved by dy (26.6 units).
template <typename Pick> void shift_points(FT_Outline* o, FT_Pos dy, Pick pick) {
    for (int i = 0; i < o->n_points; ++i) {
        if (pick(o->points[i])) o->points[i].y += dy;
    }
}

// Whole contours that satisfy `pick` for every point, moved by dy. Returns how many moved.
template <typename Pick> int shift_contours(FT_Outline* o, FT_Pos dy, Pick pick) {
    int moved = 0;
    int first = 0;
    for (int c = 0; c < o->n_contours; ++c) {
        const int last = o->contours[c];
        bool all = true;
        for (int i = first; i <= last; ++i)
            all = all && pick(o->points[i]);
        if (all) {
            for (int i = first; i <= last; ++i)
                o->points[i].y += dy;
            ++moved;
        }
        first = last + 1;
    }
    return moved;
}

// Metrics of the hinted face at one size, in whole pixels above the baseline.
struct HintedLines {
    int descender; // bottom of 'p' (negative)
    int x_height;  // top of 'x'
};

// Fits one hinted outline (origin on the baseline, 26.6 pixels) to the set's rows, moving
// only by whole pixels so that edges the hinter put on the pixel grid stay there.
bool fit_outline(FT_Outline* o, const SetLayout& s, const HintedLines& lines, std::string& why) {
    const FT_Pos px = 64;
    const int desc_target = -(s.desc_row + 1 - s.baseline); // bottom edge of desc_row
    const int top_limit = s.baseline;                       // top edge of row 0
    const int bottom_limit = -(s.h - 1 - s.baseline);       // top edge of the blank last row

    FT_BBox box = outline_box(o);
    // Descenders: glyphs that reach the face's descender line are pulled down to the set's
    // descender row. Only points more than a pixel below the baseline move, so the bowls
    // of g, p and q keep their shape and only the tails and stems grow.
    const int deepen = lines.descender - desc_target;
    if (deepen > 0 && box.yMin <= lines.descender * px + px / 8) {
        const int room = static_cast<int>(std::floor(box.yMin / double(px))) - desc_target;
        const int d = std::min(deepen, room);
        if (d > 0) shift_points(o, -d * px, [&](const FT_Vector& p) { return p.y < -px; });
    }
    box = outline_box(o);
    // Above row 0: the marks that sit over the x-height (dots, the grave accent) come down.
    if (box.yMax > top_limit * px) {
        const FT_Pos over = (box.yMax - top_limit * px + px - 1) / px * px;
        const int moved = shift_contours(
            o, -over, [&](const FT_Vector& p) { return p.y >= lines.x_height * px; });
        if (moved == 0) {
            why = "rises above row 0 and has no mark to lower";
            return false;
        }
    }
    box = outline_box(o);
    // Into the blank last row: parts lying wholly under the baseline (the underscore) go up.
    if (box.yMin < bottom_limit * px) {
        const FT_Pos over = (bottom_limit * px - box.yMin + px - 1) / px * px;
        const int moved = shift_contours(o, over, [&](const FT_Vector& p) { return p.y <= 0; });
        if (moved == 0) {
            why = "reaches the last row and cannot be raised";
            return false;
        }
    }
    return true;
}

// Renders one set. The glyph is rasterised into a work area with a margin all round, so
// that nothing is lost before it is placed in its cell by a whole-pixel horizontal shift.
bool render_set(FT_Library lib, FT_Face face, const SetLayout& s, RenderedSet& out) {
    constexpr int M = 12;
    const int ww = s.w + 2 * M, wh = s.h + 2 * M;
    if (FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(s.ppem_x * 64),
                         static_cast<FT_F26Dot6>(s.ppem_y * 64), 72, 72) != 0) {
        std::fprintf(stderr, "glyphgen: %s: cannot set the size\n", s.name);
        return false;
    }
    const FT_Int32 load = FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP;
    auto hinted_box = [&](char c) {
        FT_Load_Char(face, static_cast<FT_ULong>(c), load);
        return outline_box(&face->glyph->outline);
    };
    HintedLines lines;
    lines.descender = static_cast<int>(std::lround(hinted_box('p').yMin / 64.0));
    lines.x_height = static_cast<int>(std::lround(hinted_box('x').yMax / 64.0));

    out.layout = &s;
    out.glyphs.assign(COUNT, Glyph{std::vector<uint8_t>(static_cast<size_t>(s.w * s.h), 0)});
    std::vector<uint8_t> work(static_cast<size_t>(ww * wh));
    bool ok = true;
    for (int code = FIRST + 1; code < FIRST + COUNT; ++code) {
        // The design's own horizontal placement, unhinted: where in the advance the ink sits.
        if (FT_Load_Char(face, static_cast<FT_ULong>(code), FT_LOAD_NO_SCALE) != 0) return false;
        const FT_Glyph_Metrics& m = face->glyph->metrics;
        const double design_mid =
            (m.horiBearingX + m.width / 2.0 - m.horiAdvance / 2.0) * s.ppem_x / face->units_per_EM;

        if (FT_Load_Char(face, static_cast<FT_ULong>(code), load) != 0) return false;
        FT_Outline* o = &face->glyph->outline;
        std::string why;
        if (!fit_outline(o, s, lines, why)) {
            std::fprintf(stderr, "glyphgen: %s '%c': %s\n", s.name, code, why.c_str());
            ok = false;
            continue;
        }
        // Baseline at the top edge of row `baseline` of the cell, the cell M pixels in.
        FT_Outline_Translate(o, M * 64, (wh - M - s.baseline) * 64);
        std::fill(work.begin(), work.end(), 0);
        FT_Bitmap bm;
        FT_Bitmap_Init(&bm);
        bm.rows = static_cast<unsigned>(wh);
        bm.width = static_cast<unsigned>(ww);
        bm.pitch = ww;
        bm.buffer = work.data();
        bm.num_grays = 256;
        bm.pixel_mode = FT_PIXEL_MODE_GRAY;
        if (FT_Outline_Get_Bitmap(lib, o, &bm) != 0) return false;

        const Ink ink = ink_of(work.data(), ww, wh);
        if (ink.empty()) {
            std::fprintf(stderr, "glyphgen: %s '%c': no ink\n", s.name, code);
            ok = false;
            continue;
        }
        // Horizontal place: the hinted ink centred where the design centres it, by whole
        // pixels, then kept inside the cell (hinting can widen a glyph to the full width).
        // When that lands near half a pixel, as it does for every centred glyph whose slack
        // in the cell is odd, the glyph goes left: one rule for all, so that neighbours do
        // not touch on one side and stand two pixels apart on the other. Glyphs the design
        // sets right of centre ('[') go right instead, mirroring their partners. But the
        // cell's last column is the space before the next glyph: ink narrower than the cell
        // stays off it. At 7 pixels wide the design's offset of 'r' would otherwise push its
        // arm into the next letter, and "rn" reads as 'm'.
        const double mid = (ink.left + ink.right + 1) / 2.0 - M;
        const int width = ink.right - ink.left + 1;
        const double want = s.w / 2.0 + design_mid - mid;
        const double frac = want - std::floor(want);
        const bool tie = std::fabs(frac - 0.5) < 0.25;
        int dx = static_cast<int>(!tie                ? std::floor(want + 0.5)
                                  : design_mid > 0.25 ? std::ceil(want)
                                                      : std::floor(want));
        dx = std::max(dx, M - ink.left);
        dx = std::min(dx, M + s.w - (width < s.w ? 2 : 1) - ink.right);
        Glyph& g = out.glyphs[static_cast<size_t>(code - FIRST)];
        for (int r = 0; r < wh; ++r) {
            for (int k = 0; k < ww; ++k) {
                const uint8_t a = work[static_cast<size_t>(r * ww + k)];
                if (a == 0) continue;
                const int cr = r - M, ck = k - M + dx;
                if (cr < 0 || cr >= s.h || ck < 0 || ck >= s.w) {
                    std::fprintf(stderr, "glyphgen: %s '%c': ink outside the %dx%d cell\n", s.name,
                                 code, s.w, s.h);
                    ok = false;
                    r = wh;
                    break;
                }
                g.px[static_cast<size_t>(cr * s.w + ck)] = a;
            }
        }
    }
    return ok;
}

int drawn_coverage(char c) {
    if (c == '.') return 0;
    if (c == '#') return 255;
    if (c >= '1' && c <= '9') return ((c - '0') * 255 + 5) / 10;
    return -1;
}

// The set's hand-drawn glyphs and trims, over the rendered glyphs.
bool touch_up(RenderedSet& set) {
    const SetLayout& s = *set.layout;
    bool ok = true;
    for (const char* t = s.trimmed; *t != '\0'; ++t) {
        Glyph& g = set.glyphs[static_cast<size_t>(*t - FIRST)];
        for (int r = 0; r < s.h; ++r)
            g.px[static_cast<size_t>(r * s.w + s.w - 1)] = 0;
    }
    const size_t n = s.drawn != nullptr ? std::strlen(s.drawn->chars) : 0;
    const size_t word = static_cast<size_t>(s.w) + 1;
    for (int r = 0; r < s.h && n > 0; ++r) {
        const char* row = s.drawn->rows[r];
        bool laid_out = row != nullptr && std::strlen(row) == n * word - 1;
        for (size_t i = 1; laid_out && i < n; ++i)
            laid_out = row[i * word - 1] == ' ';
        if (!laid_out) {
            std::fprintf(stderr, "glyphgen: %s: drawn row %d is not %zu glyphs %d wide\n", s.name,
                         r, n, s.w);
            return false;
        }
        for (size_t i = 0; i < n; ++i) {
            const char ch = s.drawn->chars[i];
            Glyph& g = set.glyphs[static_cast<size_t>(ch - FIRST)];
            for (int k = 0; k < s.w; ++k) {
                const char c = row[i * word + static_cast<size_t>(k)];
                const int a = drawn_coverage(c);
                if (a < 0) {
                    std::fprintf(stderr, "glyphgen: %s '%c': drawn row %d has '%c'\n", s.name, ch,
                                 r, c);
                    ok = false;
                }
                g.px[static_cast<size_t>(r * s.w + k)] = static_cast<uint8_t>(std::max(a, 0));
            }
        }
    }
    return ok;
}

// The row layout the menu is drawn with; any miss fails the run.
bool check_set(const RenderedSet& set, bool report) {
    const SetLayout& s = *set.layout;
    bool ok = true;
    auto fail = [&](int code, const char* what, int got) {
        std::fprintf(stderr, "glyphgen: %s '%c': %s (row %d)\n", s.name, code, what, got);
        ok = false;
    };
    auto ink = [&](int code) {
        return ink_of(set.glyphs[static_cast<size_t>(code - FIRST)].px.data(), s.w, s.h);
    };
    for (int code = FIRST; code < FIRST + COUNT; ++code) {
        const Ink i = ink(code);
        if (code == ' ') {
            if (!i.empty()) fail(code, "space has ink", i.top);
            continue;
        }
        if (i.empty()) {
            fail(code, "no ink", -1);
            continue;
        }
        if (i.bottom >= s.h - 1) fail(code, "ink in the last row", i.bottom);
    }
    for (int code = 'A'; code <= 'Z'; ++code) {
        const Ink i = ink(code);
        if (i.top != s.cap_top) fail(code, "capital does not start on the cap row", i.top);
        if (code == 'Q') continue; // its tail crosses the baseline
        if (i.bottom != s.baseline - 1)
            fail(code, "capital does not sit on the baseline", i.bottom);
    }
    for (int code : {'g', 'p', 'q', 'y'}) {
        const Ink i = ink(code);
        if (i.bottom != s.desc_row) fail(code, "descender misses its row", i.bottom);
    }
    if (ink('|').top != 0) fail('|', "bar does not reach row 0", ink('|').top);
    if (report) {
        const Ink x = ink('x'), bar = ink('|');
        std::printf("%-11s %2dx%-2d capitals rows %d..%d, baseline row %d, descenders to row "
                    "%d, x-height from row %d, bar rows %d..%d, last row %d blank\n",
                    s.name, s.w, s.h, ink('H').top, ink('H').bottom, s.baseline, ink('g').bottom,
                    x.top, bar.top, bar.bottom, s.h - 1);
    }
    return ok;
}

// ---------------------------------------------------------------------------------------
// Legibility: what the row layout leaves open and a set that met it still got wrong.

uint8_t coverage_at(const RenderedSet& set, int code, int k, int r) {
    const Glyph& g = set.glyphs[static_cast<size_t>(code - FIRST)];
    return g.px[static_cast<size_t>(r * set.layout->w + k)];
}

Ink glyph_ink(const RenderedSet& set, int code) {
    const SetLayout& s = *set.layout;
    return ink_of(set.glyphs[static_cast<size_t>(code - FIRST)].px.data(), s.w, s.h);
}

// Ink a reader sees as a stroke: at least half coverage.
bool stroke(const RenderedSet& set, int code, int k, int r) {
    return r >= 0 && r < set.layout->h && coverage_at(set, code, k, r) >= 128;
}

// The cell's last column is all that keeps one glyph from the next: where stroke ink in it
// meets stroke ink in the next glyph's first column, on the same row or a diagonal
// neighbour, the two merge ('r' against 'n' reads as 'm', "vornax" as "vomax"). The first
// row of a's where they meet, or -1.
int meeting_row(const RenderedSet& set, int a, int b) {
    const int last = set.layout->w - 1;
    for (int r = 0; r < set.layout->h; ++r) {
        if (stroke(set, a, last, r) &&
            (stroke(set, b, 0, r - 1) || stroke(set, b, 0, r) || stroke(set, b, 0, r + 1)))
            return r;
    }
    return -1;
}

// The first row, on one side of mid-height of the capitals, where the middle of the glyph
// holds a stroke with a gap (under a quarter coverage) between it and the outer strokes on
// both sides, or -1: the vertex of 'M' below the middle, the inner strokes of 'W' above it.
// A stroke joined to both stems is a bar, and 'M' with its vertex fused to its stems reads
// as 'H'.
int middle_apart_row(const RenderedSet& set, int code, bool below_middle) {
    const int baseline = set.layout->baseline;
    const Ink i = glyph_ink(set, code);
    const int c0 = (i.left + i.right) / 2, c1 = (i.left + i.right + 1) / 2;
    for (int r = set.layout->cap_top; r < baseline; ++r) {
        // Capitals take rows 1..baseline - 1, so mid-height is at baseline / 2.
        if (below_middle ? 2 * r <= baseline : 2 * r >= baseline) continue;
        if (!stroke(set, code, c0, r) && !stroke(set, code, c1, r)) continue;
        bool gap_left = false, gap_right = false;
        for (int k = i.left + 1; k < c0; ++k)
            gap_left = gap_left || coverage_at(set, code, k, r) < 64;
        for (int k = c1 + 1; k < i.right; ++k)
            gap_right = gap_right || coverage_at(set, code, k, r) < 64;
        if (gap_left && gap_right) return r;
    }
    return -1;
}

// Rules a reader needs beyond the row layout; any miss fails the run.
bool check_legibility(const RenderedSet& set, bool report) {
    const SetLayout& s = *set.layout;
    bool ok = true;
    const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    auto cell_wide = [&](int code) {
        const Ink i = glyph_ink(set, code);
        return i.left == 0 && i.right == s.w - 1;
    };
    int pairs = 0, touching = 0;
    for (char a : chars) {
        std::string next;
        int row = -1;
        for (char b : chars) {
            if (s.wide_may_touch && (cell_wide(a) || cell_wide(b))) continue;
            ++pairs;
            const int r = meeting_row(set, a, b);
            if (r < 0) continue;
            row = next.empty() ? r : row;
            next += b;
        }
        if (next.empty()) continue;
        touching += static_cast<int>(next.size());
        std::fprintf(stderr,
                     "glyphgen: %s '%c': its last column meets the first column of the next "
                     "glyph, and the two merge (row %d), before %s\n",
                     s.name, a, row, next.c_str());
        ok = false;
    }
    const struct {
        char ch;
        bool below_middle, apart;
        const char* fault;
    } middles[] = {
        {'M', true, true, "vertex is fused to its stems below mid-height, and it reads as 'H'"},
        {'W', false, true, "inner strokes are fused to its stems above mid-height"},
        // Keeps the rule honest: a bar joined to its stems must not pass for a vertex.
        {'H', true, false, "bar stands apart from its stems below mid-height"},
        {'H', false, false, "bar stands apart from its stems above mid-height"},
    };
    int middle_rows[2] = {-1, -1};
    for (const auto& m : middles) {
        const int r = middle_apart_row(set, m.ch, m.below_middle);
        if (m.apart) middle_rows[m.ch == 'W'] = r;
        if ((r >= 0) == m.apart) continue;
        std::fprintf(stderr, "glyphgen: %s '%c': %s", s.name, m.ch, m.fault);
        std::fprintf(stderr, r >= 0 ? " (row %d)\n" : "\n", r);
        ok = false;
    }
    // Glyphs whose shape is symmetric: side margins a pixel apart at most, or the space
    // around them varies along a line of text.
    const std::string symmetric = "HIOTVXoxv|!:=+*";
    int off_centre = 0;
    for (char ch : symmetric) {
        const Ink i = glyph_ink(set, ch);
        const int left = i.left, right = s.w - 1 - i.right;
        if (std::abs(left - right) <= 1) continue;
        ++off_centre;
        std::fprintf(stderr, "glyphgen: %s '%c': off centre, margins %d and %d\n", s.name, ch, left,
                     right);
        ok = false;
    }
    if (report) {
        std::printf("%-11s %d of %d letter and digit pairs touch, M's vertex apart from row "
                    "%d, W's inner strokes from row %d, %d of %zu symmetric glyphs off centre\n",
                    s.name, touching, pairs, middle_rows[0], middle_rows[1], off_centre,
                    symmetric.size());
    }
    return ok;
}

// ---------------------------------------------------------------------------------------
// The logo: a line drawing of a pair of FPV goggles (visor with a nose cut-out, two
// lenses, strap ends) with an antenna on top, as a coverage mask. It is built from
// signed distance fields so that strokes of even width meet cleanly, and anti-aliased by
// 8 x 8 supersampling.

constexpr int LOGO_W = 103;
constexpr int LOGO_H = 100;

struct V2 {
    double x, y;
};

double len(double x, double y) {
    return std::sqrt(x * x + y * y);
}

double sd_round_box(V2 p, V2 c, double hw, double hh, double r) {
    const double qx = std::fabs(p.x - c.x) - hw + r, qy = std::fabs(p.y - c.y) - hh + r;
    return len(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - r;
}

double sd_circle(V2 p, V2 c, double r) {
    return len(p.x - c.x, p.y - c.y) - r;
}

double sd_segment(V2 p, V2 a, V2 b) {
    const double px = p.x - a.x, py = p.y - a.y, bx = b.x - a.x, by = b.y - a.y;
    const double t = std::clamp((px * bx + py * by) / (bx * bx + by * by), 0.0, 1.0);
    return len(px - bx * t, py - by * t);
}

// Distance to a circular arc of radius r around c spanning +-half_angle about direction dir.
double sd_arc(V2 p, V2 c, double r, double dir, double half_angle) {
    const double a = std::atan2(p.y - c.y, p.x - c.x);
    double d = std::remainder(a - dir, 2 * M_PI);
    if (std::fabs(d) <= half_angle) return std::fabs(sd_circle(p, c, r));
    const double e1 = dir + half_angle, e2 = dir - half_angle;
    return std::min(len(p.x - c.x - r * std::cos(e1), p.y - c.y - r * std::sin(e1)),
                    len(p.x - c.x - r * std::cos(e2), p.y - c.y - r * std::sin(e2)));
}

// Ink at one point of the logo, in logo pixels (y down). The drawing keeps to the upper
// part of the image and clear of its lower right: in the menu the rule under the title runs
// across row 66 of the logo and the position counter sits at rows 44 to 55, x 67 onwards.
bool logo_ink(V2 p) {
    // Visor: a wide rounded box with the nose arch cut out of its lower edge.
    const double body = sd_round_box(p, {51.5, 26.75}, 36, 14.5, 11);
    const double nose = sd_circle(p, {51.5, 46}, 8);
    if (std::fabs(std::max(body, -nose)) <= 2.3) return true;
    // Lenses, with a glint in the upper left of each.
    for (double cx : {34.5, 68.5}) {
        if (std::fabs(sd_circle(p, {cx, 27}, 8.3)) <= 2.3) return true;
        if (sd_arc(p, {cx, 27}, 4.3, -2.3, 0.55) <= 1.1) return true;
    }
    // Strap ends leaving the sides of the visor.
    for (double sign : {-1.0, 1.0}) {
        const double x0 = 51.5 + sign * 37.5, x1 = 51.5 + sign * 49;
        if (sd_segment(p, {x0, 20}, {x1, 18}) <= 1.6) return true;
        if (sd_segment(p, {x0, 34}, {x1, 36}) <= 1.6) return true;
        if (sd_segment(p, {x1, 18}, {x1, 36}) <= 1.6) return true;
    }
    // Antenna on top: a short mast with a ball, sending radio waves both ways.
    const V2 head{51.5, 5};
    if (sd_segment(p, {51.5, 12}, {51.5, 6}) <= 1.4) return true;
    if (sd_circle(p, head, 2.8) <= 0) return true;
    for (double r : {6.5, 11.0}) {
        if (sd_arc(p, head, r, 0, 0.55) <= 1.35) return true;
        if (sd_arc(p, head, r, M_PI, 0.55) <= 1.35) return true;
    }
    return false;
}

std::vector<uint8_t> render_logo() {
    constexpr int SS = 8;
    std::vector<uint8_t> alpha(LOGO_W * LOGO_H);
    for (int y = 0; y < LOGO_H; ++y) {
        for (int x = 0; x < LOGO_W; ++x) {
            int hits = 0;
            for (int sy = 0; sy < SS; ++sy) {
                for (int sx = 0; sx < SS; ++sx) {
                    hits += logo_ink({x + (sx + 0.5) / SS, y + (sy + 0.5) / SS});
                }
            }
            alpha[static_cast<size_t>(y * LOGO_W + x)] =
                static_cast<uint8_t>((hits * 255 + SS * SS / 2) / (SS * SS));
        }
    }
    return alpha;
}

// ---------------------------------------------------------------------------------------
// The ink tables: the inked bytes of every cell once more, in the forms text is drawn from.

// One glyph's ink as the drawing code reads it. Runs of consecutive inked bytes along each
// row, in row order, let clipped text skip the blank bytes without testing each one. The
// same bytes as pixels to store, each at its offset in a canvas from the glyph's top-left
// pixel: the runs two neighbours at a time as 64-bit pairs, a run of one byte alone.
// Unclipped text is then one store per pair or single pixel with no loop per run, which is
// what a menu frame spends most of its text time on.
struct GlyphInk {
    std::vector<InkRun> runs;
    std::vector<uint64_t> pairs;   // ink_pair
    std::vector<uint32_t> singles; // ink_pixel
};

bool build_ink(const RenderedSet& set, std::vector<GlyphInk>& out) {
    const SetLayout& s = *set.layout;
    out.assign(COUNT, GlyphInk{});
    for (int code = FIRST; code < FIRST + COUNT; ++code) {
        const Glyph& g = set.glyphs[static_cast<size_t>(code - FIRST)];
        GlyphInk& ink = out[static_cast<size_t>(code - FIRST)];
        auto at = [&](int r, int k) { return g.px[static_cast<size_t>(r * s.w + k)]; };
        for (int r = 0; r < s.h; ++r) {
            for (int k = 0; k < s.w;) {
                if (at(r, k) == 0) {
                    ++k;
                    continue;
                }
                int end = k;
                while (end < s.w && at(r, end) != 0)
                    ++end;
                ink.runs.push_back({static_cast<uint8_t>(r), static_cast<uint8_t>(k),
                                    static_cast<uint8_t>(end - k)});
                // The run's last pixel has the largest offset, and every stored one must fit
                // its entry's 16 bits.
                const int line = r * static_cast<int>(LINE_PIXELS);
                if (line + end - 1 > 65535) {
                    std::fprintf(stderr, "glyphgen: %s '%c': ink offset %d does not fit 16 bits\n",
                                 s.name, code, line + end - 1);
                    return false;
                }
                const auto offset = [&](int col) { return static_cast<uint32_t>(line + col); };
                if (end - k == 1) ink.singles.push_back(ink_pixel(offset(k), at(r, k)));
                // An odd run's last pair overlaps the one before it, storing one pixel
                // twice alike, so that pixels stand alone only where they have no inked
                // neighbour: glyphs then seldom need the loop over single pixels at all.
                for (int q = k; end - k > 1 && q < end; q += 2) {
                    const int left = q + 1 < end ? q : end - 2;
                    ink.pairs.push_back(ink_pair(offset(left), at(r, left), at(r, left + 1)));
                }
                k = end;
            }
        }
    }
    return true;
}

// Replays a set's tables as the drawing code reads them against its cells: the runs cover
// every inked byte once and each reaches as far as its row's ink, rows in order; the pairs
// and singles store every inked byte with its coverage and no other byte, one twice at most
// (where an odd run's last pair overlaps) and then alike.
bool check_ink(const RenderedSet& set, const std::vector<GlyphInk>& tables, bool report) {
    const SetLayout& s = *set.layout;
    bool ok = true;
    size_t runs = 0, pairs = 0, singles = 0;
    for (int code = FIRST; code < FIRST + COUNT; ++code) {
        const std::vector<uint8_t>& cell = set.glyphs[static_cast<size_t>(code - FIRST)].px;
        const GlyphInk& ink = tables[static_cast<size_t>(code - FIRST)];
        runs += ink.runs.size();
        pairs += ink.pairs.size();
        singles += ink.singles.size();
        std::vector<const char*> said; // each fault once per glyph, at its first row
        auto fail = [&](const char* what, int row) {
            if (std::find(said.begin(), said.end(), what) != said.end()) return;
            said.push_back(what);
            std::fprintf(stderr, "glyphgen: %s '%c': %s (row %d)\n", s.name, code, what, row);
            ok = false;
        };
        std::vector<int> covered(cell.size(), 0), stores(cell.size(), 0), stored(cell.size(), 0);
        int last_row = 0;
        for (const InkRun& run : ink.runs) {
            if (run.row >= s.h || run.len == 0 || run.col + run.len > s.w) {
                fail("ink run outside the cell or empty", run.row);
                continue;
            }
            if (run.row < last_row) fail("ink runs out of row order", run.row);
            last_row = run.row;
            const uint8_t* row = cell.data() + run.row * s.w;
            const int after = run.col + run.len;
            if ((run.col > 0 && row[run.col - 1] != 0) || (after < s.w && row[after] != 0))
                fail("ink run stops short of its row's ink", run.row);
            for (int k = run.col; k < after; ++k)
                ++covered[static_cast<size_t>(run.row * s.w + k)];
        }
        auto store = [&](uint32_t offset, uint32_t a) {
            const auto r = static_cast<int>(offset / LINE_PIXELS);
            const auto k = static_cast<int>(offset % LINE_PIXELS);
            if (r >= s.h || k >= s.w) return fail("pixel stored outside the cell", r);
            const auto i = static_cast<size_t>(r * s.w + k);
            if (stores[i]++ > 0 && stored[i] != static_cast<int>(a))
                fail("pixel stored twice unalike", r);
            stored[i] = static_cast<int>(a);
        };
        for (uint64_t e : ink.pairs) {
            const auto offset = static_cast<uint32_t>(e & INK_OFFSET_MASK);
            store(offset, static_cast<uint32_t>(e >> 24 & 0xFF));
            store(offset + 1, static_cast<uint32_t>(e >> 56));
        }
        for (uint32_t e : ink.singles)
            store(e & INK_OFFSET_MASK, e >> 24);
        for (size_t i = 0; i < cell.size(); ++i) {
            const int row = static_cast<int>(i) / s.w;
            if (covered[i] != (cell[i] != 0 ? 1 : 0))
                fail("ink runs do not cover each inked byte once and no other", row);
            const bool counted = cell[i] != 0 ? stores[i] == 1 || stores[i] == 2 : stores[i] == 0;
            if (!counted || stored[i] != cell[i])
                fail("stored pixels do not give back the inked bytes", row);
        }
    }
    if (report) {
        std::printf("%-11s %zu ink runs, %zu pairs and %zu single pixels give back the cells\n",
                    s.name, runs, pairs, singles);
    }
    return ok;
}

// ---------------------------------------------------------------------------------------
// Output.

const char* const LICENCE =
    "// The glyphs are rendered from DejaVu Sans Mono Bold. Font licence (Bitstream Vera\n"
    "// licence, DejaVu changes in the public domain): Copyright (c) 2003 by Bitstream, Inc.\n"
    "// All Rights Reserved. Bitstream Vera is a trademark of Bitstream, Inc. The licence\n"
    "// allows the font to be used, embedded, copied and redistributed free of charge,\n"
    "// provided this notice is kept; modified versions must not carry the names\n"
    "// \"Bitstream\" or \"Vera\". The font software is provided \"as is\", without\n"
    "// warranty of any kind. Full text: /usr/share/doc/fonts-dejavu-core/copyright.\n";

bool write_file(const char* path, const std::string& text) {
    FILE* f = std::fopen(path, "w");
    if (f == nullptr) {
        std::perror(path);
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

void append(std::string& s, const char* fmt, int v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    s += buf;
}

std::string glyph_source(const std::vector<RenderedSet>& sets,
                         const std::vector<std::vector<GlyphInk>>& inks) {
    std::string s;
    s += "// generated by tools/glyphgen; do not edit.\n//\n";
    s += LICENCE;
    s += "//\n// Each glyph is W x H coverage bytes, row by row from the top, in a set's cells of\n"
         "// just that size.\n"
         "// clang-format off\n"
         "#include \"display/font.h\"\n\n"
         "namespace {\n\n";
    for (const RenderedSet& set : sets) {
        const SetLayout& sp = *set.layout;
        s += "const uint8_t " + std::string(sp.name) + "_CELLS[GLYPH_COUNT]";
        append(s, "[%d", sp.w);
        append(s, " * %d] = {\n", sp.h);
        for (int code = FIRST; code < FIRST + COUNT; ++code) {
            append(s, "{ // %d", code);
            s += code == '\\' ? std::string(" backslash") : std::string(" '") + char(code) + "'";
            s += "\n";
            const Glyph& g = set.glyphs[static_cast<size_t>(code - FIRST)];
            for (int r = 0; r < sp.h; ++r) {
                for (int k = 0; k < sp.w; ++k) {
                    append(s, "%3d,", g.px[static_cast<size_t>(r * sp.w + k)]);
                }
                s += "\n";
            }
            s += "},\n";
        }
        s += "};\n\n";
    }
    // The ink tables, each one array for the three sets with a start per glyph.
    std::string runs, starts;
    std::string pairs, singles, pair_starts, single_starts;
    int n_runs = 0, n_pairs = 0, n_singles = 0;
    for (const std::vector<GlyphInk>& set : inks) {
        starts += "{";
        pair_starts += "{";
        single_starts += "{";
        for (const GlyphInk& ink : set) {
            append(starts, "%d,", n_runs);
            append(pair_starts, "%d,", n_pairs);
            append(single_starts, "%d,", n_singles);
            for (const InkRun& run : ink.runs) {
                append(runs, "{%d,", run.row);
                append(runs, "%d,", run.col);
                append(runs, "%d},", run.len);
                if (++n_runs % 8 == 0) runs += "\n";
            }
            for (uint64_t e : ink.pairs) {
                append(pairs, "ink_pair(%d,", static_cast<int>(e & INK_OFFSET_MASK));
                append(pairs, "%d,", static_cast<int>(e >> 24 & 0xFF));
                append(pairs, "%d),", static_cast<int>(e >> 56));
                if (++n_pairs % 6 == 0) pairs += "\n";
            }
            for (uint32_t e : ink.singles) {
                append(singles, "ink_pixel(%d,", static_cast<int>(e & INK_OFFSET_MASK));
                append(singles, "%d),", static_cast<int>(e >> 24));
                if (++n_singles % 8 == 0) singles += "\n";
            }
        }
        append(starts, "%d},\n", n_runs);
        append(pair_starts, "%d},\n", n_pairs);
        append(single_starts, "%d},\n", n_singles);
    }
    if (n_runs > 65535 || n_pairs > 65535 || n_singles > 65535) {
        std::fprintf(stderr, "glyphgen: %d runs, %d pairs, %d single pixels: over a 16-bit index\n",
                     n_runs, n_pairs, n_singles);
        return std::string();
    }
    append(s, "const InkRun GLYPH_RUNS[%d] = {\n", n_runs);
    s += runs + "\n};\n\n";
    s += "const uint16_t GLYPH_RUN_STARTS[3][GLYPH_COUNT + 1] = {\n" + starts + "};\n\n";
    append(s, "static_assert(LINE_PIXELS == %d,", static_cast<int>(LINE_PIXELS));
    s += " \"the ink offsets are laid out for this line length\");\n\n";
    append(s, "const uint64_t GLYPH_INK_PAIRS[%d] = {\n", n_pairs);
    s += pairs + "\n};\n\n";
    s += "const uint16_t GLYPH_INK_PAIR_STARTS[3][GLYPH_COUNT + 1] = {\n" + pair_starts + "};\n\n";
    append(s, "const uint32_t GLYPH_INK_SINGLES[%d] = {\n", n_singles);
    s += singles + "\n};\n\n";
    s += "const uint16_t GLYPH_INK_SINGLE_STARTS[3][GLYPH_COUNT + 1] = {\n" + single_starts +
         "};\n\n";
    s += "} // namespace\n\n";
    for (size_t i = 0; i < sets.size(); ++i) {
        const SetLayout& sp = *sets[i].layout;
        s += "const Font " + std::string(sp.name) + " = {";
        append(s, "%d, ", sp.w);
        append(s, "%d, ", sp.h);
        s += std::string(sp.name) + "_CELLS[0], GLYPH_RUNS, ";
        append(s, "GLYPH_RUN_STARTS[%d], ", static_cast<int>(i));
        append(s, "GLYPH_INK_PAIRS, GLYPH_INK_PAIR_STARTS[%d], ", static_cast<int>(i));
        append(s, "GLYPH_INK_SINGLES, GLYPH_INK_SINGLE_STARTS[%d]};\n", static_cast<int>(i));
    }
    s += "// clang-format on\n";
    return s;
}

std::string logo_source(const std::vector<uint8_t>& alpha, int opaque) {
    std::string s;
    s += "// generated by tools/glyphgen; do not edit.\n//\n"
         "// The menu logo: FPV goggles with an antenna on top, a black line drawing whose\n"
         "// shape is all in the alpha bytes. Pixels are red, green, blue, alpha, rows from the\n";
    append(s, "// top; %d pixels have alpha above 128.\n", opaque);
    s += "// clang-format off\n"
         "#include \"display/logo.h\"\n\n"
         "#define PX(a) 0, 0, 0, a\n\n"
         "const uint8_t LOGO[LOGO_BYTES] = {\n";
    for (int y = 0; y < LOGO_H; ++y) {
        append(s, "// row %d\n", y);
        for (int x = 0; x < LOGO_W; ++x) {
            append(s, "PX(%d),", alpha[static_cast<size_t>(y * LOGO_W + x)]);
            if (x % 16 == 15 || x == LOGO_W - 1) s += "\n";
        }
    }
    s += "};\n\n#undef PX\n\n";
    // The drawn pixels once more as runs along each row, so that the logo is drawn without
    // testing the alpha of every pixel.
    std::string runs, starts;
    int total = 0;
    for (int y = 0; y < LOGO_H; ++y) {
        append(starts, "%d,", total);
        for (int x = 0; x < LOGO_W;) {
            if (alpha[static_cast<size_t>(y * LOGO_W + x)] <= 128) {
                ++x;
                continue;
            }
            int end = x;
            while (end < LOGO_W && alpha[static_cast<size_t>(y * LOGO_W + end)] > 128)
                ++end;
            append(runs, "{%d,", x);
            append(runs, "%d},", end - x);
            if (++total % 12 == 0) runs += "\n";
            x = end;
        }
        if (y % 16 == 15) starts += "\n";
    }
    append(starts, "%d", total);
    append(s, "const LogoRun LOGO_RUNS[%d] = {\n", total);
    s += runs + "\n};\n\n";
    s += "const uint16_t LOGO_ROW_STARTS[LOGO_H + 1] = {\n" + starts + "\n};\n";
    s += "// clang-format on\n";
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const bool sheet = argc == 4 && std::string(argv[2]) == "--sheet";
    if (argc != 4) {
        std::fprintf(stderr, "usage: glyphgen FONT.ttf GLYPH_DATA.cpp LOGO_DATA.cpp\n"
                             "       glyphgen FONT.ttf --sheet DIR\n");
        return 2;
    }
    FT_Library lib;
    if (FT_Init_FreeType(&lib) != 0) return 1;
    // The classic interpreter hints in both directions; the newer default leaves stems
    // where the outline puts them, which blurs them at these sizes.
    FT_UInt interpreter = TT_INTERPRETER_VERSION_35;
    FT_Property_Set(lib, "truetype", "interpreter-version", &interpreter);
    FT_Face face;
    if (FT_New_Face(lib, argv[1], 0, &face) != 0) {
        std::fprintf(stderr, "glyphgen: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<RenderedSet> sets;
    bool ok = true;
    for (const SetLayout& s : SETS) {
        RenderedSet set;
        ok = render_set(lib, face, s, set) && ok;
        ok = touch_up(set) && ok;
        ok = check_set(set, true) && ok;
        ok = check_legibility(set, true) && ok;
        sets.push_back(set);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    if (sheet) {
        // Drawn whether or not the checks passed: a picture of a failing set shows why.
        std::vector<SheetSet> views;
        for (const RenderedSet& set : sets) {
            const SetLayout& sp = *set.layout;
            SheetSet v{sp.stem, static_cast<int>(views.size()), sp.w, sp.h, sp.baseline, {}};
            for (const Glyph& g : set.glyphs)
                v.glyphs.push_back(g.px.data());
            views.push_back(v);
        }
        if (!write_sheets(argv[3], views)) return 1;
        if (!ok) std::fprintf(stderr, "glyphgen: glyph sets fail their checks\n");
        return ok ? 0 : 1;
    }
    if (!ok) {
        std::fprintf(stderr, "glyphgen: glyph sets fail their checks; nothing written\n");
        return 1;
    }
    std::vector<std::vector<GlyphInk>> inks(sets.size());
    for (size_t i = 0; i < sets.size(); ++i)
        ok = build_ink(sets[i], inks[i]) && check_ink(sets[i], inks[i], true) && ok;
    if (!ok) {
        std::fprintf(stderr, "glyphgen: the ink tables do not give back the cells; nothing "
                             "written\n");
        return 1;
    }
    const std::vector<uint8_t> alpha = render_logo();
    const int opaque = static_cast<int>(
        std::count_if(alpha.begin(), alpha.end(), [](uint8_t a) { return a > 128; }));
    std::printf("LOGO        %dx%d, %d pixels with alpha above 128\n", LOGO_W, LOGO_H, opaque);
    const std::string glyphs = glyph_source(sets, inks);
    if (glyphs.empty()) return 1;
    if (!write_file(argv[2], glyphs) || !write_file(argv[3], logo_source(alpha, opaque))) return 1;
    return 0;
}
