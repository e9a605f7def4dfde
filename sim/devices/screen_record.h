#pragma once
// The screen's record in the board state: what the launcher shows changes only at a pan, an
// OSD commit or a switch of the overlay, and a front end waits on the generation rather than
// looking at the pictures now and then.
#include "board_state.h"

namespace vxdevices {

using vxboard::BoardState;

// What the screen shows has changed: stamps it and wakes whoever waits on the generation.
void screen_changed(BoardState& s);

} // namespace vxdevices
