// The virtual goggles in a browser: runs the launcher on the virtual board and serves, on
// the loopback interface only, a page that shows the goggles' screen and presses their
// buttons.
//
//   vx-web [--port N] [--apps DIR] [--target host|armhf|armhf-static] [--mode 0..3]
//          [--no-buzzer] [-- LAUNCHER-ARGS...]
//
// The page talks over one WebSocket (/ws): it sends "press K", "release" and "mode M" and
// receives the board's state as JSON whenever something changed; the page on screen is
// fetched as /frame.png when the state announces a new one.
#include <civetweb.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "board/board.h"
#include "board/pwm_history.h"
#include "board_paths.h"
#include "web/frame.h"

using namespace vxboard;

namespace {

constexpr Millis TICK(50);
constexpr size_t LINES_ON_CONNECT = 400;
constexpr size_t APP_LOG_TAIL = 4000;
// Where the launcher keeps a running app's pid file and log, inside the sandbox.
constexpr const char* RUN_DIR = "/tmp/vorna-x";

std::atomic<bool> g_quit{false};
void on_signal(int) {
    g_quit = true;
}

void usage() {
    std::fprintf(stderr, "usage: vx-web [--port N] [--apps DIR] [--target host|armhf|armhf-static]"
                         " [--mode 0..3] [--no-buzzer] [-- LAUNCHER-ARGS...]\n");
}

std::string json_str(const std::string& s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            o += '\\';
            o += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            o += buf;
        } else {
            o += static_cast<char>(c);
        }
    }
    return o + "\"";
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

// The LT8668 registers as the launcher reads them, back to the mode they stand for.
int mode_of_registers(const BoardState& s) {
    const uint8_t b7 = s.i2c.lt8668_regs[0xB7], ad = s.i2c.lt8668_regs[0xAD],
                  ac = s.i2c.lt8668_regs[0xAC];
    if (b7 == 1) return 1;
    if (b7 == 2) return ad == 2 && ac == 1 ? 3 : 2;
    return 0;
}

struct Client {
    mg_connection* conn;
    size_t next_line = 0;
    std::string last_state; // the state part last sent, to send only changes
    bool fresh = true;
};

class WebGoggles {
  public:
    explicit WebGoggles(Board& board) : board_(board) {}
    ~WebGoggles() {
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
        const size_t n = board_.lines().size();
        c->next_line = n > LINES_ON_CONNECT ? n - LINES_ON_CONNECT : 0;
        clients_.push_back(std::move(c));
    }
    void on_close(const mg_connection* conn) {
        std::lock_guard<std::mutex> lock(clients_mu_);
        // A button held from a tab that went away is let go, as a finger leaving it.
        if (holder_ == conn) {
            board_.release();
            holder_ = nullptr;
        }
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [&](const auto& c) { return c->conn == conn; }),
                       clients_.end());
    }
    void on_message(const mg_connection* conn, const std::string& msg) {
        std::lock_guard<std::mutex> lock(clients_mu_);
        if (msg.rfind("press ", 0) == 0) {
            const int key = std::atoi(msg.c_str() + 6);
            if (key < 0 || key > 7) return;
            board_.press(key);
            holder_ = conn;
        } else if (msg == "release") {
            // The ladder gives one value for all buttons: any release lets go.
            board_.release();
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
        }
    }

    // The frame handler: the latest page, encoded once however many tabs fetch it.
    int serve_frame(mg_connection* conn) {
        std::string png;
        {
            std::lock_guard<std::mutex> lock(frame_mu_);
            png = frame_png_;
        }
        if (png.empty()) {
            mg_send_http_error(conn, 503, "no frame yet");
            return 503;
        }
        mg_printf(conn,
                  "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: %zu\r\n"
                  "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
                  png.size());
        mg_write(conn, png.data(), png.size());
        return 200;
    }

    // Samples the board and sends each tab what changed for it.
    void pump() {
        while (!g_quit) {
            const auto next = std::chrono::steady_clock::now() + TICK;
            bool any;
            {
                std::lock_guard<std::mutex> lock(clients_mu_);
                any = !clients_.empty();
            }
            if (any) {
                update_frame();
                const std::string state = state_json();
                const std::vector<std::string> lines = board_.lines();
                std::lock_guard<std::mutex> lock(clients_mu_);
                for (auto& c : clients_)
                    send_to(*c, state, lines);
            }
            std::this_thread::sleep_until(next);
        }
    }

  private:
    // The button whose sample the ADC holds now, -1 for none: read back from the board's
    // memory file, where the launcher reads it too, rather than from what this server meant.
    int button_down() {
        if (mem_fd_ < 0) mem_fd_ = open((board_.workdir() + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
        uint32_t raw = 0;
        if (mem_fd_ < 0 ||
            pread(mem_fd_, &raw, sizeof raw,
                  static_cast<off_t>(ADC_PAGE_PHYS + ADC_SAMPLE_OFFSET)) != sizeof raw)
            return -1;
        for (int k = 0; k < 8; ++k)
            if (raw != 0 && raw == Board::raw_for_key(k)) return k;
        return -1;
    }

    void update_frame() {
        const uint32_t row = board_.screen_row();
        const uint32_t stride = board_.state().fb.line_length.load() / 4;
        const uint64_t smem = board_.state().fb.smem_len.load();
        std::vector<uint32_t> half;
        if (stride >= 1920 && (static_cast<uint64_t>(row) + 1080) * stride * 4 <= smem)
            vxweb::halve_page(board_.fb_pixels() + static_cast<size_t>(row) * stride, stride, half);
        else
            half.assign(static_cast<size_t>(vxweb::FRAME_W) * vxweb::FRAME_H, 0);
        if (half == last_half_ && frame_seq_ > 0) return;
        std::string png = vxweb::png_rgba(half, vxweb::FRAME_W, vxweb::FRAME_H);
        last_half_ = std::move(half);
        std::lock_guard<std::mutex> lock(frame_mu_);
        frame_png_ = std::move(png);
        ++frame_seq_;
    }

    // The running app: the one whose pid file names a live process of the sandbox; else the
    // app whose log was written last, so its last words stay readable after it ended.
    void find_app(const std::vector<SandboxProcess>& procs, std::string& name, bool& running,
                  int& pid) const {
        const std::string dir = board_.sandbox_path(RUN_DIR);
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
                for (const SandboxProcess& sp : procs)
                    if (sp.ns_pid == p && sp.state != 'Z') {
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

    std::string state_json() {
        BoardState& s = board_.state();
        const std::vector<SandboxProcess> procs = board_.processes();
        std::ostringstream j;
        j << std::boolalpha;
        const char service = board_.service_state();
        j << "\"service\":" << json_str(service ? std::string(1, service) : "");
        j << ",\"processes\":[";
        for (size_t i = 0; i < procs.size(); ++i)
            j << (i ? "," : "") << "{\"pid\":" << procs[i].ns_pid
              << ",\"comm\":" << json_str(procs[i].comm) << ",\"state\":\"" << procs[i].state
              << "\"}";
        std::string app;
        bool running = false;
        int pid = 0;
        find_app(procs, app, running, pid);
        j << "],\"app\":{\"name\":" << json_str(app) << ",\"running\":" << running
          << ",\"pid\":" << pid << ",\"log\":"
          << json_str(app.empty() ? ""
                                  : slurp_tail(board_.sandbox_path(std::string(RUN_DIR) + "/" +
                                                                   app + ".log"),
                                               APP_LOG_TAIL))
          << "}";
        const bool exported = s.pwm.exported.load() != 0;
        j << ",\"buzzer\":{\"missing\":" << (s.pwm.missing.load() != 0) << ",\"hz\":"
          << (exported ? pwm_sounding_hz(s.pwm.period_ns.load(), s.pwm.duty_ns.load(),
                                         s.pwm.enabled.load() != 0)
                       : 0)
          << ",\"tones\":[";
        // The latest changes of the sound, so that a page can play beeps shorter than a tick.
        const std::vector<Tone> tones = pwm_tones(s);
        const size_t first = tones.size() > 8 ? tones.size() - 8 : 0;
        for (size_t i = first; i < tones.size(); ++i)
            j << (i > first ? "," : "") << "{\"at\":" << tones[i].at_ms << ",\"hz\":" << tones[i].hz
              << "}";
        j << "]}";
        j << ",\"osd\":{\"enabled\":" << ((s.osd.control.load() & 1u) != 0) << ",\"rows\":[";
        const std::vector<std::string> rows = board_.osd_text();
        for (size_t i = 0; i < rows.size(); ++i)
            j << (i ? "," : "") << json_str(rows[i]);
        j << "]}";
        {
            std::lock_guard<std::mutex> lock(clients_mu_);
            j << ",\"mode\":{\"chosen\":" << json_str(shown_mode_)
              << ",\"registers\":" << mode_of_registers(s)
              << ",\"transport\":" << (s.i2c.fail_all.load() == 0) << "}";
        }
        j << ",\"button\":" << button_down();
        j << ",\"screen_row\":" << board_.screen_row();
        {
            std::lock_guard<std::mutex> lock(frame_mu_);
            j << ",\"frame\":" << frame_seq_;
        }
        const bool exited = s.launcher.exited.load() != 0;
        const int st = s.launcher.wait_status.load();
        j << ",\"launcher\":{\"exited\":" << exited << ",\"status\":"
          << json_str(!exited           ? ""
                      : WIFEXITED(st)   ? "exit status " + std::to_string(WEXITSTATUS(st))
                      : WIFSIGNALED(st) ? "signal " + std::to_string(WTERMSIG(st))
                                        : "?")
          << "}";
        return j.str();
    }

    void send_to(Client& c, const std::string& state, const std::vector<std::string>& lines) {
        if (!c.fresh && c.last_state == state && c.next_line >= lines.size()) return;
        std::string msg =
            "{" + state + ",\"reset\":" + (c.fresh ? "true" : "false") + ",\"lines\":[";
        for (size_t i = c.next_line; i < lines.size(); ++i)
            msg += (i > c.next_line ? "," : "") + json_str(lines[i]);
        msg += "]}";
        if (mg_websocket_write(c.conn, MG_WEBSOCKET_OPCODE_TEXT, msg.data(), msg.size()) <= 0)
            return; // gone: its close handler removes it
        c.next_line = lines.size();
        c.last_state = state;
        c.fresh = false;
    }

    Board& board_;
    std::atomic<int> port_{0};
    std::mutex clients_mu_;
    std::vector<std::unique_ptr<Client>> clients_;
    const mg_connection* holder_ = nullptr;
    std::string shown_mode_;
    std::mutex frame_mu_;
    std::string frame_png_;
    uint64_t frame_seq_ = 0;
    std::vector<uint32_t> last_half_;
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
int log_message(const mg_connection*, const char* message) {
    std::fprintf(stderr, "vx-web: %s\n", message);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    BoardConfig cfg;
    cfg.apps_dir = VX_SAMPLE_APPS_DIR;
    int port = 8088;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--apps" && i + 1 < argc) {
            cfg.apps_dir = argv[++i];
        } else if (a == "--port" && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (a == "--target" && i + 1 < argc) {
            const std::string t = argv[++i];
            cfg.target = t == "armhf"          ? Target::Arm
                         : t == "armhf-static" ? Target::ArmStatic
                                               : Target::Host;
        } else if (a == "--mode" && i + 1 < argc) {
            cfg.video_mode = std::atoi(argv[++i]);
        } else if (a == "--no-buzzer") {
            cfg.before_launch = [](BoardState& s) { s.pwm.missing = 1; };
        } else if (a == "--") {
            cfg.args.assign(argv + i + 1, argv + argc);
            break;
        } else {
            usage();
            return 2;
        }
    }
    if (port < 0 || port > 65535) {
        usage();
        return 2;
    }
    struct stat st {};
    if (stat(cfg.apps_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "vx-web: %s is not a directory\n", cfg.apps_dir.c_str());
        return 2;
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
    WebGoggles web(board);
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
        std::fprintf(stderr, "vx-web: cannot serve on %s\n", listen.c_str());
        status = 1;
    } else {
        mg_server_port ports[1]{};
        if (mg_get_server_ports(ctx, 1, ports) == 1) port = ports[0].port;
        web.set_port(port);
        mg_set_request_handler(ctx, "/frame.png", frame_handler, &web);
        mg_set_websocket_handler(ctx, "/ws", ws_connect, ws_ready, ws_data, ws_close, &web);
        std::printf("  [web] the virtual goggles: http://127.0.0.1:%d/  (apps from %s)\n", port,
                    cfg.apps_dir.c_str());

        std::thread pump([&] { web.pump(); });
        size_t printed = 0;
        bool ended = false;
        while (!g_quit) {
            std::this_thread::sleep_for(Millis(100));
            const auto all = board.lines();
            for (; printed < all.size(); ++printed)
                std::printf("%s", all[printed].c_str());
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
