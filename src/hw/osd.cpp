#include "hw/osd.h"

#include <cstring>

#include "base/clock.h"
#include "base/log.h"
#include "base/log_lines.h"
#include "hw/remote_i2c.h"

OsdState g_osd;

namespace {

uint8_t low_byte(uint32_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}

uint8_t high_byte(uint32_t v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}

uint8_t cell_cmd(int row, uint8_t op) {
    return static_cast<uint8_t>(row * 16 + op);
}

void select_controller() {
    remote_i2c_select(g_osd.fd, OSD_BUS, OSD_ADDR);
}

void wait_for_controller(uint32_t us) {
    sleep_us(us);
    g_osd.waited_us += us;
}

// The controller raises busy while it takes a character; a read that fails counts as busy.
// After the last poll the write is checked whatever the status says, and the polls count as
// a failed attempt's wait.
void wait_not_busy() {
    const uint32_t from = g_osd.waited_us;
    for (int i = 0; i < OSD_BUSY_POLLS && !osd_out_of_time(); ++i) {
        uint8_t status = OSD_STATUS_BUSY;
        osd_reg_read(g_osd.fd, OSD_REG_STATUS, &status);
        if ((status & OSD_STATUS_BUSY) == 0) return;
        wait_for_controller(OSD_BUSY_POLL_US);
    }
    g_osd.failed_wait_us += g_osd.waited_us - from;
}

// Whether anything answers at bus 2, 0x5B at all, before a page's worth of writes is spent
// on it: the status register answers without a select.
bool controller_answers() {
    uint8_t status = OSD_STATUS_BUSY;
    return osd_reg_read(g_osd.fd, OSD_REG_STATUS, &status) == 0;
}

} // namespace

void osd_reset(int fd) {
    g_osd.fd = fd;
    std::memset(g_osd.grid, 0, sizeof g_osd.grid);
    g_osd.writes = 0;
    g_osd.fails = 0;
    osd_start_budget();
}

void osd_start_budget() {
    g_osd.waited_us = 0;
    g_osd.failed_wait_us = 0;
}

OsdStart osd_start() {
    g_osd.fd = remote_i2c_open();
    if (g_osd.fd < 0) return OsdStart::NoTransport;
    osd_reset(g_osd.fd);
    if (!controller_answers()) {
        osd_release(false);
        return OsdStart::Silent;
    }
    osd_set_window(OSD_WINDOW_A, OSD_WINDOW_B, OSD_WINDOW_C, OSD_WINDOW_D);
    osd_clear();
    return OsdStart::Ready;
}

void osd_release(bool switch_off) {
    if (switch_off) {
        osd_enable(0);
        osd_commit();
    }
    remote_i2c_close(g_osd.fd);
    g_osd.active = false;
    g_osd.fd = -1;
}

void osd_blank() {
    for (int row = 0; row < OSD_GRID_ROWS; ++row)
        osd_put_text(row, 0, OSD_BLANK_ROW);
    osd_commit();
}

bool osd_out_of_time() {
    return g_osd.failed_wait_us >= OSD_FAILED_WAIT_US || g_osd.waited_us >= OSD_WAIT_BUDGET_US;
}

// The controller takes a new window as its last register, d's high byte, is written: the
// starts (a, c) go first and the ends (b, d) after them, so that it never takes an end that
// lies before the start it still holds.
void osd_set_window(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    osd_reg_write(g_osd.fd, OSD_REG_WINDOW_A, low_byte(a));
    osd_reg_write(g_osd.fd, OSD_REG_WINDOW_A + 1, high_byte(a));
    osd_reg_write(g_osd.fd, OSD_REG_WINDOW_C, low_byte(c));
    osd_reg_write(g_osd.fd, OSD_REG_WINDOW_C + 1, high_byte(c));
    osd_reg_write(g_osd.fd, OSD_REG_WINDOW_B, low_byte(b));
    osd_reg_write(g_osd.fd, OSD_REG_WINDOW_B + 1, high_byte(b));
    osd_reg_write(g_osd.fd, OSD_REG_WINDOW_D, low_byte(d));
    osd_reg_write(g_osd.fd, OSD_REG_WINDOW_D + 1, high_byte(d));
}

void osd_enable(int on) {
    uint8_t control = 0;
    osd_reg_read(g_osd.fd, OSD_REG_CONTROL, &control);
    control = static_cast<uint8_t>((control & ~OSD_CONTROL_ENABLE) | (on ? OSD_CONTROL_ENABLE : 0));
    osd_reg_write(g_osd.fd, OSD_REG_CONTROL, control);
}

void osd_commit() {
    osd_reg_write(g_osd.fd, OSD_REG_COMMIT, 1);
}

int osd_put_char(int row, int col, char c) {
    int code = osd_char_code(c);
    char recorded = c;
    if (code < 0) {
        code = 0;
        recorded = ' ';
    }
    if (row < 0 || row >= OSD_GRID_ROWS || col < 0 || col >= OSD_GRID_COLS) return -1;
    if (osd_out_of_time()) return -1;
    const uint8_t cmd = cell_cmd(row, OSD_CMD_CHAR);
    const uint8_t data = static_cast<uint8_t>(OSD_DATA_BIT | code);
    for (int attempt = 0; attempt < OSD_WRITE_ATTEMPTS; ++attempt) {
        uint8_t readback = 0;
        select_controller();
        osd_reg_write(g_osd.fd, OSD_REG_CELL_CMD, cmd);
        osd_reg_write(g_osd.fd, OSD_REG_CELL_COL, static_cast<uint8_t>(col));
        osd_reg_write(g_osd.fd, OSD_REG_CELL_DATA, data);
        wait_not_busy();
        select_controller();
        osd_reg_read(g_osd.fd, OSD_REG_CELL_DATA, &readback);
        if (readback == data) {
            g_osd.grid[row][col] = recorded;
            ++g_osd.writes;
            return 0;
        }
        if (osd_out_of_time()) return -1;
        wait_for_controller(OSD_RETRY_US);
        g_osd.failed_wait_us += OSD_RETRY_US;
    }
    ++g_osd.fails;
    return -1;
}

void osd_put_text(int row, int col, const char* text) {
    if (row < 0 || row >= OSD_GRID_ROWS) return;
    for (int c = col; c >= 0 && c < OSD_GRID_COLS && *text != '\0'; ++c, ++text)
        if (g_osd.grid[row][c] != *text) osd_put_char(row, c, *text);
}

// Two passes. The raw clear wipes the whole cell memory fast, without waiting on the
// controller, so that nothing of an earlier picture flashes up when the overlay is enabled;
// it is not checked. The verified blanking after it is what the shadow grid is built from:
// only a cell confirmed blank counts as blank.
void osd_clear() {
    for (int row = 0; row < OSD_GRID_ROWS; ++row) {
        for (int col = 0; col < OSD_GRID_COLS; ++col) {
            select_controller();
            osd_reg_write(g_osd.fd, OSD_REG_CELL_CMD, cell_cmd(row, OSD_CMD_CLEAR));
            osd_reg_write(g_osd.fd, OSD_REG_CELL_COL, static_cast<uint8_t>(col));
            osd_reg_write(g_osd.fd, OSD_REG_CELL_DATA, OSD_DATA_BIT);
            // The raw clear does not wait for busy: the controller queues a few cells, and a
            // status read every 8 cells gives it the time of a transfer to drain its queue.
            if (col % 8 == 0) {
                uint8_t status = 0;
                osd_reg_read(g_osd.fd, OSD_REG_STATUS, &status);
            }
        }
    }
    std::memset(g_osd.grid, OSD_GRID_UNKNOWN, sizeof g_osd.grid);
    for (int row = 0; row < OSD_GRID_ROWS; ++row)
        for (int col = 0; col < OSD_GRID_COLS; ++col)
            if (g_osd.grid[row][col] != ' ') osd_put_char(row, col, ' ');
}
