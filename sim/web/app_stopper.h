#pragma once
// "stop app": SIGTERM to the app's process group and SIGKILL to it the escape's span later,
// as the wearer's escape does, on a thread of its own so that the tabs' other requests go on.
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "board/board.h"

namespace vxweb {

class AppStopper {
  public:
    // `done` is told when a stop has ended, on the stopper's thread.
    AppStopper(vxboard::Board& board, std::function<void()> done)
        : board_(board), done_(std::move(done)) {}
    ~AppStopper();
    AppStopper(const AppStopper&) = delete;
    AppStopper& operator=(const AppStopper&) = delete;

    void start();
    // Another app runs: what the last stop said is no longer about it.
    void forget();
    // {"busy", "text"}
    nlohmann::json as_json() const;

  private:
    vxboard::Board& board_;
    const std::function<void()> done_;
    mutable std::mutex mu_;
    bool busy_ = false;
    std::string text_;
    std::thread thread_;
};

} // namespace vxweb
