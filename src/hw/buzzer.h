#pragma once
#include <cstdint>

#include "base/paths.h"
#include "base/timings.h"

// The goggles' buzzer on PWM channel 7 of pwmchip0, driven through sysfs. A missing buzzer is
// not an error: every tone operation then does nothing.

constexpr uint32_t NS_PER_S = 1000000000u;

struct Buzzer {
    bool available = false; // buzzer_open succeeded
    int32_t frequency = 0;  // Hz now sounding, 0 when silent
};
extern Buzzer g_buzzer;

// Which hold a tone accompanies: its pitch, its rise and its confirmation beep follow.
enum HoldKind : int32_t {
    HOLD_OPENING = 0, // begun with no menu shown: it opens the menu
    HOLD_CLOSING = 1, // begun in the menu: it closes it
};

struct HoldTone {
    HoldKind kind = HOLD_OPENING;
};

constexpr uint32_t TONE_CLOSE_BASE_HZ = 400;
constexpr uint32_t TONE_CLOSE_RISE_HZ = 1100;
constexpr uint32_t TONE_CLOSE_RISE_MS = HOLD_CLOSE_MS; // the pitch tops out as the menu closes
constexpr uint32_t TONE_CLOSE_CONFIRM_HZ = 1700;
constexpr uint32_t TONE_OPEN_BASE_HZ = 550;
constexpr uint32_t TONE_OPEN_RISE_HZ = 800;
constexpr uint32_t TONE_OPEN_RISE_MS = HOLD_OPEN_MS; // ...and as it opens
constexpr uint32_t TONE_OPEN_CONFIRM_HZ = 1600;
constexpr uint32_t TONE_CONFIRM_MS = 100;

// The pitch of a hold tone `elapsed_ms` into the hold, and the PWM period of a frequency.
uint32_t hold_tone_frequency(HoldKind kind, uint32_t elapsed_ms);
uint32_t buzzer_period_ns(uint32_t hz);

int buzzer_open();
void buzzer_tone(uint32_t hz);
// Needs no state and makes only open/write/close calls: safe from the termination handler.
void buzzer_off();
void buzzer_stop();

void hold_tone_start(HoldTone* tone, HoldKind kind);
void hold_tone_update(HoldTone* tone, uint32_t elapsed_ms);
// Blocks for the 100 ms of the beep.
void hold_tone_confirm(HoldTone* tone);
