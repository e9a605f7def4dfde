#pragma once
// Every line the launcher writes to its standard error, in the form it writes it: the
// launcher logs through these, and whoever reads its log (the virtual board's tests, its
// recorder, the web page's glosses) matches against LOG_FORMS rather than copies. The texts
// are in English and Polish, as the goggles' own service logs.

#include "base/ctext.h"
#include "base/screen.h"
#include "base/timings.h"
#include "base/video_modes.h"

// Start-up.
constexpr auto LOG_BOOT_MODE = ctext("boot mode=%d ") + VIDEO_MODE_LEGEND + "\n";
constexpr char LOG_BANNER[] = "VornaX-Launcher v%s started (adc=%d yoff=%d fb=%d)\n";
constexpr char LOG_SCAN_DONE[] = "scan done: %d apps (mode=%d)\n";
constexpr char LOG_NO_ADC[] = "keys: ADC open fail — launcher martwy na wejsciu\n";
constexpr char LOG_NO_BUZZER[] = "beep: brak buzzera — audio-feedback wyciszony\n";

// The framebuffer's open: its own lines, the system errors with their prefixes.
constexpr char LOG_FB_LAYOUT[] = "unexpected fb layout\n";
constexpr auto LOG_FB_NO_THIRD_PAGE =
    ctext("FBIOPUT yvirt=") + decimal_text<VIRTUAL_ROWS>() + " failed errno=%d\n";
constexpr char LOG_ERROR_FB0[] = "fb0";
constexpr char LOG_ERROR_IOCTL[] = "ioctl";
constexpr char LOG_ERROR_MMAP[] = "mmap";

// The video mode's registers, at every mode read.
constexpr char LOG_MODE_REGISTERS[] = "mode: LT8668 B7=0x%02x AD=0x%02x AC=0x%02x\n";

// The PLAY hold.
constexpr char LOG_MENU_REFUSED[] = "menu refused: mode=%d\n";
constexpr char LOG_KEYS_BLOCKED[] = "hold: keys blocked at %ld ms\n";
constexpr char LOG_HOLD_ABORTED[] = "hold aborted (%s, %d ms)\n"; // "release" or "key"
constexpr char LOG_HOLD_ABORTED_RELEASE[] = "release";
constexpr char LOG_HOLD_ABORTED_KEY[] = "key";
constexpr char LOG_CLOSING_HOLD_ABORTED[] = "hold aborted (menu release, %d ms)\n";
constexpr char LOG_HOLD_CANCELLED[] = "hold cancelled: app started mid-hold\n";
constexpr char LOG_MENU_SUPPRESSED[] = "menu suppressed: app running\n";
constexpr char LOG_KEYS_RESUMED[] = "keys resumed\n";

// The menu opening and closing.
constexpr char LOG_MENU_OPEN[] = "menu open (hold play, %d apps)\n";
constexpr char LOG_FB_MENU_REFUSED[] = "fb0 init fail — menu refused\n";
constexpr char LOG_OSD_OPEN[] = "osd menu open (writes=%ld fail=%ld)\n";
constexpr char LOG_MENU_OSD_OPEN[] = "menu OSD open (av, %d apps)\n";
constexpr char LOG_OSD_OPEN_FAIL[] = "osd menu open fail\n";
constexpr auto LOG_MENU_CLOSED =
    ctext("menu closed (hold play ") + seconds_text<HOLD_CLOSE_MS>() + " s)\n";
constexpr char LOG_RENDERING_MENU[] = "rendering menu\n";
constexpr char LOG_MENU_RENDERED[] = "menu rendered, flipping\n";
constexpr char LOG_MENU_BY_REQUEST[] = "menu open via --menu (%d apps)\n";

// Apps: the launch, the end, the escape and the menu's return.
constexpr char LOG_LAUNCHED[] = "launched %s pid=%d\n";
constexpr char LOG_LAUNCH_FAILED[] = "launch failed: %s\n";
constexpr char LOG_CHILD_EXITED[] = "child %s exited\n";
constexpr auto LOG_APP_STOPPED =
    ctext("app %s stopped (hold play ") + seconds_text<ESCAPE_HOLD_MS>() + " s)\n";
constexpr char LOG_MENU_SKIP_AFTER_APP[] = "menu skip po child (mode=%d)\n";
constexpr char LOG_OSD_OPEN_FAIL_AFTER_APP[] = "osd menu open fail po child\n";
constexpr char LOG_MENU_OSD_AFTER_APP[] = "menu OSD open po child (%d apps)\n";

// Every form above as a reader meets it, a system error's line as "PREFIX: %s\n".
constexpr const char* LOG_FORMS[] = {
    LOG_BOOT_MODE.c_str(),
    LOG_BANNER,
    LOG_SCAN_DONE,
    LOG_NO_ADC,
    LOG_NO_BUZZER,
    LOG_FB_LAYOUT,
    LOG_FB_NO_THIRD_PAGE.c_str(),
    "fb0: %s\n",
    "ioctl: %s\n",
    "mmap: %s\n",
    LOG_MODE_REGISTERS,
    LOG_MENU_REFUSED,
    LOG_KEYS_BLOCKED,
    LOG_HOLD_ABORTED,
    LOG_CLOSING_HOLD_ABORTED,
    LOG_HOLD_CANCELLED,
    LOG_MENU_SUPPRESSED,
    LOG_KEYS_RESUMED,
    LOG_MENU_OPEN,
    LOG_FB_MENU_REFUSED,
    LOG_OSD_OPEN,
    LOG_MENU_OSD_OPEN,
    LOG_OSD_OPEN_FAIL,
    LOG_MENU_CLOSED.c_str(),
    LOG_RENDERING_MENU,
    LOG_MENU_RENDERED,
    LOG_MENU_BY_REQUEST,
    LOG_LAUNCHED,
    LOG_LAUNCH_FAILED,
    LOG_CHILD_EXITED,
    LOG_APP_STOPPED.c_str(),
    LOG_MENU_SKIP_AFTER_APP,
    LOG_OSD_OPEN_FAIL_AFTER_APP,
    LOG_MENU_OSD_AFTER_APP,
};
