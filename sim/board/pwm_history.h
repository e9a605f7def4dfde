#pragma once
// What the launcher did with the buzzer's PWM channel, read back from the board state's
// history ring.
#include <cstdint>
#include <vector>

#include "board_state.h"

namespace vxboard {

// One open or write of a file of pwmchip0, as plain values.
struct PwmAccessRecord {
    uint64_t at_ms; // the launcher's monotonic clock
    uint32_t file;  // PwmFile
    bool is_write;  // false: an open
    uint32_t value; // the number written
    int32_t error;  // errno of the failed call, 0 on success
};

// The accesses still in the ring, oldest first (the last PWM_HISTORY of them).
std::vector<PwmAccessRecord> pwm_accesses(const BoardState& s);

// What the buzzer sounds from `at_ms` on: hz rounded to the nearest, 0 when silent.
struct Tone {
    uint64_t at_ms;
    uint32_t hz;
};

// Replays the successful writes from a silent, unconfigured channel and gives an entry each
// time the sound changes.
std::vector<Tone> pwm_tones(const BoardState& s);

// The frequency a channel state sounds: 0 when disabled, with no duty cycle or no period.
uint32_t pwm_sounding_hz(uint32_t period_ns, uint32_t duty_ns, bool enabled);

} // namespace vxboard
