#include "display/menu.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/clock.h"
#include "display/draw.h"
#include "display/logo.h"

namespace {

constexpr int PANEL_X = 250, PANEL_Y = 78, PANEL_W = 780, PANEL_H = 566;
constexpr int TEXT_X = 276;
constexpr int LOGO_X = 902, LOGO_Y = 96;
constexpr int UPPER_RULE_Y = 162, LOWER_RULE_Y = 586;
constexpr int ROW_X = 260, ROW_Y = 172, ROW_W = 760, ROW_H = 60, BAR_W = 4;
constexpr int MARKER_X = 274, NAME_X = 302, NAME_DY = 180, SECOND_DY = 212;
constexpr int RIGHT_EDGE = 1004; // one past the last column of right-aligned texts
constexpr int COUNTER_Y = 140;
constexpr int TRACK_X = 1016, TRACK_Y = 178, TRACK_W = 6, TRACK_H = 348;
constexpr int EMPTY_X = 479, EMPTY_Y = 278, HINT_X = 335, HINT_Y = 338;
constexpr int FOOTER_Y = 604, HOST_X = 878, HOST_Y2 = 620;

constexpr const char* TITLE = "VORNA X";
constexpr const char* SUBTITLE = "LAUNCHER  v1.4.1";
constexpr const char* EMPTY_TEXT = "no apps installed";
constexpr const char* FOOTER = "MIDDLE = start   ^ v = select   PLAY 3 s = exit";

// The background is painted in horizontal bands, top to bottom: the highlight has to lie
// between the rules and cover the logo's columns for the cut in draw_logo_part to hold.
static_assert(PANEL_Y < UPPER_RULE_Y && UPPER_RULE_Y < ROW_Y &&
              ROW_Y + (MENU_VISIBLE_ROWS - 1) * MENU_ROW_PITCH + ROW_H <= LOWER_RULE_Y &&
              LOWER_RULE_Y < PANEL_Y + PANEL_H - 1 && PANEL_Y + PANEL_H <= int(CANVAS_H));
static_assert(ROW_X <= LOGO_X && LOGO_X + LOGO_W <= ROW_X + ROW_W);
static_assert(LOGO_Y < UPPER_RULE_Y && UPPER_RULE_Y < LOGO_Y + LOGO_H);

static_assert(std::string_view(MENU_UPLOAD_HINT).size() == 47,
              "the hint is centred on the canvas at 47 characters");
static_assert(std::string_view(MENU_HOST_NAME).size() == 18,
              "the host name ends flush with the right-aligned tags at 18 characters");

// x at which a FONT_SMALL text of `len` characters ends at the right edge.
int right_aligned(size_t len) {
    return RIGHT_EDGE - static_cast<int>(len) * FONT_SMALL.w;
}

// No list slot is highlighted.
constexpr int NO_SLOT = -1;

// Every pixel of the canvas once: black around the panel, the panel with its frame, the two
// rules and the selected row's background and bar. The frame start does not clear the
// page, and nothing here is stored twice.
void paint_background(Canvas c, int slot, uint32_t bar) {
    constexpr int PANEL_END = PANEL_X + PANEL_W;
    constexpr int W = static_cast<int>(CANVAS_W);
    constexpr Run OUTSIDE[] = {{W, 0}};
    constexpr Run EDGE[] = {{PANEL_X, 0}, {PANEL_END, COL_FRAME}, {W, 0}};
    constexpr Run RULE[] = {{PANEL_X, 0}, {PANEL_END, COL_RULE}, {W, 0}};
    constexpr Run BODY[] = {{PANEL_X, 0},
                            {PANEL_X + 1, COL_FRAME},
                            {PANEL_END - 1, COL_PANEL},
                            {PANEL_END, COL_FRAME},
                            {W, 0}};
    const Run lit[] = {{PANEL_X, 0},
                       {PANEL_X + 1, COL_FRAME},
                       {ROW_X, COL_PANEL},
                       {ROW_X + BAR_W, bar},
                       {ROW_X + ROW_W, COL_ROW_HIGHLIGHT},
                       {PANEL_END - 1, COL_PANEL},
                       {PANEL_END, COL_FRAME},
                       {W, 0}};
    // Without a highlight its band is empty, just below the upper rule.
    const int lit_y = slot == NO_SLOT ? UPPER_RULE_Y + 1 : ROW_Y + MENU_ROW_PITCH * slot;
    const int lit_end = slot == NO_SLOT ? lit_y : lit_y + ROW_H;
    struct Band {
        int end; // one past the band's last line
        const Run* runs;
        int n;
    };
    const Band bands[] = {
        {PANEL_Y, OUTSIDE, 1},
        {PANEL_Y + 1, EDGE, 3},
        {UPPER_RULE_Y, BODY, 5},
        {UPPER_RULE_Y + 1, RULE, 3},
        {lit_y, BODY, 5},
        {lit_end, lit, 8},
        {LOWER_RULE_Y, BODY, 5},
        {LOWER_RULE_Y + 1, RULE, 3},
        {PANEL_Y + PANEL_H - 1, BODY, 5},
        {PANEL_Y + PANEL_H, EDGE, 3},
        {static_cast<int>(CANVAS_H), OUTSIDE, 1},
    };
    int y = 0;
    for (const Band& b : bands) {
        fill_runs(c, 0, y, b.end - y, b.runs, b.n);
        y = b.end;
    }
}

// Logo lines first..end - 1, at their place under the title.
void draw_logo_part(Canvas c, int first, int end) {
    draw_image(c, LOGO_X, LOGO_Y + first, LOGO + first * LOGO_W * 4, LOGO_W, end - first);
}

void draw_header(Canvas c, int slot) {
    draw_text(c, FONT_LARGE, TEXT_X, 96, RGB_WHITE, TITLE, false);
    draw_text(c, FONT_SMALL, TEXT_X, 134, RGB_LABEL, SUBTITLE, false);
    // The rule and a highlighted first slot lie over the logo's lower lines: the logo
    // leaves out what they cover, as they are painted before it.
    const int rule = UPPER_RULE_Y - LOGO_Y;
    const int hidden = slot == 0 ? ROW_Y - LOGO_Y : LOGO_H;
    draw_logo_part(c, 0, rule);
    draw_logo_part(c, rule + 1, hidden < LOGO_H ? hidden : LOGO_H);
}

void draw_tag(Canvas c, const AppEntry& e, int y) {
    if (e.allowed) {
        if (e.version[0] == '\0' || std::strcmp(e.version, "1") == 0) return;
        char tag[24];
        std::snprintf(tag, sizeof tag, "v%s", e.version);
        draw_text(c, FONT_SMALL, right_aligned(std::strlen(tag)), y, RGB_DIM, tag, true);
        return;
    }
    // The tag names the mode the app needs; AV first when it accepts both.
    const char* tag = (e.modes & APP_MODE_AV) ? "[AV]" : "[HDMI]";
    draw_text(c, FONT_SMALL, right_aligned(std::strlen(tag)), y, RGB_WARN, tag, true);
}

void draw_row(Canvas c, const AppEntry& e, int slot, bool sel, int32_t notice_deadline,
              int32_t (*clock)()) {
    const int dy = MENU_ROW_PITCH * slot;
    const bool ok = e.allowed != 0;
    draw_text(c, FONT_MEDIUM, MARKER_X, NAME_DY + dy, ok ? RGB_PINK : RGB_DIM, sel ? ">" : " ",
              true);
    draw_text(c, FONT_MEDIUM, NAME_X, NAME_DY + dy,
              !ok   ? RGB_DIM
              : sel ? RGB_WHITE
                    : RGB_LABEL,
              e.name, true);
    draw_tag(c, e, NAME_DY + dy);
    // The deadline is a reading of the wrapping millisecond clock: compare by difference.
    if (sel && !ok && notice_deadline != 0 && ms_elapsed(clock(), notice_deadline) < 0)
        draw_text(c, FONT_SMALL, NAME_X, SECOND_DY + dy, RGB_WARN, MENU_NOTICE, false);
    else
        draw_text(c, FONT_SMALL, NAME_X, SECOND_DY + dy, RGB_DIM, e.desc, true);
}

void draw_scroll(Canvas c, const AppTable& apps, int32_t first) {
    char counter[32];
    std::snprintf(counter, sizeof counter, "%d/%d", apps.selected + 1, apps.count);
    draw_text(c, FONT_SMALL, right_aligned(std::strlen(counter)), COUNTER_Y, RGB_DIM, counter,
              true);
    fill_rect(c, TRACK_X, TRACK_Y, TRACK_W, TRACK_H, COL_TRACK);
    // The thumb is the six visible rows' share of the track.
    const int height = MENU_VISIBLE_ROWS * TRACK_H / apps.count;
    const int top = first * TRACK_H / apps.count;
    const int end = TRACK_Y + top + height < static_cast<int>(CANVAS_H)
                        ? TRACK_Y + top + height
                        : static_cast<int>(CANVAS_H);
    if (height >= 1 && end > TRACK_Y + top)
        fill_rect(c, TRACK_X, TRACK_Y + top, TRACK_W, end - TRACK_Y - top, COL_ACCENT);
}

void draw_footer(Canvas c) {
    draw_text(c, FONT_SMALL, TEXT_X, FOOTER_Y, RGB_LABEL, FOOTER, false);
    draw_text(c, FONT_SMALL, HOST_X, FOOTER_Y, RGB_DIM, MENU_HOST_NAME, false);
    draw_text(c, FONT_SMALL, HOST_X, HOST_Y2, RGB_DIM, MENU_HOST_NAME, false);
}

} // namespace

void render_menu(Canvas c, const AppTable& apps, int32_t notice_deadline, int32_t (*clock)()) {
    const int32_t first = menu_first_visible(apps.selected);
    const int32_t last = first + MENU_VISIBLE_ROWS - 1 < apps.count - 1
                             ? first + MENU_VISIBLE_ROWS - 1
                             : apps.count - 1;
    const bool shown = apps.selected >= first && apps.selected <= last;
    const int slot = shown ? apps.selected - first : NO_SLOT;
    paint_background(c, slot, shown && apps.entries[apps.selected].allowed ? COL_ACCENT : COL_RULE);
    draw_header(c, slot);
    if (apps.count == 0) {
        draw_text(c, FONT_LARGE, EMPTY_X, EMPTY_Y, RGB_WARN, EMPTY_TEXT, false);
        draw_text(c, FONT_MEDIUM, HINT_X, HINT_Y, RGB_LABEL, MENU_UPLOAD_HINT, false);
    } else {
        for (int32_t i = first; i <= last; ++i)
            draw_row(c, apps.entries[i], i - first, i == apps.selected, notice_deadline, clock);
        if (apps.count > MENU_VISIBLE_ROWS) draw_scroll(c, apps, first);
    }
    draw_footer(c);
}
