// One menu frame (fb_begin_frame_no_clear + render_menu, as the launcher draws the menu) and
// one frame of the hold's progress panel (fb_begin_frame + draw_hold_panel, as the launcher
// draws it on every pass of the hold) against the whole-canvas clear of fb_begin_frame
// alone, on a page-sized buffer in place of the device memory. The ratios are what count:
// all run on the same memory in the same process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/fb_device.h"
#include "display/hold_panel.h"
#include "display/menu.h"

namespace {

std::vector<uint32_t> g_mem(LINE_PIXELS* FB_VIRTUAL_ROWS);

void setup_fb() {
    g_fb = Framebuffer{};
    g_fb.mem = reinterpret_cast<uint8_t*>(g_mem.data());
    g_fb.fix.line_length = LINE_BYTES;
}

AppTable sixteen_apps() {
    AppTable t;
    std::memset(&t, 0, sizeof t);
    t.count = 16;
    t.selected = 9;
    for (int i = 0; i < 16; ++i) {
        std::snprintf(t.entries[i].name, sizeof t.entries[i].name, "application-%02d", i);
        std::snprintf(t.entries[i].desc, sizeof t.entries[i].desc,
                      "a description of about forty characters %d", i);
        std::snprintf(t.entries[i].version, sizeof t.entries[i].version, "1.%d", i);
        t.entries[i].modes = 1;
        t.entries[i].allowed = i % 5 != 0;
    }
    return t;
}

int32_t fixed_clock() {
    return 0;
}

// Each step ends by switching pages, as presenting would.
void clear_step() {
    fb_begin_frame();
    benchmark::ClobberMemory();
    g_fb.page ^= 1;
}

void menu_frame_step(const AppTable& apps) {
    fb_begin_frame_no_clear();
    render_menu(fb_canvas(), apps, 0, fixed_clock);
    benchmark::ClobberMemory();
    g_fb.page ^= 1;
}

void BM_Clear(benchmark::State& state) {
    setup_fb();
    for (auto _ : state)
        clear_step();
}

void BM_MenuFrame(benchmark::State& state) {
    setup_fb();
    const AppTable apps = sixteen_apps();
    for (auto _ : state)
        menu_frame_step(apps);
}

// The fill grows over the panel's window as it does between 500 and 1499 ms of the hold,
// one loop pass (about 40 ms) at a time.
void BM_HoldPanelFrame(benchmark::State& state) {
    setup_fb();
    int32_t elapsed = HOLD_PANEL_FIRST_MS;
    for (auto _ : state) {
        fb_begin_frame();
        draw_hold_panel(fb_canvas(), elapsed);
        benchmark::ClobberMemory();
        g_fb.page ^= 1;
        elapsed = elapsed + 40 > 1499 ? HOLD_PANEL_FIRST_MS : elapsed + 40;
    }
}

// The clear and the menu frame timed back to back in every iteration, each on its own page,
// so that whatever else the machine is doing weighs on both alike: on a shared host the two
// benchmarks above, run a second apart, drift by more than the difference being measured.
// The counter is the frame's total time over the clear's.
void BM_MenuFramePerClear(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    setup_fb();
    const AppTable apps = sixteen_apps();
    double clear_s = 0, frame_s = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        clear_step();
        const auto t1 = Clock::now();
        menu_frame_step(apps);
        const auto t2 = Clock::now();
        clear_s += std::chrono::duration<double>(t1 - t0).count();
        frame_s += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    if (clear_s > 0) state.counters["per_clear"] = frame_s / clear_s;
}

BENCHMARK(BM_Clear)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(BM_MenuFrame)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(BM_HoldPanelFrame)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(BM_MenuFramePerClear)->Unit(benchmark::kMicrosecond)->MinTime(0.5)->UseManualTime();

// Prints the ratios to the clear after the usual table: of the medians when the runs were
// repeated, of the single runs otherwise, never of another aggregate (a spread). Each ratio
// is also a "figure|name|measured|target" line, which tools/bench.sh collects.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type == Run::RT_Aggregate && !median) continue;
            if (!median && r.repetitions > 1) continue;
            const std::string& name = r.run_name.function_name;
            if (name == "BM_Clear") clear_ = r.GetAdjustedRealTime();
            if (name == "BM_MenuFrame") frame_ = r.GetAdjustedRealTime();
            if (name == "BM_HoldPanelFrame") panel_ = r.GetAdjustedRealTime();
            if (name == "BM_MenuFramePerClear") {
                const auto it = r.counters.find("per_clear");
                if (it != r.counters.end()) paired_ = it->second;
            }
            runs_ = std::max(runs_, static_cast<int>(r.repetitions));
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const std::string of =
            runs_ > 1 ? " (medians of " + std::to_string(runs_) + ")" : " (single runs)";
        if (paired_ > 0)
            std::printf("figure|menu frame / canvas clear, timed in pairs%s|%.3f|<= 1.2\n",
                        of.c_str(), paired_);
        if (clear_ <= 0) return;
        if (frame_ > 0)
            std::printf("figure|menu frame / canvas clear%s|%.3f|<= 1.2\n", of.c_str(),
                        frame_ / clear_);
        if (panel_ > 0)
            std::printf("figure|hold panel frame / canvas clear%s|%.3f|\n", of.c_str(),
                        panel_ / clear_);
    }

  private:
    double clear_ = 0, frame_ = 0, panel_ = 0, paired_ = 0;
    int runs_ = 1;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return 0;
}
