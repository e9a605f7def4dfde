#pragma once
#include <cstdint>

#include "display/canvas.h"

// The menu's three anti-aliased glyph sets. A glyph is w x h coverage bytes (0 no ink, 255
// full ink), row by row from the top; a set's GLYPH_COUNT glyphs lie one after the other, so
// glyph c is at glyphs + (c - GLYPH_FIRST) * w * h.
constexpr int32_t GLYPH_FIRST = 32; // space
constexpr int32_t GLYPH_LAST = 126; // '~'
constexpr int32_t GLYPH_COUNT = GLYPH_LAST - GLYPH_FIRST + 1;

// Consecutive inked bytes of one glyph row: len of them from column col. The runs of a
// glyph cover exactly its bytes with coverage above 0, row after row.
struct InkRun {
    uint8_t row, col, len;
};

// Ink pixels as stored: the offset (row * LINE_PIXELS + column, below 65536) in the low 16
// bits and the coverage in the alpha byte of a pixel, so that a pixel is the entry with its
// offset masked off and the colour added; a pair is two such pixels in a little-endian
// 64-bit word, the left one low, with the left one's offset.
constexpr uint32_t INK_OFFSET_MASK = 0xFFFF;
constexpr uint32_t ink_pixel(uint32_t offset, uint32_t coverage) {
    return coverage << 24 | offset;
}
constexpr uint64_t ink_pair(uint32_t offset, uint32_t left, uint32_t right) {
    return uint64_t{right} << 56 | uint64_t{left} << 24 | offset;
}

struct Font {
    int32_t w, h;          // glyph size; w is also the advance (fixed pitch)
    const uint8_t* glyphs; // GLYPH_COUNT cells
    // Glyph c's runs are runs[run_starts[c - GLYPH_FIRST]] up to the next glyph's start.
    const InkRun* runs;
    const uint16_t* run_starts; // GLYPH_COUNT + 1 entries
    // Every inked byte once more as pixels to store: each run along a row two neighbours at a
    // time (ink_pair; an odd run's last pair overlaps the one before it), a run of one pixel
    // alone (ink_pixel), each at its offset from the glyph's top-left pixel in a canvas.
    // Glyph c's are ink_pairs[ink_pair_starts[c - GLYPH_FIRST]] up to the next glyph's start,
    // and likewise for the singles.
    const uint64_t* ink_pairs;
    const uint16_t* ink_pair_starts; // GLYPH_COUNT + 1 entries
    const uint32_t* ink_singles;
    const uint16_t* ink_single_starts; // GLYPH_COUNT + 1 entries
};

extern const Font FONT_SMALL;  // 7 x 12
extern const Font FONT_MEDIUM; // 13 x 22
extern const Font FONT_LARGE;  // 19 x 31

// The cell of a printable byte (GLYPH_FIRST..GLYPH_LAST).
inline const uint8_t* font_glyph(const Font& f, uint8_t c) {
    return f.glyphs + static_cast<int32_t>(c - GLYPH_FIRST) * f.w * f.h;
}

// The ink runs of a printable byte, first and one past the last.
inline const InkRun* font_runs_begin(const Font& f, uint8_t c) {
    return f.runs + f.run_starts[c - GLYPH_FIRST];
}
inline const InkRun* font_runs_end(const Font& f, uint8_t c) {
    return f.runs + f.run_starts[c - GLYPH_FIRST + 1];
}
