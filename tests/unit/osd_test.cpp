#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hw/osd_page.h"

namespace {

TEST(OsdCharCode, CoversTheControllersSetAndNothingElse) {
    const std::string set = " %./0123456789:@ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int code = 0; code < static_cast<int>(set.size()); ++code)
        EXPECT_EQ(osd_char_code(set[code]), code) << "'" << set[code] << "'";
    for (char c : std::string("az-_!#$&*+,;<=>?[]^`{|}~\t\x7f\x80\xff") + '\0')
        EXPECT_EQ(osd_char_code(c), -1) << static_cast<int>(static_cast<unsigned char>(c));
}

TEST(OsdFormatName, UpperCasesAndBlanksWhatTheControllerCannotShow) {
    const struct {
        const char *name, *shown;
    } cases[] = {
        {"my_app-2", "MY APP 2"},
        {"DVR-viewer_v2", "DVR VIEWER V2"},
        {"a.b/c:d@e%f", "A.B/C:D@E%F"},
        {"caf\xc3\xa9", "CAF  "},
        {"az_!~\t", "AZ    "},
        {"", ""},
        // 39 characters: the first 28 are shown.
        {"abcdefghijklmnopqrstuvwxyz0123456789abc", "ABCDEFGHIJKLMNOPQRSTUVWXYZ01"},
    };
    for (const auto& c : cases) {
        char out[OSD_NAME_MAX + 1];
        std::memset(out, 'x', sizeof out);
        osd_format_name(c.name, out);
        EXPECT_STREQ(out, c.shown) << c.name;
    }
}

AppTable table_of(const std::string& allowed, int selected) {
    AppTable t{};
    t.count = static_cast<int32_t>(allowed.size());
    t.selected = selected;
    for (size_t i = 0; i < allowed.size(); ++i) {
        std::snprintf(t.entries[i].name, sizeof t.entries[i].name, "app%zu", i);
        t.entries[i].allowed = allowed[i] == '1';
    }
    return t;
}

// Which catalogue entry each of rows 2..6 shows (-1 blank) and the row of the marker. Entries
// not allowed are not listed and do not count as positions; a selection that is not listed
// puts the marker on the first listed entry.
TEST(OsdListWindow, KeepsTheSelectionInViewOverAllowedEntriesOnly) {
    const struct {
        const char* allowed;
        int selected;
        int32_t rows[OSD_LIST_ROWS];
        int32_t marker_row;
    } cases[] = {
        {"111", 1, {0, 1, 2, -1, -1}, 3},      {"11111", 4, {0, 1, 2, 3, 4}, 6},
        {"1111111", 0, {0, 1, 2, 3, 4}, 2},    {"1111111", 4, {0, 1, 2, 3, 4}, 6},
        {"1111111", 5, {1, 2, 3, 4, 5}, 6},    {"1111111", 6, {2, 3, 4, 5, 6}, 6},
        {"0101010101", 5, {1, 3, 5, 7, 9}, 4}, {"0101010101010101", 15, {7, 9, 11, 13, 15}, 6},
        {"0110", 0, {1, 2, -1, -1, -1}, 2},    {"0000", 2, {-1, -1, -1, -1, -1}, -1},
        {"", 0, {-1, -1, -1, -1, -1}, -1},
    };
    for (const auto& c : cases) {
        const OsdListWindow w = osd_list_window(table_of(c.allowed, c.selected));
        EXPECT_EQ(std::vector<int32_t>(w.entry, w.entry + OSD_LIST_ROWS),
                  std::vector<int32_t>(c.rows, c.rows + OSD_LIST_ROWS))
            << c.allowed << " sel " << c.selected;
        EXPECT_EQ(w.marker_row, c.marker_row) << c.allowed << " sel " << c.selected;
    }
}

TEST(OsdListRow, MarkerThenNameFromColumnThreeInThirtyTwoCells) {
    AppTable t = table_of("11", 0);
    std::snprintf(t.entries[1].name, sizeof t.entries[1].name, "%s",
                  "abcdefghijklmnopqrstuvwxyz0123456789abc");
    char row[OSD_GRID_COLS + 1];
    osd_list_row(t, 0, 1, row);
    EXPECT_EQ(std::string(row), "%  APP0" + std::string(25, ' '));
    osd_list_row(t, 1, 0, row);
    EXPECT_EQ(std::string(row), "   ABCDEFGHIJKLMNOPQRSTUVWXYZ01 ");
    osd_list_row(t, -1, 1, row);
    EXPECT_EQ(std::string(row), std::string(OSD_GRID_COLS, ' '));
}

} // namespace
