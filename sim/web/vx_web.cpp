// The virtual goggles in a browser: runs the launcher on the virtual board and serves, on
// the loopback interface only, a page that shows the goggles' screen and presses their
// buttons.
//
//   vx-web [--port N] [--apps DIR] [--target host|armhf|armhf-static] [--mode 0..3]
//          [--no-buzzer] [-- LAUNCHER-ARGS...]
//
// The page talks over one WebSocket (/ws): it sends "press K", "release", "mode M", "stop
// app", "record start|stop" and "size 960|1920", and receives the board's state as JSON
// whenever something changed, followed by what changed of the launcher's page, as a PNG of a
// rectangle, when that changed. /frame.png (?full=1 for 1920 x 1080) is the whole page for
// anything else; /catalogue.json checks the app directory; /recording.scn is the session
// being recorded, or the last one, as a scenario.
#include <civetweb.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "board/app_control.h"
#include "board/board.h"
#include "board/pwm_history.h"
#include "board/screen.h"
#include "board_paths.h"
#include "catalogue/catalogue.h"
#include "display/draw.h"
#include "display/menu.h"
#include "front/front.h"
#include "scenario/record.h"
#include "web/frame.h"

using namespace vxboard;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

// How often the board's own record is looked at: the button, the buzzer, the video
// registers, the launcher's log. All are counters or a few bytes, so a short period costs
// next to nothing. A change of the screen wakes the server at once (the preload wakes
// whoever waits on its generation).
constexpr Millis TICK(20);
// The process list and the app's files cost a walk of /proc and a directory: looked at once
// a second, and soon after the launcher logs something (a launch, an end, a hold).
constexpr Millis PROCESSES_EVERY(1000);
constexpr Millis AFTER_A_LINE(150);
// An app may draw into the framebuffer without a pan (it has no preload to tell the board):
// while one runs, the page on screen is compared with the last one sent this often.
constexpr Millis APP_PIXELS_EVERY(500);
constexpr Millis APP_LOG_EVERY(100);
constexpr size_t LINES_ON_CONNECT = 400;
constexpr size_t APP_LOG_TAIL = 4000;
constexpr uint32_t PAGE_W = 1920, PAGE_H = 1080;

std::atomic<bool> g_quit{false};
void on_signal(int) {
    g_quit = true;
}

void usage() {
    std::fprintf(stderr, "usage: vx-web [--port N] [--apps DIR] [--target host|armhf|armhf-static]"
                         " [--mode 0..3] [--no-buzzer] [-- LAUNCHER-ARGS...]\n");
}

std::string slurp_tail(const std::string& path, size_t max) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    const std::streamoff size = in.tellg();
    const std::streamoff from = size > static_cast<std::streamoff>(max) ? size - max : 0;
    in.seekg(from);
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (from > 0) {
        const auto nl = s.find('\n');
        if (nl != std::string::npos) s.erase(0, nl + 1);
    }
    return s;
}

// The launcher and the apps may write any bytes; JSON takes only UTF-8, so what is not is
// replaced as it is written out.
std::string dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

int64_t realtime_ms() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string wait_status_text(int st) {
    if (WIFEXITED(st)) return "exited " + std::to_string(WEXITSTATUS(st));
    if (WIFSIGNALED(st)) return "killed by signal " + std::to_string(WTERMSIG(st));
    return "ended";
}

json catalogue_json(const vxcat::Report& r) {
    json entries = json::array();
    auto notes = [](const std::vector<vxcat::ManifestNote>& v) {
        json a = json::array();
        for (const auto& n : v)
            a.push_back({{"line", n.line}, {"text", n.text}, {"why", n.why}});
        return a;
    };
    for (const vxcat::Entry& e : r.entries) {
        json j = {{"name", e.name}, {"listed", e.listed}, {"skipped", e.skipped}};
        if (e.listed) {
            j.update(
                {{"desc", e.desc},
                 {"version", e.version},
                 {"args", e.args},
                 {"modes", e.modes_shown},
                 {"allowed",
                  {{"normal", e.allowed_normal}, {"hdmi", e.allowed_hdmi}, {"av", e.allowed_av}}},
                 {"manifest", e.manifest},
                 {"ignored", notes(e.ignored)},
                 {"cut", notes(e.cut)},
                 {"modes_notes", notes(e.modes_notes)}});
        }
        entries.push_back(std::move(j));
    }
    return {{"dir", r.dir}, {"error", r.error}, {"listed", r.listed}, {"entries", entries}};
}

struct Client {
    mg_connection* conn;
    size_t next_line = 0;
    std::string last_state; // the state part last sent, to send only changes
    bool fresh = true;
    bool full = false;       // wants the page at 1920 x 1080 rather than half size
    uint64_t frame_sent = 0; // the last page sent to it
    bool fresh_frame = false;
};

class WebGoggles {
  public:
    WebGoggles(Board& board, std::string apps_dir)
        : board_(board), recorder_(board, apps_dir),
          feed_(board, [this](uint32_t raw) { recorder_.level(raw); }),
          apps_dir_(std::move(apps_dir)), page_(static_cast<size_t>(PAGE_W) * PAGE_H, 0) {}
    ~WebGoggles() {
        if (stopper_.joinable()) stopper_.join();
        if (mem_fd_ >= 0) close(mem_fd_);
    }
    WebGoggles(const WebGoggles&) = delete;
    WebGoggles& operator=(const WebGoggles&) = delete;
    // The origin check needs the port the page is really served from (--port 0 picks one).
    void set_port(int port) { port_ = port; }

    // WebSocket handlers, called from the server's worker threads.
    int on_connect(const mg_connection* conn) {
        // A page of some other site open in the same browser must not drive the board.
        const char* origin = mg_get_header(conn, "Origin");
        if (origin == nullptr) return 0;
        const std::string o = origin, p = std::to_string(port_.load());
        return o == "http://127.0.0.1:" + p || o == "http://localhost:" + p ? 0 : 1;
    }
    void on_ready(mg_connection* conn) {
        std::lock_guard<std::mutex> lock(clients_mu_);
        auto c = std::make_unique<Client>();
        c->conn = conn;
        const size_t n = board_.line_count();
        c->next_line = n > LINES_ON_CONNECT ? n - LINES_ON_CONNECT : 0;
        clients_.push_back(std::move(c));
        wake_ = true;
    }
    void on_close(const mg_connection* conn) {
        std::lock_guard<std::mutex> lock(clients_mu_);
        // A button held from a tab that went away is let go, as a finger leaving it.
        if (holder_ == conn) {
            feed_.release();
            holder_ = nullptr;
        }
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [&](const auto& c) { return c->conn == conn; }),
                       clients_.end());
    }
    void on_message(const mg_connection* conn, const std::string& msg) {
        // Stopping waits for the launcher's last answer: the other tabs are not kept waiting.
        if (msg == "record stop" && recorder_.on()) {
            recorder_.stop();
            std::printf("  [web] recorded %d steps: http://127.0.0.1:%d/recording.scn (%s)\n",
                        recorder_.steps(), port_.load(), recorder_.file_name().c_str());
            wake_ = true;
            return;
        }
        std::lock_guard<std::mutex> lock(clients_mu_);
        if (msg.rfind("press ", 0) == 0) {
            long key = 0;
            if (!vxfront::parse_number(msg.substr(6), 0, 7, key)) return;
            feed_.press(static_cast<int>(key));
            holder_ = conn;
        } else if (msg == "release") {
            // The ladder gives one value for all buttons: any release lets go.
            feed_.release();
            holder_ = nullptr;
        } else if (msg.rfind("mode ", 0) == 0) {
            const std::string m = msg.substr(5);
            BoardState& s = board_.state();
            if (m == "none") {
                s.i2c.fail_all = 1;
            } else if (m.size() == 1 && m[0] >= '0' && m[0] <= '3') {
                board_.set_video_mode(m[0] - '0');
                s.i2c.fail_all = 0;
            }
            shown_mode_ = m;
            recorder_.mode(m);
        } else if (msg == "stop app") {
            recorder_.stop_app();
            start_stop();
        } else if (msg == "record start") {
            record_refused_.clear();
            if (recorder_.start(record_refused_))
                std::printf("  [web] recording the session as a scenario\n");
        } else if (msg == "size 1920" || msg == "size 960") {
            for (auto& c : clients_)
                if (c->conn == conn && c->full != (msg == "size 1920")) {
                    c->full = msg == "size 1920";
                    c->frame_sent = 0;
                }
        }
        wake_ = true;
    }

    // The latest page for a tab: all of it, or only the rectangle that changed since the
    // page before (a tab that has that one). Half or full size; an 8-byte head (x, y and the
    // page's width, 16-bit little-endian, then 0) before the PNG. Made once per kind however
    // many tabs want it.
    std::string frame_message(bool full, bool whole) {
        std::lock_guard<std::mutex> lock(frame_mu_);
        Encoded& e = encoded_[(full ? 2 : 0) + (whole ? 1 : 0)];
        if (e.seq == frame_seq_ && !e.data.empty()) return e.data;
        Rect r = whole ? Rect{0, 0, PAGE_W, PAGE_H} : dirty_;
        const uint32_t k = full ? 1 : 2;
        // Half size takes whole 2 x 2 blocks.
        r.x0 &= ~1u, r.y0 &= ~1u, r.x1 = (r.x1 + 1) & ~1u, r.y1 = (r.y1 + 1) & ~1u;
        const uint32_t w = (r.x1 - r.x0) / k, h = (r.y1 - r.y0) / k;
        const uint32_t* at = page_.data() + static_cast<size_t>(r.y0) * PAGE_W + r.x0;
        std::vector<uint32_t> px;
        if (full) {
            px.reserve(static_cast<size_t>(w) * h);
            for (uint32_t y = 0; y < h; ++y)
                px.insert(px.end(), at + static_cast<size_t>(y) * PAGE_W,
                          at + static_cast<size_t>(y) * PAGE_W + w);
        } else {
            vxweb::halve(at, PAGE_W, w, h, px);
        }
        const uint16_t head[4] = {static_cast<uint16_t>(r.x0 / k), static_cast<uint16_t>(r.y0 / k),
                                  static_cast<uint16_t>(PAGE_W / k), 0};
        e.data.assign(reinterpret_cast<const char*>(head), sizeof head);
        e.data += vxweb::png_rgba(px, w, h);
        e.seq = frame_seq_;
        return e.data;
    }

    // The whole page as a PNG, made once per size.
    std::string frame_png(bool full) {
        const std::string m = frame_message(full, true);
        return m.size() > 8 ? m.substr(8) : std::string();
    }

    // A body sent whole and never cached: each of these answers is the board's state now.
    static int send_fresh(mg_connection* conn, const char* type, const std::string& body,
                          const std::string& extra_headers = "") {
        mg_printf(conn,
                  "HTTP/1.1 200 OK\r\nContent-Type: %s\r\n%sContent-Length: %zu\r\n"
                  "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
                  type, extra_headers.c_str(), body.size());
        mg_write(conn, body.data(), body.size());
        return 200;
    }

    // The page goes to the tabs over their WebSocket; this is for anything else that wants
    // a look (curl, a script).
    int serve_frame(mg_connection* conn) {
        const mg_request_info* ri = mg_get_request_info(conn);
        const bool full = ri->query_string != nullptr && std::strstr(ri->query_string, "full=1");
        const std::string png = frame_png(full);
        if (png.empty()) {
            mg_send_http_error(conn, 503, "no frame yet");
            return 503;
        }
        return send_fresh(conn, "image/png", png);
    }

    int serve_recording(mg_connection* conn) {
        const std::string body = recorder_.text(), file = recorder_.file_name();
        if (body.empty()) {
            mg_send_http_error(conn, 404, "nothing recorded yet");
            return 404;
        }
        return send_fresh(conn, "text/plain; charset=utf-8", body,
                          "Content-Disposition: attachment; filename=\"" + file + "\"\r\n");
    }

    int serve_catalogue(mg_connection* conn) {
        const std::string body = dump(catalogue_json(vxcat::check_catalogue(apps_dir_)));
        return send_fresh(conn, "application/json", body);
    }

    // Looks at the board's record and sends each tab what changed for it.
    void pump() {
        auto next_processes = Clock::now();
        auto next_pixels = Clock::now() + APP_PIXELS_EVERY;
        auto next_log = Clock::now();
        size_t lines_seen = 0;
        while (!g_quit) {
            wait_for_screen();
            recorder_.poll();
            {
                std::lock_guard<std::mutex> lock(clients_mu_);
                if (clients_.empty()) continue;
            }
            const auto now = Clock::now();
            bool changed = wake_.exchange(false);
            changed |= look_at_screen();
            if (app_running_ && now >= next_pixels) {
                next_pixels = now + APP_PIXELS_EVERY;
                changed |= look_at_app_pixels();
            }
            const size_t lines = board_.line_count();
            if (lines != lines_seen) {
                lines_seen = lines;
                changed = true;
                next_processes = std::min(next_processes, now + AFTER_A_LINE);
            }
            if (now >= next_processes) {
                next_processes = now + PROCESSES_EVERY;
                changed |= look_at_processes();
            }
            if (!app_name_.empty() && now >= next_log) {
                next_log = now + APP_LOG_EVERY;
                changed |= look_at_app_log();
            }
            const std::vector<uint64_t> print = fingerprint();
            if (print != last_print_) {
                last_print_ = print;
                changed = true;
            }
            if (!changed) continue;
            const std::string state = state_json();
            // Each tab gets what changed since its last page, or the whole page when it
            // missed one. Encoded before the lock that the server's threads need to take a
            // press.
            bool want[4] = {};
            {
                std::lock_guard<std::mutex> lock(clients_mu_);
                for (auto& c : clients_)
                    if (c->frame_sent != frame_seq_)
                        want[(c->full ? 2 : 0) + (c->frame_sent + 1 != frame_seq_ ? 1 : 0)] = true;
            }
            std::string messages[4];
            for (int i = 0; i < 4; ++i)
                if (want[i]) messages[i] = frame_message(i >= 2, (i & 1) != 0);
            std::lock_guard<std::mutex> lock(clients_mu_);
            for (auto& c : clients_)
                send_to(*c, state,
                        messages[(c->full ? 2 : 0) + (c->frame_sent + 1 != frame_seq_ ? 1 : 0)]);
        }
    }

  private:
    // Until the preload announces a change of the screen, or a tick has passed.
    void wait_for_screen() {
        U32& gen = board_.state().screen.generation;
        const timespec tick{0, std::chrono::nanoseconds(TICK).count()};
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(&gen), FUTEX_WAIT, seen_generation_, &tick,
                nullptr, 0);
    }

    // The button whose sample the ADC holds now, -1 for none: read back from the board's
    // memory file, where the launcher reads it too, rather than from what this server meant.
    int button_down() {
        if (mem_fd_ < 0) mem_fd_ = open((board_.workdir() + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
        uint32_t raw = 0;
        if (mem_fd_ < 0 ||
            pread(mem_fd_, &raw, sizeof raw,
                  static_cast<off_t>(ADC_PAGE_PHYS + ADC_SAMPLE_OFFSET)) != sizeof raw)
            return -1;
        // A conversion started just after the launcher's sleep reads the line one band high
        // until it settles: the same button.
        for (int k = 0; k < 8; ++k)
            if (raw != 0 && (raw == Board::raw_for_key(k) ||
                             raw == Board::raw_for_key(k) + ADC_UNSETTLED_OFFSET))
                return k;
        return -1;
    }

    // The page the display shows, or nullptr when its offset lies outside the memory.
    const uint32_t* shown_page() {
        const uint32_t row = board_.screen_row();
        const uint32_t stride = board_.state().fb.line_length.load() / 4;
        const uint64_t smem = board_.state().fb.smem_len.load();
        if (stride != PAGE_W || (static_cast<uint64_t>(row) + PAGE_H) * stride * 4 > smem)
            return nullptr;
        return board_.fb_pixels() + static_cast<size_t>(row) * stride;
    }

    // Copies the page on screen, noting the rectangle that changed; false when none did.
    bool take_page(int64_t changed_ms) {
        const uint32_t* p = shown_page();
        {
            std::lock_guard<std::mutex> lock(frame_mu_);
            Rect r{PAGE_W, PAGE_H, 0, 0};
            for (uint32_t y = 0; y < PAGE_H; ++y) {
                uint32_t* row = page_.data() + static_cast<size_t>(y) * PAGE_W;
                static const std::vector<uint32_t> black(PAGE_W, 0);
                const uint32_t* src =
                    p != nullptr ? p + static_cast<size_t>(y) * PAGE_W : black.data();
                if (std::memcmp(row, src, PAGE_W * 4) == 0) continue;
                uint32_t a = 0, b = PAGE_W;
                while (row[a] == src[a])
                    ++a;
                while (row[b - 1] == src[b - 1])
                    --b;
                r = {std::min(r.x0, a), std::min(r.y0, y), std::max(r.x1, b), y + 1};
                std::memcpy(row, src, PAGE_W * 4);
            }
            if (r.x1 == 0 && frame_seq_ != 0) return false;
            dirty_ = r.x1 == 0 ? Rect{0, 0, PAGE_W, PAGE_H} : r;
            ++frame_seq_;
            frame_at_ms_ = changed_ms;
        }
        look_for_notice();
        return true;
    }

    // A pan or a commit since the last look: the preload counted it and stamped its time.
    bool look_at_screen() {
        const ScreenRecord& r = board_.state().screen;
        const uint32_t gen = r.generation.load();
        const uint32_t row = board_.screen_row();
        if (frame_seq_ != 0 && gen == seen_generation_ && row == seen_row_) return false;
        seen_generation_ = gen;
        seen_row_ = row;
        const uint64_t at = r.changed_realtime_ns.load();
        return take_page(at != 0 ? static_cast<int64_t>(at / 1000000) : realtime_ms());
    }

    bool look_at_app_pixels() {
        const uint32_t* p = shown_page();
        if (p == nullptr) return false;
        return take_page(realtime_ms());
    }

    // A refused start: the launcher draws its notice on the selected row's second line and
    // logs nothing. The notice is the only text there in the warning colour.
    void look_for_notice() {
        int notice_slot = -1;
        if (board_.video_mode() == 1) {
            std::lock_guard<std::mutex> lock(frame_mu_);
            notice_slot = vxboard::notice_slot_in(page_.data(), PAGE_W);
        }
        const bool shown = notice_slot >= 0;
        const std::string app = shown ? app_in_slot(notice_slot) : "";
        std::lock_guard<std::mutex> lock(clients_mu_);
        if (shown && !notice_shown_) {
            ++notices_;
            recorder_.note("the launcher's notice, which it does not log: " +
                           (app.empty() ? "the selected app" : app) + " needs another video mode");
        }
        notice_shown_ = shown;
        if (shown) notice_app_ = app;
    }

    // The app in a row of the menu's window: the row is the entry's index until the list
    // scrolls; past that, the one entry the mode refuses at or below that row, if only one.
    std::string app_in_slot(int slot) {
        const vxcat::Report r = vxcat::check_catalogue(apps_dir_);
        std::vector<const vxcat::Entry*> listed;
        for (const vxcat::Entry& e : r.entries)
            if (e.listed) listed.push_back(&e);
        if (slot < MENU_VISIBLE_ROWS - 1 || listed.size() == MENU_VISIBLE_ROWS)
            return static_cast<size_t>(slot) < listed.size() ? listed[slot]->name : "";
        std::string only;
        for (size_t i = static_cast<size_t>(slot); i < listed.size(); ++i) {
            if (listed[i]->allowed_normal) continue;
            if (!only.empty()) return "";
            only = listed[i]->name;
        }
        return only;
    }

    bool look_at_processes() {
        std::vector<NamedProcess> procs = named_processes(board_);
        std::string name;
        bool running = false;
        int pid = 0;
        find_app(procs, name, running, pid);
        json list = json::array();
        for (const NamedProcess& p : procs)
            list.push_back({{"pid", p.proc.ns_pid},
                            {"role", p.role},
                            {"state", std::string(1, p.proc.state)}});
        const char service = board_.service_state();
        json j = {{"processes", list},
                  {"service", service ? std::string(1, service) : ""},
                  {"app", app_json(name, running, pid)}};
        if (j == processes_) return false;
        processes_ = std::move(j);
        return true;
    }

    json app_json(const std::string& name, bool running, int pid) {
        std::lock_guard<std::mutex> lock(clients_mu_);
        if (name != app_name_ || (running && pid != app_pid_)) {
            app_log_.clear();
            app_log_size_ = -1;
            if (running) stop_text_.clear();
        }
        app_name_ = name;
        app_pid_ = running ? pid : app_pid_;
        app_running_ = running;
        const std::optional<std::string> end =
            running || name.empty() ? std::nullopt : app_end_text(board_, name);
        const std::string status = running ? "running" : end ? *end : name.empty() ? "" : "ended";
        return {{"name", name}, {"running", running}, {"pid", app_pid_}, {"status", status}};
    }

    bool look_at_app_log() {
        const std::string path =
            board_.sandbox_path(std::string(STAGING_DIR_IN_SANDBOX) + "/" + app_name_ + ".log");
        struct stat st {};
        const off_t size = stat(path.c_str(), &st) == 0 ? st.st_size : 0;
        if (size == app_log_size_) return false;
        app_log_size_ = size;
        app_log_ = slurp_tail(path, APP_LOG_TAIL);
        return true;
    }

    // The running app: the one whose pid file names a live process of the sandbox; else the
    // app whose log was written last, so its last words stay readable after it ended.
    void find_app(const std::vector<NamedProcess>& procs, std::string& name, bool& running,
                  int& pid) const {
        const std::string dir = board_.sandbox_path(STAGING_DIR_IN_SANDBOX);
        DIR* d = opendir(dir.c_str());
        if (d == nullptr) return;
        std::string newest_log;
        timespec newest{};
        while (const dirent* de = readdir(d)) {
            const std::string f = de->d_name;
            auto ends = [&](const char* ext) {
                const size_t n = std::strlen(ext);
                return f.size() > n && f.compare(f.size() - n, n, ext) == 0;
            };
            if (ends(".pid")) {
                std::ifstream in(dir + "/" + f);
                int p = 0;
                if (!(in >> p)) continue;
                for (const NamedProcess& sp : procs)
                    if (sp.proc.ns_pid == p && sp.proc.state != 'Z') {
                        name = f.substr(0, f.size() - 4);
                        running = true;
                        pid = p;
                    }
            } else if (ends(".log")) {
                struct stat st {};
                if (stat((dir + "/" + f).c_str(), &st) != 0) continue;
                if (newest_log.empty() || st.st_mtim.tv_sec > newest.tv_sec ||
                    (st.st_mtim.tv_sec == newest.tv_sec && st.st_mtim.tv_nsec > newest.tv_nsec)) {
                    newest = st.st_mtim;
                    newest_log = f.substr(0, f.size() - 4);
                }
            }
        }
        closedir(d);
        if (!running) name = newest_log;
    }

    void start_stop() {
        if (stopping_) return;
        if (stopper_.joinable()) stopper_.join();
        stopping_ = true;
        stop_text_ = "SIGTERM sent to its process group";
        stopper_ = std::thread([this] {
            const AppStop r = stop_app(board_);
            std::lock_guard<std::mutex> lock(clients_mu_);
            stop_text_ = r == AppStop::NoApp   ? "no app was running"
                         : r == AppStop::Ended ? "ended after SIGTERM"
                                               : "still running 2 s after SIGTERM: SIGKILL sent";
            stopping_ = false;
            wake_ = true;
        });
    }

    // Counters and a few bytes that change whenever anything of fast_state() does: read at
    // every tick, while the state itself is built only when they moved.
    std::vector<uint64_t> fingerprint() {
        BoardState& s = board_.state();
        const uint8_t* regs = s.i2c.lt8668_regs;
        return {s.pwm.accesses.load(),
                s.pwm.missing.load(),
                s.osd.control.load(),
                static_cast<uint64_t>(regs[0xB7]) << 16 | regs[0xAD] << 8 | regs[0xAC],
                s.i2c.fail_all.load(),
                static_cast<uint64_t>(button_down() + 1),
                s.launcher.exited.load() != 0,
                static_cast<uint64_t>(feed_.last_press_ms()),
                recorder_.generation()};
    }

    // What may change between two ticks besides the processes and the app's files.
    json fast_state() {
        BoardState& s = board_.state();
        const bool exported = s.pwm.exported.load() != 0;
        json tones = json::array();
        // The latest changes of the sound, so that a page can play beeps shorter than a tick.
        const std::vector<Tone> all = pwm_tones(s);
        for (size_t i = all.size() > 8 ? all.size() - 8 : 0; i < all.size(); ++i)
            tones.push_back({{"at", all[i].at_ms}, {"hz", all[i].hz}});
        const bool exited = s.launcher.exited.load() != 0;
        std::lock_guard<std::mutex> lock(clients_mu_);
        return {
            {"buzzer",
             {{"missing", s.pwm.missing.load() != 0},
              {"hz", exported ? pwm_sounding_hz(s.pwm.period_ns.load(), s.pwm.duty_ns.load(),
                                                s.pwm.enabled.load() != 0)
                              : 0},
              {"tones", tones}}},
            {"osd", {{"enabled", (s.osd.control.load() & 1u) != 0}, {"rows", board_.osd_text()}}},
            {"mode",
             {{"chosen", shown_mode_},
              {"registers", board_.video_mode()},
              {"transport", s.i2c.fail_all.load() == 0}}},
            {"button", button_down()},
            {"press_ms", feed_.last_press_ms()},
            {"screen_row", board_.screen_row()},
            {"launcher",
             {{"exited", exited},
              {"status", exited ? wait_status_text(s.launcher.wait_status.load()) : ""}}},
            {"notice", {{"shown", notice_shown_}, {"app", notice_app_}, {"count", notices_}}},
            {"stop", {{"busy", stopping_}, {"text", stop_text_}}},
            {"recording",
             {{"on", recorder_.on()},
              {"steps", recorder_.steps()},
              {"file", recorder_.file_name()},
              {"refused", record_refused_}}},
        };
    }

    std::string state_json() {
        json j = fast_state();
        j.update(processes_);
        {
            std::lock_guard<std::mutex> lock(clients_mu_);
            if (j.contains("app")) j["app"]["log"] = app_log_;
        }
        {
            std::lock_guard<std::mutex> lock(frame_mu_);
            j["frame"] = frame_seq_;
            j["frame_at"] = frame_at_ms_;
        }
        j["tmp"] = board_.workdir() + "/tmp";
        return dump(j);
    }

    void send_to(Client& c, const std::string& state, const std::string& png) {
        uint64_t seq;
        {
            std::lock_guard<std::mutex> lock(frame_mu_);
            seq = frame_seq_;
        }
        // The page follows the state that announces it, so that the page knows its number.
        if (c.frame_sent != seq && !png.empty()) c.fresh_frame = true;
        const std::vector<std::string> lines = board_.lines(c.next_line);
        if (!c.fresh && !c.fresh_frame && c.last_state == state && lines.empty()) return;
        json ls = json::array();
        for (const std::string& l : lines)
            ls.push_back(l);
        const std::string msg = state.substr(0, state.size() - 1) +
                                ",\"reset\":" + (c.fresh ? "true" : "false") +
                                ",\"lines\":" + dump(ls) + "}";
        if (mg_websocket_write(c.conn, MG_WEBSOCKET_OPCODE_TEXT, msg.data(), msg.size()) <= 0)
            return; // gone: its close handler removes it
        c.next_line += lines.size();
        c.last_state = state;
        c.fresh = false;
        if (!c.fresh_frame) return;
        c.fresh_frame = false;
        if (mg_websocket_write(c.conn, MG_WEBSOCKET_OPCODE_BINARY, png.data(), png.size()) > 0)
            c.frame_sent = seq;
    }

    Board& board_;
    vxscenario::Recorder recorder_; // before the feed, which tells it of every level
    vxfront::KeyFeed feed_;
    const std::string apps_dir_;
    std::atomic<int> port_{0};
    std::atomic<bool> wake_{false};
    std::mutex clients_mu_;
    std::vector<std::unique_ptr<Client>> clients_;
    const mg_connection* holder_ = nullptr;
    std::string shown_mode_;
    std::string app_name_, app_log_, stop_text_, notice_app_, record_refused_;
    int app_pid_ = 0;
    off_t app_log_size_ = -1;
    std::atomic<bool> app_running_{false};
    bool stopping_ = false, notice_shown_ = false;
    int notices_ = 0;
    std::thread stopper_;
    std::vector<uint64_t> last_print_;
    json processes_ = json::object();
    uint32_t seen_generation_ = 0, seen_row_ = 0;
    std::mutex frame_mu_;
    std::vector<uint32_t> page_;
    uint64_t frame_seq_ = 0;
    int64_t frame_at_ms_ = 0;
    struct Encoded {
        uint64_t seq = 0;
        std::string data;
    };
    Encoded encoded_[4]; // half and full size, the changed rectangle and the whole page
    struct Rect {
        uint32_t x0, y0, x1, y1; // x1 and y1 one past
    };
    Rect dirty_{0, 0, PAGE_W, PAGE_H}; // what changed from page frame_seq_ - 1 to frame_seq_

    int mem_fd_ = -1;
};

int ws_connect(const mg_connection* conn, void* self) {
    return static_cast<WebGoggles*>(self)->on_connect(conn);
}
void ws_ready(mg_connection* conn, void* self) {
    static_cast<WebGoggles*>(self)->on_ready(conn);
}
int ws_data(mg_connection* conn, int bits, char* data, size_t len, void* self) {
    const int opcode = bits & 0x0F;
    if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
    if (opcode == MG_WEBSOCKET_OPCODE_TEXT)
        static_cast<WebGoggles*>(self)->on_message(conn, std::string(data, len));
    return 1;
}
void ws_close(const mg_connection* conn, void* self) {
    static_cast<WebGoggles*>(self)->on_close(conn);
}
int frame_handler(mg_connection* conn, void* self) {
    return static_cast<WebGoggles*>(self)->serve_frame(conn);
}
int recording_handler(mg_connection* conn, void* self) {
    return static_cast<WebGoggles*>(self)->serve_recording(conn);
}
int catalogue_handler(mg_connection* conn, void* self) {
    return static_cast<WebGoggles*>(self)->serve_catalogue(conn);
}
int log_message(const mg_connection*, const char* message) {
    std::fprintf(stderr, "vx-web: %s\n", message);
    return 1;
}

// Whether another program listens on the port already: the usual reason the server cannot
// start, and one a person can do something about.
bool port_taken(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool taken =
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == EADDRINUSE;
    close(fd);
    return taken;
}

} // namespace

int main(int argc, char** argv) {
    BoardConfig cfg;
    cfg.apps_dir = VX_SAMPLE_APPS_DIR;
    long port = 8088;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::string error;
        const vxfront::Option o = vxfront::take_board_option(argc, argv, i, cfg, error);
        if (o == vxfront::Option::Taken) continue;
        if (o == vxfront::Option::Bad) {
            std::fprintf(stderr, "vx-web: %s\n", error.c_str());
            return 2;
        }
        if (a == "--port") {
            if (i + 1 >= argc || !vxfront::parse_number(argv[i + 1], 0, 65535, port)) {
                std::fprintf(stderr,
                             "vx-web: --port %s: a number from 0 (any free port) to 65535\n",
                             i + 1 < argc ? argv[i + 1] : "");
                return 2;
            }
            ++i;
        } else if (a == "--") {
            cfg.args.assign(argv + i + 1, argv + argc);
            break;
        } else {
            usage();
            return 2;
        }
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    Board board(cfg);
    try {
        board.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vx-web: %s\n", e.what());
        return 1;
    }

    mg_init_library(0);
    WebGoggles web(board, cfg.apps_dir);
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const char* options[] = {"listening_ports",
                             listen.c_str(),
                             "document_root",
                             VX_WEB_ROOT,
                             "enable_directory_listing",
                             "no",
                             "access_control_list",
                             "-0.0.0.0/0,+127.0.0.1",
                             "num_threads",
                             "16",
                             nullptr};
    mg_callbacks callbacks{};
    callbacks.log_message = log_message;
    mg_context* ctx = mg_start(&callbacks, nullptr, options);
    int status = 0;
    if (ctx == nullptr) {
        if (port != 0 && port_taken(static_cast<int>(port)))
            std::fprintf(stderr,
                         "vx-web: port %ld is taken (another vx-web?): try --port %ld, or --port 0"
                         " for any free one\n",
                         port, port + 1);
        else
            std::fprintf(stderr, "vx-web: cannot serve on %s\n", listen.c_str());
        status = 1;
    } else {
        mg_server_port ports[1]{};
        if (mg_get_server_ports(ctx, 1, ports) == 1) port = ports[0].port;
        web.set_port(static_cast<int>(port));
        mg_set_request_handler(ctx, "/frame.png", frame_handler, &web);
        mg_set_request_handler(ctx, "/catalogue.json", catalogue_handler, &web);
        mg_set_request_handler(ctx, "/recording.scn", recording_handler, &web);
        mg_set_websocket_handler(ctx, "/ws", ws_connect, ws_ready, ws_data, ws_close, &web);
        std::printf("  [web] the virtual goggles: http://127.0.0.1:%ld/  (apps from %s)\n", port,
                    cfg.apps_dir.c_str());
        std::printf(
            "  [web] the sandbox's /tmp is %s/tmp here (the apps' logs: vorna-x/NAME.log)\n",
            board.workdir().c_str());

        std::thread pump([&] { web.pump(); });
        size_t printed = 0;
        bool ended = false;
        while (!g_quit) {
            std::this_thread::sleep_for(Millis(100));
            for (const std::string& l : board.lines(printed)) {
                std::printf("%s", l.c_str());
                ++printed;
            }
            if (!ended && board.state().launcher.exited.load()) {
                ended = true;
                std::printf("  [web] the launcher ended; the page stays up (Ctrl-C to quit)\n");
            }
        }
        g_quit = true;
        pump.join();
        mg_stop(ctx);
    }
    if (!board.state().launcher.exited.load()) {
        try {
            board.signal_launcher(SIGTERM);
            board.wait_exit(Millis(3000));
        } catch (const std::exception&) {
        }
    }
    board.stop();
    std::printf("  [web] board stopped\n");
    return status;
}
