#pragma once
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/version.h"
#include "board/board.h"

namespace systest {

using vxboard::Millis;

constexpr Millis START_TIMEOUT(15000); // qemu-arm takes a while to bring up a binary
inline const std::string BANNER =
    std::string("VornaX-Launcher v") + VERSION + " started (adc=1 yoff=0 fb=1)\n";
constexpr const char* NORMAL_REGS = "mode: LT8668 B7=0x01 AD=0x00 AC=0x00\n";
constexpr const char* BOOT_NORMAL = "boot mode=1 (0=? 1=NORMAL 2=HDMI 3=AV)\n";

// What a sanitizer build of the launcher (or of anything else on the board) writes to its
// standard error when it finds a fault: the process ends there, which a test may not notice.
constexpr const char* SANITIZER_MARKS[] = {"ERROR: AddressSanitizer",
                                           "AddressSanitizer:DEADLYSIGNAL", "LeakSanitizer",
                                           "runtime error:", "ERROR: UndefinedBehaviorSanitizer"};

inline void expect_no_sanitizer_report(const vxboard::Board& b) {
    const std::vector<std::string> lines = b.lines();
    for (size_t i = 0; i < lines.size(); ++i)
        for (const char* mark : SANITIZER_MARKS)
            if (lines[i].find(mark) != std::string::npos) {
                std::string report;
                for (size_t j = i; j < lines.size() && j < i + 40; ++j)
                    report += "  | " + lines[j];
                ADD_FAILURE() << "sanitizer report on the board:\n" << report;
                return;
            }
}

// A scratch app directory and a board around it. Every board taken down during the test is
// checked for sanitizer reports, also one a test drops itself.
class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vxboard::Board::set_stop_hook(expect_no_sanitizer_report);
        char tmpl[] = "/tmp/vx-apps-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        apps_ = tmpl;
    }
    void TearDown() override {
#if defined(__SANITIZE_ADDRESS__)
        // A report the test's last step provoked is still on its way: let it arrive.
        if (board_) board_->settle(Millis(100), Millis(500));
#endif
        board_.reset();
        vxboard::Board::set_stop_hook(nullptr);
        std::filesystem::remove_all(apps_);
    }

    vxboard::Board& start(vxboard::BoardConfig cfg = {}) {
        if (cfg.with_apps && cfg.apps_dir.empty()) cfg.apps_dir = apps_;
        board_ = std::make_unique<vxboard::Board>(cfg);
        board_->start();
        return *board_;
    }

    // Starts the board and waits until the launcher has scanned its catalogue.
    vxboard::Board& start_ready(vxboard::BoardConfig cfg = {}) {
        vxboard::Board& b = start(std::move(cfg));
        EXPECT_TRUE(b.wait_line("scan done:", START_TIMEOUT)) << dump();
        return b;
    }

    void app(const std::string& name, const std::string& manifest = "", unsigned mode = 0755) {
        vxboard::make_app(apps_, name, "#!/bin/sh\nexit 0\n", manifest, mode);
    }

    std::string dump() const {
        std::string s;
        if (board_)
            for (const std::string& l : board_->lines())
                s += "  | " + l;
        return s;
    }

    std::string apps_;
    std::unique_ptr<vxboard::Board> board_;
};

} // namespace systest
