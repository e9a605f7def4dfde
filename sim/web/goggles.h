#pragma once
// The virtual goggles as the tabs see them: the board's record looked at every tick (and at
// once when the screen changes), and each tab sent what changed for it: the state as JSON, the
// launcher's new lines, the page on screen as a picture.
#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "front/front.h"
#include "scenario/record.h"
#include "web/app_stopper.h"
#include "web/app_watch.h"
#include "web/commands.h"
#include "web/notice_watch.h"
#include "web/screen_copy.h"
#include "web/state_json.h"
#include "web/tabs.h"

namespace vxweb {

class WebGoggles {
  public:
    WebGoggles(vxboard::Board& board, std::string apps_dir);
    WebGoggles(const WebGoggles&) = delete;
    WebGoggles& operator=(const WebGoggles&) = delete;

    // The port the page is really served from (--port 0 picks one).
    void set_port(int port);
    int port() const { return port_; }
    const std::string& apps_dir() const { return apps_dir_; }

    // The WebSocket's events, on the server's threads.
    void connected(mg_connection* conn);
    void closed(const mg_connection* conn);
    void message(const mg_connection* conn, const std::string& msg);
    // What the other requests get.
    std::string page_png(bool full) { return screen_.png(full); }
    const vxscenario::Recorder& recorder() const { return recorder_; }

    // Looks at the board and sends each tab what changed for it, until `quit`.
    void pump(const std::atomic<bool>& quit);

  private:
    using Clock = std::chrono::steady_clock;
    struct Due {
        Clock::time_point processes, pixels, log;
        size_t lines_seen = 0;
    };
    bool look(Due& due);
    void look_for_notice();
    std::string state_json(int button);
    void send(const std::string& state);

    vxboard::Board& board_;
    const std::string apps_dir_;
    std::atomic<int> port_{0};
    std::atomic<bool> wake_{false}; // a tab or the stopper asks for a look at once
    vxscenario::Recorder recorder_; // before the feed, which tells it of every level
    vxfront::KeyFeed feed_;
    Tabs tabs_;
    AppStopper stopper_;
    Commands commands_;
    ScreenCopy screen_;
    NoticeWatch notice_;
    AppWatch apps_;
    ButtonLine button_;
    std::vector<uint64_t> last_print_;
};

} // namespace vxweb
