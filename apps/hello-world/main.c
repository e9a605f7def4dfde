/* Says hello over the live video: a greeting and a counter on a translucent panel, counting
 * once a second, until BACK or the launcher's SIGTERM. "--greet NAME" names whom to greet. */
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "vornax_app.h"

static const uint32_t PANEL = 0xC0203040u; /* translucent: the video shows through */
static const uint32_t WHITE = 0xFFFFFFu;
static const uint32_t PINK = 0xFF47A5u;

static int fail(const char* what, vx_status s) {
    fprintf(stderr, "hello-world: %s: %s\n", what, vx_status_text(s));
    return 1;
}

static int64_t now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

static void draw(const char* greeting, int count) {
    char counter[32];
    snprintf(counter, sizeof counter, "%d", count);
    vx_clear(0x00000000u);
    vx_fill(660, 400, 600, 220, PANEL);
    vx_text(VX_FONT_LARGE, 700, 440, WHITE, greeting);
    vx_text(VX_FONT_LARGE, 700, 500, PINK, counter);
    vx_text(VX_FONT_SMALL, 700, 580, WHITE, "BACK = exit");
    vx_present();
}

/* Until the next second is due: 1 to go on, 0 once BACK is let go or the launcher asks. */
static int wait_second(int64_t due) {
    for (;;) {
        const int64_t left = due - now_ms();
        if (left <= 0) return 1;
        vx_event e;
        const vx_status s = vx_wait_event(&e, (int32_t)left);
        if (s == VX_QUIT || s < 0) return 0;
        if (s == VX_OK && e.type == VX_EVENT_RELEASE && e.key == VX_KEY_BACK) return 0;
    }
}

int main(int argc, char** argv) {
    const char* name = "world";
    for (int i = 1; i + 1 < argc; ++i)
        if (strcmp(argv[i], "--greet") == 0) name = argv[i + 1];
    char greeting[64];
    snprintf(greeting, sizeof greeting, "Hello, %s!", name);
    vx_status s = vx_open();
    if (s != VX_OK) return fail("buttons", s);
    s = vx_screen_open();
    if (s != VX_OK) return fail("screen", s);
    printf("hello-world: %s\n", greeting);
    int64_t due = now_ms();
    for (int count = 1;; ++count) {
        draw(greeting, count);
        printf("tick %d\n", count);
        fflush(stdout);
        due += 1000;
        if (!wait_second(due)) break;
    }
    vx_close();
    printf("hello-world done\n");
    return 0;
}
