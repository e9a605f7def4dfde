#pragma once
// What the in-process tests of the launch and the process tracking share: reading files
// whole, waiting for a condition, and catching the launcher's log lines.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

inline std::string slurp(const std::filesystem::path& p) {
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

// Standard error while `body` runs, by way of `file`: the launcher's log lines.
inline std::string stderr_of(const std::filesystem::path& file, const std::function<void()>& body) {
    const int saved = dup(2);
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
    body();
    dup2(saved, 2);
    close(saved);
    return slurp(file);
}
