#include "web/goggles.h"

#include <algorithm>

#include "base/video_modes.h"
#include "web/json_text.h"

namespace vxweb {
namespace {

// How often the board's own record is looked at: the button, the buzzer, the video
// registers, the launcher's log. All are counters or a few bytes, so a short period costs
// next to nothing. A change of the screen wakes the pump at once (the preload wakes whoever
// waits on its generation).
constexpr std::chrono::milliseconds TICK(20);
// The process list and the app's files cost a walk of /proc and a directory: looked at once
// a second, and soon after the launcher logs something (a launch, an end, a hold).
constexpr std::chrono::milliseconds PROCESSES_EVERY(1000);
constexpr std::chrono::milliseconds AFTER_A_LINE(150);
// An app may draw into the framebuffer without a pan (it has no preload to tell the board):
// while one runs, the page on screen is compared with the last one sent this often.
constexpr std::chrono::milliseconds APP_PIXELS_EVERY(500);
constexpr std::chrono::milliseconds APP_LOG_EVERY(100);
// The launcher's log a new tab gets, at most.
constexpr size_t LINES_ON_CONNECT = 400;

} // namespace

WebGoggles::WebGoggles(vxboard::Board& board, std::string apps_dir)
    : board_(board), apps_dir_(std::move(apps_dir)), recorder_(board, apps_dir_),
      feed_(board, [this](uint32_t raw) { recorder_.level(raw); }),
      stopper_(board, [this] { wake_ = true; }),
      commands_(board, feed_, recorder_, stopper_, tabs_), notice_(apps_dir_), apps_(board),
      button_(board) {}

void WebGoggles::set_port(int port) {
    port_ = port;
    commands_.set_port(port);
}

void WebGoggles::connected(mg_connection* conn) {
    const size_t n = board_.line_count();
    tabs_.add(conn, n > LINES_ON_CONNECT ? n - LINES_ON_CONNECT : 0);
    wake_ = true;
}

void WebGoggles::closed(const mg_connection* conn) {
    commands_.forget(conn);
    tabs_.remove(conn);
}

void WebGoggles::message(const mg_connection* conn, const std::string& msg) {
    commands_.take(conn, msg);
    wake_ = true;
}

void WebGoggles::pump(const std::atomic<bool>& quit) {
    Due due{Clock::now(), Clock::now() + APP_PIXELS_EVERY, Clock::now(), 0};
    while (!quit) {
        screen_.wait_for_change(board_, TICK);
        recorder_.poll();
        if (tabs_.empty()) continue;
        bool changed = look(due);
        const int button = button_.held();
        std::vector<uint64_t> print = board_fingerprint(board_, button);
        print.push_back(static_cast<uint64_t>(feed_.last_press_ms()));
        print.push_back(recorder_.generation());
        if (print != last_print_) {
            last_print_ = std::move(print);
            changed = true;
        }
        if (changed) send(state_json(button));
    }
}

// What changed besides the counters: the screen, the app's pixels, the launcher's lines, the
// processes, the app's log.
bool WebGoggles::look(Due& due) {
    const auto now = Clock::now();
    bool changed = wake_.exchange(false);
    bool page = screen_.look(board_);
    if (apps_.running() && now >= due.pixels) {
        due.pixels = now + APP_PIXELS_EVERY;
        page = screen_.look_at_app_pixels(board_) || page;
    }
    if (page) look_for_notice();
    changed |= page;
    if (const size_t lines = board_.line_count(); lines != due.lines_seen) {
        due.lines_seen = lines;
        changed = true;
        due.processes = std::min(due.processes, now + AFTER_A_LINE);
    }
    if (now >= due.processes) {
        due.processes = now + PROCESSES_EVERY;
        bool new_app = false;
        changed |= apps_.look_at_processes(new_app);
        if (new_app) stopper_.forget();
    }
    if (apps_.has_app() && now >= due.log) {
        due.log = now + APP_LOG_EVERY;
        changed |= apps_.look_at_log();
    }
    return changed;
}

void WebGoggles::look_for_notice() {
    notice_.look(board_.video_mode() == MODE_NORMAL ? screen_.notice_slot() : -1, recorder_);
}

std::string WebGoggles::state_json(int button) {
    nlohmann::json j = board_json(board_, button);
    const Commands::Asked asked = commands_.asked();
    j["mode"]["chosen"] = asked.mode;
    j["press_ms"] = feed_.last_press_ms();
    j["notice"] = notice_.as_json();
    j["stop"] = stopper_.as_json();
    j["recording"] = {{"on", recorder_.on()},
                      {"steps", recorder_.steps()},
                      {"file", recorder_.file_name()},
                      {"refused", asked.record_refused}};
    j.update(apps_.as_json());
    const ScreenCopy::Stamp page = screen_.stamp();
    j["frame"] = page.seq;
    j["frame_at"] = page.changed_ms;
    j["tmp"] = board_.workdir() + "/tmp";
    return dump(j);
}

// Each tab gets what changed since its last page, or the whole page when it missed one:
// encoded before the lock that the server's threads need to take a press.
void WebGoggles::send(const std::string& state) {
    const uint64_t seq = screen_.stamp().seq;
    const std::array<bool, PICTURE_KINDS> want = tabs_.wanted(seq);
    std::array<std::string, PICTURE_KINDS> pictures;
    for (int k = 0; k < PICTURE_KINDS; ++k)
        if (want[k]) pictures[k] = screen_.message(k);
    tabs_.send(board_, state, pictures, seq);
}

} // namespace vxweb
