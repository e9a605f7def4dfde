#pragma once

// The launcher's top: start-up, the polling loop and the termination handler. Only main()
// includes this; the rest of the core lies below it.

// 1 when the first command-line argument asks for the menu at start-up.
int menu_requested(int argc, const char* const* argv);

// The start-up sequence: 0 when the launcher is up and the loop may start, else the exit
// status (1) of a start-up that failed.
int launcher_start(int argc, const char* const* argv);

// One pass of the polling loop, its sleep included.
void loop_pass();

// Start-up and the polling loop; returns only when start-up fails.
int launcher_main(int argc, const char* const* argv);
