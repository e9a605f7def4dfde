#pragma once
// What the tests of every depth share: a file read whole, a condition waited for, and a
// scratch directory of the test's own, with apps made in it as an installer leaves them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Whether `done` came to hold within `timeout`, asked every 5 ms.
inline bool wait_until(const std::function<bool()>& done,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > until) return false;
    return true;
}

class ScratchDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // An app of the catalogue in the scratch directory: `name`/app, a shell script with the
    // permission bits `mode`, and `name`/manifest unless it is empty.
    void app(const std::string& name, const std::string& manifest = "", mode_t mode = 0755) {
        fs::create_directories(dir_ / name);
        std::ofstream(dir_ / name / "app") << "#!/bin/sh\nexit 0\n";
        chmod((dir_ / name / "app").c_str(), mode);
        if (!manifest.empty()) std::ofstream(dir_ / name / "manifest") << manifest;
    }

    fs::path dir_;
};
