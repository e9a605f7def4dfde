#pragma once
#include <cstdint>

#include "hw/keys_logic.h"

// The PLAY-hold gesture: HOLD_BLOCK_MS takes the buttons from the goggles' service,
// HOLD_OPEN_MS opens the menu, HOLD_CLOSE_MS in the menu closes it. A hold begun in UI_IDLE
// is an opening hold, one begun in UI_MENU a closing hold. These decide; the state module
// carries out.

// The key events of a pass, by the state they arrive in (idle or the menu).
void hold_on_press_idle(KeyCode key);
void hold_on_release_idle(KeyCode key, int32_t duration_ms);
void hold_on_press_menu(KeyCode key);
void hold_on_release_menu(KeyCode key, int32_t duration_ms);
// Every loop pass while a hold is in progress, after that pass's event.
void hold_advance();
