#pragma once
#include <cstdint>

// The AV path's OSD controller shows an 8 x 32 grid of cells, each one character of its own
// 42-character set: a space, "%./", the digits, ":@" and the capitals.

constexpr int OSD_GRID_ROWS = 8;
constexpr int OSD_GRID_COLS = 32;

// The controller's code for a character, or -1 when its set has none.
int osd_char_code(char c);

// What the controller shows for a character of a text: a small letter as its capital, '-'
// and any character it has no code for as a space.
char osd_map_char(char c);
