#pragma once
#include <cstdint>

#include "apps/catalogue.h"
#include "display/canvas.h"

// The framebuffer menu: one whole picture per call, from the catalogue and the notice
// deadline alone.

constexpr int MENU_VISIBLE_ROWS = 6;
constexpr int MENU_ROW_PITCH = 66;
constexpr const char* MENU_HOST_NAME = "vornax-goggles.lan";
constexpr const char* MENU_UPLOAD_HINT = "upload via web panel:  http://192.168.42.1:8080";
constexpr const char* MENU_NOTICE = "wymaga innego trybu gogli";

// First entry of the six-row list window: the selected entry stays on the bottom row once
// it is past the sixth.
constexpr int32_t menu_first_visible(int32_t selected) {
    return (selected > MENU_VISIBLE_ROWS - 1 ? selected : MENU_VISIBLE_ROWS - 1) -
           (MENU_VISIBLE_ROWS - 1);
}

// Paints every pixel of the canvas with the menu, so it needs no clear first. `clock` is read only
// when the selected entry may show the notice.
void render_menu(Canvas c, const AppTable& apps, int32_t notice_deadline, int32_t (*clock)());
