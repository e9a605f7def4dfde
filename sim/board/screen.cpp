#include "board/screen.h"

#include "display/draw.h"
#include "display/menu_layout.h"

namespace vxboard {

using namespace menu_layout;

namespace {

const uint32_t* page_on_screen(const Board& board) {
    return board.fb_pixels() + board.screen_row() * screen_stride(board);
}

int highlighted_slot_in(const uint32_t* page, size_t stride) {
    for (int slot = 0; slot < MENU_VISIBLE_ROWS; ++slot)
        if (page[static_cast<size_t>(ROW_PROBE_Y + MENU_ROW_PITCH * slot) * stride + ROW_PROBE_X] ==
            COL_ROW_HIGHLIGHT)
            return slot;
    return -1;
}

} // namespace

size_t screen_stride(const Board& board) {
    return board.state().fb.line_length.load() / 4;
}

uint32_t screen_px(const Board& board, int x, int y) {
    return page_on_screen(
        board)[static_cast<size_t>(y) * screen_stride(board) + static_cast<size_t>(x)];
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
    return highlighted_slot_in(page_on_screen(board), screen_stride(board));
}

int notice_slot_in(const uint32_t* page, size_t stride) {
    const int slot = highlighted_slot_in(page, stride);
    if (slot < 0) return -1;
    for (int y = NOTICE_Y; y < NOTICE_Y + NOTICE_H; ++y) {
        const uint32_t* line = page + static_cast<size_t>(y + MENU_ROW_PITCH * slot) * stride;
        for (int x = NOTICE_X; x < NOTICE_END_X; ++x)
            if ((line[x] >> 24) != 0 && (line[x] & 0xFFFFFF) == RGB_WARN) return slot;
    }
    return -1;
}

int notice_slot(const Board& board) {
    if (board.screen_row() == 0) return -1;
    return notice_slot_in(page_on_screen(board), screen_stride(board));
}

} // namespace vxboard
