#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/draw.h"
#include "display/menu.h"

namespace {

// A page-sized buffer standing in for the framebuffer's back page.
struct Page {
    std::vector<uint32_t> px = std::vector<uint32_t>(LINE_PIXELS * CANVAS_H, 0);
    Canvas canvas() { return Canvas{px.data()}; }
    uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * LINE_PIXELS + x]; }
};

// Leftmost and rightmost columns of text ink of colour `rgb` inside a box; -1 when none.
struct InkSpan {
    int first = -1, last = -1;
};
InkSpan ink(const Page& p, int x0, int x1, int y0, int y1, uint32_t rgb) {
    InkSpan s;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const uint32_t v = p.at(x, y);
            if ((v >> 24) != 0 && (v & 0xFFFFFF) == rgb) {
                if (s.first < 0 || x < s.first) s.first = x;
                if (x > s.last) s.last = x;
            }
        }
    return s;
}

AppTable catalogue(int count, int selected) {
    AppTable t;
    std::memset(&t, 0, sizeof t);
    t.count = count;
    t.selected = selected;
    for (int i = 0; i < count; ++i) {
        AppEntry& e = t.entries[i];
        std::snprintf(e.name, sizeof e.name, "app%02d", i);
        std::snprintf(e.desc, sizeof e.desc, "description %d", i);
        e.version[0] = '1';
        e.modes = APP_MODE_NORMAL;
        e.allowed = 1;
    }
    return t;
}

int g_clock_reads = 0;
int32_t g_now = 0;
int32_t fake_clock() {
    ++g_clock_reads;
    return g_now;
}

Page render(const AppTable& t, int32_t deadline = 0) {
    Page p;
    g_clock_reads = 0;
    render_menu(p.canvas(), t, deadline, fake_clock);
    return p;
}

constexpr int TRACK_PX = 1018;

// Which list slots carry the highlight background.
std::vector<int> highlighted_slots(const Page& p) {
    std::vector<int> slots;
    for (int s = 0; s < MENU_VISIBLE_ROWS; ++s)
        if (p.at(700, 172 + MENU_ROW_PITCH * s + 2) == COL_ROW_HIGHLIGHT) slots.push_back(s);
    return slots;
}

TEST(Menu, EmptyCatalogue) {
    const Page p = render(catalogue(0, 0));
    EXPECT_EQ(p.at(260, 100), COL_PANEL);
    EXPECT_EQ(p.at(250, 78), COL_FRAME);
    EXPECT_EQ(p.at(1029, 643), COL_FRAME);
    EXPECT_EQ(p.at(600, 162), COL_RULE);
    EXPECT_EQ(p.at(600, 586), COL_RULE);
    const InkSpan msg = ink(p, 250, 1029, 278, 308, RGB_WARN);
    EXPECT_EQ(msg.first >= 479 && msg.last < 479 + 17 * 19, true) << msg.first << " " << msg.last;
    const InkSpan hint = ink(p, 250, 1029, 338, 359, RGB_LABEL);
    EXPECT_GE(hint.first, 335);
    EXPECT_LT(hint.last, 335 + 47 * 13);
    EXPECT_EQ(p.at(TRACK_PX, 300), COL_PANEL) << "no scroll track";
    EXPECT_EQ(ink(p, 900, 1010, 140, 151, RGB_DIM).first, -1) << "no counter";
    EXPECT_EQ(highlighted_slots(p), std::vector<int>{});
}

TEST(Menu, ListWindowAndScrollThumb) {
    struct Case {
        int count, selected;
        std::vector<int> slots;   // highlighted slot
        int thumb_top, thumb_end; // rows of the thumb, end exclusive; 0,0 = no track
        std::string counter;
    } cases[] = {
        {6, 0, {0}, 0, 0, ""},
        {6, 5, {5}, 0, 0, ""},
        {7, 0, {0}, 178, 178 + 298, "1/7"},
        {7, 6, {5}, 227, 227 + 298, "7/7"},
        {16, 15, {5}, 395, 525, "16/16"},
        {16, 9, {5}, 178 + 4 * 348 / 16, 178 + 4 * 348 / 16 + 130, "10/16"},
        {16, 3, {3}, 178, 178 + 130, "4/16"},
    };
    for (const Case& c : cases) {
        const Page p = render(catalogue(c.count, c.selected));
        SCOPED_TRACE(std::to_string(c.count) + " apps, selected " + std::to_string(c.selected));
        EXPECT_EQ(highlighted_slots(p), c.slots);
        // The selected entry's name is on the highlighted row.
        const int dy = MENU_ROW_PITCH * c.slots[0];
        EXPECT_NE(ink(p, 302, 400, 180 + dy, 201 + dy, RGB_WHITE).first, -1);
        if (c.thumb_end == 0) {
            EXPECT_EQ(p.at(TRACK_PX, 300), COL_PANEL);
            continue;
        }
        EXPECT_EQ(p.at(TRACK_PX, c.thumb_top), COL_ACCENT);
        EXPECT_EQ(p.at(TRACK_PX, c.thumb_end - 1), COL_ACCENT);
        if (c.thumb_top > 178) {
            EXPECT_EQ(p.at(TRACK_PX, c.thumb_top - 1), COL_TRACK);
        }
        if (c.thumb_end < 526) {
            EXPECT_EQ(p.at(TRACK_PX, c.thumb_end), COL_TRACK);
        }
        const InkSpan counter = ink(p, 900, 1010, 140, 151, RGB_DIM);
        EXPECT_GE(counter.first, 1004 - 7 * static_cast<int>(c.counter.size()));
        EXPECT_LE(counter.last, 1003);
        EXPECT_LT(counter.first, 1004 - 7 * static_cast<int>(c.counter.size()) + 7);
    }
}

TEST(Menu, TrackCutsIntoTheSelectedRowBackground) {
    const Page p = render(catalogue(7, 0));
    EXPECT_EQ(p.at(1015, 200), COL_ROW_HIGHLIGHT);
    EXPECT_EQ(p.at(1019, 200), COL_ACCENT);
    EXPECT_EQ(p.at(1019, 230), COL_ACCENT); // thumb still covers slot 0
}

TEST(Menu, TagsForVersionsAndModes) {
    AppTable t = catalogue(5, 4);
    std::strcpy(t.entries[1].version, "2.0");
    t.entries[2].version[0] = '\0';
    t.entries[3].modes = APP_MODE_HDMI;
    t.entries[3].allowed = 0;
    t.entries[4].modes = APP_MODE_AV | APP_MODE_HDMI;
    t.entries[4].allowed = 0;
    const Page p = render(t);
    auto tag = [&](int slot, uint32_t rgb) {
        const int y = 180 + MENU_ROW_PITCH * slot;
        return ink(p, 900, 1010, y, y + 11, rgb);
    };
    EXPECT_EQ(tag(0, RGB_DIM).first, -1) << "version 1 has no tag";
    EXPECT_EQ(tag(2, RGB_DIM).first, -1) << "no version, no tag";
    const InkSpan v20 = tag(1, RGB_DIM);
    EXPECT_GE(v20.first, 976);
    EXPECT_LT(v20.first, 983);
    EXPECT_LE(v20.last, 1003);
    EXPECT_GE(tag(3, RGB_WARN).first, 962) << "[HDMI]";
    EXPECT_LT(tag(3, RGB_WARN).first, 969);
    EXPECT_GE(tag(4, RGB_WARN).first, 976) << "[AV] named first";
    // A selected app that may not run: grey bar, grey marker and name.
    const int dy = MENU_ROW_PITCH * 4;
    EXPECT_EQ(p.at(261, 172 + dy + 10), COL_RULE);
    EXPECT_NE(ink(p, 274, 290, 180 + dy, 201 + dy, RGB_DIM).first, -1);
    EXPECT_EQ(ink(p, 274, 290, 180 + dy, 201 + dy, RGB_PINK).first, -1);
    EXPECT_EQ(ink(p, 302, 400, 180 + dy, 201 + dy, RGB_WHITE).first, -1);
    // An allowed selected app: pink bar and marker.
    const Page q = render(catalogue(3, 1));
    EXPECT_EQ(q.at(261, 172 + MENU_ROW_PITCH + 10), COL_ACCENT);
    EXPECT_NE(ink(q, 274, 290, 180 + MENU_ROW_PITCH, 201 + MENU_ROW_PITCH, RGB_PINK).first, -1);
}

TEST(Menu, NoticeReplacesTheDescriptionWhileItLasts) {
    AppTable t = catalogue(2, 1);
    t.entries[1].allowed = 0;
    const int y = 212 + MENU_ROW_PITCH;
    struct Case {
        int32_t now, deadline;
        bool notice;
    } cases[] = {
        {1000, 2500, true},
        {2500, 2500, false},
        {2600, 2500, false},
        {INT32_MAX - 100, INT32_MIN + 1400, true}, // deadline past the clock's wrap
        {INT32_MIN + 1400, INT32_MIN + 1400, false},
    };
    for (const Case& c : cases) {
        g_now = c.now;
        const Page p = render(t, c.deadline);
        EXPECT_EQ(g_clock_reads, 1);
        EXPECT_EQ(ink(p, 302, 700, y, y + 11, RGB_WARN).first != -1, c.notice) << c.now;
        EXPECT_EQ(ink(p, 302, 700, y, y + 11, RGB_DIM).first != -1, !c.notice) << c.now;
    }
    // An allowed selection never shows it, and the clock is not read for it.
    g_now = 0;
    const Page p = render(catalogue(2, 1), 5000);
    EXPECT_EQ(g_clock_reads, 0);
    EXPECT_EQ(ink(p, 302, 700, y, y + 11, RGB_WARN).first, -1);
}

} // namespace

namespace {

// The launcher draws the menu over whatever the back page held: every pixel of the canvas
// must come from the menu, and nothing right of the canvas may change.
TEST(Menu, PaintsTheWholeCanvasWhateverThePageHeld) {
    struct Case {
        int count, selected;
        int32_t deadline;
    } cases[] = {{0, 0, 0}, {1, 0, 0},   {3, 2, 0},  {6, 5, 0},
                 {7, 6, 0}, {16, 15, 0}, {16, 0, 0}, {3, 1, 500}};
    for (const Case& c : cases) {
        AppTable t = catalogue(c.count, c.selected);
        if (c.count > 1) t.entries[1].allowed = 0;
        g_now = 0;
        const Page clean = render(t, c.deadline);
        Page dirty;
        for (size_t i = 0; i < dirty.px.size(); ++i)
            dirty.px[i] = 0x9E3779B9u * static_cast<uint32_t>(i + 1);
        const std::vector<uint32_t> before = dirty.px;
        render_menu(dirty.canvas(), t, c.deadline, fake_clock);
        int differing = 0, outside_changed = 0;
        for (uint32_t y = 0; y < CANVAS_H; ++y)
            for (uint32_t x = 0; x < LINE_PIXELS; ++x) {
                const size_t i = static_cast<size_t>(y) * LINE_PIXELS + x;
                if (x < CANVAS_W)
                    differing += dirty.px[i] != clean.px[i];
                else
                    outside_changed += dirty.px[i] != before[i];
            }
        EXPECT_EQ(differing, 0) << c.count << " apps, selected " << c.selected;
        EXPECT_EQ(outside_changed, 0) << c.count << " apps, selected " << c.selected;
    }
}

} // namespace
