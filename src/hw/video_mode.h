#pragma once
#include <cstdint>

#include "base/video_modes.h"

// The goggles' video mode as the LT8668 video chip reports it.

constexpr uint8_t LT8668_REG_B7 = 0xB7;
constexpr uint8_t LT8668_REG_AD = 0xAD;
constexpr uint8_t LT8668_REG_AC = 0xAC;

// The mode that the three status registers of page 0xE0 stand for.
int32_t video_mode_decide(uint8_t b7, uint8_t ad, uint8_t ac);

// One reading of the chip through an open transport; logs the registers.
int32_t video_mode_detect(int fd);

// Opens the transport, reads (once more when the first answer is unknown) and closes; 0 when
// the transport is missing.
int32_t video_mode_read();
// The same without the log line: for an app that watches the mode.
int32_t video_mode_read_quietly();
