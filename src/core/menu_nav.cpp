#include "core/menu_nav.h"

#include "apps/catalogue.h"
#include "apps/selection.h"
#include "base/clock.h"
#include "base/timings.h"
#include "core/state.h"
#include "core/surface.h"

namespace {

// On the overlay the selection moves among the entries it lists; on the framebuffer over all.
void move_selection(int32_t step) {
    if (surface_shown().lists_allowed_only)
        select_step_allowed(&g_apps, step);
    else
        select_step(&g_apps, step);
    menu_redraw();
}

void select_previous() {
    move_selection(-1);
}

void select_next() {
    move_selection(1);
}

// The mode of the last scan decides: the launcher does not read it again before a start.
void start_selected() {
    if (g_apps.count < 1) return;
    if (g_apps.entries[g_apps.selected].allowed)
        app_launch_selected();
    else if (surface_shown().shows_notice)
        menu_show_notice();
}

struct TapBinding {
    KeyCode key;
    void (*act)();
};

constexpr TapBinding TAPS[] = {
    {KEY_UP, select_previous},
    {KEY_DOWN, select_next},
    {KEY_MIDDLE, start_selected},
};

} // namespace

void nav_on_release(KeyCode key, int32_t duration_ms) {
    if (!g_launcher.press_in_menu || duration_ms > TAP_MAX_MS) return;
    for (const TapBinding& tap : TAPS)
        if (tap.key == key) tap.act();
}

void notice_expire() {
    if (ms_elapsed(now_ms(), g_launcher.notice_deadline) >= 0) menu_clear_notice();
}
