// The board state as the preload reaches it: the file the sandbox binds at BOARD_STATE_PATH,
// mapped on first use through the real calls, so that a hook in a signal handler may be the
// first to ask. Outside the sandbox there is none, and every hook passes its call through.
#include <fcntl.h>
#include <sys/mman.h>

#include "preload.h"

namespace vxpreload {

namespace {

std::atomic<BoardState*> g_board{nullptr};
std::atomic<bool> g_board_tried{false};

} // namespace

BoardState* board() {
    if (BoardState* s = g_board.load(std::memory_order_acquire)) return s;
    if (g_board_tried.exchange(true)) return g_board.load(std::memory_order_acquire);
    const int fd = real().open(vxboard::BOARD_STATE_PATH, O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    void* p =
        real().mmap(nullptr, vxboard::BOARD_STATE_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    real().close(fd);
    if (p == MAP_FAILED || static_cast<BoardState*>(p)->magic != vxboard::BOARD_MAGIC)
        return nullptr;
    g_board.store(static_cast<BoardState*>(p), std::memory_order_release);
    return static_cast<BoardState*>(p);
}

} // namespace vxpreload
