#include "core/state.h"

#include <csignal>

#include "apps/catalogue.h"
#include "apps/launch.h"
#include "apps/running.h"
#include "apps/selection.h"
#include "apps/service.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/log_lines.h"
#include "core/surface.h"
#include "hw/buzzer.h"
#include "hw/video_mode.h"

LauncherState g_launcher;

namespace {

HoldTone g_hold_tone;
// The escape's beep is a closing hold's: the app goes as a menu would.
HoldTone g_escape_tone{HOLD_CLOSING};

// Whether giving the goggles back continues their service, and says so in the log.
enum class Resume { No, Quietly, Logged };

// No gesture begun before a change of state acts after it.
void enter(UiState state) {
    g_launcher.ui_state = state;
    g_launcher.press_in_menu = false;
}

void end_hold() {
    g_launcher.hold_active = false;
    g_launcher.hold_start_ms = -1;
}

// The goggles get back what the launcher took of them, and the launcher is idle: the overlay
// blanked and released, their service continued as `resume` says, their own page on screen.
void goggles_back(Resume resume) {
    surface_take_away_overlay();
    if (resume != Resume::No) resume_goggle_service();
    if (resume == Resume::Logged) log_line(LOG_KEYS_RESUMED);
    surface_take_away_page();
    g_launcher.keys_blocked = false;
    enter(UI_IDLE);
}

// A hold ends with nothing to show for it: its tone stops, `first` is logged (unless null), and
// the goggles get back what it took (the service, once the hold blocked the buttons).
void hold_give_back(Resume resume, const char* first = nullptr) {
    buzzer_stop();
    end_hold();
    if (first != nullptr) log_line("%s", first);
    goggles_back(resume);
}

Resume resume_if_blocked() {
    return g_launcher.keys_blocked ? Resume::Logged : Resume::No;
}

// Rebuilds the table for `mode` and shows the menu on its surface; false when the surface
// cannot be had. The overlay lists only the entries the mode allows: the selection moves on
// to one of them, the one it was on examined last.
bool menu_come_up(int32_t mode) {
    scan_apps(mode);
    g_launcher.notice_deadline = 0;
    if (surface_for(mode).lists_allowed_only) select_step_allowed(&g_apps, 1);
    // UI_MENU before the first frame: a termination in the middle of it gives the screen back.
    enter(UI_MENU);
    return surface_show(mode, g_launcher.notice_deadline);
}

void log_narration() {
    log_line(LOG_MENU_RENDERED);
}

} // namespace

void state_note_press() {
    g_launcher.press_in_menu = g_launcher.ui_state == UI_MENU;
}

int32_t state_read_mode() {
    g_launcher.mode = video_mode_read();
    return g_launcher.mode;
}

// ---- The PLAY hold -------------------------------------------------------------------------

void hold_begin() {
    g_launcher.keys_blocked = false;
    g_launcher.hold_start_ms = now_ms();
    g_launcher.hold_active = true;
    hold_tone_start(&g_hold_tone, g_launcher.ui_state == UI_IDLE ? HOLD_OPENING : HOLD_CLOSING);
}

void hold_begin_opening() {
    if (surface_for(state_read_mode()).kind == SurfaceKind::None) {
        log_line(LOG_MENU_REFUSED, g_launcher.mode);
        return;
    }
    hold_begin();
}

void hold_sound(int32_t elapsed_ms) {
    hold_tone_update(&g_hold_tone, static_cast<uint32_t>(elapsed_ms));
}

void hold_take_buttons(int32_t elapsed_ms) {
    pause_goggle_service();
    g_launcher.keys_blocked = true;
    log_line(LOG_KEYS_BLOCKED, static_cast<long>(elapsed_ms));
}

bool hold_show_progress(int32_t elapsed_ms) {
    return surface_show_hold_progress(elapsed_ms);
}

void hold_abort(const char* reason, int32_t held_ms) {
    hold_give_back(resume_if_blocked());
    log_line(LOG_HOLD_ABORTED, reason, held_ms);
}

void hold_cancel_for_app() {
    // An app came up while PLAY was held: the hold ends here and the goggles get their
    // buttons and their page back at once, rather than at some later hold.
    hold_give_back(resume_if_blocked(), LOG_HOLD_CANCELLED);
}

void hold_suppress_for_app() {
    hold_give_back(Resume::Logged);
    log_line(LOG_MENU_SUPPRESSED);
}

void hold_end_in_menu(int32_t held_ms) {
    buzzer_stop();
    log_line(LOG_CLOSING_HOLD_ABORTED, held_ms);
    end_hold();
    g_launcher.keys_blocked = false;
}

// ---- The menu ------------------------------------------------------------------------------

void menu_open_by_hold() {
    end_hold();
    g_apps.selected = 0;
    const Surface& surface = surface_for(g_launcher.mode);
    if (!menu_come_up(g_launcher.mode)) {
        hold_give_back(surface.says_keys_resumed ? Resume::Logged : Resume::Quietly);
        log_line(surface.refused_at_hold);
        return;
    }
    hold_tone_confirm(&g_hold_tone);
    log_line(surface.opened_by_hold, g_apps.count);
}

void menu_close() {
    end_hold();
    hold_tone_confirm(&g_hold_tone);
    goggles_back(Resume::Logged);
    log_line(LOG_MENU_CLOSED.c_str());
}

void menu_open_by_request() {
    if (!surface_prepare(MODE_NORMAL)) return;
    enter(UI_MENU);
    pause_goggle_service();
    log_line(LOG_RENDERING_MENU);
    surface_show_narrated(g_launcher.notice_deadline, log_narration);
    log_line(LOG_MENU_BY_REQUEST, g_apps.count);
}

void menu_redraw() {
    surface_redraw(g_launcher.notice_deadline);
}

void menu_show_notice() {
    int32_t deadline = ms_after(now_ms(), NOTICE_MS);
    if (deadline == 0) deadline = 1; // 0 means no notice
    g_launcher.notice_deadline = deadline;
    menu_redraw();
}

void menu_clear_notice() {
    g_launcher.notice_deadline = 0;
    menu_redraw();
}

// ---- Apps ----------------------------------------------------------------------------------

void app_launch_selected() {
    const bool taken = surface_take_away_overlay();
    const int32_t i = g_apps.selected;
    if (i >= 0 && i < g_apps.count && i < MAX_APPS &&
        launch_app(g_apps.entries[i], APPS_DIR, STAGING_DIR, &g_running) > 0) {
        enter(UI_APP);
        // The app takes the buttons: no gesture begun before it may act after it.
        if (g_launcher.hold_active) {
            buzzer_stop();
            end_hold();
        }
        return;
    }
    // The overlay was closed for the launch: the menu goes back where it was, or the goggles
    // get everything back when the controller is gone.
    if (taken && !surface_show(g_launcher.mode, g_launcher.notice_deadline)) {
        log_line(surface_for(g_launcher.mode).refused_at_hold);
        goggles_back(Resume::Logged);
    }
}

void app_returned() {
    // However the app ended, killed in the middle of a tone or of a picture, the buzzer is
    // silent and the launcher draws on the page not on screen.
    buzzer_off();
    surface_take_back_from_app();
    const int32_t mode = state_read_mode();
    const Surface& surface = surface_for(mode);
    if (!menu_come_up(mode)) {
        log_line(surface.refused_after_app, mode);
        goggles_back(Resume::Logged);
        return;
    }
    if (surface.shown_after_app != nullptr) log_line(surface.shown_after_app, g_apps.count);
    // The app may have run for hours: the menu takes the buttons again from a service that
    // was restarted meanwhile, and replaces a watchdog that died, so that the service is
    // never left stopped without one.
    pause_goggle_service();
}

int32_t app_stop_by_escape() {
    if (signal_running_app(SIGTERM) != 0) return -1;
    log_line(LOG_APP_STOPPED.c_str(), g_running.name);
    hold_tone_confirm(&g_escape_tone);
    return 0;
}

void app_kill_group() {
    signal_running_app(SIGKILL);
}

// ---- The end -------------------------------------------------------------------------------

void release_for_exit() {
    buzzer_off();
    surface_release_for_exit(g_launcher.ui_state == UI_APP);
    resume_goggle_service();
}
