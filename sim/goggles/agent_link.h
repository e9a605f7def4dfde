#pragma once
// What the emulated goggles' agent tells the board, one line a message (sim/guest/agent.cpp
// lists them), taken apart and kept: the framebuffer's geometry and pages, its pan position,
// the guest's processes; bytes of the followed files go to whoever mirrors them.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

#include "goggles/guest_memory.h"

namespace vxgoggles {

struct GuestFb {
    uint32_t xres = 0, yres = 0, xres_virtual = 0, yres_virtual = 0;
    uint32_t line_length = 0, smem_len = 0;
};

struct GuestProcess {
    pid_t pid, ppid, pgid;
    char state;
    std::string comm;
};

struct AgentEvents {
    std::function<void()> framebuffer;               // the geometry and pages are known
    std::function<void(uint32_t x, uint32_t y)> pan; // the pan position changed
    std::function<void(const std::string& path, uint64_t offset, const std::string& bytes)> file;
    std::function<void(const std::string& path, uint64_t size)> truncate;
    std::function<void()> processes; // a new process list
    // A process ended: its wait status, and the errno of its exec that failed (0: none).
    std::function<void(pid_t pid, int wait_status, int exec_errno)> exit;
    // The followed files were sent up to the board's `sync N`.
    std::function<void(uint64_t n)> synced;
    // The board's command N (a halt, a start) is done, with its status (0: as asked).
    std::function<void(uint64_t n, int status)> done;
};

class AgentLink {
  public:
    explicit AgentLink(AgentEvents events) : events_(std::move(events)) {}

    // One line of the agent's, without its newline. False for a line it does not know.
    bool take(const std::string& line);

    GuestFb fb() const;
    std::vector<PageRun> fb_pages() const;
    std::vector<GuestProcess> processes() const;

  private:
    AgentEvents events_;
    mutable std::mutex mu_;
    GuestFb fb_;
    std::vector<PageRun> pages_;
    std::vector<GuestProcess> processes_, incoming_;
};

} // namespace vxgoggles
