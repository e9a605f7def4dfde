#pragma once
#include <cstdint>

#include "hw/keys_logic.h"

// The goggles' buttons share one analogue line sampled by the SoC's ADC, reached by mapping
// its register page through /dev/mem.

constexpr const char* ADC_MEM_DEVICE = "/dev/mem";
constexpr uint32_t ADC_BASE_PHYS = 0x60632000u;
constexpr uint32_t ADC_MAP_BYTES = 4096;
constexpr uint32_t ADC_REG_CTRL0 = 0x18;
constexpr uint32_t ADC_REG_CTRL1 = 0x38;
constexpr uint32_t ADC_REG_CTRL2 = 0x40;
constexpr uint32_t ADC_REG_CTRL3 = 0x800;
constexpr uint32_t ADC_REG_SAMPLE = 0x810;
constexpr uint32_t ADC_CTRL_VALUE = 6;
constexpr uint32_t ADC_CTRL2_VALUE = 140;
constexpr uint32_t ADC_SETTLE_THRESHOLD = 115; // counts; at or above, sample again
constexpr uint32_t ADC_SETTLE_US = 9000;

int keys_open();
int keys_ready();
int32_t keys_sample();
int32_t keys_poll(int32_t* duration_ms);
