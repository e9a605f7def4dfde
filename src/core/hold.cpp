#include "core/hold.h"

#include "apps/catalog.h"
#include "apps/running.h"
#include "apps/service.h"
#include "base/clock.h"
#include "base/log.h"
#include "core/launcher.h"
#include "core/menu_nav.h"
#include "core/surface.h"
#include "display/fb.h"
#include "display/hold_panel.h"
#include "display/menu.h"
#include "hw/buzzer.h"
#include "hw/keys_logic.h"
#include "hw/video_mode.h"

HoldTone g_hold_tone;

namespace {

void end_hold() {
    g_launcher.hold_active = 0;
    g_launcher.hold_start_ms = -1;
}

void start_hold() {
    g_launcher.keys_blocked = 0;
    g_launcher.hold_start_ms = now_ms();
    g_launcher.hold_active = 1;
    hold_tone_start(&g_hold_tone, g_launcher.ui_state != UI_IDLE ? 1 : 0);
}

void abort_hold(const char* reason, int32_t ms) {
    buzzer_stop();
    give_goggles_back(g_launcher.keys_blocked == 1 ? Resume::Logged : Resume::No);
    log_line("hold aborted (%s, %d ms)\n", reason, ms);
    end_hold();
    g_launcher.keys_blocked = 0;
}

// The closing hold ends and the menu stays: at PLAY's release, or at the press of another
// button, which the ADC can only read once PLAY is no longer held.
void end_closing_hold(int32_t held_ms) {
    buzzer_stop();
    log_line("hold aborted (menu release, %d ms)\n", held_ms);
    end_hold();
    g_launcher.keys_blocked = 0;
}

void open_menu_by_hold() {
    scan_apps(g_launcher.mode);
    g_launcher.notice_deadline = 0;
    g_apps.selected = 0;
    const bool av = g_launcher.mode == MODE_AV;
    // The overlay lists only the entries the mode allows: start on one of them.
    if (av) select_next_allowed();
    if (surface_show(g_launcher.mode) != 0) {
        buzzer_stop();
        give_goggles_back(av ? Resume::Logged : Resume::Quietly);
        log_line(av ? "osd menu open fail\n" : "fb0 init fail — menu refused\n");
        return;
    }
    hold_tone_confirm(&g_hold_tone);
    if (av)
        log_line("menu OSD open (av, %d apps)\n", g_apps.count);
    else
        log_line("menu open (hold play, %d apps)\n", g_apps.count);
}

void close_menu() {
    end_hold();
    hold_tone_confirm(&g_hold_tone);
    give_goggles_back(Resume::Logged);
    g_launcher.ui_state = UI_IDLE;
    log_line("menu closed (hold play 3 s)\n");
}

void draw_hold_overlay(int32_t elapsed_ms) {
    fb_begin_frame();
    draw_hold_panel(fb_canvas(), elapsed_ms);
}

void advance_opening_hold(int32_t e) {
    if (e >= HOLD_BLOCK_MS) {
        if (any_app_running()) {
            // An app came up while PLAY was held: the hold ends here and the goggles get
            // their buttons and their page back at once, rather than at some later hold.
            buzzer_stop();
            end_hold();
            log_line("hold cancelled: app started mid-hold\n");
            give_goggles_back(g_launcher.keys_blocked == 1 ? Resume::Logged : Resume::No);
            g_launcher.keys_blocked = 0;
            return;
        }
        if (g_launcher.keys_blocked == 0) {
            pause_goggle_service();
            g_launcher.keys_blocked = 1;
            log_line("hold: keys blocked at %ld ms\n", static_cast<long>(e));
        }
    }
    if (e >= HOLD_PANEL_FIRST_MS && e <= HOLD_PANEL_LAST_MS && g_launcher.mode == MODE_NORMAL) {
        if (!fb_is_open() && fb_open() != 0) return;
        draw_hold_overlay(e);
        fb_present();
    }
    if (e >= HOLD_OPEN_MS) {
        end_hold();
        if (any_app_running()) {
            buzzer_stop();
            give_goggles_back(Resume::Logged);
            log_line("menu suppressed: app running\n");
            return;
        }
        open_menu_by_hold();
    }
}

} // namespace

void hold_on_press(int32_t key) {
    if (key == KEY_PLAY && g_launcher.ui_state == UI_MENU) {
        start_hold();
        return;
    }
    if (key == KEY_PLAY && g_launcher.ui_state == UI_IDLE && !any_app_running()) {
        g_launcher.mode = video_mode_read();
        if (g_launcher.mode == MODE_NORMAL || g_launcher.mode == MODE_AV)
            start_hold();
        else
            log_line("menu refused: mode=%d\n", g_launcher.mode);
        return;
    }
    if (!g_launcher.hold_active) return;
    if (g_launcher.ui_state == UI_IDLE)
        abort_hold("key", 0);
    else
        end_closing_hold(ms_elapsed(now_ms(), g_launcher.hold_start_ms));
}

void hold_on_release(int32_t key, int32_t duration_ms) {
    if (key != KEY_PLAY || !g_launcher.hold_active) return;
    if (g_launcher.ui_state != UI_IDLE)
        end_closing_hold(duration_ms);
    else
        abort_hold("release", duration_ms);
}

void hold_cancel() {
    if (!g_launcher.hold_active) return;
    buzzer_stop();
    end_hold();
}

void hold_advance() {
    const int32_t e = ms_elapsed(now_ms(), g_launcher.hold_start_ms);
    hold_tone_update(&g_hold_tone, static_cast<uint32_t>(e));
    if (g_launcher.ui_state != UI_IDLE) {
        if (e >= HOLD_CLOSE_MS && g_launcher.ui_state == UI_MENU) close_menu();
        return;
    }
    advance_opening_hold(e);
}

void open_menu_by_request() {
    if (!fb_is_open() && fb_open() != 0) return;
    g_launcher.ui_state = UI_MENU;
    pause_goggle_service();
    log_line("rendering menu\n");
    fb_begin_frame_no_clear();
    render_menu(fb_canvas(), g_apps, g_launcher.notice_deadline, now_ms);
    log_line("menu rendered, flipping\n");
    fb_present();
    log_line("menu open via --menu (%d apps)\n", g_apps.count);
}
