#include "sheet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "base/version.h"
#include "display/draw.h"
#include "png/png_io.h"

namespace {

constexpr int FIRST = 32;
constexpr int COUNT = 95;

// A picture in the canvas's 0xAARRGGBB form.
struct Picture {
    int w, h;
    std::vector<uint32_t> px;
    Picture(int w_, int h_, uint32_t fill)
        : w(w_), h(h_), px(static_cast<size_t>(w_) * static_cast<size_t>(h_), fill) {}
    uint32_t& at(int x, int y) { return px[static_cast<size_t>(y) * static_cast<size_t>(w) + x]; }
};

uint32_t grey(int v) {
    const auto c = static_cast<uint32_t>(std::clamp(v, 0, 255));
    return 0xFF000000u | c << 16 | c << 8 | c;
}

// What the panel shows of a canvas pixel: the display blends the page over black by its alpha.
uint32_t over_black(uint32_t p) {
    const uint32_t a = p >> 24;
    auto ch = [&](int shift) { return ((p >> shift & 0xFF) * a + 127) / 255; };
    return 0xFF000000u | ch(16) << 16 | ch(8) << 8 | ch(0);
}

bool save(const std::string& path, const Picture& p) {
    try {
        vxboard::write_png_rgb(path, p.px.data(), static_cast<uint32_t>(p.w),
                               static_cast<uint32_t>(p.h), static_cast<uint32_t>(p.w));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "glyphgen: %s\n", e.what());
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", path.c_str(), p.w, p.h);
    return true;
}

// Magnification of each set's contact sheet: about the same size on screen for all three.
int sheet_scale(const SheetSet& s) {
    return s.w <= 8 ? 8 : s.w <= 13 ? 5 : 4;
}

// Every glyph magnified, 16 to a row in code order (row 0 from the space to '/'), coverage as
// grey on black. A faint grid separates the pixels; the cell's edge is drawn just outside it
// and the top edge of the baseline row is marked in red, so that a glyph that sits too high
// or touches the cell edge shows at a glance.
Picture contact_sheet(const SheetSet& s) {
    const int S = sheet_scale(s);
    const int pad = 2 * S;
    const int tile_w = s.w * S + pad, tile_h = s.h * S + pad;
    constexpr int COLS = 16;
    const int rows = (COUNT + COLS - 1) / COLS;
    Picture p(COLS * tile_w + pad, rows * tile_h + pad, grey(0));
    for (int i = 0; i < COUNT; ++i) {
        const int x0 = pad + (i % COLS) * tile_w, y0 = pad + (i / COLS) * tile_h;
        const uint8_t* g = s.glyphs[static_cast<size_t>(i)];
        for (int y = -1; y <= s.h * S; ++y) {
            for (int x = -1; x <= s.w * S; ++x) {
                if (x < 0 || y < 0 || x == s.w * S || y == s.h * S) {
                    p.at(x0 + x, y0 + y) = grey(0x58);
                    continue;
                }
                const int v = g[(y / S) * s.w + x / S];
                const bool grid = x % S == 0 || y % S == 0;
                uint32_t c = grey(grid ? std::max(v * 7 / 8, 0x20) : v);
                if (y == s.baseline * S && v == 0) c = 0xFF702020u;
                p.at(x0 + x, y0 + y) = c;
            }
        }
    }
    return p;
}

// The menu's texts in the colour it draws them in; `set` is the glyph set it uses (0 small,
// 1 medium, 2 large; -1 for a test line the menu never shows).
struct Text {
    const char* s;
    int set;
    uint32_t rgb;
};

const std::string SUBTITLE = std::string("LAUNCHER  v") + VERSION;

const Text TEXTS[] = {
    {"VORNA X", 2, RGB_WHITE},
    {SUBTITLE.c_str(), 0, RGB_LABEL},
    {"MIDDLE = start   ^ v = select   PLAY 3 s = exit", 0, RGB_LABEL},
    {"vornax-goggles.lan", 0, RGB_DIM},
    {"no apps installed", 2, RGB_WARN},
    {"upload via web panel:  http://192.168.42.1:8080", 1, RGB_LABEL},
    {"wymaga innego trybu gogli", 0, RGB_WARN},
    {"VORNA X   hold PLAY...", 0, RGB_LABEL},
    {"[AV]", 0, RGB_WARN},
    {"[HDMI]", 0, RGB_WARN},
    {"v2.0", 0, RGB_DIM},
    {"7/7", 0, RGB_DIM},
    {"hello-world  osd-clock  dvr-viewer  battery_log", 1, RGB_WHITE},
    {"The quick brown fox jumps over the lazy dog.", -1, RGB_LABEL},
    {"SPHINX OF BLACK QUARTZ, JUDGE MY VOW 0123456789", -1, RGB_WHITE},
    {"vornax", -1, RGB_LABEL},
    {"MIDDLE", -1, RGB_LABEL},
    {"mm rn nn rm wW", -1, RGB_LABEL},
    {"Il1| O0o S5 B8 Z2 g9q rnm vvw VW", -1, RGB_LABEL},
    {"!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~", -1, RGB_LABEL},
};
constexpr int N_TEXTS = static_cast<int>(sizeof TEXTS / sizeof TEXTS[0]);
constexpr int MARGIN = 8, LEADING = 4;

int longest_text() {
    size_t n = 0;
    for (const Text& t : TEXTS)
        n = std::max(n, std::strlen(t.s));
    return static_cast<int>(n);
}

// Glyph ink stored as the launcher stores it, replacing the pixel with the text colour at the
// glyph's coverage: the panel does not show through the edges of a glyph.
void draw_text(Picture& p, const SheetSet& s, int x, int y, uint32_t rgb, const char* text) {
    for (; *text != '\0'; ++text, x += s.w) {
        const int c = static_cast<unsigned char>(*text);
        if (c < FIRST || c >= FIRST + COUNT) continue;
        const uint8_t* g = s.glyphs[static_cast<size_t>(c - FIRST)];
        for (int r = 0; r < s.h; ++r)
            for (int k = 0; k < s.w; ++k)
                if (const uint32_t a = g[r * s.w + k]; a != 0) p.at(x + k, y + r) = a << 24 | rgb;
    }
}

// The texts in one set, or in all sets one block after another, on the panel over black. A
// pink mark in the margin flags the lines the menu really draws in that set.
Picture texts(const std::vector<const SheetSet*>& sets) {
    int w = 0, h = MARGIN;
    for (const SheetSet* s : sets) {
        w = std::max(w, longest_text() * s->w + 2 * MARGIN);
        h += N_TEXTS * (s->h + LEADING) + MARGIN;
    }
    Picture p(w, h, COL_PANEL);
    int y = MARGIN;
    for (const SheetSet* s : sets) {
        for (const Text& t : TEXTS) {
            if (t.set == s->index)
                for (int r = 0; r < s->h; ++r)
                    p.at(2, y + r) = p.at(3, y + r) = COL_ACCENT;
            draw_text(p, *s, MARGIN, y, t.rgb, t.s);
            y += s->h + LEADING;
        }
        y += MARGIN;
    }
    for (uint32_t& px : p.px)
        px = over_black(px);
    return p;
}

Picture magnified(const Picture& p, int k) {
    Picture m(p.w * k, p.h * k, 0);
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x)
            m.at(x, y) = p.px[static_cast<size_t>(y / k) * static_cast<size_t>(p.w) + x / k];
    return m;
}

} // namespace

bool write_sheets(const std::string& dir, const std::vector<SheetSet>& sets) {
    bool ok = true;
    std::vector<const SheetSet*> all;
    for (const SheetSet& s : sets) {
        all.push_back(&s);
        ok = save(dir + "/sheet_" + s.name + ".png", contact_sheet(s)) && ok;
        ok = save(dir + "/texts_" + s.name + "_3x.png", magnified(texts({&s}), 3)) && ok;
    }
    ok = save(dir + "/texts_1x.png", texts(all)) && ok;
    return ok;
}
