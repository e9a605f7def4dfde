#include "applib/app_events.h"

#include "base/clock.h"
#include "hw/keys_logic.h"

namespace {

bool repeats(KeyCode key) {
    return key == KEY_UP || key == KEY_DOWN;
}

} // namespace

bool app_events_take(AppEvents* e, int32_t value, int32_t duration_ms, int32_t now_ms,
                     vx_event* out) {
    const KeyEvent k = key_event_decode(value, duration_ms);
    if (k.action == KeyAction::None) return false;
    if (k.action == KeyAction::Press) {
        // A slide from one button to another presses the new one: the old one's repeats end.
        e->held_key = repeats(k.key) ? k.key : -1;
        e->pressed_ms = now_ms;
        e->next_repeat_ms = ms_after(now_ms, APP_REPEAT_DELAY_MS);
        *out = vx_event{VX_EVENT_PRESS, k.key, 0, 0};
        return true;
    }
    e->held_key = -1;
    *out = vx_event{VX_EVENT_RELEASE, k.key, k.duration_ms, 0};
    return true;
}

bool app_events_repeat(AppEvents* e, int32_t now_ms, vx_event* out) {
    if (e->held_key < 0 || ms_elapsed(now_ms, e->next_repeat_ms) < 0) return false;
    // From now rather than from when it was due: an app that was busy gets one repeat, not a
    // burst of the ones it missed.
    e->next_repeat_ms = ms_after(now_ms, APP_REPEAT_EVERY_MS);
    *out = vx_event{VX_EVENT_REPEAT, e->held_key, ms_elapsed(now_ms, e->pressed_ms), 0};
    return true;
}
