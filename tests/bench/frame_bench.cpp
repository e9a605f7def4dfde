// One menu frame (fb_begin_frame_no_clear + render_menu, as the launcher draws the menu)
// against the whole-canvas clear of fb_begin_frame alone, on a page-sized buffer in place of
// the device memory. The ratio is what counts: both run on the same memory in the same
// process.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/fb_device.h"
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

void BM_Clear(benchmark::State& state) {
    setup_fb();
    for (auto _ : state) {
        fb_begin_frame();
        benchmark::ClobberMemory();
        g_fb.page ^= 1; // alternate pages as presenting would
    }
}

void BM_MenuFrame(benchmark::State& state) {
    setup_fb();
    const AppTable apps = sixteen_apps();
    for (auto _ : state) {
        fb_begin_frame_no_clear();
        render_menu(fb_canvas(), apps, 0, fixed_clock);
        benchmark::ClobberMemory();
        g_fb.page ^= 1;
    }
}

BENCHMARK(BM_Clear)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
BENCHMARK(BM_MenuFrame)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

// Prints the ratio of the two timings after the usual table: of the medians when the runs
// were repeated, of the single runs otherwise, never of another aggregate (a spread).
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
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (clear_ > 0 && frame_ > 0)
            std::printf("menu frame / clear = %.3f (target <= 1.2)\n", frame_ / clear_);
    }

  private:
    double clear_ = 0, frame_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return 0;
}
