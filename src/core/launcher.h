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
};

extern LauncherState g_launcher;

// 1 when the first command-line argument asks for the menu at start-up.
int menu_requested(int argc, const char* const* argv);

// Start-up and the polling loop; returns only when start-up fails.
int launcher_main(int argc, const char* const* argv);
