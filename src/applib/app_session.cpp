// Opening and closing the library, the statuses' texts, and what SIGTERM and SIGINT do.
#include <cstdlib>

#include "applib/app_state.h"
#include "base/video_modes.h"
#include "display/fb.h"
#include "hw/buzzer.h"
#include "hw/keys.h"
#include "hw/osd.h"

AppLib g_app;

namespace {

struct StatusText {
    vx_status status;
    const char* text;
};

constexpr StatusText TEXTS[] = {
    {VX_OK, "ok"},
    {VX_TIMEOUT, "nothing happened within the time given"},
    {VX_QUIT, "asked to end (SIGTERM or SIGINT)"},
    {VX_ERR_NOT_OPEN, "not open: call vx_open() first"},
    {VX_ERR_NO_BUTTONS, "no buttons: the ADC's registers in /dev/mem cannot be mapped"},
    {VX_ERR_NO_FRAMEBUFFER, "no screen: /dev/fb0 is missing or not laid out as the goggles'"},
    {VX_ERR_NO_TRANSPORT, "no overlay: /dev/remote_i2c cannot be opened"},
    {VX_ERR_NO_OVERLAY, "no overlay: the OSD controller does not answer"},
    {VX_ERR_NO_BUZZER, "no buzzer: /sys/class/pwm/pwmchip0 has no usable channel 7"},
    {VX_ERR_IN_NORMAL_MODE, "the goggles are in NORMAL mode: the overlay shows in AV mode only"},
    {VX_ERR_IN_AV_MODE, "the goggles are in AV mode: the screen shows in NORMAL mode only"},
    {VX_ERR_IN_HDMI_MODE, "the goggles are in HDMI mode: neither the screen nor the overlay shows"},
    {VX_ERR_MODE_UNKNOWN, "the video mode cannot be told: the video chip did not answer"},
    {VX_ERR_ARGUMENT, "bad argument: a null pointer, an unknown font or a value out of range"},
};

// Only what is safe in a handler: the tone stops at once, a page of the app's goes, and the
// rest (the overlay's verified blanking) waits for vx_close().
void on_quit(int) {
    g_app.quit = 1;
    buzzer_off();
    if (g_app.screen && fb_is_panned()) fb_restore_from_signal();
}

void close_at_exit() {
    vx_close();
}

} // namespace

vx_status app_mode_status(int32_t now, int32_t wanted) {
    if (now == wanted) return VX_OK;
    switch (now) {
    case MODE_NORMAL:
        return VX_ERR_IN_NORMAL_MODE;
    case MODE_AV:
        return VX_ERR_IN_AV_MODE;
    case MODE_HDMI:
        return VX_ERR_IN_HDMI_MODE;
    default:
        return VX_ERR_MODE_UNKNOWN;
    }
}

extern "C" {

const char* vx_status_text(vx_status status) {
    for (const StatusText& t : TEXTS)
        if (t.status == status) return t.text;
    return "unknown status";
}

vx_status vx_open(void) {
    if (g_app.open) return VX_OK;
    if (keys_open() != 0) return VX_ERR_NO_BUTTONS;
    struct sigaction sa {};
    sa.sa_handler = on_quit;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::atexit(close_at_exit);
    g_app.open = true;
    return VX_OK;
}

vx_status vx_close(void) {
    if (!g_app.open) return VX_ERR_NOT_OPEN;
    buzzer_off();
    if (g_app.overlay) {
        osd_start_budget();
        osd_blank();
        osd_release(osd_out_of_time());
        g_app.overlay = false;
    }
    if (g_app.screen && fb_is_panned()) fb_restore();
    g_app.screen = false;
    return VX_OK;
}

} // extern "C"
