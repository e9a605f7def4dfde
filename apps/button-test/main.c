/* Shows each button as it goes down and how long it was held, with a tone of its own while
 * it is down: on the screen in NORMAL mode, on the overlay in AV mode. BACK's release ends it,
 * as does the launcher's SIGTERM. */
#include <stdio.h>

#include "vornax_app.h"

struct button {
    int key;
    const char* name;
    uint32_t hz; /* its tone while held */
    int row;     /* its line, on the screen and on the overlay */
};

static const struct button BUTTONS[] = {
    {VX_KEY_UP, "UP", 880, 2},     {VX_KEY_DOWN, "DOWN", 660, 3}, {VX_KEY_MIDDLE, "MIDDLE", 990, 4},
    {VX_KEY_PLAY, "PLAY", 523, 5}, {VX_KEY_BACK, "BACK", 440, 6},
};
enum { BUTTON_COUNT = sizeof BUTTONS / sizeof BUTTONS[0], LINE_BYTES = 32 };

static int on_screen;                        /* 1: the screen, 0: the overlay */
static char lines[BUTTON_COUNT][LINE_BYTES]; /* what each button's line says now */

static int fail(const char* what, vx_status s) {
    fprintf(stderr, "button-test: %s: %s\n", what, vx_status_text(s));
    return 1;
}

/* The whole picture: the screen's two pages take turns, so every picture is drawn whole. */
static void draw_screen(void) {
    vx_clear(0x00000000u);
    vx_fill(600, 300, 720, 470, 0xC0203040u);
    vx_text(VX_FONT_LARGE, 620, 310, 0xFF47A5u, "BUTTON TEST");
    for (int i = 0; i < BUTTON_COUNT; ++i)
        vx_text(VX_FONT_MEDIUM, 620, 300 + 60 * BUTTONS[i].row, 0xFFFFFFu, lines[i]);
    vx_text(VX_FONT_SMALL, 620, 740, 0x9AC8F8u, "BACK = exit");
    vx_present();
}

/* Button i's line says `state`: on the overlay or the screen, then in the log. */
static void show(int i, const char* state) {
    snprintf(lines[i], LINE_BYTES, "%-6s %s", BUTTONS[i].name, state);
    if (on_screen) {
        draw_screen();
    } else {
        char padded[LINE_BYTES + 1];
        snprintf(padded, sizeof padded, "%-28s", lines[i]);
        vx_overlay_text(BUTTONS[i].row, 2, padded);
    }
    printf("%s\n", lines[i]); /* once it shows */
}

/* One event shown and sounded; 0 once BACK is let go. */
static int take(const vx_event* e) {
    for (int i = 0; i < BUTTON_COUNT; ++i) {
        if (BUTTONS[i].key != e->key) continue;
        char state[24];
        if (e->type == VX_EVENT_PRESS) {
            vx_tone(BUTTONS[i].hz);
            show(i, "down");
        } else if (e->type == VX_EVENT_RELEASE) {
            vx_silence();
            snprintf(state, sizeof state, "held %d ms", (int)e->held_ms);
            show(i, state);
            return BUTTONS[i].key != VX_KEY_BACK;
        }
    }
    return 1;
}

int main(void) {
    setvbuf(stdout, NULL, _IOLBF, 0); /* the log shows each line as it comes */
    vx_status s = vx_open();
    if (s != VX_OK) return fail("buttons", s);
    int mode = VX_MODE_UNKNOWN;
    vx_video_mode(&mode);
    on_screen = mode != VX_MODE_AV;
    s = on_screen ? vx_screen_open() : vx_overlay_open();
    if (s != VX_OK) return fail(on_screen ? "screen" : "overlay", s);
    if (!on_screen) vx_overlay_text(0, 10, "BUTTON TEST");
    for (int i = 0; i < BUTTON_COUNT; ++i)
        show(i, ".");
    for (;;) {
        vx_event e;
        s = vx_wait_event(&e, -1);
        if (s == VX_QUIT || s < 0 || !take(&e)) break;
    }
    vx_close();
    printf("button-test done\n");
    return 0;
}
