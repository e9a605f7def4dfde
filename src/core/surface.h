#pragma once
#include <cstdint>

// The menu shows on one of two surfaces: the framebuffer's launcher pages in NORMAL mode,
// or the AV path's OSD overlay in AV mode. The core shows, redraws and takes the menu away
// through these, whichever surface holds it.

// Shows the whole menu on the surface `mode` calls for and puts the launcher in UI_MENU:
// the overlay in AV mode; otherwise the framebuffer, opened on first use, with UI_MENU set
// before the frame so that a termination mid-frame still gives the screen back. 0, or -1
// when that surface cannot be had (nothing shown, UI state unchanged).
int surface_show(int32_t mode);

// 1 while the overlay shows the menu: it lists only the entries the mode allows and shows
// no notice. 0 on the framebuffer.
int surface_is_overlay();

// Draws the menu again after the selection or the notice changed: a whole framebuffer
// frame, or the overlay's list rows.
void surface_redraw();

// A launched app takes the display: the overlay is blanked and released; a framebuffer page
// stays until the app draws over it.
void surface_hand_to_app();

// One framebuffer menu picture: the back page, drawn whole, panned on screen. Never through
// a page that is not mapped: a framebuffer that cannot be opened leaves the screen as it is.
void menu_frame();

// Whether giving the goggles back continues their service, and says so in the log.
enum class Resume { No, Quietly, Logged };

// Gives the goggles back what the launcher took of them: the overlay blanked and released,
// their service continued as `resume` says, their own page panned back on screen.
void give_goggles_back(Resume resume);
