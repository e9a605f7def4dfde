#pragma once
// Pictures of generated glyph sets for a person to judge by eye: a magnified contact sheet of
// every printable character of each set, and the menu's own texts at their real size on the
// menu panel as the goggles show it over black.
#include <cstdint>
#include <string>
#include <vector>

struct SheetSet {
    std::string name; // file name stem: small, medium, large
    int index;        // 0 small, 1 medium, 2 large
    int w, h;
    int baseline;                       // first row below the capitals
    std::vector<const uint8_t*> glyphs; // w * h coverage bytes each, codes 32..126
};

// Writes DIR/sheet_<name>.png for every set and DIR/texts_1x.png, DIR/texts_<name>_3x.png.
// False (with a message) when a file cannot be written.
bool write_sheets(const std::string& dir, const std::vector<SheetSet>& sets);
