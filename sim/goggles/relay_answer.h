#pragma once
// The board's side of the emulated goggles' device relay: a request from the guest's CUSE
// server or PWM file system, answered from the device models on the board state, as the fast
// board's preload answers the same calls.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "devices/relay.h"
#include "devices/remote_i2c.h"

namespace vxgoggles {

// The transport's sessions, one for each open file of the guest's /dev/remote_i2c.
using I2cSessions = std::map<uint32_t, std::unique_ptr<vxdevices::I2cSession>>;

// Answers `req`, whose bytes are `bytes`; the reply's bytes replace them. `at_ms`: the time a
// PWM open or write is kept at.
vxdevices::RelayReply relay_answer(vxboard::BoardState& s, I2cSessions& sessions,
                                   const vxdevices::RelayRequest& req, std::vector<uint8_t>& bytes,
                                   uint64_t at_ms);

} // namespace vxgoggles
