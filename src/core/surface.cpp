#include "core/surface.h"

#include "apps/catalogue.h"
#include "base/clock.h"
#include "base/log_lines.h"
#include "base/video_modes.h"
#include "display/fb.h"
#include "display/hold_panel.h"
#include "display/menu.h"
#include "hw/osd_menu.h"
#include "hw/remote_i2c.h"

namespace {

// clang-format off
constexpr Surface NONE{
    .kind = SurfaceKind::None, .lists_allowed_only = false, .shows_notice = false,
    .shows_hold_progress = false, .opened_by_hold = nullptr, .refused_at_hold = nullptr,
    .says_keys_resumed = false, .shown_after_app = nullptr,
    .refused_after_app = LOG_MENU_SKIP_AFTER_APP};
constexpr Surface FRAMEBUFFER{
    .kind = SurfaceKind::Framebuffer, .lists_allowed_only = false, .shows_notice = true,
    .shows_hold_progress = true, .opened_by_hold = LOG_MENU_OPEN,
    .refused_at_hold = LOG_FB_MENU_REFUSED, .says_keys_resumed = false,
    .shown_after_app = nullptr, .refused_after_app = LOG_MENU_SKIP_AFTER_APP};
constexpr Surface OVERLAY{
    .kind = SurfaceKind::Overlay, .lists_allowed_only = true, .shows_notice = false,
    .shows_hold_progress = false, .opened_by_hold = LOG_MENU_OSD_OPEN,
    .refused_at_hold = LOG_OSD_OPEN_FAIL, .says_keys_resumed = true,
    .shown_after_app = LOG_MENU_OSD_AFTER_APP, .refused_after_app = LOG_OSD_OPEN_FAIL_AFTER_APP};
// clang-format on

bool framebuffer_ready() {
    return fb_is_open() || fb_open() == 0;
}

// One framebuffer menu picture: the back page, drawn whole, panned on screen.
void menu_frame(int32_t notice_deadline, void (*before_present)()) {
    // The menu paints every pixel of the canvas: the page need not be cleared first.
    fb_begin_frame_no_clear();
    render_menu(fb_canvas(), g_apps, notice_deadline, now_ms);
    if (before_present != nullptr) before_present();
    fb_present();
}

} // namespace

const Surface& surface_for(int32_t mode) {
    if (mode == MODE_NORMAL) return FRAMEBUFFER;
    if (mode == MODE_AV) return OVERLAY;
    return NONE;
}

const Surface& surface_shown() {
    return g_osd.active ? OVERLAY : FRAMEBUFFER;
}

bool surface_open_at_start(int32_t mode) {
    // In AV mode the menu lives on the overlay: the framebuffer is opened only when needed.
    return surface_for(mode).kind == SurfaceKind::Overlay || fb_open() == 0;
}

bool surface_prepare(int32_t mode) {
    switch (surface_for(mode).kind) {
    case SurfaceKind::Overlay:
        return true;
    case SurfaceKind::Framebuffer:
        return framebuffer_ready();
    case SurfaceKind::None:
        break;
    }
    return false;
}

bool surface_show(int32_t mode, int32_t notice_deadline) {
    if (!surface_prepare(mode)) return false;
    if (surface_for(mode).kind == SurfaceKind::Overlay) return osd_menu_open() == 0;
    menu_frame(notice_deadline, nullptr);
    return true;
}

void surface_show_narrated(int32_t notice_deadline, void (*before_present)()) {
    menu_frame(notice_deadline, before_present);
}

void surface_redraw(int32_t notice_deadline) {
    if (surface_shown().kind == SurfaceKind::Overlay) {
        osd_menu_draw(0);
        return;
    }
    // After a failed launch from the overlay in AV mode the framebuffer may never have been
    // opened: a page that is not mapped is never drawn.
    if (framebuffer_ready()) menu_frame(notice_deadline, nullptr);
}

bool surface_show_hold_progress(int32_t elapsed_ms) {
    if (!framebuffer_ready()) return false;
    fb_begin_frame();
    draw_hold_panel(fb_canvas(), elapsed_ms);
    fb_present();
    return true;
}

bool surface_take_away_overlay() {
    if (!g_osd.active) return false;
    osd_menu_close();
    return true;
}

void surface_take_away_page() {
    if (fb_is_open() && fb_is_panned()) fb_restore();
}

void surface_take_back_from_app() {
    if (!fb_is_open()) return;
    fb_follow_screen();
    fb_clear_beyond_canvas();
}

void surface_release_for_exit(bool app_owns_display) {
    // The overlay's text stays as it is: blanking it takes verified writes, not a handler.
    if (g_osd.fd >= 0) remote_i2c_close(g_osd.fd);
    // Whatever launcher page is on screen, the menu or the progress panel of a hold, goes
    // with the launcher; an app's own picture stays.
    if (!app_owns_display && fb_is_open() && fb_is_panned()) fb_restore_from_signal();
}
