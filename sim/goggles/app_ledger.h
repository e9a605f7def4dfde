#pragma once
// The apps the release's launcher starts in the emulated goggles and how each ended, kept in
// the board state's ring of app runs as the fast board's preload keeps it there. The static
// launcher has no preload: its log says what it started and when it collected it, and the
// guest's agent tells each process's end with its wait status and, for an exec that never
// went through, its errno. The two arrive in either order.
#include <sys/types.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "board_state.h"

namespace vxgoggles {

class AppLedger {
  public:
    explicit AppLedger(vxboard::AppRuns& runs) : runs_(runs) {}

    // A whole line of the launcher's log ("launched NAME pid=N", "child NAME exited", ...).
    void log_line(const std::string& line);
    // A process of the guest ended: the status its parent's wait gets, the errno of an exec
    // that failed (0: none failed, or one went through).
    void exited(pid_t pid, int wait_status, int exec_errno);
    // Forgets every process's end, for the next run on the same boot (whose app runs start
    // in a fresh board state).
    void reset();
    // Whether the guest told the end of a process of this pid.
    bool ended(pid_t pid) const;

  private:
    struct End {
        int wait_status, exec_errno;
    };
    vxboard::AppRun* latest(const std::string& name, pid_t pid);
    void collect(vxboard::AppRun& run, const End& end);

    vxboard::AppRuns& runs_;
    mutable std::mutex mu_;
    std::map<pid_t, End> ends_;
    std::vector<pid_t> collected_; // collected by the launcher, their ends yet to come
};

} // namespace vxgoggles
