#pragma once
#include <cstdint>

// The menu shows on one of two surfaces, chosen by the video mode: the framebuffer's
// launcher pages in NORMAL mode, the AV path's OSD overlay in AV mode; the other modes have
// none. This is the one place that tells them apart: the core shows, redraws and takes away
// the menu through these functions, and reads from a surface's record what differs between
// them (which entries it lists, what its failures log).

enum class SurfaceKind { None, Framebuffer, Overlay };

struct Surface {
    SurfaceKind kind;
    // The overlay lists only the entries the video mode allows, so the selection moves among
    // them only; the framebuffer lists every entry, and alone shows a refused start's notice
    // and a hold's progress.
    bool lists_allowed_only;
    bool shows_notice;
    bool shows_hold_progress;
    const char* opened_by_hold;    // logged with the number of apps
    const char* refused_at_hold;   // logged when a hold cannot open it
    bool says_keys_resumed;        // ...after "keys resumed", or with the service resumed quietly
    const char* shown_after_app;   // logged with the number of apps, or nullptr
    const char* refused_after_app; // logged with the video mode when it cannot come back
};

// The surface a video mode calls for.
const Surface& surface_for(int32_t mode);
// The surface the menu is on: the overlay while it shows, else the framebuffer.
const Surface& surface_shown();

// At start-up: every mode but AV needs the framebuffer at once. false when it cannot be had.
bool surface_open_at_start(int32_t mode);

// Makes ready what the surface of `mode` needs before it can show anything: the framebuffer
// opened on first use. false when it cannot be had; the overlay is opened as it shows.
bool surface_prepare(int32_t mode);

// Shows the whole menu on the surface `mode` calls for, with the notice until
// `notice_deadline` (0: none): false when that surface cannot be had (nothing shown).
bool surface_show(int32_t mode, int32_t notice_deadline);
// The framebuffer menu, prepared already, with `before_present` run between drawing and
// panning: start-up with "--menu" narrates its frame.
void surface_show_narrated(int32_t notice_deadline, void (*before_present)());

// Draws the menu again after the selection or the notice changed: a whole framebuffer
// frame, or the overlay's list rows.
void surface_redraw(int32_t notice_deadline);

// The hold's progress panel on the framebuffer: false when it cannot be opened (nothing
// drawn; the caller tries again at its next pass).
bool surface_show_hold_progress(int32_t elapsed_ms);

// The overlay blanked and released, when it shows the menu (true). A launched app takes the
// display so; a framebuffer page stays until the app draws over it.
bool surface_take_away_overlay();
// The goggles' own page panned back on screen.
void surface_take_away_page();
// After an app, which may have panned the framebuffer itself and drawn on the launcher's
// pages: the launcher takes the pan position as it finds it and clears what the app left
// beyond its canvas.
void surface_take_back_from_app();

// What the termination handler gives back of the display; only calls safe in a signal
// handler. `app_owns_display`: an app's picture stays as it is.
void surface_release_for_exit(bool app_owns_display);
