#include "hw/osd_menu.h"

#include "base/log.h"
#include "base/log_lines.h"
#include "hw/osd.h"

namespace {

void draw_page(int full) {
    if (full) {
        osd_put_text(OSD_TITLE_ROW, 0, OSD_BLANK_ROW);
        osd_put_text(1, 0, OSD_BLANK_ROW);
        osd_put_text(OSD_FOOTER_ROW, 0, OSD_BLANK_ROW);
        osd_put_text(OSD_TITLE_ROW, OSD_TITLE_COL, OSD_TITLE.c_str());
        osd_put_text(OSD_FOOTER_ROW, OSD_FOOTER_COL, OSD_FOOTER.c_str());
    }
    if (g_apps.count == 0) {
        for (int r = 0; r < OSD_LIST_ROWS; ++r)
            osd_put_text(OSD_LIST_FIRST_ROW + r, 0, OSD_BLANK_ROW);
        osd_put_text(OSD_EMPTY_ROW, OSD_EMPTY_COL, OSD_EMPTY_TEXT.c_str());
    } else {
        const OsdListWindow w = osd_list_window(g_apps);
        for (int r = 0; r < OSD_LIST_ROWS; ++r) {
            char text[OSD_GRID_COLS + 1];
            const int row = OSD_LIST_FIRST_ROW + r;
            osd_list_row(g_apps, w.entry[r], row == w.marker_row, text);
            osd_put_text(row, 0, text);
        }
    }
    osd_commit();
}

} // namespace

void osd_menu_draw(int full) {
    osd_start_budget();
    draw_page(full);
}

int osd_menu_open() {
    if (osd_start() != OsdStart::Ready) return -1;
    draw_page(1);
    if (osd_out_of_time()) {
        osd_release(true);
        return -1;
    }
    osd_enable(1);
    g_osd.active = true;
    log_line(LOG_OSD_OPEN, static_cast<long>(g_osd.writes), static_cast<long>(g_osd.fails));
    return 0;
}

void osd_menu_close() {
    if (g_osd.fd < 0) return;
    osd_start_budget();
    osd_blank();
    osd_release(osd_out_of_time());
}
