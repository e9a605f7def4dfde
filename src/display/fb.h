#pragma once
#include <cstdint>

#include "base/paths.h"
#include "display/canvas.h"

// The Linux framebuffer with three full-screen pages stacked in its memory: row 0 is the
// goggles' own page, which the launcher never draws; rows 1080 and 2160 are the launcher's
// two pages, drawn off screen and panned on screen in turn.

constexpr uint32_t FB_PAGE_ROWS = SCREEN_H;
constexpr uint32_t FB_PAGES = SCREEN_PAGES;
constexpr uint32_t FB_VIRTUAL_ROWS = VIRTUAL_ROWS;
constexpr uint32_t FB_MIN_VIRTUAL_ROWS = FB_PAGE_ROWS * 2;
constexpr uint32_t FB_MIN_MEM_BYTES = LINE_BYTES * FB_VIRTUAL_ROWS;
constexpr uint32_t PAGE_Y[2] = {FB_PAGE_ROWS, FB_PAGE_ROWS * 2};

int fb_open();
// Makes the back page the canvas and clears the canvas.
void fb_begin_frame();
// Makes the back page the canvas and leaves it as it was: for a picture that stores every
// canvas pixel itself, as render_menu does, so that no pixel is written twice.
void fb_begin_frame_no_clear();
void fb_present();
// Both launcher pages made transparent outside the canvas. An app draws the whole screen on
// them; the launcher's pictures cover only the canvas, and would show the rest of the app's
// last picture around the menu or the hold's panel.
void fb_clear_beyond_canvas();
void fb_restore();
// Takes the pan position the display has now, which another program (an app) may have moved:
// the launcher page on screen, if any, is not the one drawn next, and a display back on the
// goggles' page counts as not panned.
void fb_follow_screen();
// The pan back to the goggles' page, for the termination handler: no result, no logging,
// nothing but the one system call.
void fb_restore_from_signal();

bool fb_is_open();   // descriptor held (fd >= 0)
bool fb_is_panned(); // a launcher page is on screen
int fb_ready();      // the start banner's fb=%d: 1 once an open succeeded
int32_t fb_boot_yoffset();
// The canvas being drawn: the back page after fb_begin_frame.
Canvas fb_canvas();
