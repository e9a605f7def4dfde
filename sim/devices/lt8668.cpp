// The LT8668 video chip on bus 1: a page register selects which register page the next
// accesses reach, and the status page holds the registers the video mode is read from (their
// values are the board's, set for the mode it plays). Only the status page is modelled:
// writes to other pages change nothing, and their registers read as zero.
#include <cerrno>

#include "devices/i2c_chip.h"
#include "hw/remote_i2c.h"

namespace vxdevices {

namespace {

bool present(const BoardState&) {
    return true;
}

// A register write: the register's number, then its value.
int write_register(BoardState& s, I2cSession&, const uint8_t* w, uint32_t wn) {
    vxboard::I2cBus& bus = s.i2c;
    if (wn < 2) return EINVAL;
    if (w[0] == LT8668_PAGE_REG)
        bus.lt8668_page.store(w[1]);
    else if (bus.lt8668_page.load() == LT8668_STATUS_PAGE)
        bus.lt8668_regs[w[0]] = w[1];
    return 0;
}

// A register read: the register's number out, its value back.
int read_register(BoardState& s, I2cSession&, const uint8_t* w, uint32_t wn, uint8_t* r,
                  uint32_t rn) {
    const vxboard::I2cBus& bus = s.i2c;
    if (wn != 1 || rn != 1) return EINVAL;
    r[0] = bus.lt8668_page.load() == LT8668_STATUS_PAGE ? bus.lt8668_regs[w[0]] : 0;
    return 0;
}

} // namespace

const I2cChip LT8668_CHIP = {LT8668_BUS, LT8668_ADDR,    present,      nullptr,
                             nullptr,    write_register, read_register};

} // namespace vxdevices
