#include "core/launcher.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "apps/catalog.h"
#include "apps/running.h"
#include "apps/service.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/version.h"
#include "core/escape.h"
#include "core/hold.h"
#include "core/menu_nav.h"
#include "core/surface.h"
#include "display/fb.h"
#include "hw/buzzer.h"
#include "hw/keys.h"
#include "hw/osd.h"
#include "hw/remote_i2c.h"
#include "hw/video_mode.h"

LauncherState g_launcher;

namespace {

constexpr const char* BANNER = "VornaX-Launcher v%s started (adc=%d yoff=%d fb=%d)\n";

// Runs on top of whatever the loop was doing and ends the process at once, without exit
// handlers: nothing here may depend on state the loop was in the middle of changing.
void on_terminate(int) {
    release_for_exit();
    _exit(0);
}

void handle_key_event(int32_t event, int32_t duration_ms) {
    if (event > 0) {
        g_launcher.pressed_in = g_launcher.ui_state;
        hold_on_press(event - 1);
        escape_on_press(event - 1);
        return;
    }
    const int32_t key = ~event;
    hold_on_release(key, duration_ms);
    nav_on_release(key, duration_ms);
    escape_on_release();
}

} // namespace

void release_for_exit() {
    buzzer_off();
    // The overlay's text stays as it is: blanking it takes verified writes, not a handler.
    if (g_osd.fd >= 0) remote_i2c_close(g_osd.fd);
    // Whatever launcher page is on screen, the menu or the progress panel of a hold, goes
    // with the launcher; an app's own picture stays.
    if (g_launcher.ui_state != UI_APP && fb_is_open() && fb_is_panned()) fb_restore_from_signal();
    resume_goggle_service();
}

void loop_pass() {
    int32_t duration_ms = 0;
    const int32_t event = keys_poll(&duration_ms);
    if (event != 0) handle_key_event(event, duration_ms);
    if (g_launcher.hold_active) hold_advance();
    // An app that ended by itself is collected before the escape looks at it: it is not
    // signalled in the pass where PLAY happens to reach the escape's length.
    if (g_launcher.ui_state == UI_APP && g_running.pid >= 1 && !escape_holds_reap() &&
        reap_running_app())
        return_from_app();
    escape_advance();
    if (g_launcher.ui_state == UI_MENU && !surface_is_overlay() && g_launcher.notice_deadline != 0)
        notice_expire();
    sleep_us(g_launcher.ui_state == UI_IDLE ? POLL_IDLE_US : POLL_ACTIVE_US);
}

int menu_requested(int argc, const char* const* argv) {
    return argc > 1 && argv[1] != nullptr && std::strcmp(argv[1], MENU_ARG) == 0 ? 1 : 0;
}

int launcher_start(int argc, const char* const* argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const int want_menu = menu_requested(argc, argv);

    g_launcher.mode = video_mode_read();
    log_line("boot mode=%d (0=? 1=NORMAL 2=HDMI 3=AV)\n", g_launcher.mode);
    // In AV mode the menu lives on the OSD; the framebuffer is opened only when first needed.
    if (g_launcher.mode != MODE_AV && fb_open() != 0) return 1;

    signal(SIGTERM, on_terminate);
    signal(SIGINT, on_terminate);
    signal(SIGCHLD, SIG_DFL);

    if (keys_open() < 0) {
        log_line("keys: ADC open fail — launcher martwy na wejsciu\n");
        return 1;
    }
    if (buzzer_open() < 0) log_line("beep: brak buzzera — audio-feedback wyciszony\n");
    log_line(BANNER, VERSION, keys_ready(), fb_boot_yoffset(), fb_ready());
    scan_apps(g_launcher.mode);
    log_line("scan done: %d apps (mode=%d)\n", g_apps.count, g_launcher.mode);
    if (want_menu && !any_app_running() && g_launcher.mode == MODE_NORMAL) open_menu_by_request();
    return 0;
}

int launcher_main(int argc, const char* const* argv) {
    if (const int status = launcher_start(argc, argv)) return status;
    for (;;)
        loop_pass();
}
