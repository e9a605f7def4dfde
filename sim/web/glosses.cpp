#include "web/glosses.h"

#include "base/log_lines.h"

namespace vxweb {
namespace {

using enum Told;

const Gloss GLOSSES[] = {
    {LOG_BANNER, "the launcher is up", Log},
    {LOG_BOOT_MODE.c_str(), "the video mode read at start", Log},
    {LOG_MODE_REGISTERS, "the video input's registers as read", Log},
    {LOG_SCAN_DONE, "{1} app(s) listed from the app directory", Log},
    {LOG_NO_ADC, "no buttons: the launcher cannot start", Warning},
    {LOG_NO_BUZZER, "no buzzer", Warning},
    {LOG_FB_LAYOUT, "the framebuffer is not laid out as the goggles' is", Warning},
    {LOG_FB_NO_THIRD_PAGE.c_str(), "the framebuffer gave no third page", Log},
    {LOG_KEYS_BLOCKED, "the goggles' service paused", Log},
    {LOG_CLOSING_HOLD_ABORTED, "PLAY let go: the hold in the menu did not close it", Log},
    {LOG_HOLD_ABORTED, "PLAY let go before the menu opened; the service runs again", Log},
    {LOG_HOLD_CANCELLED, "an app started during the hold", Log},
    {LOG_MENU_SUPPRESSED, "an app runs: no menu until it ends", Warning},
    {LOG_MENU_REFUSED,
     "no menu in {mode 1} mode: the launcher shows its menu only in NORMAL and AV", Warning},
    {LOG_FB_MENU_REFUSED, "no framebuffer: no menu", Warning},
    {LOG_OSD_OPEN_FAIL_AFTER_APP, "the app ended; the overlay did not answer, no menu", Warning},
    {LOG_OSD_OPEN_FAIL, "the OSD controller did not answer: no overlay menu", Warning},
    {LOG_OSD_OPEN, "the overlay's cells written", Log},
    {LOG_MENU_OSD_AFTER_APP, "the app ended; the overlay menu is back", Log},
    {LOG_MENU_OSD_OPEN, "the menu is open on the AV overlay", Log},
    {LOG_MENU_BY_REQUEST, "the menu opened at start (--menu)", Log},
    {LOG_MENU_OPEN, "the menu is open", Log},
    {LOG_RENDERING_MENU, "drawing the menu", Log},
    {LOG_MENU_RENDERED, "drawing the menu", Log},
    {LOG_MENU_CLOSED.c_str(), "the menu closed; the goggles have their page and buttons back", Log},
    {LOG_MENU_SKIP_AFTER_APP, "the app ended; no menu in this mode", Warning},
    {LOG_KEYS_RESUMED, "the goggles' service has its buttons back", Log},
    {LOG_LAUNCHED, "app {1} started", Event},
    {LOG_LAUNCH_FAILED, "app {1} could not be started", Warning},
    {LOG_CHILD_EXITED, "app {1} ended; the launcher collected it", Log},
};

} // namespace

const Gloss* gloss_of(std::string_view form) {
    for (const Gloss& g : GLOSSES)
        if (g.form == form) return &g;
    return nullptr;
}

} // namespace vxweb
