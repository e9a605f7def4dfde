#pragma once
#include <cstdint>

#include "hw/keys_logic.h"

// The way out of an app that hangs: while an app runs, a PLAY press that stays the button held
// for ESCAPE_HOLD_MS ends it (SIGTERM to its process group, SIGKILL ESCAPE_KILL_AFTER_MS later
// to whatever of the group is still there), with one confirmation beep. Any shorter press
// stays the app's own: nothing sounds, nothing is logged. Its end is reaped as any other and
// the menu comes back.

// The key events of a pass while an app runs.
void escape_on_press(KeyCode key);
void escape_on_release(KeyCode key, int32_t duration_ms);
// Every loop pass, after the app's end has been looked for.
void escape_advance();
// Once signalled, the app is collected only when nothing of its group is left alive or the
// group has had its SIGKILL: a wrapper that died of the SIGTERM stays uncollected meanwhile,
// so that its pid, the group's number, stays the app's until the kill.
bool escape_holds_reap();
