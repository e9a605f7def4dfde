// The buttons as events, and the video mode watched while the app waits for them.
#include "applib/app_state.h"
#include "base/clock.h"
#include "hw/keys.h"
#include "hw/video_mode.h"

namespace {

constexpr uint32_t POLL_US = 10000;          // between two samples of the buttons
constexpr int32_t MODE_LOOK_EVERY_MS = 1000; // reading the video chip costs a few transfers

// A change of the video mode since it was last looked at, at most once a MODE_LOOK_EVERY_MS.
bool mode_changed(int32_t now, vx_event* out) {
    if (g_app.mode >= 0 && ms_elapsed(now, g_app.mode_seen_ms) < MODE_LOOK_EVERY_MS) return false;
    const int32_t mode = video_mode_read_quietly();
    const bool changed = g_app.mode >= 0 && mode != g_app.mode;
    g_app.mode = mode;
    g_app.mode_seen_ms = now;
    if (changed) *out = vx_event{VX_EVENT_MODE, -1, 0, mode};
    return changed;
}

bool next_event(vx_event* out) {
    int32_t duration_ms = 0;
    const int32_t value = keys_poll(&duration_ms);
    const int32_t now = now_ms();
    return app_events_take(&g_app.events, value, duration_ms, now, out) ||
           app_events_repeat(&g_app.events, now, out) || mode_changed(now, out);
}

} // namespace

extern "C" {

vx_status vx_wait_event(vx_event* event, int32_t timeout_ms) {
    if (!g_app.open) return VX_ERR_NOT_OPEN;
    if (event == nullptr || timeout_ms < -1) return VX_ERR_ARGUMENT;
    const int32_t start = now_ms();
    for (;;) {
        if (g_app.quit) return VX_QUIT;
        if (next_event(event)) return VX_OK;
        if (timeout_ms >= 0 && ms_elapsed(now_ms(), start) >= timeout_ms) return VX_TIMEOUT;
        sleep_us(POLL_US);
    }
}

vx_status vx_video_mode(int* mode) {
    if (mode == nullptr) return VX_ERR_ARGUMENT;
    *mode = video_mode_read_quietly();
    return VX_OK;
}

} // extern "C"
