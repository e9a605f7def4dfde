#include "core/menu_nav.h"

#include "apps/catalog.h"
#include "apps/launch.h"
#include "apps/running.h"
#include "apps/service.h"
#include "base/clock.h"
#include "core/hold.h"
#include "core/launcher.h"
#include "base/log.h"
#include "display/fb.h"
#include "display/menu.h"
#include "hw/keys_logic.h"
#include "hw/osd.h"
#include "hw/video_mode.h"

namespace {

void leave_menu_idle();

void step_allowed(int32_t step) {
    const int32_t count = g_apps.count;
    if (count < 1) return;
    int32_t i = g_apps.selected;
    for (int32_t n = 0; n < count; ++n) {
        i = ((i + step) % count + count) % count;
        if (g_apps.entries[i].allowed) {
            g_apps.selected = i;
            return;
        }
    }
}

void start_selected() {
    const AppEntry& e = g_apps.entries[g_apps.selected];
    const bool on_overlay = g_osd.active == 1;
    if (e.allowed) {
        if (launch_selected_app() > 0) {
            g_launcher.ui_state = UI_APP;
            hold_cancel();
            return;
        }
        // The overlay was closed for the launch: put the menu back where it was, or hand
        // the goggles back when the controller is gone. The framebuffer is not used in AV
        // mode and may not be mapped.
        if (on_overlay && osd_menu_open() != 0) {
            log_line("osd menu open fail\n");
            leave_menu_idle();
        }
        return;
    }
    if (on_overlay) return;
    int32_t deadline = ms_after(now_ms(), NOTICE_MS);
    if (deadline == 0) deadline = 1; // 0 means no notice
    g_launcher.notice_deadline = deadline;
    menu_frame();
}

void leave_menu_idle() {
    g_launcher.ui_state = UI_IDLE;
    // Nothing is left on screen for the wearer: give the goggles their page and their
    // buttons back rather than wait for the next PLAY hold to do it.
    restore_goggles_page();
    resume_goggle_service();
    log_line("keys resumed\n");
    g_launcher.keys_blocked = 0;
}

} // namespace

void select_next_allowed() {
    step_allowed(1);
}

void select_prev_allowed() {
    step_allowed(-1);
}

int32_t launch_selected_app() {
    if (g_osd.active == 1) osd_menu_close();
    if (g_apps.selected < 0 || g_apps.selected >= g_apps.count || g_apps.selected >= MAX_APPS)
        return -1;
    return launch_app(g_apps.entries[g_apps.selected], APPS_DIR, STAGING_DIR, &g_running);
}

void render_current_menu() {
    render_menu(fb_canvas(), g_apps, g_launcher.notice_deadline, now_ms);
}

void menu_frame() {
    // A menu shown without a usable framebuffer is not drawn at all: never through a page
    // that is not mapped.
    if (!fb_is_open() && fb_open() != 0) return;
    // The menu paints every pixel of the canvas: the page need not be cleared first.
    fb_begin_frame_no_clear();
    render_current_menu();
    fb_present();
}

void restore_goggles_page() {
    if (fb_is_open() && fb_is_panned()) fb_restore();
}

void nav_on_release(int32_t key, int32_t duration_ms) {
    if (g_launcher.ui_state != UI_MENU || duration_ms > TAP_MAX_MS) return;
    switch (key) {
    case KEY_DOWN:
        if (g_osd.active == 1) {
            select_next_allowed();
            osd_menu_draw(0);
            break;
        }
        g_apps.selected = g_apps.selected < g_apps.count - 1 ? g_apps.selected + 1 : 0;
        menu_frame();
        break;
    case KEY_UP:
        if (g_osd.active == 1) {
            select_prev_allowed();
            osd_menu_draw(0);
            break;
        }
        g_apps.selected = (g_apps.selected > 0 ? g_apps.selected : g_apps.count) - 1;
        menu_frame();
        break;
    case KEY_MIDDLE:
        if (g_apps.count >= 1) start_selected();
        break;
    default:
        break;
    }
}

void notice_expire() {
    if (ms_elapsed(now_ms(), g_launcher.notice_deadline) < 0) return;
    g_launcher.notice_deadline = 0;
    menu_frame();
}

void return_from_app() {
    g_launcher.mode = video_mode_read();
    scan_apps(g_launcher.mode);
    g_launcher.notice_deadline = 0;
    if (g_launcher.mode == MODE_NORMAL) {
        if (!fb_is_open() && fb_open() != 0) {
            log_line("menu skip po child (mode=%d)\n", g_launcher.mode);
            leave_menu_idle();
            return;
        }
        g_launcher.ui_state = UI_MENU;
        menu_frame();
        return;
    }
    if (g_launcher.mode == MODE_AV) {
        select_next_allowed();
        if (osd_menu_open() != 0) {
            log_line("osd menu open fail po child\n");
            leave_menu_idle();
            return;
        }
        g_launcher.ui_state = UI_MENU;
        log_line("menu OSD open po child (%d apps)\n", g_apps.count);
        return;
    }
    log_line("menu skip po child (mode=%d)\n", g_launcher.mode);
    leave_menu_idle();
}
