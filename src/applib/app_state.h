#pragma once
#include <csignal>
#include <cstdint>

#include "applib/app_events.h"
#include "applib/vornax_app.h"

// The library's one record in the app's process.
struct AppLib {
    bool open = false;
    bool screen = false;  // a page is being drawn
    bool overlay = false; // the overlay is the app's
    volatile sig_atomic_t quit = 0;
    AppEvents events;
    int32_t mode = -1; // the video mode last seen while waiting for events
    int32_t mode_seen_ms = 0;
};

extern AppLib g_app;

// The status an operation needing `wanted` gets in the video mode `now`.
vx_status app_mode_status(int32_t now, int32_t wanted);
