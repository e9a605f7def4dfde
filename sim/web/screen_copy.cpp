#include "web/screen_copy.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "base/screen.h"
#include "board/screen.h"
#include "web/frame.h"

namespace vxweb {
namespace {

int64_t realtime_ms() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The page the display shows, or nullptr when its offset lies outside the memory.
const uint32_t* shown_page(const vxboard::Board& board) {
    const uint32_t row = board.screen_row();
    const uint32_t stride = board.state().fb.line_length.load() / PIXEL_BYTES;
    const uint64_t smem = board.state().fb.smem_len.load();
    if (stride != SCREEN_W || (static_cast<uint64_t>(row) + SCREEN_H) * LINE_BYTES > smem)
        return nullptr;
    return board.fb_pixels() + static_cast<size_t>(row) * stride;
}

} // namespace

ScreenCopy::ScreenCopy()
    : page_(static_cast<size_t>(SCREEN_W) * SCREEN_H, 0), dirty_{0, 0, SCREEN_W, SCREEN_H} {}

void ScreenCopy::wait_for_change(vxboard::Board& board, std::chrono::milliseconds tick) const {
    vxboard::U32& gen = board.state().screen.generation;
    const timespec t{0, std::chrono::nanoseconds(tick).count()};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&gen), FUTEX_WAIT, seen_generation_, &t, nullptr,
            0);
}

bool ScreenCopy::look(const vxboard::Board& board) {
    const vxboard::ScreenRecord& r = board.state().screen;
    const uint32_t gen = r.generation.load();
    const uint32_t row = board.screen_row();
    if (stamp().seq != 0 && gen == seen_generation_ && row == seen_row_) return false;
    seen_generation_ = gen;
    seen_row_ = row;
    const uint64_t at = r.changed_realtime_ns.load();
    return take(board, at != 0 ? static_cast<int64_t>(at / 1000000) : realtime_ms());
}

bool ScreenCopy::look_at_app_pixels(const vxboard::Board& board) {
    return shown_page(board) != nullptr && take(board, realtime_ms());
}

// Copies the page on screen (black where there is none), and returns the rectangle that
// changed; x1 == 0 when none did.
ScreenCopy::Rect ScreenCopy::copy_locked(const uint32_t* shown) {
    static const std::vector<uint32_t> black(SCREEN_W, 0);
    Rect r{SCREEN_W, SCREEN_H, 0, 0};
    for (uint32_t y = 0; y < SCREEN_H; ++y) {
        uint32_t* row = page_.data() + static_cast<size_t>(y) * SCREEN_W;
        const uint32_t* src =
            shown != nullptr ? shown + static_cast<size_t>(y) * SCREEN_W : black.data();
        if (std::memcmp(row, src, LINE_BYTES) == 0) continue;
        uint32_t a = 0, b = SCREEN_W;
        while (row[a] == src[a])
            ++a;
        while (row[b - 1] == src[b - 1])
            --b;
        r = {std::min(r.x0, a), std::min(r.y0, y), std::max(r.x1, b), y + 1};
        std::memcpy(row, src, LINE_BYTES);
    }
    return r;
}

bool ScreenCopy::take(const vxboard::Board& board, int64_t changed_ms) {
    const uint32_t* shown = shown_page(board);
    std::lock_guard<std::mutex> lock(mu_);
    const Rect r = copy_locked(shown);
    if (r.x1 == 0 && seq_ != 0) return false;
    dirty_ = r.x1 == 0 ? Rect{0, 0, SCREEN_W, SCREEN_H} : r;
    ++seq_;
    changed_ms_ = changed_ms;
    return true;
}

ScreenCopy::Stamp ScreenCopy::stamp() const {
    std::lock_guard<std::mutex> lock(mu_);
    return {seq_, changed_ms_};
}

std::string ScreenCopy::message(int kind) {
    std::lock_guard<std::mutex> lock(mu_);
    Encoded& e = encoded_[kind];
    if (e.seq == seq_ && !e.data.empty()) return e.data;
    const bool full = kind >= picture_kind(true, false), whole = (kind & 1) != 0;
    Rect r = whole ? Rect{0, 0, SCREEN_W, SCREEN_H} : dirty_;
    const uint32_t k = full ? 1 : 2;
    // Half size takes whole 2 x 2 blocks.
    r.x0 &= ~1u, r.y0 &= ~1u, r.x1 = (r.x1 + 1) & ~1u, r.y1 = (r.y1 + 1) & ~1u;
    const uint32_t w = (r.x1 - r.x0) / k, h = (r.y1 - r.y0) / k;
    const uint32_t* at = page_.data() + static_cast<size_t>(r.y0) * SCREEN_W + r.x0;
    std::vector<uint32_t> px;
    if (full) {
        px.reserve(static_cast<size_t>(w) * h);
        for (uint32_t y = 0; y < h; ++y)
            px.insert(px.end(), at + static_cast<size_t>(y) * SCREEN_W,
                      at + static_cast<size_t>(y) * SCREEN_W + w);
    } else {
        halve(at, SCREEN_W, w, h, px);
    }
    const FrameHead head{static_cast<uint16_t>(r.x0 / k), static_cast<uint16_t>(r.y0 / k),
                         static_cast<uint16_t>(SCREEN_W / k), 0};
    e.data = frame_message(head, png_rgba(px, w, h));
    e.seq = seq_;
    return e.data;
}

std::string ScreenCopy::png(bool full) {
    const std::string m = message(picture_kind(full, true));
    return m.size() > sizeof(FrameHead) ? m.substr(sizeof(FrameHead)) : std::string();
}

int ScreenCopy::notice_slot() const {
    std::lock_guard<std::mutex> lock(mu_);
    return vxboard::notice_slot_in(page_.data(), SCREEN_W);
}

} // namespace vxweb
