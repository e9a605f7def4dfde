// The app library's pure part, from a table: the event stream an app gets from the button
// line's samples (the launcher's debouncer, then presses, releases and repeats). The text it
// draws and the overlay's characters are the launcher's own (draw_test, osd_test).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "applib/app_events.h"
#include "base/clock.h"
#include "hw/keys_logic.h"

namespace {

int32_t g_now = 0;
int32_t clock_now() {
    return g_now;
}

// Samples 20 ms apart from t0 ('N' no button, 'U' UP, 'D' DOWN, 'M' MIDDLE), and the events
// they make, as "P4@40" (press of MIDDLE at 40 ms), "R1@200/160" (release of DOWN at 200 ms,
// held 160 ms), "T0@560/500" (a repeat of UP at 560 ms, held 500 ms).
std::vector<std::string> events_of(const std::string& samples, int32_t t0) {
    KeyDebounce d;
    AppEvents e;
    std::vector<std::string> out;
    for (size_t i = 0; i < samples.size(); ++i) {
        g_now = ms_after(t0, static_cast<int32_t>(i) * 20);
        const int32_t key = samples[i] == 'U'   ? KEY_UP
                            : samples[i] == 'D' ? KEY_DOWN
                            : samples[i] == 'M' ? KEY_MIDDLE
                                                : KEY_NONE;
        int32_t duration = 0;
        const int32_t value = keys_debounce(&d, key, clock_now, &duration);
        vx_event ev{};
        const int32_t at = ms_elapsed(g_now, t0);
        for (bool got = app_events_take(&e, value, duration, g_now, &ev); got;
             got = app_events_repeat(&e, g_now, &ev)) {
            const char* kind = ev.type == VX_EVENT_PRESS     ? "P"
                               : ev.type == VX_EVENT_RELEASE ? "R"
                                                             : "T";
            out.push_back(kind + std::to_string(ev.key) + "@" + std::to_string(at) +
                          (ev.type == VX_EVENT_PRESS ? "" : "/" + std::to_string(ev.held_ms)));
        }
        if (value == 0 && app_events_repeat(&e, g_now, &ev))
            out.push_back("T" + std::to_string(ev.key) + "@" + std::to_string(at) + "/" +
                          std::to_string(ev.held_ms));
    }
    return out;
}

TEST(AppEvents, PressReleaseAndRepeatsForUpAndDownOnly) {
    const std::string held_down = std::string(2, 'N') + std::string(40, 'D') + "NNN";
    const struct {
        const char* name;
        std::string samples;
        int32_t t0;
        std::vector<std::string> events;
    } cases[] = {
        {"a tap: no repeat", "NNMMMMMNNN", 0, {"P4@80", "R4@180/100"}},
        {"DOWN held 800 ms: repeats from 500 ms, every 150 ms",
         held_down,
         0,
         {"P1@80", "T1@580/500", "T1@740/660", "R1@880/800"}},
        {"MIDDLE held as long: no repeat",
         std::string(2, 'N') + std::string(40, 'M') + "NNN",
         0,
         {"P4@80", "R4@880/800"}},
        {"a slide from UP to DOWN ends UP's repeats",
         "NN" + std::string(30, 'U') + std::string(30, 'D') + "NNN",
         0,
         {"P0@80", "T0@580/500", "P1@680", "T1@1180/500", "R1@1280/600"}},
        {"across the clock's wrap",
         held_down,
         INT32_MAX - 300,
         {"P1@80", "T1@580/500", "T1@740/660", "R1@880/800"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(events_of(c.samples, c.t0), c.events) << c.name;
}

} // namespace
