#pragma once
// The goggles' I2C transport behind /dev/remote_i2c and the chips on it, as a model on the
// board state. The fast board's preload reaches it from the launcher's ioctl, the emulated
// goggles' relay from a request the guest's CUSE server forwarded: both hand it the
// request's operation and the payload its record points at.
#include <atomic>
#include <cstdint>

#include "board_state.h"

namespace vxdevices {

using vxboard::BoardState;

// What the transport keeps for an open descriptor (an open file, on a kernel): a select of
// the OSD controller that awaits its cell access.
struct I2cSession {
    std::atomic<uint32_t> osd_selected{0};
};

// One request of the transport's ioctl: `op` and the `len` bytes of its payload, into whose
// tail a read's bytes are written. 0, or the errno the driver fails the ioctl with.
int remote_i2c_transfer(BoardState& s, I2cSession& session, uint32_t op, uint8_t* payload,
                        uint32_t len);

} // namespace vxdevices
