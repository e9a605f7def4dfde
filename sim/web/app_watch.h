#pragma once
// The board's processes by their part, the app that runs (or the last one) and the tail of
// its log: a walk of /proc and of the staging directory, which the pump takes now and then.
// The pump's own: one thread.
#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>

#include "board/board.h"

namespace vxweb {

class AppWatch {
  public:
    explicit AppWatch(vxboard::Board& board) : board_(board) {}

    // Walks the processes; true when anything shown of them changed. `new_app`: another app
    // runs than the last one seen.
    bool look_at_processes(bool& new_app);
    // True when the app's log changed since the last look.
    bool look_at_log();
    bool running() const { return running_; }
    bool has_app() const { return !name_.empty(); }
    // {"processes", "service", "app": {"name", "running", "pid", "status", "log"}}
    nlohmann::json as_json() const;

  private:
    struct Seen {
        std::string name;
        bool running = false;
        int pid = 0;
    };
    Seen find_app(const nlohmann::json& processes) const;
    nlohmann::json app_json(const Seen& seen, bool& new_app);

    vxboard::Board& board_;
    nlohmann::json shown_ = nlohmann::json::object();
    std::string name_, log_;
    int pid_ = 0;
    bool running_ = false;
    off_t log_size_ = -1;
};

} // namespace vxweb
