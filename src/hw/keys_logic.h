#pragma once
#include <cstdint>

// Decisions of the button reader that depend only on their inputs: the ADC scale, the
// voltage bands of the resistor ladder and the three-sample debouncer.

enum KeyCode : int32_t {
    KEY_UP = 0,
    KEY_DOWN = 1,
    KEY_2 = 2,
    KEY_3 = 3,
    KEY_MIDDLE = 4,
    KEY_5 = 5,
    KEY_PLAY = 6,
    KEY_BACK = 7,
    KEY_NONE = 8,
};

constexpr uint32_t ADC_FULL_SCALE_MV = 1800;
constexpr uint32_t ADC_FULL_SCALE_COUNTS = 1020;
constexpr uint32_t KEY_MIN_MV = 200;
constexpr uint32_t KEY_MAX_MV = 1900;
constexpr int32_t KEY_BAND_HALF_MV = 100;

struct KeyBand {
    int32_t code;
    int32_t centre_mv;
};
constexpr int KEY_BAND_COUNT = 8;
// Lookup order of the bands; they do not overlap, so the order only fixes the walk.
constexpr KeyBand KEY_BANDS[KEY_BAND_COUNT] = {
    {KEY_PLAY, 400}, {KEY_BACK, 600}, {KEY_UP, 800},      {KEY_DOWN, 1600},
    {KEY_3, 1200},   {KEY_2, 1000},   {KEY_MIDDLE, 1400}, {KEY_5, 1800},
};

// Converts a raw conversion result to millivolts, truncating. A corrupted sample register can
// hold any count, whose millivolts do not fit 32 bits: they are kept whole, so that such a
// sample reads as no button rather than wrapping into a band.
uint64_t keys_raw_to_mv(uint32_t raw);

// The KeyCode whose band holds `mv`, or KEY_NONE.
int32_t keys_classify_mv(uint64_t mv);

// Debounce state: a reading becomes stable on its third consecutive identical sample.
struct KeyDebounce {
    int32_t last = KEY_NONE;
    int32_t repeat = 0;
    int32_t stable = KEY_NONE;
    int32_t press_ms = 0;
};

// Feeds one classified sample (or -1 for a rejected one). Returns 0, a press (code + 1) or a
// release (~code). The clock is read only when an event is produced.
int32_t keys_debounce(KeyDebounce* d, int32_t code, int32_t (*clock)(), int32_t* duration_ms);

// A key event as the rest of the launcher takes it, decoded once from keys_poll's value.
enum class KeyAction { None, Press, Release };
struct KeyEvent {
    KeyAction action;
    KeyCode key;         // KEY_NONE with KeyAction::None
    int32_t duration_ms; // a release: how long its press lasted
};

constexpr KeyEvent key_event_decode(int32_t value, int32_t duration_ms) {
    if (value > 0) return {KeyAction::Press, static_cast<KeyCode>(value - 1), 0};
    if (value < 0) return {KeyAction::Release, static_cast<KeyCode>(~value), duration_ms};
    return {KeyAction::None, KEY_NONE, 0};
}
