#include "display/menu.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/clock.h"
#include "base/ctext.h"
#include "base/timings.h"
#include "base/version.h"
#include "display/draw.h"
#include "display/logo.h"
#include "display/menu_layout.h"

namespace {

using namespace menu_layout;

constexpr const char* TITLE = "VORNA X";
constexpr auto SUBTITLE = ctext("LAUNCHER  v") + ctext(VERSION);
constexpr const char* EMPTY_TEXT = "no apps installed";
constexpr auto FOOTER =
    ctext("MIDDLE = start   ^ v = select   PLAY ") + seconds_text<HOLD_CLOSE_MS>() + " s = exit";

// The background is painted in horizontal bands, top to bottom, a strip of them per list
// slot: the highlight lies between the rules, a slot's texts inside its strip, and the
// logo, cut at the rule and at a highlight over it, ends beside the first slot.
static_assert(PANEL_Y < UPPER_RULE_Y && UPPER_RULE_Y < ROW_Y &&
              ROW_Y + (MENU_VISIBLE_ROWS - 1) * MENU_ROW_PITCH + ROW_H <= LOWER_RULE_Y &&
              LOWER_RULE_Y < PANEL_Y + PANEL_H - 1 && PANEL_Y + PANEL_H <= int(CANVAS_H));
static_assert(ROW_Y <= NAME_DY && NAME_DY < SECOND_DY && SECOND_DY < ROW_Y + MENU_ROW_PITCH);
static_assert(ROW_X <= LOGO_X && LOGO_X + LOGO_W <= ROW_X + ROW_W);
static_assert(LOGO_Y < UPPER_RULE_Y && ROW_Y < LOGO_Y + LOGO_H &&
              LOGO_Y + LOGO_H <= ROW_Y + MENU_ROW_PITCH);

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

// What the background depends on: the highlighted slot (or NO_SLOT) and its bar colour.
struct Background {
    int slot;
    uint32_t bar;
};

// Lines of the background up to `end` (exclusive) from where the band above ended, all alike.
struct Band {
    int end;
    const PixelRun* runs;
    int n;
};

template <size_t N> constexpr Band band(int end, const PixelRun (&runs)[N]) {
    return Band{end, runs, static_cast<int>(N)};
}

// Lines top..bottom - 1 of the background, every pixel once: black around the panel, the
// panel with its frame, the two rules and the selected row's background and bar. The frame
// start does not clear the page, and nothing here is stored twice. The menu paints it a
// strip at a time and draws over each strip while its lines are still in the cache.
void paint_background(Canvas c, Background bg, int top, int bottom) {
    const int slot = bg.slot;
    const uint32_t bar = bg.bar;
    constexpr int PANEL_END = PANEL_X + PANEL_W;
    constexpr int W = static_cast<int>(CANVAS_W);
    constexpr PixelRun OUTSIDE[] = {{W, 0}};
    constexpr PixelRun EDGE[] = {{PANEL_X, 0}, {PANEL_END, COL_FRAME}, {W, 0}};
    constexpr PixelRun RULE[] = {{PANEL_X, 0}, {PANEL_END, COL_RULE}, {W, 0}};
    constexpr PixelRun BODY[] = {{PANEL_X, 0},
                                 {PANEL_X + 1, COL_FRAME},
                                 {PANEL_END - 1, COL_PANEL},
                                 {PANEL_END, COL_FRAME},
                                 {W, 0}};
    const PixelRun lit[] = {{PANEL_X, 0},
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
    const Band bands[] = {
        band(PANEL_Y, OUTSIDE),
        band(PANEL_Y + 1, EDGE),
        band(UPPER_RULE_Y, BODY),
        band(UPPER_RULE_Y + 1, RULE),
        band(lit_y, BODY),
        band(lit_end, lit),
        band(LOWER_RULE_Y, BODY),
        band(LOWER_RULE_Y + 1, RULE),
        band(PANEL_Y + PANEL_H - 1, BODY),
        band(PANEL_Y + PANEL_H, EDGE),
        band(static_cast<int>(CANVAS_H), OUTSIDE),
    };
    int y = 0;
    for (const Band& b : bands) {
        const int from = y > top ? y : top;
        const int to = b.end < bottom ? b.end : bottom;
        if (to > from) fill_runs(c, 0, from, to - from, b.runs, b.n);
        y = b.end;
    }
}

// Logo lines first..end - 1, at their place under the title.
void draw_logo_part(Canvas c, int first, int end) {
    draw_logo(c, LOGO_X, LOGO_Y, first, end);
}

// The title and the logo down to the list's first line; the rule lies over one line of the
// logo and is painted before it, so the logo leaves that line out.
void draw_header(Canvas c) {
    draw_text(c, FONT_LARGE, TEXT_X, 96, RGB_WHITE, TITLE, false);
    draw_text(c, FONT_SMALL, TEXT_X, 134, RGB_LABEL, SUBTITLE.c_str(), false);
    draw_logo_part(c, 0, UPPER_RULE_Y - LOGO_Y);
    draw_logo_part(c, UPPER_RULE_Y - LOGO_Y + 1, ROW_Y - LOGO_Y);
}

// The logo's lines beside the first list slot, unless its highlight covers them.
void draw_logo_tail(Canvas c, int slot) {
    if (slot != 0) draw_logo_part(c, ROW_Y - LOGO_Y, LOGO_H);
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
    draw_text(c, FONT_SMALL, TEXT_X, FOOTER_Y, RGB_LABEL, FOOTER.c_str(), false);
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
    const Background bg{shown ? apps.selected - first : NO_SLOT,
                        shown && apps.entries[apps.selected].allowed ? COL_ACCENT : COL_RULE};
    paint_background(c, bg, 0, ROW_Y);
    draw_header(c);
    // One strip of background per list slot, then what is drawn over it.
    int y = ROW_Y;
    for (int32_t i = first; i <= last; ++i, y += MENU_ROW_PITCH) {
        paint_background(c, bg, y, y + MENU_ROW_PITCH);
        if (i == first) draw_logo_tail(c, bg.slot);
        draw_row(c, apps.entries[i], i - first, i == apps.selected, notice_deadline, clock);
    }
    paint_background(c, bg, y, static_cast<int>(CANVAS_H));
    if (apps.count == 0) {
        draw_logo_tail(c, bg.slot);
        draw_text(c, FONT_LARGE, EMPTY_X, EMPTY_Y, RGB_WARN, EMPTY_TEXT, false);
        draw_text(c, FONT_MEDIUM, HINT_X, HINT_Y, RGB_LABEL, MENU_UPLOAD_HINT, false);
    } else if (apps.count > MENU_VISIBLE_ROWS) {
        draw_scroll(c, apps, first);
    }
    draw_footer(c);
}
