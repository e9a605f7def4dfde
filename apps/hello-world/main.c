/* Says hello over the live video: a greeting and a counter of the buttons pressed, on a
 * translucent panel, until BACK or the launcher's SIGTERM. "--greet NAME" names whom to
 * greet. */
#include <stdio.h>
#include <string.h>

#include "vornax_app.h"

static const uint32_t PANEL = 0xC0203040u; /* translucent: the video shows through */
static const uint32_t WHITE = 0xFFFFFFu;
static const uint32_t PINK = 0xFF47A5u;

static int fail(const char* what, vx_status s) {
    fprintf(stderr, "hello-world: %s: %s\n", what, vx_status_text(s));
    return 1;
}

static void draw(const char* greeting, int count) {
    char counter[48];
    snprintf(counter, sizeof counter, "%d button(s) pressed", count);
    vx_clear(0x00000000u);
    vx_fill(660, 400, 600, 220, PANEL);
    vx_text(VX_FONT_LARGE, 700, 440, WHITE, greeting);
    vx_text(VX_FONT_MEDIUM, 700, 500, PINK, counter);
    vx_text(VX_FONT_SMALL, 700, 580, WHITE, "BACK = exit");
    vx_present();
    printf("%s, %s\n", greeting, counter);
}

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IOLBF, 0); /* the log shows each line as it comes */
    const char* name = "world";
    for (int i = 1; i + 1 < argc; ++i)
        if (strcmp(argv[i], "--greet") == 0) name = argv[i + 1];
    char greeting[64];
    snprintf(greeting, sizeof greeting, "Hello, %s!", name);
    vx_status s = vx_open();
    if (s != VX_OK) return fail("buttons", s);
    s = vx_screen_open();
    if (s != VX_OK) return fail("screen", s);
    int count = 0;
    draw(greeting, count);
    for (;;) {
        vx_event e;
        s = vx_wait_event(&e, -1);
        if (s != VX_OK) break; /* VX_QUIT: the launcher's SIGTERM */
        if (e.type == VX_EVENT_RELEASE && e.key == VX_KEY_BACK) break;
        if (e.type == VX_EVENT_PRESS && e.key != VX_KEY_BACK) draw(greeting, ++count);
    }
    vx_close();
    printf("hello-world done\n");
    return 0;
}
