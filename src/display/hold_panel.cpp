#include "display/hold_panel.h"

#include "display/draw.h"

using namespace hold_layout;

namespace {
constexpr int CAPTION_X = 470, CAPTION_Y = 664;
constexpr int TRACK_X = 470, TRACK_Y = 692, TRACK_H = 6;
constexpr const char* CAPTION = "VORNA X   hold PLAY...";
} // namespace

void draw_hold_panel(Canvas c, int32_t elapsed_ms) {
    fill_rect(c, PANEL_X, PANEL_Y, PANEL_W, PANEL_H, COL_PANEL);
    fill_rect(c, PANEL_X, PANEL_Y, PANEL_W, 1, COL_RULE);
    fill_rect(c, PANEL_X, PANEL_Y + PANEL_H - 1, PANEL_W, 1, COL_RULE);
    fill_rect(c, PANEL_X, PANEL_Y, 1, PANEL_H, COL_RULE);
    fill_rect(c, PANEL_X + PANEL_W - 1, PANEL_Y, 1, PANEL_H, COL_RULE);
    draw_text(c, FONT_SMALL, CAPTION_X, CAPTION_Y, RGB_LABEL, CAPTION, false);
    fill_rect(c, TRACK_X, TRACK_Y, HOLD_TRACK_PX, TRACK_H, COL_TRACK);
    const int w = hold_fill_width(elapsed_ms);
    if (w > 0) fill_rect(c, TRACK_X, TRACK_Y, w, TRACK_H, COL_ACCENT);
}
