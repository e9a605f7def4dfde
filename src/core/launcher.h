#pragma once
#include <cstdint>

enum UiState : int32_t {
    UI_IDLE = 0,
    UI_MENU = 1,
    UI_APP = 2,
};

constexpr uint32_t POLL_IDLE_US = 40000;
constexpr uint32_t POLL_ACTIVE_US = 30000;
constexpr const char* MENU_ARG = "--menu";

struct LauncherState {
    int32_t mode = 0;
    int32_t ui_state = UI_IDLE;
    // hold_start_ms is a clock reading and may be any value, -1 included, once the 32-bit
    // millisecond count has wrapped; hold_active says whether a hold is in progress.
    int32_t hold_start_ms = -1;
    uint8_t hold_active = 0;
    uint8_t keys_blocked = 0;
    // 0 means no notice; a deadline that lands on 0 is moved to 1.
    int32_t notice_deadline = 0;
    // The UI state the button held now went down in: a release acts in the menu only for a
    // press the menu saw, not for one begun while an app ran and ended under the thumb.
    int32_t pressed_in = UI_IDLE;
};

extern LauncherState g_launcher;

// 1 when the first command-line argument asks for the menu at start-up.
int menu_requested(int argc, const char* const* argv);

// The start-up sequence: 0 when the launcher is up and the loop may start, else the exit
// status (1) of a start-up that failed.
int launcher_start(int argc, const char* const* argv);

// One pass of the polling loop, its sleep included.
void loop_pass();

// What the termination handler gives back before the process ends: the buzzer silenced, the
// overlay's transport closed, the goggles' page on screen unless an app owns the display,
// the goggles' service continued. Only calls safe in a signal handler.
void release_for_exit();

// Start-up and the polling loop; returns only when start-up fails.
int launcher_main(int argc, const char* const* argv);
