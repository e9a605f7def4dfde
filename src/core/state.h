#pragma once
#include <cstdint>

// The launcher's state and every transition between its states, each with its effects in the
// order the launcher promises them: the tones, the goggles' service, the surface, the log.
// The handlers above (the hold, the taps, the escape) decide when; only this module changes
// the state and acts on the goggles.
//
//   UI_IDLE --PLAY held 1.5 s--> UI_MENU --MIDDLE--> UI_APP --app ends--> UI_MENU
//   UI_MENU --PLAY held 3 s--> UI_IDLE; a hold or a return that cannot show the menu: UI_IDLE

enum UiState : int32_t {
    UI_IDLE = 0,
    UI_MENU = 1,
    UI_APP = 2,
};

struct LauncherState {
    int32_t mode = 0; // VideoMode of the last read
    UiState ui_state = UI_IDLE;
    // hold_start_ms is a clock reading and may be any value, -1 included, once the 32-bit
    // millisecond count has wrapped; hold_active says whether a hold is in progress.
    int32_t hold_start_ms = -1;
    bool hold_active = false;
    bool keys_blocked = false; // the goggles' service was stopped by this hold
    // 0 means no notice; a deadline that lands on 0 is moved to 1.
    int32_t notice_deadline = 0;
    // The button held now went down in UI_MENU, and the state has not changed since: only
    // then does its release act in the menu.
    bool press_in_menu = false;
};

extern LauncherState g_launcher;

// A button went down: remembered for its release.
void state_note_press();
// Reads the video mode and keeps it: the mode now.
int32_t state_read_mode();

// ---- The PLAY hold -------------------------------------------------------------------------

// Starts a hold: an opening one in UI_IDLE, a closing one in UI_MENU.
void hold_begin();
// PLAY went down in UI_IDLE with no app alive: an opening hold, when the video mode read now
// has a surface for the menu; otherwise the menu is refused.
void hold_begin_opening();
// The hold's rising tone, `elapsed_ms` into it.
void hold_sound(int32_t elapsed_ms);
// The opening hold has lasted `elapsed_ms` past HOLD_BLOCK_MS: the buttons are taken from the
// goggles' service.
void hold_take_buttons(int32_t elapsed_ms);
// The opening hold's progress panel; false when the framebuffer cannot be had.
bool hold_show_progress(int32_t elapsed_ms);
// The opening hold ends early ("release" or "key"), or an app came up under it (cancelled
// before the menu, suppressed at it): the goggles get back what the hold took.
void hold_abort(const char* reason, int32_t held_ms);
void hold_cancel_for_app();
void hold_suppress_for_app();
// The closing hold ends before the menu closes; the menu stays.
void hold_end_in_menu(int32_t held_ms);

// ---- The menu ------------------------------------------------------------------------------

// The opening hold reached HOLD_OPEN_MS: the menu for the mode read at the press, or the
// goggles back when its surface cannot be had.
void menu_open_by_hold();
// The closing hold reached HOLD_CLOSE_MS.
void menu_close();
// Start-up with "--menu" in NORMAL mode and no app alive.
void menu_open_by_request();
// The selection or the notice changed.
void menu_redraw();
// A refused start: the notice for NOTICE_MS from now, and its end.
void menu_show_notice();
void menu_clear_notice();

// ---- Apps ----------------------------------------------------------------------------------

// Starts the selected entry; UI_APP when it runs. A failed launch leaves the menu as it was,
// put back on the overlay it was taken from, or gives the goggles back without one.
void app_launch_selected();
// The app has been collected: the menu comes back on the surface the mode now calls for,
// or the goggles get everything back.
void app_returned();
// The escape: SIGTERM to the app's group, said and beeped; 0, or -1 when nothing was sent.
int32_t app_stop_by_escape();
void app_kill_group();

// What the termination handler gives back before the process ends: the buzzer silenced, the
// overlay's transport closed, the goggles' page on screen unless an app owns the display,
// the goggles' service continued. Only calls safe in a signal handler.
void release_for_exit();
