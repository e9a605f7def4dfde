#pragma once
// A press's length as a recording writes it: to 10 ms, and clear of the launcher's thresholds
// on the side the launcher's answer shows.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "board/log_forms.h"

namespace vxscenario {

// 130ms, 2.04s, 3.3s: to 10 ms, which no step of the launcher's resolves.
std::string duration(int64_t ms);

// What the launcher answered to a press: its lines until the next action, and whether what
// it showed changed (unknown without a look just before and one after).
struct Answer {
    std::vector<vxboard::LogLine> lines;
    std::optional<bool> changed;
};

// The length to write for `key` held `ms` on the line; `why` says when it is not `ms`.
int64_t clear_of_thresholds(int key, int64_t ms, const Answer& a, std::string& why);

} // namespace vxscenario
