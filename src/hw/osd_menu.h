#pragma once

#include "hw/osd.h"
#include "hw/osd_page.h"

// The launcher's menu on the AV overlay: the page of osd_page.h put on the controller.

// 0 once the page is up and enabled; -1 when the transport does not open, the controller
// does not answer, or the page ran out of time (the transport is closed again).
int osd_menu_open();
void osd_menu_draw(int full);
// Blanks and releases the overlay; a controller that ran out of time blanking it has its
// overlay switched off instead, so that no stale menu stays over the video.
void osd_menu_close();
