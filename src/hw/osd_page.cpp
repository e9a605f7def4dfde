#include "hw/osd_page.h"

#include <cstring>

void osd_format_name(const char* name, char* out) {
    int n = 0;
    for (int i = 0; i < OSD_NAME_SOURCE_MAX && name[i] != '\0'; ++i) {
        if (n < OSD_NAME_MAX) out[n++] = osd_map_char(name[i]);
    }
    out[n] = '\0';
}

OsdListWindow osd_list_window(const AppTable& table) {
    OsdListWindow w{};
    int32_t visible[MAX_APPS];
    int32_t n = 0;
    int32_t v = 0;
    const int32_t count = table.count < MAX_APPS ? table.count : MAX_APPS;
    for (int32_t i = 0; i < count; ++i) {
        if (!table.entries[i].allowed) continue;
        if (i == table.selected) v = n;
        visible[n++] = i;
    }
    // While the selection is among the first five the window starts at the top; after that
    // the selected entry stays on the last row.
    const int32_t top = (v > 4 ? v : 4) - 4;
    w.marker_row = -1;
    for (int32_t r = 0; r < OSD_LIST_ROWS; ++r) {
        const int32_t pos = top + r;
        w.entry[r] = pos < n ? visible[pos] : -1;
        if (pos == v && pos < n) w.marker_row = OSD_LIST_FIRST_ROW + r;
    }
    return w;
}

void osd_list_row(const AppTable& table, int32_t entry, int marked, char* out) {
    std::memset(out, ' ', OSD_GRID_COLS);
    out[OSD_GRID_COLS] = '\0';
    if (entry < 0 || entry >= table.count || entry >= MAX_APPS) return;
    if (marked) out[0] = OSD_MARKER;
    char name[OSD_NAME_MAX + 1];
    osd_format_name(table.entries[entry].name, name);
    std::memcpy(out + OSD_NAME_COL, name, std::strlen(name));
}
