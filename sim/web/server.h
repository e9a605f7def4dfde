#pragma once
// vx-web's server, on the loopback interface only: the page's files, its WebSocket (/ws), and
// /frame.png (?full=1 for the full size), /catalogue.json, /recording.scn and /contract.json.
#include <string>

#include "web/goggles.h"

struct mg_context;

namespace vxweb {

// Serves `web` on 127.0.0.1:`port` (0: any free port, `port` then says which); nullptr, with
// the reason on standard error, when it cannot.
mg_context* serve(WebGoggles& web, long& port);

} // namespace vxweb
