#pragma once
// The pages open on vx-web, one WebSocket each: what each was sent last (the state, the
// launcher's lines, the page on screen) and at which size it wants the page, so that each
// gets only what changed for it.
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/board.h"
#include "web/screen_copy.h"

struct mg_connection;

namespace vxweb {

class Tabs {
  public:
    // A new tab gets the launcher's log from line `first_line` on.
    void add(mg_connection* conn, size_t first_line);
    void remove(const mg_connection* conn);
    bool empty() const;
    // The tab wants the page at full size, or at half size.
    void set_full(const mg_connection* conn, bool full);

    // Which pictures of page `seq` some tab needs: the changed rectangle for a tab that has
    // the page before, the whole page for one that missed it.
    std::array<bool, PICTURE_KINDS> wanted(uint64_t seq) const;
    // Sends each tab the state when it changed for it, its new lines, and then its picture
    // of page `seq` when it has not had that page.
    void send(const vxboard::Board& board, const std::string& state,
              const std::array<std::string, PICTURE_KINDS>& pictures, uint64_t seq);

  private:
    struct Tab {
        mg_connection* conn;
        size_t next_line = 0;
        std::string last_state; // the state last sent, to send only changes
        bool fresh = true;
        bool full = false;       // wants the page at full size rather than half
        uint64_t frame_sent = 0; // the last page sent to it
    };
    static int kind_for(const Tab& t, uint64_t seq);
    void send_to(Tab& t, const std::vector<std::string>& lines, const std::string& state,
                 const std::string& picture, uint64_t seq);

    mutable std::mutex mu_;
    std::vector<std::unique_ptr<Tab>> tabs_;
};

} // namespace vxweb
