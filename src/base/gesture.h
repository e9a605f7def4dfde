#pragma once
#include <cstdint>

// The PLAY-hold gesture's timings, in ms of holding. The core's thresholds, the progress
// panel's window and fill rate and the rising tones all follow from these three.
constexpr int32_t HOLD_BLOCK_MS = 500;  // the goggles' service gives up the buttons
constexpr int32_t HOLD_OPEN_MS = 1500;  // the menu opens
constexpr int32_t HOLD_CLOSE_MS = 3000; // a hold begun in the menu closes it

// While an app runs the buttons are its own, but for one escape: PLAY held this long ends
// the app, which is killed outright if it is still there the second span later.
constexpr int32_t ESCAPE_HOLD_MS = 10000;
constexpr int32_t ESCAPE_KILL_AFTER_MS = 2000;

// The progress panel fills between taking the buttons and opening the menu.
constexpr int32_t HOLD_PANEL_FIRST_MS = HOLD_BLOCK_MS;
constexpr int32_t HOLD_PANEL_LAST_MS = HOLD_OPEN_MS - 1;
constexpr int32_t HOLD_PANEL_SPAN_MS = HOLD_OPEN_MS - HOLD_BLOCK_MS;
