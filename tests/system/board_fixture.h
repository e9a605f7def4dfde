#pragma once
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <memory>
#include <string>

#include "board/board.h"

namespace systest {

using vxboard::Millis;

constexpr Millis START_TIMEOUT(15000); // qemu-arm takes a while to bring up a binary
constexpr const char* BANNER = "VornaX-Launcher v1.4.1 started (adc=1 yoff=0 fb=1)\n";
constexpr const char* NORMAL_REGS = "mode: LT8668 B7=0x01 AD=0x00 AC=0x00\n";
constexpr const char* BOOT_NORMAL = "boot mode=1 (0=? 1=NORMAL 2=HDMI 3=AV)\n";

// A scratch app directory and a board around it.
class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-apps-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        apps_ = tmpl;
    }
    void TearDown() override {
        board_.reset();
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
