#pragma once
// The launcher's page on screen as the tabs get it: copied from the framebuffer only when it
// changed, with the rectangle that changed, and made into the pictures the tabs ask for (half
// or full size, the changed rectangle or the whole page), each once however many tabs want it.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "board/board.h"

namespace vxweb {

// The four pictures of a page, by size and extent.
constexpr int PICTURE_KINDS = 4;
constexpr int picture_kind(bool full, bool whole) {
    return (full ? 2 : 0) + (whole ? 1 : 0);
}

class ScreenCopy {
  public:
    ScreenCopy();

    // Until the preload announces a change of the screen, or `tick` has passed.
    void wait_for_change(vxboard::Board& board, std::chrono::milliseconds tick) const;
    // A pan or a commit since the last look (the preload counted it and stamped its time):
    // the page copied. True when it changed.
    bool look(const vxboard::Board& board);
    // An app draws without a pan: the page on screen compared as it is. True when it changed.
    bool look_at_app_pixels(const vxboard::Board& board);

    // The latest page's number (0: none yet) and when the launcher changed it, in ms of the
    // real clock.
    struct Stamp {
        uint64_t seq;
        int64_t changed_ms;
    };
    Stamp stamp() const;
    // The message for a tab: the picture of `kind` of the latest page.
    std::string message(int kind);
    // The whole page as a PNG.
    std::string png(bool full);
    // The menu's highlighted slot when it shows a refused start's notice, -1 otherwise.
    int notice_slot() const;

  private:
    struct Rect {
        uint32_t x0, y0, x1, y1; // x1 and y1 one past
    };
    struct Encoded {
        uint64_t seq = 0;
        std::string data;
    };
    bool take(const vxboard::Board& board, int64_t changed_ms);
    Rect copy_locked(const uint32_t* shown);

    mutable std::mutex mu_;
    std::vector<uint32_t> page_;
    uint64_t seq_ = 0;
    int64_t changed_ms_ = 0;
    Rect dirty_; // what changed from page seq_ - 1 to seq_
    Encoded encoded_[PICTURE_KINDS];
    uint32_t seen_generation_ = 0, seen_row_ = 0; // the look's own
};

} // namespace vxweb
