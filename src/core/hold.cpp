#include "core/hold.h"

#include "apps/running.h"
#include "base/clock.h"
#include "base/log_lines.h"
#include "base/timings.h"
#include "core/state.h"
#include "core/surface.h"

namespace {

void advance_opening_hold(int32_t e) {
    if (e >= HOLD_BLOCK_MS) {
        if (any_app_running()) {
            hold_cancel_for_app();
            return;
        }
        if (!g_launcher.keys_blocked) hold_take_buttons(e);
    }
    if (e >= HOLD_PANEL_FIRST_MS && e <= HOLD_PANEL_LAST_MS &&
        surface_for(g_launcher.mode).shows_hold_progress && !hold_show_progress(e))
        return; // no framebuffer yet: the next pass tries again, the menu waits for it
    if (e < HOLD_OPEN_MS) return;
    if (any_app_running())
        hold_suppress_for_app();
    else
        menu_open_by_hold();
}

} // namespace

void hold_on_press_idle(KeyCode key) {
    if (key == KEY_PLAY && !any_app_running()) {
        hold_begin_opening();
        return;
    }
    // Another button, or PLAY while an app launched earlier still runs.
    if (g_launcher.hold_active) hold_abort(LOG_HOLD_ABORTED_KEY, 0);
}

void hold_on_release_idle(KeyCode key, int32_t duration_ms) {
    if (key == KEY_PLAY && g_launcher.hold_active)
        hold_abort(LOG_HOLD_ABORTED_RELEASE, duration_ms);
}

void hold_on_press_menu(KeyCode key) {
    if (key == KEY_PLAY) {
        hold_begin();
        return;
    }
    // The closing hold ends at another button's press as at PLAY's release: the ADC reads one
    // button at a time, so PLAY is no longer held.
    if (g_launcher.hold_active) hold_end_in_menu(ms_elapsed(now_ms(), g_launcher.hold_start_ms));
}

void hold_on_release_menu(KeyCode key, int32_t duration_ms) {
    if (key == KEY_PLAY && g_launcher.hold_active) hold_end_in_menu(duration_ms);
}

void hold_advance() {
    const int32_t e = ms_elapsed(now_ms(), g_launcher.hold_start_ms);
    hold_sound(e);
    if (g_launcher.ui_state == UI_IDLE)
        advance_opening_hold(e);
    else if (e >= HOLD_CLOSE_MS && g_launcher.ui_state == UI_MENU)
        menu_close();
}
