#pragma once
#include <cstdint>

#include "hw/keys_logic.h"

// The open menu: taps move the selection and start the selected app, a start the mode refuses
// shows a notice. These decide; the state module carries out.

// A release in the menu: it acts only for a tap (at most TAP_MAX_MS) whose press the menu saw.
void nav_on_release(KeyCode key, int32_t duration_ms);
// Every pass in the menu while a notice shows: it goes once its time is up.
void notice_expire();
