#pragma once
#include <cstdint>

// The open menu: taps move and start, a refused start shows a notice, and the menu comes
// back when a launched app ends.

constexpr int32_t TAP_MAX_MS = 450;
constexpr int32_t NOTICE_MS = 1500;

// The overlay lists only entries allowed in the current mode: move the selection to the
// next (or previous) of them, the starting entry examined last; it stays when none is.
void select_next_allowed();
void select_prev_allowed();
// Hands the display to the app, then starts the selected entry: its pid or -1.
int32_t launch_selected_app();

void nav_on_release(int32_t key, int32_t duration_ms);
void notice_expire();
void return_from_app();
