#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "apps/manifest.h"
#include "display/hold_panel.h"
#include "display/menu.h"
#include "png/png_io.h"

// Whole menus and the hold's progress panel, compared pixel for pixel with the pictures
// under tests/golden. After a change that is meant to alter a picture, look at the new
// pictures and regenerate them with
//   cmake --build --preset host --target update-goldens

namespace {

int32_t clock_at_1000() {
    return 1000;
}

struct Scene {
    const char* name;
    AppTable apps;
    int32_t notice_deadline;
};

void set(AppEntry& e, const char* name, const char* desc, const char* version, uint32_t modes) {
    std::snprintf(e.name, sizeof e.name, "%s", name);
    std::snprintf(e.desc, sizeof e.desc, "%s", desc);
    std::snprintf(e.version, sizeof e.version, "%s", version);
    e.modes = modes;
    e.allowed = app_allowed_in_mode(modes, 1); // every scene in the normal video mode
}

std::vector<Scene> scenes() {
    std::vector<Scene> out(3, Scene{"menu_empty", {}, 0});
    Scene& mixed = out[1];
    mixed.name = "menu_mixed";
    set(mixed.apps.entries[0], "hello-world", "Says hello and counts to five", "1.0", 1);
    set(mixed.apps.entries[1], "osd-clock", "Shows the time over analogue video", "0.3", 2);
    set(mixed.apps.entries[2], "dvr-viewer", "Browse recordings", "2.1.0", 5);
    set(mixed.apps.entries[3], "battery_log", "Tab\tcut and caf\xc3\xa9 bytes", "1", 1);
    set(mixed.apps.entries[4], "hdmi-out", "Needs an HDMI source", "", 4);
    mixed.apps.count = 5;
    Scene& notice = out[2];
    notice = Scene{"menu_scrolled_notice", {}, 1500};
    for (int i = 0; i < 16; ++i) {
        char name[40], desc[96];
        std::snprintf(name, sizeof name, "app_%02d-%s", i, i % 3 ? "tool" : "game");
        std::snprintf(desc, sizeof desc, "entry number %d of sixteen", i + 1);
        set(notice.apps.entries[i], name, desc, i % 4 ? "1.2" : "1", i == 12 ? 2 : 1);
    }
    notice.apps.count = 16;
    notice.apps.selected = 12;
    return out;
}

// The canvas against tests/golden/NAME.png, or written there when the goldens are redrawn.
void expect_golden(const std::string& name, const std::vector<uint32_t>& page) {
    const std::string path = std::string(VX_GOLDEN_DIR) + "/" + name + ".png";
    if (std::getenv("VX_UPDATE_GOLDENS") != nullptr) {
        vxboard::write_png_argb(path, page.data(), CANVAS_W, CANVAS_H, LINE_PIXELS);
        return;
    }
    std::vector<uint32_t> want;
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(vxboard::read_png_argb(path, want, w, h)) << "missing " << path;
    ASSERT_EQ(w, CANVAS_W);
    ASSERT_EQ(h, CANVAS_H);
    int differing = 0, first_x = -1, first_y = -1;
    for (uint32_t y = 0; y < CANVAS_H; ++y)
        for (uint32_t x = 0; x < CANVAS_W; ++x)
            if (page[y * LINE_PIXELS + x] != want[y * CANVAS_W + x] && differing++ == 0)
                first_x = static_cast<int>(x), first_y = static_cast<int>(y);
    EXPECT_EQ(differing, 0) << "first at (" << first_x << ", " << first_y << ")";
}

// The menus, then the panel as its fill is about to start, with its first pixel, half-way,
// and on the last frame before the menu opens.
TEST(Golden, PicturesMatch) {
    for (const Scene& s : scenes()) {
        SCOPED_TRACE(s.name);
        std::vector<uint32_t> page(LINE_PIXELS * CANVAS_H, 0);
        render_menu(Canvas{page.data()}, s.apps, s.notice_deadline, clock_at_1000);
        expect_golden(s.name, page);
    }
    for (const int32_t elapsed_ms : {500, 503, 1000, 1499}) {
        const std::string name = "hold_panel_" + std::to_string(elapsed_ms);
        SCOPED_TRACE(name);
        std::vector<uint32_t> page(LINE_PIXELS * CANVAS_H, 0);
        draw_hold_panel(Canvas{page.data()}, elapsed_ms);
        expect_golden(name, page);
    }
}

} // namespace
