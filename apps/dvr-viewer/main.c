/* Browses the goggles' recordings under /record: name, size and date, newest first. UP and
 * DOWN move (held, they repeat), MIDDLE shows a recording's details, BACK goes back and, from
 * the list, ends; so does the launcher's SIGTERM. */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "vornax_app.h"

enum { MAX_RECORDINGS = 64, NAME_BYTES = 64, ROWS_SHOWN = 10, ROW_PITCH = 40 };

struct recording {
    char name[NAME_BYTES];
    long long bytes;
    time_t when;
};

static struct recording recordings[MAX_RECORDINGS];
static int count;
static const char* RECORD_DIR = "/record";

static int newest_first(const void* a, const void* b) {
    const time_t x = ((const struct recording*)a)->when, y = ((const struct recording*)b)->when;
    return x < y ? 1 : x > y ? -1 : 0;
}

/* The regular files of the directory, newest first; the launcher's own directory and hidden
 * names are not recordings. */
static void scan(void) {
    DIR* d = opendir(RECORD_DIR);
    if (d == NULL) return;
    for (struct dirent* e = readdir(d); e != NULL && count < MAX_RECORDINGS; e = readdir(d)) {
        char path[320];
        struct stat st;
        if (e->d_name[0] == '.' || strlen(e->d_name) >= NAME_BYTES) continue;
        snprintf(path, sizeof path, "%s/%s", RECORD_DIR, e->d_name);
        if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        struct recording* r = &recordings[count++];
        snprintf(r->name, sizeof r->name, "%.*s", NAME_BYTES - 1, e->d_name);
        r->bytes = (long long)st.st_size;
        r->when = st.st_mtime;
    }
    closedir(d);
    qsort(recordings, (size_t)count, sizeof recordings[0], newest_first);
}

static void date_of(time_t when, char* out, size_t n) {
    struct tm t;
    localtime_r(&when, &t);
    strftime(out, n, "%Y-%m-%d %H:%M", &t);
}

static void draw_list(int selected) {
    char line[128], date[32];
    vx_clear(0x00000000u);
    vx_fill(360, 160, 1200, 560, 0xD0202838u);
    snprintf(line, sizeof line, "RECORDINGS  %d", count);
    vx_text(VX_FONT_LARGE, 390, 180, 0xFF47A5u, line);
    if (count == 0) vx_text(VX_FONT_MEDIUM, 390, 260, 0xFFB347u, "no recordings in /record");
    const int first = selected < ROWS_SHOWN ? 0 : selected - ROWS_SHOWN + 1;
    for (int i = first; i < count && i < first + ROWS_SHOWN; ++i) {
        const int y = 240 + ROW_PITCH * (i - first);
        if (i == selected) vx_fill(380, y - 6, 1160, ROW_PITCH - 4, 0xE01E2C44u);
        date_of(recordings[i].when, date, sizeof date);
        snprintf(line, sizeof line, "%-40.40s %9lld KB  %s", recordings[i].name,
                 recordings[i].bytes / 1024, date);
        vx_text(VX_FONT_MEDIUM, 390, y, i == selected ? 0xFFFFFFu : 0x9AC8F8u, line);
    }
    vx_text(VX_FONT_SMALL, 390, 690, 0x9AC8F8u, "UP/DOWN = move   MIDDLE = details   BACK = exit");
    vx_present();
}

static void draw_details(const struct recording* r) {
    char line[128], date[32];
    vx_clear(0x00000000u);
    vx_fill(360, 160, 1200, 560, 0xD0202838u);
    vx_text(VX_FONT_LARGE, 390, 180, 0xFF47A5u, r->name);
    snprintf(line, sizeof line, "size   %lld bytes", r->bytes);
    vx_text(VX_FONT_MEDIUM, 390, 260, 0xFFFFFFu, line);
    date_of(r->when, date, sizeof date);
    snprintf(line, sizeof line, "date   %s", date);
    vx_text(VX_FONT_MEDIUM, 390, 300, 0xFFFFFFu, line);
    vx_text(VX_FONT_SMALL, 390, 690, 0x9AC8F8u, "BACK = list");
    vx_present();
    printf("details: %s %lld bytes %s\n", r->name, r->bytes, date);
}

static int fail(const char* what, vx_status s) {
    fprintf(stderr, "dvr-viewer: %s: %s\n", what, vx_status_text(s));
    return 1;
}

int main(void) {
    setvbuf(stdout, NULL, _IOLBF, 0); /* the log shows each line as it comes */
    vx_status s = vx_open();
    if (s != VX_OK) return fail("buttons", s);
    s = vx_screen_open();
    if (s != VX_OK) return fail("screen", s);
    scan();
    int selected = 0, details = 0;
    draw_list(selected);
    printf("dvr-viewer: %d recording(s)\n", count); /* once they show */
    for (;;) {
        vx_event e;
        s = vx_wait_event(&e, -1);
        if (s == VX_QUIT || s < 0) break;
        const int moves = e.type == VX_EVENT_PRESS || e.type == VX_EVENT_REPEAT;
        if (!details && moves && e.key == VX_KEY_DOWN && selected + 1 < count) ++selected;
        else if (!details && moves && e.key == VX_KEY_UP && selected > 0) --selected;
        else if (!details && e.type == VX_EVENT_RELEASE && e.key == VX_KEY_MIDDLE && count > 0)
            details = 1;
        else if (e.type == VX_EVENT_RELEASE && e.key == VX_KEY_BACK && details) details = 0;
        else if (e.type == VX_EVENT_RELEASE && e.key == VX_KEY_BACK) break;
        else continue;
        if (details) {
            draw_details(&recordings[selected]);
        } else {
            draw_list(selected);
            if (count > 0) printf("selected %d: %s\n", selected, recordings[selected].name);
        }
    }
    vx_close();
    printf("dvr-viewer done\n");
    return 0;
}
