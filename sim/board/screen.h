#pragma once
// What the wearer sees, read off the page on screen at points of the menu's layout: the
// board's tests, the scenario runner and its recorder all read the screen this one way.
#include <cstdint>
#include <string>

#include "board/board.h"

namespace vxboard {

// The pixel at canvas (x, y) of the page on screen.
uint32_t screen_px(const Board& board, int x, int y);
// "goggles" (the goggles' own page, row 0), "menu" (a launcher page with the menu's panel)
// or "launcher" (another launcher page: the hold's progress panel, a blank one).
std::string screen_shows(const Board& board);
bool menu_on_screen(const Board& board);
// The list slot the menu highlights, -1 for none.
int highlighted_slot(const Board& board);

} // namespace vxboard
