#include "core/escape.h"

#include <csignal>

#include "apps/running.h"
#include "base/clock.h"
#include "base/timings.h"
#include "core/state.h"

namespace {

struct Escape {
    bool held = false; // PLAY pressed while the app runs, not let go since
    int32_t pressed_ms = 0;
    int32_t stopped_pid = -1; // the app signalled, until it is reaped or killed
    int32_t stopped_ms = 0;
};

Escape g_escape;

} // namespace

void escape_on_press(KeyCode key) {
    // Another button's press means PLAY is no longer held: the ADC reads one at a time.
    g_escape.held = key == KEY_PLAY;
    g_escape.pressed_ms = now_ms();
}

void escape_on_release(KeyCode, int32_t) {
    g_escape.held = false;
}

bool escape_holds_reap() {
    if (g_escape.stopped_pid < 1 || g_escape.stopped_pid != g_running.pid) return false;
    return running_app_ended() && running_app_group_lingers(PROC_DIR);
}

void escape_advance() {
    // Nothing carries over from one app to the next: a later one may even have the same pid.
    if (g_launcher.ui_state != UI_APP) {
        g_escape = Escape{};
        return;
    }
    const int32_t now = now_ms();
    if (g_escape.stopped_pid >= 1) {
        // Reaped once its group was empty (or another app started since): nothing to kill.
        if (g_running.pid != g_escape.stopped_pid) {
            g_escape.stopped_pid = -1;
        } else if (ms_elapsed(now, g_escape.stopped_ms) >= ESCAPE_KILL_AFTER_MS) {
            app_kill_group();
            g_escape.stopped_pid = -1;
        }
        return;
    }
    if (!g_escape.held || ms_elapsed(now, g_escape.pressed_ms) < ESCAPE_HOLD_MS) return;
    g_escape.held = false; // once per press
    const int32_t pid = g_running.pid;
    if (app_stop_by_escape() != 0) return;
    g_escape.stopped_pid = pid;
    g_escape.stopped_ms = now;
}
