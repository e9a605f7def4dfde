#pragma once
#include <cstdint>

#include "base/paths.h"
#include "hw/keys_logic.h"

// The goggles' buttons share one analogue line sampled by the SoC's ADC, reached by mapping
// its register page through /dev/mem.

constexpr uint32_t ADC_BASE_PHYS = 0x60632000u;
constexpr uint32_t ADC_MAP_BYTES = 4096;

// The converter is shared: the goggles' own service samples its other inputs between our
// samples and leaves them set up its own way. So every sample sets the converter up again,
// in the order it latches them: the input first, then how long to sample it, then the mode.
//
// CTRL0 = 6: the converter's input the button ladder is wired to. It is read back after the
// conversion: another user that switched the input in between leaves its own number there,
// and the count is then not the ladder's.
constexpr uint32_t ADC_REG_CTRL0 = 0x18;
// CTRL3 = 6: the input whose result the sample register reports.
constexpr uint32_t ADC_REG_CTRL3 = 0x800;
// CTRL2 = 140: the sampling time, in converter clocks. The ladder's resistors are high for an
// ADC input: a shorter time leaves the sampling capacitor short of the line's level and reads
// every button a band low.
constexpr uint32_t ADC_REG_CTRL2 = 0x40;
// CTRL1 low byte 6: single conversions on demand. Written only when it differs, and last:
// a write restarts the converter, losing a conversion the other user has under way.
constexpr uint32_t ADC_REG_CTRL1 = 0x38;
constexpr uint32_t ADC_REG_SAMPLE = 0x810;
constexpr uint32_t ADC_CTRL_VALUE = 6;
constexpr uint32_t ADC_CTRL2_VALUE = 140;
constexpr uint32_t ADC_SETTLE_THRESHOLD = 115; // counts; at or above, sample again
constexpr uint32_t ADC_SETTLE_US = 9000;

int keys_open();
int keys_ready();
int32_t keys_sample();
int32_t keys_poll(int32_t* duration_ms);
