#pragma once
// A chip behind the remote I2C transport, as the transport routes to it: its bus and address
// and what it does with each kind of transfer (0 or an errno). A chip that is not there does
// not acknowledge.
#include <cstdint>

#include "devices/remote_i2c.h"

namespace vxdevices {

struct I2cChip {
    uint32_t bus;
    uint32_t addr;
    // Whether it acknowledges at all.
    bool (*present)(const BoardState& s);
    // Every request addressed to it, before the transport checks the request (may be nullptr).
    void (*addressed)(BoardState& s);
    // A select of the chip in `session` (may be nullptr).
    void (*selected)(I2cSession& session);
    // The bytes of a write, and of a write followed by a read of `rn` bytes into `r`.
    int (*write)(BoardState& s, I2cSession& session, const uint8_t* w, uint32_t wn);
    int (*write_read)(BoardState& s, I2cSession& session, const uint8_t* w, uint32_t wn, uint8_t* r,
                      uint32_t rn);
};

extern const I2cChip LT8668_CHIP;         // lt8668.cpp
extern const I2cChip OSD_CONTROLLER_CHIP; // osd_controller.cpp

} // namespace vxdevices
