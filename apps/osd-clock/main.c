/* A clock over analogue video: the time on the AV overlay, once a second, until BACK or the
 * launcher's SIGTERM. */
#include <stdio.h>
#include <time.h>

#include "vornax_app.h"

static int fail(const char* what, vx_status s) {
    fprintf(stderr, "osd-clock: %s: %s\n", what, vx_status_text(s));
    return 1;
}

static void show_time(void) {
    char text[16];
    const time_t now = time(NULL);
    struct tm t;
    localtime_r(&now, &t);
    strftime(text, sizeof text, "%H:%M:%S", &t);
    vx_overlay_text(3, 12, text);
    printf("%s\n", text);
}

int main(void) {
    setvbuf(stdout, NULL, _IOLBF, 0); /* the log shows each line as it comes */
    vx_status s = vx_open();
    if (s != VX_OK) return fail("buttons", s);
    s = vx_overlay_open();
    if (s != VX_OK) return fail("overlay", s);
    vx_overlay_text(0, 11, "OSD CLOCK");
    vx_overlay_text(7, 11, "BACK:EXIT");
    for (;;) {
        show_time();
        vx_event e;
        s = vx_wait_event(&e, 1000);
        if (s == VX_QUIT || s < 0) break;
        if (s == VX_OK && e.type == VX_EVENT_RELEASE && e.key == VX_KEY_BACK) break;
    }
    vx_close();
    printf("osd-clock done\n");
    return 0;
}
