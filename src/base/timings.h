#pragma once
#include <cstdint>

// The launcher's timings, one knob a line. The core's thresholds, the progress panel's window
// and fill rate, the rising tones and every text that quotes a timing (the menu's and the
// overlay's footers, the log lines of closing and of the escape) follow from these.

// The PLAY-hold gesture, in ms of holding.
constexpr int32_t HOLD_BLOCK_MS = 500;  // the goggles' service gives up the buttons
constexpr int32_t HOLD_OPEN_MS = 1500;  // the menu opens
constexpr int32_t HOLD_CLOSE_MS = 3000; // a hold begun in the menu closes it

// While an app runs the buttons are its own, but for one escape: PLAY held this long ends
// the app, and what is left of its process group is killed outright the second span later.
constexpr int32_t ESCAPE_HOLD_MS = 10000;
constexpr int32_t ESCAPE_KILL_AFTER_MS = 2000;

// In the menu a release acts only after a press this short, in ms; a refused start's notice
// stays this long.
constexpr int32_t TAP_MAX_MS = 450;
constexpr int32_t NOTICE_MS = 1500;

// The loop's sleep between two passes, in us: idle, and with the menu or an app up.
constexpr uint32_t POLL_IDLE_US = 40000;
constexpr uint32_t POLL_ACTIVE_US = 30000;

// The progress panel fills between taking the buttons and opening the menu.
constexpr int32_t HOLD_PANEL_FIRST_MS = HOLD_BLOCK_MS;
constexpr int32_t HOLD_PANEL_LAST_MS = HOLD_OPEN_MS - 1;
constexpr int32_t HOLD_PANEL_SPAN_MS = HOLD_OPEN_MS - HOLD_BLOCK_MS;
