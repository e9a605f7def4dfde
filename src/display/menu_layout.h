#pragma once
// Where the framebuffer menu puts what it shows, in pixels of the 1280 x 720 canvas: the
// renderer draws by it, and whoever reads the menu off the screen (the virtual board, its
// front ends and tests) looks at the probe points below rather than at copies of the numbers.

#include "display/menu.h"

namespace menu_layout {

constexpr int PANEL_X = 250, PANEL_Y = 78, PANEL_W = 780, PANEL_H = 566;
constexpr int TEXT_X = 276;
constexpr int LOGO_X = 902, LOGO_Y = 96;
constexpr int UPPER_RULE_Y = 162, LOWER_RULE_Y = 586;
// List slot s lies MENU_ROW_PITCH * s below slot 0.
constexpr int ROW_X = 260, ROW_Y = 172, ROW_W = 760, ROW_H = 60, BAR_W = 4;
constexpr int MARKER_X = 274, NAME_X = 302, NAME_DY = 180, SECOND_DY = 212;
constexpr int RIGHT_EDGE = 1004; // one past the last column of right-aligned texts
constexpr int COUNTER_Y = 140;
constexpr int TRACK_X = 1016, TRACK_Y = 178, TRACK_W = 6, TRACK_H = 348;
constexpr int EMPTY_X = 479, EMPTY_Y = 278, HINT_X = 335, HINT_Y = 338;
constexpr int FOOTER_Y = 604, HOST_X = 878, HOST_Y2 = 620;

// Probe points, clear of every text and of the logo: inside the panel's frame, and on slot
// 0's highlight (a slot's highlight is COL_ROW_HIGHLIGHT there, the panel otherwise).
constexpr int PANEL_PROBE_X = PANEL_X + 5, PANEL_PROBE_Y = PANEL_Y + 22;
constexpr int ROW_PROBE_X = 700, ROW_PROBE_Y = ROW_Y + 2;
// Slot 0's second line, FONT_SMALL (12 rows) high: a refused start's notice is the only text
// there in RGB_WARN.
constexpr int NOTICE_X = NAME_X, NOTICE_Y = SECOND_DY, NOTICE_END_X = RIGHT_EDGE, NOTICE_H = 12;

} // namespace menu_layout
