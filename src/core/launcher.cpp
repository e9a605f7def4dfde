#include "core/launcher.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "apps/catalogue.h"
#include "apps/running.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/log_lines.h"
#include "base/timings.h"
#include "base/version.h"
#include "core/escape.h"
#include "core/hold.h"
#include "core/menu_nav.h"
#include "core/state.h"
#include "core/surface.h"
#include "display/fb.h"
#include "hw/buzzer.h"
#include "hw/keys.h"

namespace {

constexpr char MENU_ARG[] = "--menu";

// Runs on top of whatever the loop was doing and ends the process at once, without exit
// handlers: nothing here may depend on state the loop was in the middle of changing.
void on_terminate(int) {
    release_for_exit();
    _exit(0);
}

// In the menu a release ends a closing hold, and a tap navigates.
void menu_release(KeyCode key, int32_t duration_ms) {
    hold_on_release_menu(key, duration_ms);
    nav_on_release(key, duration_ms);
}

// Who hears a key event, by the state it arrives in.
struct KeyHandlers {
    void (*press)(KeyCode key);
    void (*release)(KeyCode key, int32_t duration_ms);
};
constexpr KeyHandlers HANDLERS[] = {
    /* UI_IDLE */ {hold_on_press_idle, hold_on_release_idle},
    /* UI_MENU */ {hold_on_press_menu, menu_release},
    /* UI_APP  */ {escape_on_press, escape_on_release},
};
static_assert(sizeof HANDLERS / sizeof HANDLERS[0] == UI_APP + 1);

void handle_key_event(const KeyEvent& event) {
    const KeyHandlers& to = HANDLERS[g_launcher.ui_state];
    if (event.action == KeyAction::Press) {
        state_note_press();
        to.press(event.key);
    } else if (event.action == KeyAction::Release) {
        to.release(event.key, event.duration_ms);
    }
}

} // namespace

void loop_pass() {
    int32_t duration_ms = 0;
    const int32_t value = keys_poll(&duration_ms);
    handle_key_event(key_event_decode(value, duration_ms));
    if (g_launcher.hold_active) hold_advance();
    // An app that ended by itself is collected before the escape looks at it: it is not
    // signalled in the pass where PLAY happens to reach the escape's length.
    if (g_launcher.ui_state == UI_APP && g_running.pid >= 1 && !escape_holds_reap() &&
        reap_running_app())
        app_returned();
    escape_advance();
    if (g_launcher.ui_state == UI_MENU && surface_shown().shows_notice &&
        g_launcher.notice_deadline != 0)
        notice_expire();
    sleep_us(g_launcher.ui_state == UI_IDLE ? POLL_IDLE_US : POLL_ACTIVE_US);
}

int menu_requested(int argc, const char* const* argv) {
    return argc > 1 && argv[1] != nullptr && std::strcmp(argv[1], MENU_ARG) == 0 ? 1 : 0;
}

int launcher_start(int argc, const char* const* argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const int want_menu = menu_requested(argc, argv);

    const int32_t mode = state_read_mode();
    log_line(LOG_BOOT_MODE.c_str(), mode);
    if (!surface_open_at_start(mode)) return 1;

    signal(SIGTERM, on_terminate);
    signal(SIGINT, on_terminate);
    signal(SIGCHLD, SIG_DFL);

    if (keys_open() < 0) {
        log_line(LOG_NO_ADC);
        return 1;
    }
    if (buzzer_open() < 0) log_line(LOG_NO_BUZZER);
    log_line(LOG_BANNER, VERSION, keys_ready(), fb_boot_yoffset(), fb_ready());
    scan_apps(mode);
    log_line(LOG_SCAN_DONE, g_apps.count, mode);
    if (want_menu && !any_app_running() && surface_for(mode).kind == SurfaceKind::Framebuffer)
        menu_open_by_request();
    return 0;
}

int launcher_main(int argc, const char* const* argv) {
    if (const int status = launcher_start(argc, argv)) return status;
    for (;;)
        loop_pass();
}
