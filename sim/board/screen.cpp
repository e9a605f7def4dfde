// What the wearer sees: a picture of the screen, the overlay's text, and the menu read off
// the page on screen at points of its layout.
#include "board/screen.h"

#include "board/video_standin.h"
#include "display/draw.h"
#include "display/menu_layout.h"
#include "hw/osd.h"
#include "png/png_io.h"

namespace vxboard {

using namespace menu_layout;

namespace {

// The OSD controller's character set, by code.
constexpr char OSD_CHARSET[] = " %./0123456789:@ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr uint32_t OSD_CHARSET_SIZE = sizeof OSD_CHARSET - 1;
static_assert(OSD_CHARSET_SIZE == 42);
// The seven bits of a cell that name its character.
constexpr uint8_t OSD_CODE_MASK = 0x7F;
// A cell showing a code outside the set.
constexpr char OSD_UNKNOWN_CHAR = '#';

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
    return board.state().fb.line_length.load() / PIXEL_BYTES;
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

void Board::screenshot(const std::string& png_path) const {
    const uint32_t row = screen_row();
    const uint32_t stride = state_->fb.line_length.load() / PIXEL_BYTES;
    std::vector<uint32_t> screen(SCREEN_W * SCREEN_H);
    standin_video_frame(screen.data(), 0);
    const uint64_t needed = (static_cast<uint64_t>(row) + SCREEN_H) * stride * PIXEL_BYTES;
    if (stride >= SCREEN_W && needed <= config_.fb_smem_len)
        composite_over(screen.data(), fb_ + static_cast<size_t>(row) * stride, stride);
    write_png_rgb(png_path, screen.data(), SCREEN_W, SCREEN_H, SCREEN_W);
}

std::vector<std::string> Board::osd_text() const {
    const bool on = (state_->osd.control.load() & OSD_CONTROL_ENABLE) != 0;
    std::vector<std::string> rows;
    for (uint32_t r = 0; r < OSD_ROWS; ++r) {
        std::string row;
        for (uint32_t c = 0; c < OSD_COLS; ++c) {
            const uint8_t v = state_->osd.shown[r][c];
            const uint32_t code = v & OSD_CODE_MASK;
            row += !on || (v & OSD_DATA_BIT) == 0 ? ' '
                   : code < OSD_CHARSET_SIZE      ? OSD_CHARSET[code]
                                                  : OSD_UNKNOWN_CHAR;
        }
        rows.push_back(row);
    }
    return rows;
}

} // namespace vxboard
