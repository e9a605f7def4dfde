// The goggles' video mode as the board plays it: the LT8668's status registers, set for a
// mode and read back to the mode they stand for by the launcher's own decision.
#include "hw/video_mode.h"
#include "board/board.h"

namespace vxboard {

namespace {

// What the chip's status registers hold in each mode; anything else reads as unknown.
struct ModeRegisters {
    int mode;
    uint8_t b7, ad, ac;
};

constexpr ModeRegisters MODE_REGISTERS[] = {
    {MODE_NORMAL, 1, 0, 0},
    {MODE_HDMI, 2, 0, 0},
    {MODE_AV, 2, 2, 1},
};
constexpr ModeRegisters UNKNOWN_REGISTERS = {MODE_UNKNOWN, 0, 0, 0};

} // namespace

void Board::set_lt8668(uint8_t b7, uint8_t ad, uint8_t ac) {
    state_->i2c.lt8668_regs[LT8668_REG_B7] = b7;
    state_->i2c.lt8668_regs[LT8668_REG_AD] = ad;
    state_->i2c.lt8668_regs[LT8668_REG_AC] = ac;
}

void Board::set_video_mode(int mode) {
    ModeRegisters r = UNKNOWN_REGISTERS;
    for (const ModeRegisters& m : MODE_REGISTERS)
        if (m.mode == mode) r = m;
    set_lt8668(r.b7, r.ad, r.ac);
}

int Board::video_mode() const {
    const uint8_t* r = state_->i2c.lt8668_regs;
    return video_mode_decide(r[LT8668_REG_B7], r[LT8668_REG_AD], r[LT8668_REG_AC]);
}

} // namespace vxboard
