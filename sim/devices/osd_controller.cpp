// The AV path's OSD controller on bus 2: a grid of character cells, each written through a
// command, a column and a data register. A character write lands in the cell memory at once
// but keeps the busy bit up for `busy_polls` status reads; a faulty cell drops its writes.
// The screen takes the cell memory at a commit. A cell access (the data register, written or
// read) is acknowledged only in a transaction that a select of the controller opened on the
// same descriptor since the previous one; the other registers answer without a select.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "devices/i2c_chip.h"
#include "devices/screen_record.h"
#include "hw/osd.h"
#include "hw/remote_i2c.h"

namespace vxdevices {

namespace {

using vxboard::OsdController;

static_assert(vxboard::OSD_ROWS == static_cast<uint32_t>(OSD_GRID_ROWS) &&
                  vxboard::OSD_COLS == static_cast<uint32_t>(OSD_GRID_COLS),
              "the board's cell memory is the grid the launcher lays its page out on");

// The window's four 16-bit positions, low byte first, fill a run of registers.
constexpr uint16_t WINDOW_FIRST =
    std::min({OSD_REG_WINDOW_A, OSD_REG_WINDOW_B, OSD_REG_WINDOW_C, OSD_REG_WINDOW_D});
constexpr uint16_t WINDOW_LAST =
    std::max({OSD_REG_WINDOW_A, OSD_REG_WINDOW_B, OSD_REG_WINDOW_C, OSD_REG_WINDOW_D}) + 1;
static_assert(WINDOW_LAST - WINDOW_FIRST + 1 == sizeof OsdController::window);

// The cell command: the row in its high nibble, the operation in its low one.
constexpr uint32_t CELL_ROW_SHIFT = 4;
constexpr uint32_t CELL_OP_MASK = 0x0F;
static_assert(vxboard::OSD_ROWS <= (0xFFu >> CELL_ROW_SHIFT) + 1);
// A commit register write with this bit set shows the cell memory.
constexpr uint8_t COMMIT_NOW = 0x01;

// A register address goes low byte first; a write is followed by the value.
constexpr uint32_t REG_BYTES = 2;

bool present(const BoardState& s) {
    return s.osd.missing.load() == 0;
}

void addressed(BoardState& s) {
    s.osd.transfers.fetch_add(1);
}

void selected(I2cSession& session) {
    session.osd_selected.store(1);
}

// A cell access closes the transaction its select opened; without one the controller does
// not acknowledge it and nothing changes.
bool cell_access_allowed(OsdController& osd, I2cSession& session) {
    if (session.osd_selected.exchange(0) != 0) return true;
    osd.unselected.fetch_add(1);
    return false;
}

bool drops_write(OsdController& osd, uint32_t row, uint32_t col) {
    const uint32_t bad = osd.bad_count.load();
    if (bad > 0 && row == osd.bad_row.load() && col == osd.bad_col.load()) {
        if (bad != vxboard::OSD_FOREVER) osd.bad_count.store(bad - 1);
        return true;
    }
    return osd.half_cells.load() != 0 && (row * vxboard::OSD_COLS + col) % 2 == 1;
}

int write_cell(OsdController& osd, I2cSession& session, uint8_t v) {
    if (!cell_access_allowed(osd, session)) return ENXIO;
    const uint32_t cmd = osd.cmd.load(), col = osd.col.load();
    const uint32_t row = cmd >> CELL_ROW_SHIFT, op = cmd & CELL_OP_MASK;
    if (row >= vxboard::OSD_ROWS || col >= vxboard::OSD_COLS) return 0;
    if (op == OSD_CMD_CLEAR) {
        osd.raw_clears.fetch_add(1);
        osd.cells[row][col] = v;
    } else if (op == OSD_CMD_CHAR) {
        osd.char_writes.fetch_add(1);
        osd.busy_left.store(osd.busy_polls.load());
        if (!drops_write(osd, row, col)) osd.cells[row][col] = v;
    }
    return 0;
}

int read_cell(OsdController& osd, I2cSession& session, uint8_t* out) {
    if (!cell_access_allowed(osd, session)) return ENXIO;
    osd.readbacks.fetch_add(1);
    const uint32_t row = osd.cmd.load() >> CELL_ROW_SHIFT, col = osd.col.load();
    *out = row < vxboard::OSD_ROWS && col < vxboard::OSD_COLS ? osd.cells[row][col] : 0;
    return 0;
}

int read_status(OsdController& osd, I2cSession&, uint8_t* out) {
    osd.status_reads.fetch_add(1);
    const uint32_t left = osd.busy_left.load();
    const bool busy = osd.busy_stuck.load() != 0 || left > 0;
    if (left > 0) osd.busy_left.store(left - 1);
    *out = busy ? OSD_STATUS_BUSY : 0;
    return 0;
}

int commit(OsdController& osd, I2cSession&, uint8_t v) {
    if ((v & COMMIT_NOW) == 0) return 0;
    osd.commits.fetch_add(1);
    std::memcpy(osd.shown, osd.cells, sizeof osd.shown);
    return 0;
}

int write_control(OsdController& osd, I2cSession&, uint8_t v) {
    osd.control.store(v);
    return 0;
}

int read_control(OsdController& osd, I2cSession&, uint8_t* out) {
    *out = static_cast<uint8_t>(osd.control.load());
    return 0;
}

int write_cmd(OsdController& osd, I2cSession&, uint8_t v) {
    osd.cmd.store(v);
    return 0;
}

int write_col(OsdController& osd, I2cSession&, uint8_t v) {
    osd.col.store(v);
    return 0;
}

// The registers besides the window's; one missing a direction ignores writes or reads as 0.
struct Register {
    uint16_t reg;
    int (*write)(OsdController& osd, I2cSession& session, uint8_t v);
    int (*read)(OsdController& osd, I2cSession& session, uint8_t* out);
};

constexpr Register REGISTERS[] = {
    {OSD_REG_COMMIT, commit, nullptr},          {OSD_REG_CONTROL, write_control, read_control},
    {OSD_REG_CELL_CMD, write_cmd, nullptr},     {OSD_REG_CELL_COL, write_col, nullptr},
    {OSD_REG_CELL_DATA, write_cell, read_cell}, {OSD_REG_STATUS, nullptr, read_status},
};

const Register* register_at(uint32_t reg) {
    for (const Register& r : REGISTERS)
        if (r.reg == reg) return &r;
    return nullptr;
}

uint32_t register_of(const uint8_t* w) {
    return w[0] | (w[1] << 8);
}

int write_register(OsdController& osd, I2cSession& session, const uint8_t* w, uint32_t wn) {
    if (wn != REG_BYTES + 1) return EINVAL;
    const uint32_t reg = register_of(w);
    if (reg >= WINDOW_FIRST && reg <= WINDOW_LAST) {
        osd.window[reg - WINDOW_FIRST] = w[REG_BYTES];
        return 0;
    }
    const Register* r = register_at(reg);
    return r != nullptr && r->write ? r->write(osd, session, w[REG_BYTES]) : 0;
}

// A commit or a switch of the overlay changes what the screen shows.
int chip_write(BoardState& s, I2cSession& session, const uint8_t* w, uint32_t wn) {
    const uint32_t commits = s.osd.commits.load(), control = s.osd.control.load();
    const int r = write_register(s.osd, session, w, wn);
    if (s.osd.commits.load() != commits || s.osd.control.load() != control) screen_changed(s);
    return r;
}

int chip_write_read(BoardState& s, I2cSession& session, const uint8_t* w, uint32_t wn, uint8_t* r,
                    uint32_t rn) {
    if (wn != REG_BYTES || rn != 1) return EINVAL;
    const Register* reg = register_at(register_of(w));
    if (reg != nullptr && reg->read) return reg->read(s.osd, session, r);
    r[0] = 0;
    return 0;
}

} // namespace

const I2cChip OSD_CONTROLLER_CHIP = {OSD_BUS,  OSD_ADDR,   present,        addressed,
                                     selected, chip_write, chip_write_read};

} // namespace vxdevices
