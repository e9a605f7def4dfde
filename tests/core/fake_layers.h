#pragma once
// The layers below the launcher's core, played by one in-process world that answers as the
// devices and processes would and records, in order, what the core asked of them. The core
// library is linked against this instead of the real layers, so that every decision of the
// gesture, the menu and the return from an app can be run from a table of key events.
#include <cstdint>
#include <string>
#include <vector>

#include "apps/catalogue.h"

namespace fake {

// One scripted step, at a time in ms from the start of the script: a button pressed (or the
// thumb slid onto it from another), the button held released, or the video mode switched.
struct KeyStep {
    int32_t at_ms;
    int32_t key;       // KeyCode pressed, or -1 for a release
    int32_t mode = -1; // >= 0: the goggles switch to this video mode
};
inline KeyStep press(int32_t at_ms, int32_t key) {
    return {at_ms, key};
}
inline KeyStep release(int32_t at_ms) {
    return {at_ms, -1};
}
inline KeyStep video(int32_t at_ms, int32_t mode) {
    return {at_ms, -1, mode};
}

struct World {
    int32_t now = 0;    // the monotonic clock the core reads, ms
    int32_t origin = 0; // where the script's times count from
    std::vector<KeyStep> script;
    size_t next_step = 0;
    int32_t held_key = -1, pressed_at = 0;

    // What the devices and processes answer.
    int32_t mode = 1;      // video_mode_read, from now on
    bool fb_opens = true;  // fb_open succeeds
    bool fb_open = false;  // the framebuffer is open and mapped
    bool panned = false;   // a launcher page is on screen
    bool osd_opens = true; // osd_menu_open succeeds
    bool adc = true, buzzer = true;
    bool app_alive = false;     // a pid file names a live app
    int32_t alive_from_ms = -1; // ...from this script time on (-1: as app_alive says)
    int32_t launch_pid = 4242;  // what a launch gives, -1 when it fails
    int32_t app_runs_ms = 500;  // how long a launched app runs
    bool app_ignores_term = false;
    // The app is a wrapper that dies of a SIGTERM while a program it started ignores it, until
    // the group's SIGKILL.
    bool app_wraps_stubborn = false;
    bool group_lingers = false;
    int32_t app_started_at = 0;
    std::vector<AppEntry> catalogue; // what a scan finds

    // What the core did, in order: its log lines as they are (without the line feed) and
    // device and process calls in brackets. Consecutive progress-panel frames make one entry
    // "[panel FIRST-LAST]", a call repeated pass after pass one "[call] xN"; the rising
    // tone's updates are kept apart.
    std::vector<std::string> effects;
    std::vector<uint32_t> tone_elapsed; // hold_tone_update's argument, pass by pass
    std::vector<uint32_t> sleeps_us;
};

extern World w;

// A fresh world: the clock at `origin`, the core's records at their start-up values.
void reset(int32_t origin = 10000);

// An entry as a scan would make it.
AppEntry app(const char* name, uint32_t modes = 1);

// Runs loop passes until the script time `until_ms`, delivering each key step at the first
// pass at or after its time, one event per pass as the key reader does.
void run_until(int32_t until_ms);

// The script time now.
int32_t script_ms();

} // namespace fake
