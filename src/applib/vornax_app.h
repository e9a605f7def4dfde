/*
 * The VornaX app library: the goggles' buttons, video mode, screen, AV overlay and buzzer for
 * an app the launcher started. One header, for C and C++; link libvornax_app.a.
 *
 * Every call returns a vx_status (vx_status_text() says it in words); nothing allocates and
 * nothing throws. The buttons are read and debounced exactly as the launcher reads them,
 * which keeps sampling them while the app runs: PLAY held 10 s is the wearer's way out and
 * ends the app (SIGTERM, SIGKILL 2 s later).
 *
 *     vx_open();                         buttons; SIGTERM/SIGINT/exit give everything back
 *     vx_screen_open() / vx_overlay_open()   NORMAL mode: a page / AV mode: the text overlay
 *     for (;;) { draw; vx_present(); vx_wait_event(&e, 500) ... until VX_KEY_BACK or VX_QUIT }
 *     vx_close();
 */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum vx_status {
    VX_OK = 0,
    VX_TIMEOUT = 1, /* vx_wait_event: nothing happened within the time given */
    VX_QUIT = 2,    /* SIGTERM or SIGINT came: give back and end */
    VX_ERR_NOT_OPEN = -1,
    VX_ERR_NO_BUTTONS = -2,     /* /dev/mem: the ADC's registers cannot be mapped */
    VX_ERR_NO_FRAMEBUFFER = -3, /* /dev/fb0 missing, or not laid out as the goggles' */
    VX_ERR_NO_TRANSPORT = -4,   /* /dev/remote_i2c cannot be opened */
    VX_ERR_NO_OVERLAY = -5,     /* the OSD controller does not answer */
    VX_ERR_NO_BUZZER = -6,      /* no PWM chip for the buzzer */
    VX_ERR_IN_NORMAL_MODE = -7, /* the overlay shows in AV mode only */
    VX_ERR_IN_AV_MODE = -8,     /* the screen shows in NORMAL mode only */
    VX_ERR_IN_HDMI_MODE = -9,   /* neither shows over HDMI */
    VX_ERR_MODE_UNKNOWN = -10,  /* the video chip did not say */
    VX_ERR_ARGUMENT = -11       /* a null pointer, an unknown font or key, a value out of range */
} vx_status;

const char* vx_status_text(vx_status status);

/* ---- Start and end ----------------------------------------------------------------------- */

/* Maps the buttons and takes SIGTERM and SIGINT: from then on they silence the buzzer at
 * once and make vx_wait_event answer VX_QUIT; exit() and vx_close() give everything back. */
vx_status vx_open(void);
/* Gives back what the app took: the buzzer silenced, the overlay blanked, the goggles' own
 * page panned back on screen. Safe to call twice. */
vx_status vx_close(void);

/* ---- Buttons and the video mode ---------------------------------------------------------- */

enum { VX_KEY_UP = 0, VX_KEY_DOWN = 1, VX_KEY_MIDDLE = 4, VX_KEY_PLAY = 6, VX_KEY_BACK = 7 };
enum { VX_MODE_UNKNOWN = 0, VX_MODE_NORMAL = 1, VX_MODE_HDMI = 2, VX_MODE_AV = 3 };

typedef enum vx_event_type {
    VX_EVENT_PRESS = 1,   /* key went down */
    VX_EVENT_RELEASE = 2, /* key came up after held_ms */
    VX_EVENT_REPEAT = 3,  /* UP or DOWN still held (after 500 ms, then every 150 ms) */
    VX_EVENT_MODE = 4     /* the video mode changed to `mode` */
} vx_event_type;

typedef struct vx_event {
    vx_event_type type;
    int key;         /* VX_KEY_...: press, release, repeat */
    int32_t held_ms; /* release, repeat: how long the key has been down */
    int mode;        /* VX_MODE_...: mode */
} vx_event;

/* Waits up to timeout_ms (0: only what is there already, -1: for ever) for the next event:
 * VX_OK with *event filled, VX_TIMEOUT, or VX_QUIT. The video mode is looked at once a
 * second while waiting. */
vx_status vx_wait_event(vx_event* event, int32_t timeout_ms);
/* The video mode now, VX_MODE_..., in *mode. */
vx_status vx_video_mode(int* mode);

/* ---- The screen, in NORMAL mode ---------------------------------------------------------- */

/* A 1920 x 1080 page of 0xAARRGGBB pixels over the live video: alpha 0 shows the video,
 * 0xFF hides it. Two pages take turns: draw the whole picture, then vx_present() shows it
 * and the next picture is drawn on the other page, which holds an older one. Everything is
 * cut to the screen. */
enum { VX_SCREEN_W = 1920, VX_SCREEN_H = 1080 };
typedef enum vx_font { VX_FONT_SMALL = 0, VX_FONT_MEDIUM = 1, VX_FONT_LARGE = 2 } vx_font;

vx_status vx_screen_open(void);
vx_status vx_clear(uint32_t argb);
vx_status vx_fill(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t argb);
/* One line of text, its first glyph's top-left corner at (x, y), in a 0xRRGGBB colour whose
 * alpha is the glyphs' coverage. A byte outside 32..126 shows as a hollow box. */
vx_status vx_text(vx_font font, int32_t x, int32_t y, uint32_t rgb, const char* text);
/* Its size in pixels: 7 x 12, 13 x 22 or 19 x 31 a character. */
vx_status vx_text_size(vx_font font, const char* text, int32_t* w, int32_t* h);
/* A w x h image of 0xAARRGGBB pixels, `stride` pixels from one row to the next, written as
 * it is (no blending). */
vx_status vx_blit(int32_t x, int32_t y, int32_t w, int32_t h, const uint32_t* argb, int32_t stride);
vx_status vx_present(void);

/* ---- The overlay, in AV mode ------------------------------------------------------------- */

/* 8 rows of 32 characters over the analogue video. The controller knows space, "%./", the
 * digits, ":@" and the capitals: small letters show as capitals, '-' and the rest as a space.
 * Every character written is read back; a controller that stops answering is given up after
 * about a second (VX_ERR_NO_OVERLAY). */
enum { VX_OVERLAY_ROWS = 8, VX_OVERLAY_COLS = 32 };

vx_status vx_overlay_open(void);
/* Text from (row, col) to the row's end at most, shown at once. */
vx_status vx_overlay_text(int row, int col, const char* text);
vx_status vx_overlay_clear(void);

/* ---- The buzzer -------------------------------------------------------------------------- */

enum { VX_TONE_MIN_HZ = 50, VX_TONE_MAX_HZ = 10000, VX_BEEP_MAX_MS = 5000 };

/* Sounds until told otherwise; 0 Hz is silence. */
vx_status vx_tone(uint32_t hz);
/* Sounds for ms, then silence: blocks meanwhile. */
vx_status vx_beep(uint32_t hz, uint32_t ms);
vx_status vx_silence(void);

#ifdef __cplusplus
}
#endif
