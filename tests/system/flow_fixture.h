#pragma once
// What the menu-flow tests share: reading the goggles' screen off the board's framebuffer
// and waiting for the launcher to get somewhere.
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "board_fixture.h"
#include "board_paths.h"
#include "display/draw.h"

namespace systest {

enum Key : int { UP = 0, DOWN = 1, MIDDLE = 4, PLAY = 6 };

constexpr Millis TAP(150);
constexpr Millis OPEN_HOLD(2000);
constexpr Millis CLOSE_HOLD(3300);

inline bool wait_until(const std::function<bool()>& ok, Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (ok()) return true;
        std::this_thread::sleep_for(Millis(10));
    }
    return ok();
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Number in a log line after `prefix`, e.g. the 512 of "keys blocked at 512 ms".
inline long number_after(const std::string& line, const std::string& prefix) {
    const auto at = line.find(prefix);
    return at == std::string::npos ? -1 : std::atol(line.c_str() + at + prefix.size());
}

class FlowTest : public BoardTest {
  public:
    // The pixel at canvas (x, y) of the page on screen.
    uint32_t screen_px(int x, int y) const {
        const uint32_t row = board_->screen_row();
        return board_->fb_pixels()[static_cast<size_t>(row + y) * 1920 + x];
    }
    bool launcher_page_shown() const { return board_->screen_row() != 0; }
    // The list slot highlighted on screen, -1 when none (or the goggles' page).
    int highlighted_slot() const {
        if (!launcher_page_shown()) return -1;
        for (int s = 0; s < 6; ++s)
            if (screen_px(700, 174 + 66 * s) == COL_ROW_HIGHLIGHT) return s;
        return -1;
    }
    bool menu_shown() const { return launcher_page_shown() && screen_px(255, 100) == COL_PANEL; }
    // Whether the canvas of the page on screen is black everywhere outside the menu's panel.
    bool black_around_menu() const {
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                const bool in_panel = x >= 250 && x < 1030 && y >= 78 && y < 644;
                if (!in_panel && screen_px(x, y) != 0) return false;
            }
        return true;
    }
    bool progress_panel_shown() const {
        return launcher_page_shown() && screen_px(455, 690) == COL_PANEL;
    }

    // An app that reports how it was started (see sim/probe), with its manifest.
    void probe(const std::string& name, const std::string& manifest = "") {
        const std::filesystem::path dir = std::filesystem::path(apps_) / name;
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file(VX_PROBE_APP_PATH, dir / "app",
                                   std::filesystem::copy_options::overwrite_existing);
        if (!manifest.empty()) std::ofstream(dir / "manifest") << manifest;
    }

    // Starts the board and opens the menu with a PLAY hold.
    vxboard::Board& open_menu(vxboard::BoardConfig cfg = {}) {
        vxboard::Board& b = start_ready(std::move(cfg));
        b.tap(PLAY, OPEN_HOLD);
        EXPECT_TRUE(b.wait_line("menu open (hold play", Millis(3000))) << dump();
        EXPECT_TRUE(wait_until([&] { return menu_shown(); }, Millis(1000)));
        return b;
    }

    // Index of the first line at or after `from` containing `needle`, waiting for it.
    size_t line_at(const std::string& needle, size_t from = 0, Millis timeout = Millis(3000)) {
        const auto i = board_->wait_line(needle, timeout, from);
        EXPECT_TRUE(i) << "no line \"" << needle << "\"\n" << dump();
        return i.value_or(board_->lines().size());
    }
    std::string line(size_t i) const {
        const auto all = board_->lines();
        return i < all.size() ? all[i] : std::string();
    }
    bool logged(const std::string& needle, size_t from = 0) const {
        const std::vector<std::string> all = board_->lines();
        for (size_t i = from; i < all.size(); ++i)
            if (all[i].find(needle) != std::string::npos) return true;
        return false;
    }
};

} // namespace systest
