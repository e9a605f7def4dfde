#pragma once
#include <cstdint>

#include "display/canvas.h"

// The menu's three anti-aliased glyph sets. A glyph is w x h coverage bytes (0 no ink, 255
// full ink), row by row from the top. Every glyph sits in a cell of GLYPH_CELL_BYTES
// whatever the set's size, so glyph c of any set is at glyphs + (c - GLYPH_FIRST) *
// GLYPH_CELL_BYTES; the sets are consecutive runs of GLYPH_COUNT cells.
constexpr int32_t GLYPH_FIRST = 32; // space
constexpr int32_t GLYPH_LAST = 126; // '~'
constexpr int32_t GLYPH_COUNT = GLYPH_LAST - GLYPH_FIRST + 1;
constexpr int32_t GLYPH_CELL_BYTES = 1092;

// Consecutive inked bytes of one glyph row: len of them from column col. The runs of a
// glyph cover exactly its bytes with coverage above 0, row after row.
struct InkRun {
    uint8_t row, col, len;
};

struct Font {
    int32_t w, h;          // glyph size; w is also the advance (fixed pitch)
    const uint8_t* glyphs; // GLYPH_COUNT cells
    // Glyph c's runs are runs[run_starts[c - GLYPH_FIRST]] up to the next glyph's start.
    const InkRun* runs;
    const uint16_t* run_starts; // GLYPH_COUNT + 1 entries
    // Every inked byte once more, in row order: its pixel's offset from the glyph's top-left
    // pixel in a canvas (row * LINE_PIXELS + column) and its coverage. Glyph c's are entries
    // ink_starts[c - GLYPH_FIRST] up to the next glyph's start.
    const uint16_t* ink_offsets;
    const uint8_t* ink_alpha;
    const uint16_t* ink_starts; // GLYPH_COUNT + 1 entries
};

extern const Font FONT_SMALL;  // 7 x 12
extern const Font FONT_MEDIUM; // 13 x 22
extern const Font FONT_LARGE;  // 19 x 31

// The cell of a printable byte (GLYPH_FIRST..GLYPH_LAST).
inline const uint8_t* font_glyph(const Font& f, uint8_t c) {
    return f.glyphs + static_cast<int32_t>(c - GLYPH_FIRST) * GLYPH_CELL_BYTES;
}

// The ink runs of a printable byte, first and one past the last.
inline const InkRun* font_runs_begin(const Font& f, uint8_t c) {
    return f.runs + f.run_starts[c - GLYPH_FIRST];
}
inline const InkRun* font_runs_end(const Font& f, uint8_t c) {
    return f.runs + f.run_starts[c - GLYPH_FIRST + 1];
}
