#include "core/surface.h"

#include "apps/catalog.h"
#include "apps/service.h"
#include "base/clock.h"
#include "base/log.h"
#include "core/launcher.h"
#include "display/fb.h"
#include "display/menu.h"
#include "hw/osd.h"
#include "hw/video_mode.h"

int surface_show(int32_t mode) {
    if (mode == MODE_AV) {
        if (osd_menu_open() != 0) return -1;
        g_launcher.ui_state = UI_MENU;
        return 0;
    }
    if (!fb_is_open() && fb_open() != 0) return -1;
    g_launcher.ui_state = UI_MENU;
    menu_frame();
    return 0;
}

int surface_is_overlay() {
    return g_osd.active == 1 ? 1 : 0;
}

void surface_redraw() {
    if (surface_is_overlay())
        osd_menu_draw(0);
    else
        menu_frame();
}

void surface_hand_to_app() {
    if (surface_is_overlay()) osd_menu_close();
}

void menu_frame() {
    if (!fb_is_open() && fb_open() != 0) return;
    // The menu paints every pixel of the canvas: the page need not be cleared first.
    fb_begin_frame_no_clear();
    render_menu(fb_canvas(), g_apps, g_launcher.notice_deadline, now_ms);
    fb_present();
}

void give_goggles_back(Resume resume) {
    if (surface_is_overlay()) osd_menu_close();
    if (resume != Resume::No) resume_goggle_service();
    if (resume == Resume::Logged) log_line("keys resumed\n");
    if (fb_is_open() && fb_is_panned()) fb_restore();
}
