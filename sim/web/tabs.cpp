#include "web/tabs.h"

#include <civetweb.h>

#include <algorithm>

#include "web/json_text.h"

namespace vxweb {

void Tabs::add(mg_connection* conn, size_t first_line) {
    std::lock_guard<std::mutex> lock(mu_);
    auto t = std::make_unique<Tab>();
    t->conn = conn;
    t->next_line = first_line;
    tabs_.push_back(std::move(t));
}

void Tabs::remove(const mg_connection* conn) {
    std::lock_guard<std::mutex> lock(mu_);
    tabs_.erase(
        std::remove_if(tabs_.begin(), tabs_.end(), [&](const auto& t) { return t->conn == conn; }),
        tabs_.end());
}

bool Tabs::empty() const {
    std::lock_guard<std::mutex> lock(mu_);
    return tabs_.empty();
}

void Tabs::set_full(const mg_connection* conn, bool full) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& t : tabs_)
        if (t->conn == conn && t->full != full) {
            t->full = full;
            t->frame_sent = 0;
        }
}

int Tabs::kind_for(const Tab& t, uint64_t seq) {
    return picture_kind(t.full, t.frame_sent + 1 != seq);
}

std::array<bool, PICTURE_KINDS> Tabs::wanted(uint64_t seq) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::array<bool, PICTURE_KINDS> want{};
    for (const auto& t : tabs_)
        if (t->frame_sent != seq) want[kind_for(*t, seq)] = true;
    return want;
}

void Tabs::send(const vxboard::Board& board, const std::string& state,
                const std::array<std::string, PICTURE_KINDS>& pictures, uint64_t seq) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& t : tabs_)
        send_to(*t, board.lines(t->next_line), state, pictures[kind_for(*t, seq)], seq);
}

// The page follows the state that announces it, so that the page knows its number.
void Tabs::send_to(Tab& t, const std::vector<std::string>& lines, const std::string& state,
                   const std::string& picture, uint64_t seq) {
    const bool fresh_frame = t.frame_sent != seq && !picture.empty();
    if (!t.fresh && !fresh_frame && t.last_state == state && lines.empty()) return;
    const std::string msg = state.substr(0, state.size() - 1) +
                            ",\"reset\":" + (t.fresh ? "true" : "false") +
                            ",\"lines\":" + dump(nlohmann::json(lines)) + "}";
    if (mg_websocket_write(t.conn, MG_WEBSOCKET_OPCODE_TEXT, msg.data(), msg.size()) <= 0)
        return; // gone: its close handler removes it
    t.next_line += lines.size();
    t.last_state = state;
    t.fresh = false;
    if (!fresh_frame) return;
    if (mg_websocket_write(t.conn, MG_WEBSOCKET_OPCODE_BINARY, picture.data(), picture.size()) > 0)
        t.frame_sent = seq;
}

} // namespace vxweb
