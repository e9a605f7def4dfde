#pragma once
// What the files of a scenario Session share: the real-time allowances of its steps and a
// wait on the real clock.
#include <functional>

#include "scenario/scenario.h"

namespace vxscenario {

constexpr Millis POLL(10);
// Real time for what follows an action at once on a launcher running on its own, and for
// what an app or a signalled process does in real time.
constexpr Millis REAL_GRACE(1000);
constexpr Millis APP_LOG_GRACE(3000);
// On the emulated goggles the board learns of a picture, a log line or a process's state
// through the guest's agent, which looks every 20 to 500 ms on an emulated CPU that the host
// may share with other work; and the AV path's overlay is written a cell at a time through
// the guest's transport, a few milliseconds each (a whole page of it takes seconds when the
// host is busy).
constexpr Millis GOGGLES_GRACE(10000);
constexpr Millis GOGGLES_SYNC(5000);
// An app on the goggles' AV path draws its overlay through the guest's transport, a cell at a
// few milliseconds, before the first line of its log.
constexpr Millis GOGGLES_APP_LOG_GRACE(15000);

// Polls `done` on the real clock until it holds (true) or `limit` has passed (false).
bool wait_real(const std::function<bool()>& done, Millis limit);

} // namespace vxscenario
