#pragma once
#include <cstdint>

// The PLAY-hold gesture: 500 ms takes the buttons from the goggles' service, 1500 ms opens
// the menu, 3000 ms in the menu closes it.

constexpr int32_t HOLD_BLOCK_MS = 500;
constexpr int32_t HOLD_OPEN_MS = 1500;
constexpr int32_t HOLD_PANEL_LAST_MS = 1499;
constexpr int32_t HOLD_CLOSE_MS = 3000;

void hold_on_press(int32_t key);
void hold_on_release(int32_t key, int32_t duration_ms);
// Ends a hold in progress without a word and stops its tone: an app that starts takes the
// buttons, and no gesture begun before it may act after it.
void hold_cancel();
// Every loop pass while a hold is in progress, after that pass's event.
void hold_advance();
// Start-up with "--menu" in NORMAL mode and no app alive.
void open_menu_by_request();
