// `compare`: the screen against a reference picture, and where they differ drawn in red over
// the screen faded to a third.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "png/png_io.h"
#include "scenario/scenario.h"
#include "scenario/texts.h"

namespace fs = std::filesystem;

namespace vxscenario {
namespace {

constexpr Millis COMPARE_AGAIN(100);

struct Difference {
    size_t pixels = 0;
    uint32_t x0, y0, x1 = 0, y1 = 0; // the pixels' bounds, inclusive
    std::vector<uint32_t> picture;
};

Difference differences(const std::vector<uint32_t>& got, const std::vector<uint32_t>& want,
                       uint32_t w, uint32_t h) {
    Difference d{0, w, h, 0, 0, std::vector<uint32_t>(got.size())};
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (((got[i] ^ want[i]) & 0xFFFFFF) == 0) {
                const uint32_t g =
                    ((got[i] >> 16 & 0xFF) + (got[i] >> 8 & 0xFF) + (got[i] & 0xFF)) / 9;
                d.picture[i] = 0xFF000000u | g << 16 | g << 8 | g;
                continue;
            }
            d.picture[i] = 0xFFFF0000u;
            ++d.pixels;
            d.x0 = std::min(d.x0, x), d.y0 = std::min(d.y0, y);
            d.x1 = std::max(d.x1, x), d.y1 = std::max(d.y1, y);
        }
    return d;
}

} // namespace

Session::Check Session::compare(const Step& s) {
    const std::string ref = path_near_scenario(s.text);
    const std::string shot = board_->workdir() + "/compare.png";
    board_->screenshot(shot);
    std::vector<uint32_t> got, want;
    uint32_t w = 0, h = 0, rw = 0, rh = 0;
    if (!vxboard::read_png_argb(shot, got, w, h)) return "cannot read the screenshot back";
    if (options_.accept) {
        if (fs::path(ref).has_parent_path()) fs::create_directories(fs::path(ref).parent_path());
        fs::copy_file(shot, ref, fs::copy_options::overwrite_existing);
        return std::nullopt;
    }
    if (!vxboard::read_png_argb(ref, want, rw, rh))
        return mismatch("the screen as " + ref, "no such picture (--accept writes it)");
    if (rw != w || rh != h)
        return mismatch("a " + std::to_string(rw) + "x" + std::to_string(rh) + " screen",
                        std::to_string(w) + "x" + std::to_string(h));
    Difference d = differences(got, want, w, h);
    // On the emulated goggles an app's picture reaches the board when it next compares the
    // page on screen, a quarter of a second at most after the app drew it (the log line that
    // follows the drawing may come first): the picture has a while to come.
    const auto end = std::chrono::steady_clock::now() + grace();
    while (d.pixels != 0 && board_->goggles() != nullptr &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(COMPARE_AGAIN);
        board_->screenshot(shot);
        if (!vxboard::read_png_argb(shot, got, w, h) || rw != w || rh != h)
            return "cannot read the screenshot back";
        d = differences(got, want, w, h);
    }
    if (d.pixels == 0) return std::nullopt;
    const std::string diff_path =
        (fs::path(options_.out_dir) / (fs::path(s.text).stem().string() + ".diff.png")).string();
    vxboard::write_png_rgb(diff_path, d.picture.data(), w, h, w);
    return mismatch("the screen as " + ref, std::to_string(d.pixels) + " pixels differ, within (" +
                                                std::to_string(d.x0) + "," + std::to_string(d.y0) +
                                                ")-(" + std::to_string(d.x1) + "," +
                                                std::to_string(d.y1) + "); in red on " + diff_path);
}

} // namespace vxscenario
