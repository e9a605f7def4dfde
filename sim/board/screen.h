#pragma once
// What the wearer sees, read off the page on screen at points of the menu's layout: the
// board's tests, the scenario runner and its recorder all read the screen this one way.
#include <cstddef>
#include <cstdint>
#include <string>

#include "board/board.h"

namespace vxboard {

// Pixels to a line of the framebuffer, and the pixel at canvas (x, y) of the page on screen.
size_t screen_stride(const Board& board);
uint32_t screen_px(const Board& board, int x, int y);
// "goggles" (the goggles' own page, row 0), "menu" (a launcher page with the menu's panel)
// or "launcher" (another launcher page: the hold's progress panel, a blank one).
std::string screen_shows(const Board& board);
bool menu_on_screen(const Board& board);
// The list slot the menu highlights, -1 for none.
int highlighted_slot(const Board& board);
// The highlighted slot when it shows a refused start's notice, -1 otherwise. The _in form
// reads a copy of the page on screen, `stride` pixels to a line.
int notice_slot(const Board& board);
int notice_slot_in(const uint32_t* page, size_t stride);

} // namespace vxboard
