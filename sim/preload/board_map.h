#pragma once
// The board state as the preload library's hooks see it: mapped once, on first use, for every
// hook of the library; nullptr outside the sandbox. Safe from a signal handler: it opens
// and maps through the real calls, looked up before main.
#include "board_state.h"

vxboard::BoardState* preload_board_state();

// The errno with which an open of `path` must fail (a device node the board has taken away),
// or 0 to open it normally. Counts the launcher's opens of the board's device nodes.
int preload_open_fault(const char* path);
