// An app's whole picture through the app library (a clear of the whole page, a panel, three
// lines of text, a 256 x 256 image, the present) against the clear of the whole page alone,
// timed in pairs on a page-sized buffer in place of the device memory, as frame_bench does
// for the launcher's menu. The present's pan is a system call that fails here at once; on
// the goggles it costs a few microseconds.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "applib/app_state.h"
#include "display/fb_device.h"

namespace {

std::vector<uint32_t> g_mem(LINE_PIXELS* FB_VIRTUAL_ROWS);
std::vector<uint32_t> g_image(256 * 256, 0xFF336699u);

void setup() {
    g_fb = Framebuffer{};
    g_fb.mem = reinterpret_cast<uint8_t*>(g_mem.data());
    g_fb.fix.line_length = LINE_BYTES;
    g_app.open = true;
    g_app.screen = true;
    fb_begin_frame_no_clear();
}

// Each step ends on the other page, as presenting would.
void clear_step() {
    vx_clear(0);
    benchmark::ClobberMemory();
    g_fb.page ^= 1;
    fb_begin_frame_no_clear();
}

void picture_step() {
    vx_clear(0);
    vx_fill(660, 400, 600, 220, 0xC0203040u);
    vx_text(VX_FONT_LARGE, 700, 440, 0xFFFFFFu, "Hello, world!");
    vx_text(VX_FONT_LARGE, 700, 500, 0xFF47A5u, "12345");
    vx_text(VX_FONT_SMALL, 700, 580, 0xFFFFFFu, "BACK = exit");
    vx_blit(100, 100, 256, 256, g_image.data(), 256);
    vx_present();
    benchmark::ClobberMemory();
    g_fb.page ^= 1;
    fb_begin_frame_no_clear();
}

void BM_AppPicturePerClear(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    setup();
    double clear_s = 0, picture_s = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        clear_step();
        const auto t1 = Clock::now();
        picture_step();
        const auto t2 = Clock::now();
        clear_s += std::chrono::duration<double>(t1 - t0).count();
        picture_s += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    if (clear_s > 0) state.counters["per_clear"] = picture_s / clear_s;
}

BENCHMARK(BM_AppPicturePerClear)->Unit(benchmark::kMicrosecond)->MinTime(0.5)->UseManualTime();

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if ((r.run_type == Run::RT_Aggregate && !median) || (!median && r.repetitions > 1))
                continue;
            const auto it = r.counters.find("per_clear");
            if (it != r.counters.end()) ratio_ = it->second;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (ratio_ > 0)
            std::printf("figure|app picture and present / page clear, timed in pairs|%.3f|<= 1.2\n",
                        ratio_);
    }

  private:
    double ratio_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return 0;
}
