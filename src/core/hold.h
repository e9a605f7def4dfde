#pragma once
#include <cstdint>

#include "base/gesture.h"

// The PLAY-hold gesture: HOLD_BLOCK_MS takes the buttons from the goggles' service,
// HOLD_OPEN_MS opens the menu, HOLD_CLOSE_MS in the menu closes it. A hold begun in
// UI_IDLE is an opening hold, one begun in UI_MENU a closing hold.

// The key events of a pass, before menu navigation sees a release.
void hold_on_press(int32_t key);
void hold_on_release(int32_t key, int32_t duration_ms);
// Every loop pass while a hold is in progress, after that pass's event.
void hold_advance();
// Ends a hold in progress without a word and stops its tone: an app that starts takes the
// buttons, and no gesture begun before it may act after it.
void hold_cancel();
// Start-up with "--menu" in NORMAL mode and no app alive.
void open_menu_by_request();
