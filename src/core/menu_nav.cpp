#include "core/menu_nav.h"

#include "apps/catalog.h"
#include "apps/launch.h"
#include "apps/running.h"
#include "apps/service.h"
#include "base/clock.h"
#include "base/log.h"
#include "core/hold.h"
#include "core/launcher.h"
#include "core/surface.h"
#include "hw/keys_logic.h"
#include "hw/video_mode.h"

namespace {

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

// The menu has nowhere left to show: the goggles get their page and their buttons back at
// once, rather than at the next PLAY hold.
void leave_menu_idle() {
    g_launcher.ui_state = UI_IDLE;
    give_goggles_back(Resume::Logged);
    g_launcher.keys_blocked = 0;
}

void start_selected() {
    const AppEntry& e = g_apps.entries[g_apps.selected];
    const bool on_overlay = surface_is_overlay();
    if (e.allowed) {
        if (launch_selected_app() > 0) {
            g_launcher.ui_state = UI_APP;
            hold_cancel();
            return;
        }
        // The overlay was closed for the launch: put the menu back where it was, or hand
        // the goggles back when the controller is gone. The framebuffer is not used in AV
        // mode and may not be mapped.
        if (on_overlay && surface_show(MODE_AV) != 0) {
            log_line("osd menu open fail\n");
            leave_menu_idle();
        }
        return;
    }
    if (on_overlay) return;
    int32_t deadline = ms_after(now_ms(), NOTICE_MS);
    if (deadline == 0) deadline = 1; // 0 means no notice
    g_launcher.notice_deadline = deadline;
    surface_redraw();
}

void move_selection(int32_t step) {
    if (surface_is_overlay()) {
        step_allowed(step);
    } else if (step > 0) {
        g_apps.selected = g_apps.selected < g_apps.count - 1 ? g_apps.selected + 1 : 0;
    } else {
        g_apps.selected = (g_apps.selected > 0 ? g_apps.selected : g_apps.count) - 1;
    }
    surface_redraw();
}

} // namespace

void select_next_allowed() {
    step_allowed(1);
}

void select_prev_allowed() {
    step_allowed(-1);
}

int32_t launch_selected_app() {
    surface_hand_to_app();
    if (g_apps.selected < 0 || g_apps.selected >= g_apps.count || g_apps.selected >= MAX_APPS)
        return -1;
    return launch_app(g_apps.entries[g_apps.selected], APPS_DIR, STAGING_DIR, &g_running);
}

void nav_on_release(int32_t key, int32_t duration_ms) {
    if (g_launcher.ui_state != UI_MENU || g_launcher.pressed_in != UI_MENU ||
        duration_ms > TAP_MAX_MS)
        return;
    if (key == KEY_DOWN) move_selection(1);
    if (key == KEY_UP) move_selection(-1);
    if (key == KEY_MIDDLE && g_apps.count >= 1) start_selected();
}

void notice_expire() {
    if (ms_elapsed(now_ms(), g_launcher.notice_deadline) < 0) return;
    g_launcher.notice_deadline = 0;
    surface_redraw();
}

void return_from_app() {
    g_launcher.mode = video_mode_read();
    scan_apps(g_launcher.mode);
    g_launcher.notice_deadline = 0;
    if (g_launcher.mode != MODE_NORMAL && g_launcher.mode != MODE_AV) {
        log_line("menu skip po child (mode=%d)\n", g_launcher.mode);
        leave_menu_idle();
        return;
    }
    const bool av = g_launcher.mode == MODE_AV;
    // On the overlay the selection moves on from the app that ran, to an allowed entry.
    if (av) select_next_allowed();
    if (surface_show(g_launcher.mode) != 0) {
        if (av)
            log_line("osd menu open fail po child\n");
        else
            log_line("menu skip po child (mode=%d)\n", g_launcher.mode);
        leave_menu_idle();
        return;
    }
    if (av) log_line("menu OSD open po child (%d apps)\n", g_apps.count);
    // The app may have run for hours: the menu takes the buttons again from a service that
    // was restarted meanwhile, and replaces a watchdog that died, so that the service is
    // never left stopped without one.
    pause_goggle_service();
}
