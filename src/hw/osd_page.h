#pragma once
#include <cstdint>

#include "apps/catalogue.h"
#include "base/ctext.h"
#include "base/timings.h"
#include "hw/osd_charset.h"

// The menu page of the AV path's OSD controller: 8 rows of 32 cells from the controller's own
// 42-character set. Pure layout; osd.cpp puts it on the controller.

constexpr int OSD_LIST_FIRST_ROW = 2;
constexpr int OSD_LIST_ROWS = 5;
constexpr int OSD_NAME_COL = 3;
constexpr int OSD_NAME_MAX = 28;
constexpr int OSD_NAME_SOURCE_MAX = 31;
constexpr char OSD_MARKER = '%';

// The page's texts, each centred on its row.
constexpr int osd_centred_col(size_t length) {
    return (OSD_GRID_COLS - static_cast<int>(length)) / 2;
}
constexpr auto OSD_TITLE = ctext("VORNA X LAUNCHER");
constexpr int OSD_TITLE_ROW = 0;
constexpr int OSD_TITLE_COL = osd_centred_col(OSD_TITLE.length());
constexpr auto OSD_FOOTER = ctext("MID:START PLAY") + seconds_text<HOLD_CLOSE_MS>() + ":EXIT";
constexpr int OSD_FOOTER_ROW = 7;
constexpr int OSD_FOOTER_COL = osd_centred_col(OSD_FOOTER.length());
constexpr auto OSD_EMPTY_TEXT = ctext("BRAK APEK DLA TRYBU AV");
constexpr int OSD_EMPTY_ROW = 4;
constexpr int OSD_EMPTY_COL = osd_centred_col(OSD_EMPTY_TEXT.length());

// An app name as the controller can show it: upper case, '-' and characters it cannot show
// as spaces, at most 28 characters. `out` holds OSD_NAME_MAX + 1 bytes.
void osd_format_name(const char* name, char* out);

// What rows 2..6 show: the catalogue index of each row's entry, or -1 for a blank row, and
// the row that carries the marker (-1 when the list is empty). Only entries allowed in the
// current video mode are listed; the selected one stays in view.
struct OsdListWindow {
    int32_t entry[OSD_LIST_ROWS];
    int32_t marker_row;
};
OsdListWindow osd_list_window(const AppTable& table);

// One list row of 32 characters and a NUL: the marker, two blanks, the formatted name.
void osd_list_row(const AppTable& table, int32_t entry, int marked, char* out);
