// The launcher's standard error, its log, read a line at a time: by a thread of the board's
// while the launcher runs, and by a stepped test at the end of every pass, so that a pass's
// lines are there as soon as the pass is.
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "board/board.h"

namespace vxboard {

void Board::read_stderr() {
    pollfd p{err_fd_, POLLIN, 0};
    for (;;) {
        if (poll(&p, 1, -1) < 0 && errno != EINTR) return;
        std::lock_guard<std::mutex> lock(mu_);
        if (!take_stderr_locked()) return;
    }
}

// Takes whatever the pipe holds into the lines; false once it has reached its end.
bool Board::take_stderr_locked() {
    if (eof_) return false;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(err_fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            cv_.notify_all();
            return true;
        }
        if (n <= 0) {
            if (!partial_.empty()) lines_.push_back(partial_), partial_.clear();
            eof_ = true;
            cv_.notify_all();
            return false;
        }
        partial_.append(buf, static_cast<size_t>(n));
        for (size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, nl + 1));
            partial_.erase(0, nl + 1);
        }
    }
}

std::vector<std::string> Board::lines(size_t from) const {
    std::lock_guard<std::mutex> lock(mu_);
    if (from >= lines_.size()) return {};
    return {lines_.begin() + static_cast<std::ptrdiff_t>(from), lines_.end()};
}

size_t Board::line_count() const {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_.size();
}

std::optional<size_t> Board::wait_line(const std::string& needle, Millis timeout, size_t from) {
    std::unique_lock<std::mutex> lock(mu_);
    std::optional<size_t> found;
    cv_.wait_for(lock, timeout, [&] {
        for (size_t i = from; i < lines_.size(); ++i)
            if (lines_[i].find(needle) != std::string::npos) return found = i, true;
        return eof_;
    });
    return found;
}

std::vector<std::string> Board::settle(Millis quiet, Millis timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mu_);
    size_t seen = lines_.size();
    while (std::chrono::steady_clock::now() < end && !eof_) {
        cv_.wait_for(lock, quiet);
        if (lines_.size() == seen) break;
        seen = lines_.size();
    }
    return lines_;
}

} // namespace vxboard
