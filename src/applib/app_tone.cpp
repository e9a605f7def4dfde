// The buzzer: the launcher's PWM writes, in the order the kernel's PWM core accepts.
#include "applib/app_state.h"
#include "base/clock.h"
#include "hw/buzzer.h"

namespace {

vx_status ready() {
    if (!g_app.open) return VX_ERR_NOT_OPEN;
    if (!g_buzzer.available && buzzer_open() != 0) return VX_ERR_NO_BUZZER;
    return VX_OK;
}

} // namespace

extern "C" {

vx_status vx_tone(uint32_t hz) {
    if (const vx_status s = ready(); s != VX_OK) return s;
    if (hz == 0) return vx_silence();
    if (hz < VX_TONE_MIN_HZ || hz > VX_TONE_MAX_HZ) return VX_ERR_ARGUMENT;
    if (g_app.quit) return VX_QUIT; // the handler silenced it: it stays so
    buzzer_tone(hz);
    return VX_OK;
}

vx_status vx_beep(uint32_t hz, uint32_t ms) {
    if (ms > VX_BEEP_MAX_MS || hz == 0) return VX_ERR_ARGUMENT;
    if (const vx_status s = vx_tone(hz); s != VX_OK) return s;
    sleep_us(ms * 1000);
    return vx_silence();
}

vx_status vx_silence(void) {
    if (!g_app.open) return VX_ERR_NOT_OPEN;
    buzzer_off();
    return VX_OK;
}

} // extern "C"
