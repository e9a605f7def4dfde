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

// Polls `done` on the real clock until it holds (true) or `limit` has passed (false).
bool wait_real(const std::function<bool()>& done, Millis limit);

} // namespace vxscenario
