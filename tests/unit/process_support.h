#pragma once
// What the in-process tests of the catalogue, the launch and the process tracking share: a
// scratch directory, children that only wait, reading files whole, waiting for a condition,
// and catching the launcher's log lines.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline bool wait_until(const std::function<bool()>& done, int timeout_ms = 5000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > until) return false;
    return true;
}

// The exit status of a child, or -1 when a signal ended it.
inline int exit_status(pid_t pid) {
    int st = 0;
    return waitpid(pid, &st, 0) == pid && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class ScratchDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-unit-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        for (pid_t pid : children_)
            end_child(pid);
        fs::remove_all(dir_);
    }

    // A child that only waits, under `name` (once this returns), killed with the test or
    // should the test die.
    pid_t spawn(const char* name = nullptr) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (name != nullptr) prctl(PR_SET_NAME, name);
            for (;;)
                pause();
        }
        children_.push_back(pid);
        const std::string comm = "/proc/" + std::to_string(pid) + "/comm";
        EXPECT_TRUE(name == nullptr ||
                    wait_until([&] { return slurp(comm) == name + std::string("\n"); }));
        return pid;
    }
    static void end_child(pid_t pid) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    // Standard error while `body` runs: the launcher's log lines.
    std::string stderr_of(const std::function<void()>& body) {
        const int saved = dup(2);
        const int fd = open((dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        close(fd);
        body();
        dup2(saved, 2);
        close(saved);
        return slurp(dir_ / "stderr");
    }

    fs::path dir_;
    std::vector<pid_t> children_;
};
