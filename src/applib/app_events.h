#pragma once
#include <cstdint>

#include "applib/vornax_app.h"

// What an app hears of its buttons: the launcher's press and release events, and for UP and
// DOWN, which scroll lists, repeats while they stay down. Pure: fed the key reader's values
// and the clock, it is tested from tables.

constexpr int32_t APP_REPEAT_DELAY_MS = 500; // the first repeat after the press
constexpr int32_t APP_REPEAT_EVERY_MS = 150; // and the next ones

struct AppEvents {
    int32_t held_key = -1; // repeating key down, or -1
    int32_t pressed_ms = 0;
    int32_t next_repeat_ms = 0;
};

// One value of keys_poll (0, a press k + 1, a release ~k) with its duration, at `now_ms`:
// true with *out filled when it is an event.
bool app_events_take(AppEvents* e, int32_t value, int32_t duration_ms, int32_t now_ms,
                     vx_event* out);
// A repeat that is due at `now_ms`: true with *out filled.
bool app_events_repeat(AppEvents* e, int32_t now_ms, vx_event* out);
