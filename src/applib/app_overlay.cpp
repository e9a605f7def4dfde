// The app's text on the AV overlay: the launcher's verified writes and its bounds.
#include "applib/app_state.h"
#include "base/video_modes.h"
#include "hw/osd.h"
#include "hw/video_mode.h"

namespace {

vx_status writing() {
    if (!g_app.open) return VX_ERR_NOT_OPEN;
    return g_app.overlay ? VX_OK : VX_ERR_NO_OVERLAY;
}

// A controller that ran out of time for one call has stopped answering: it is let go.
vx_status finish() {
    if (!osd_out_of_time()) return VX_OK;
    osd_release(true);
    g_app.overlay = false;
    return VX_ERR_NO_OVERLAY;
}

} // namespace

extern "C" {

vx_status vx_overlay_open(void) {
    if (!g_app.open) return VX_ERR_NOT_OPEN;
    if (g_app.overlay) return VX_OK;
    const vx_status mode = app_mode_status(video_mode_read_quietly(), MODE_AV);
    if (mode != VX_OK) return mode;
    switch (osd_start()) {
    case OsdStart::NoTransport:
        return VX_ERR_NO_TRANSPORT;
    case OsdStart::Silent:
        return VX_ERR_NO_OVERLAY;
    case OsdStart::Ready:
        break;
    }
    g_app.overlay = true;
    if (const vx_status s = finish(); s != VX_OK) return s;
    osd_commit();
    osd_enable(1);
    return VX_OK;
}

vx_status vx_overlay_text(int row, int col, const char* text) {
    if (const vx_status s = writing(); s != VX_OK) return s;
    if (text == nullptr || row < 0 || row >= OSD_GRID_ROWS || col < 0 || col >= OSD_GRID_COLS)
        return VX_ERR_ARGUMENT;
    char shown[OSD_GRID_COLS + 1];
    int n = 0;
    for (; text[n] != '\0' && col + n < OSD_GRID_COLS; ++n)
        shown[n] = osd_map_char(text[n]);
    shown[n] = '\0';
    osd_start_budget();
    osd_put_text(row, col, shown);
    osd_commit();
    return finish();
}

vx_status vx_overlay_clear(void) {
    if (const vx_status s = writing(); s != VX_OK) return s;
    osd_start_budget();
    osd_blank();
    return finish();
}

} // extern "C"
