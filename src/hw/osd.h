#pragma once
#include <cstdint>

#include "hw/osd_charset.h"

// The menu on the AV path's OSD controller (bus 2, 0x5B, behind the remote I2C transport).
// Every character is written with a read-back check; the shadow grid keeps cells that
// already show the right character from being written again.

constexpr uint16_t OSD_REG_COMMIT = 0x0A00;
constexpr uint16_t OSD_REG_CONTROL = 0x0A01;
constexpr uint16_t OSD_REG_WINDOW_B = 0x0A04;
constexpr uint16_t OSD_REG_WINDOW_D = 0x0A06;
constexpr uint16_t OSD_REG_WINDOW_A = 0x0A08;
constexpr uint16_t OSD_REG_WINDOW_C = 0x0A0A;
constexpr uint16_t OSD_REG_CELL_CMD = 0x0A1C;
constexpr uint16_t OSD_REG_CELL_COL = 0x0A1D;
constexpr uint16_t OSD_REG_CELL_DATA = 0x0A1E;
constexpr uint16_t OSD_REG_STATUS = 0x0A22;

constexpr uint8_t OSD_CMD_CHAR = 11; // low nibble of the cell command: a character write
constexpr uint8_t OSD_CMD_CLEAR = 8; // low nibble: the raw clear of a cell
constexpr uint8_t OSD_DATA_BIT = 0x80;
constexpr uint8_t OSD_STATUS_BUSY = 0x01;
constexpr uint8_t OSD_CONTROL_ENABLE = 0x01;

// Where the 8 x 32 grid lies in the analogue picture: a..b across (256 pixels, 8 a column),
// c..d down (512 half-lines, 64 a row), in the middle of the frame.
constexpr uint32_t OSD_WINDOW_A = 401;
constexpr uint32_t OSD_WINDOW_B = 657;
constexpr uint32_t OSD_WINDOW_C = 690;
constexpr uint32_t OSD_WINDOW_D = 1202;

constexpr int OSD_WRITE_ATTEMPTS = 4;
constexpr int OSD_BUSY_POLLS = 50;
constexpr uint32_t OSD_BUSY_POLL_US = 2000;
constexpr uint32_t OSD_RETRY_US = 20000;
// A controller that stops answering costs 480 ms a cell in busy polls and retries, minutes
// for a page. One open, draw or close gives up once the waits of its failed attempts (busy
// polls that never saw the controller ready, retry pauses) add up to OSD_FAILED_WAIT_US, or
// all its waits to OSD_WAIT_BUDGET_US: a healthy controller that is busy a few ms a character
// still gets its page of some 300 characters, and whatever the controller does the wearer
// gets the menu, or the goggles back, within about 2 s. Transfers themselves are not counted.
constexpr uint32_t OSD_FAILED_WAIT_US = 1000000;
constexpr uint32_t OSD_WAIT_BUDGET_US = 2000000;
constexpr char OSD_GRID_UNKNOWN = '?'; // no page contains it: every cell counts as changed

struct OsdState {
    int fd = -1;
    bool active = false;
    char grid[OSD_GRID_ROWS][OSD_GRID_COLS] = {};
    int32_t writes = 0; // characters confirmed by read-back since the last open
    int32_t fails = 0;  // characters given up since the last open
    // Waits for the controller in the open, draw or close under way: all, and those of
    // attempts that failed.
    uint32_t waited_us = 0;
    uint32_t failed_wait_us = 0;
};
extern OsdState g_osd;

constexpr char OSD_BLANK_ROW[] = "                                ";
static_assert(sizeof OSD_BLANK_ROW == OSD_GRID_COLS + 1);

// Opens the transport and readies the controller for a page: the state reset, a read that it
// answers at all, the window, the clear. false when the transport does not open or nothing
// answers (the transport is closed again); a clear that ran out of time shows in
// osd_out_of_time().
enum class OsdStart { Ready, NoTransport, Silent };
OsdStart osd_start();
// Releases the transport; with `switch_off` the overlay is disabled first (best effort), so
// that a page that could not be drawn or blanked in time does not stay over the video.
void osd_release(bool switch_off);
// Every cell blank, committed.
void osd_blank();
// Each open, draw or close has a budget of its own for the controller's waits.
void osd_start_budget();

void osd_reset(int fd);
void osd_set_window(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
void osd_enable(int on);
void osd_commit();
int osd_put_char(int row, int col, char c);
void osd_put_text(int row, int col, const char* text);
void osd_clear();
// 1 once the operation under way has waited its budget for the controller.
bool osd_out_of_time();
