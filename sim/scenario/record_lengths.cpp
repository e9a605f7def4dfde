#include "scenario/record_lengths.h"

#include <cstdlib>
#include <string_view>
#include <utility>

#include "base/log_lines.h"
#include "base/timings.h"
#include "hw/keys_logic.h"

namespace vxscenario {
namespace {

// The launcher times a press from its third equal sample to its third sample of the release,
// a pass (up to about 50 ms) either side of the line's own length, here and in the replay
// alike: a length closer than this to one of its thresholds is written this far from it.
constexpr int64_t CLEAR_MS = 100;

// The lines that say a PLAY hold went past a threshold.
const std::pair<int32_t, std::string_view> PAST[] = {
    {HOLD_BLOCK_MS, LOG_KEYS_BLOCKED},           {HOLD_OPEN_MS, LOG_MENU_OPEN},
    {HOLD_OPEN_MS, LOG_MENU_OSD_OPEN},           {HOLD_OPEN_MS, LOG_MENU_SUPPRESSED},
    {HOLD_OPEN_MS, LOG_FB_MENU_REFUSED},         {HOLD_OPEN_MS, LOG_OSD_OPEN_FAIL},
    {HOLD_OPEN_MS, LOG_OSD_OPEN_FAIL_AFTER_APP}, {HOLD_CLOSE_MS, LOG_MENU_CLOSED.c_str()},
    {ESCAPE_HOLD_MS, LOG_APP_STOPPED.c_str()},
};

// The lines that give the length the launcher measured when it let a hold go: which value.
const std::pair<std::string_view, size_t> MEASURED[] = {
    {LOG_HOLD_ABORTED, 1},
    {LOG_CLOSING_HOLD_ABORTED, 0},
};

// What the launcher measured of a PLAY hold it let go, if the line says.
std::optional<long> measured_hold(const vxboard::LogLine& l) {
    for (const auto& [form, value] : MEASURED)
        if (l.form == form) return std::atol(l.values[value].c_str());
    return std::nullopt;
}

// The launcher's own side of `threshold` for a press held `ms` on the line, where its answer
// tells: PLAY's from a line of what the threshold does or the length it measured when it let
// the hold go; another key's from whether it acted as on a tap. Else the side the line's
// length lies on.
bool over(int key, int32_t threshold, int64_t ms, const Answer& a) {
    if (key == KEY_PLAY) {
        for (const vxboard::LogLine& l : a.lines)
            for (const auto& [t, form] : PAST)
                if (t == threshold && l.form == form) return true;
        for (const vxboard::LogLine& l : a.lines) {
            const std::optional<long> measured = measured_hold(l);
            if (!measured) continue;
            // A hold let go at another button's press says 0 ms: it ended before it opened
            // or closed the menu.
            if (*measured > 0) return *measured >= threshold;
            if (threshold >= HOLD_OPEN_MS) return false;
        }
        return ms >= threshold;
    }
    for (const vxboard::LogLine& l : a.lines)
        if (l.form == LOG_LAUNCHED || l.form == LOG_LAUNCH_FAILED) return false;
    return a.changed ? !*a.changed : ms > threshold;
}

} // namespace

std::string duration(int64_t ms) {
    ms = (ms + 5) / 10 * 10;
    if (ms < 1000) return std::to_string(ms) + "ms";
    std::string s =
        std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 10 + 100).substr(1);
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    return s + "s";
}

int64_t clear_of_thresholds(int key, int64_t ms, const Answer& a, std::string& why) {
    const std::vector<int32_t> thresholds =
        key == KEY_PLAY
            ? std::vector<int32_t>{HOLD_BLOCK_MS, HOLD_OPEN_MS, HOLD_CLOSE_MS, ESCAPE_HOLD_MS}
            : std::vector<int32_t>{TAP_MAX_MS};
    for (const int32_t t : thresholds) {
        if (std::llabs(ms - t) >= CLEAR_MS) continue;
        const bool past = over(key, t, ms, a);
        why = "held " + duration(ms) + ", taken as " + (past ? "over " : "under ") + duration(t);
        return past ? t + CLEAR_MS : t - CLEAR_MS;
    }
    return ms;
}

} // namespace vxscenario
