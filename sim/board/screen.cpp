#include "board/screen.h"

#include "display/draw.h"
#include "display/menu.h"

namespace vxboard {
namespace {

// Inside the menu's panel, clear of its text; and on each list row's highlight, clear of
// the selection bar and the name.
constexpr int PANEL_PROBE_X = 255, PANEL_PROBE_Y = 100;
constexpr int ROW_PROBE_X = 700, FIRST_ROW_PROBE_Y = 174;

} // namespace

uint32_t screen_px(const Board& board, int x, int y) {
    const size_t stride = board.state().fb.line_length.load() / 4;
    return board.fb_pixels()[(board.screen_row() + static_cast<size_t>(y)) * stride +
                             static_cast<size_t>(x)];
}

bool menu_on_screen(const Board& board) {
    return board.screen_row() != 0 && screen_px(board, PANEL_PROBE_X, PANEL_PROBE_Y) == COL_PANEL;
}

std::string screen_shows(const Board& board) {
    if (board.screen_row() == 0) return "goggles";
    return menu_on_screen(board) ? "menu" : "launcher";
}

int highlighted_slot(const Board& board) {
    if (board.screen_row() == 0) return -1;
    for (int slot = 0; slot < MENU_VISIBLE_ROWS; ++slot)
        if (screen_px(board, ROW_PROBE_X, FIRST_ROW_PROBE_Y + MENU_ROW_PITCH * slot) ==
            COL_ROW_HIGHLIGHT)
            return slot;
    return -1;
}

} // namespace vxboard
