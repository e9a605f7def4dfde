// Command-line front end of the virtual goggles board: runs the launcher on the board with
// an app directory, prints its log and the running app's, and turns keys into button
// presses.
//
//   vx-board [--apps DIR] [--target host|armhf|armhf-static] [--mode 0..3] [--no-mem]
//            [--no-service] [--no-buzzer] [--shots DIR] [-- LAUNCHER-ARGS...]
//   vx-board --check DIR     what the launcher will make of an app directory, and exit
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "board/app_control.h"
#include "board/board.h"
#include "board_paths.h"
#include "catalogue/catalogue.h"
#include "front/front.h"
#include "scenario/record.h"

using namespace vxboard;
using std::chrono::steady_clock;

namespace {

constexpr Millis OPEN_HOLD_MS(1800);
constexpr Millis CLOSE_HOLD_MS(3300);

// Button codes of the goggles' resistor ladder.
enum : int { UP = 0, DOWN = 1, MIDDLE = 4, PLAY = 6, BACK = 7 };

const char* HELP =
    "keys: u=UP d=DOWN m=MIDDLE p=PLAY b=BACK (taps, each held until the launcher has seen it)\n"
    "      o=hold PLAY 1.8 s (open the menu)   c=hold PLAY 3.3 s (close it)\n"
    "      P or space = PLAY down / up (hold it as long as you like)\n"
    "      k=stop the app (SIGTERM to its group, SIGKILL 2 s later)\n"
    "      s=processes on the board   w=screenshot (PNG in the --shots directory)\n"
    "      r=record a scenario; r again writes it to the --shots directory\n"
    "      t=the OSD overlay's text   1/2/3/0=video mode NORMAL/HDMI/AV/unknown\n"
    "      ?=this help   q=quit\n";

std::atomic<bool> g_quit{false};
void on_signal(int) {
    g_quit = true;
}

struct RawTerminal {
    termios saved{};
    bool active = false;
    RawTerminal() {
        if (!isatty(0) || tcgetattr(0, &saved) != 0) return;
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active = tcsetattr(0, TCSANOW, &raw) == 0;
    }
    ~RawTerminal() {
        if (active) tcsetattr(0, TCSANOW, &saved);
    }
};

void usage() {
    std::fprintf(stderr,
                 "usage: vx-board [--apps DIR] [--target host|armhf|armhf-static] [--mode 0..3]\n"
                 "                [--no-mem] [--no-service] [--no-buzzer] [--shots DIR]"
                 " [-- LAUNCHER-ARGS...]\n"
                 "       vx-board --check DIR\n");
}

void print_processes(Board& board) {
    for (const NamedProcess& p : named_processes(board))
        std::printf("  [board] pid %5d (host %d) %c  %s\n", p.proc.ns_pid, p.proc.host_pid,
                    p.proc.state, p.role.c_str());
}

void hold(vxfront::KeyFeed& feed, Millis span) {
    std::printf("  [board] PLAY held for %lld ms\n", static_cast<long long>(span.count()));
    std::fflush(stdout);
    feed.press(PLAY);
    std::this_thread::sleep_for(span);
    feed.release();
    feed.drain();
}

// Follows the log of the app the launcher runs, as it grows: new lines are printed as they
// come, and a new app's log from its start.
class AppLogFollower {
  public:
    explicit AppLogFollower(Board& board) : board_(board) {}
    void poll() {
        if (const std::optional<RunningApp> app = running_app(board_); app && app->name != name_) {
            name_ = app->name;
            offset_ = 0;
        }
        if (name_.empty()) return;
        std::ifstream in(
            board_.sandbox_path(std::string(STAGING_DIR_IN_SANDBOX) + "/" + name_ + ".log"),
            std::ios::binary);
        if (!in || !in.seekg(offset_)) return;
        std::string line;
        while (std::getline(in, line)) {
            if (in.eof()) break; // a line still being written: printed once whole
            std::printf("  [app %s] %s\n", name_.c_str(), line.c_str());
            offset_ += static_cast<std::streamoff>(line.size() + 1);
        }
    }

  private:
    Board& board_;
    std::string name_;
    std::streamoff offset_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    BoardConfig cfg;
    cfg.apps_dir = VX_SAMPLE_APPS_DIR;
    std::string shots = std::filesystem::temp_directory_path().string();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::string error;
        const vxfront::Option o = vxfront::take_board_option(argc, argv, i, cfg, error);
        if (o == vxfront::Option::Taken) continue;
        if (o == vxfront::Option::Bad) {
            std::fprintf(stderr, "vx-board: %s\n", error.c_str());
            return 2;
        }
        if (a == "--check" && i + 1 < argc) {
            const vxcat::Report r = vxcat::check_catalogue(argv[i + 1]);
            std::fputs(vxcat::report_text(r).c_str(), stdout);
            return r.error.empty() ? 0 : 1;
        } else if (a == "--shots" && i + 1 < argc) {
            shots = argv[++i];
            if (!std::filesystem::is_directory(shots)) {
                std::fprintf(stderr, "vx-board: --shots %s: not a directory\n", shots.c_str());
                return 2;
            }
        } else if (a == "--no-mem")
            cfg.with_mem = false;
        else if (a == "--no-service")
            cfg.with_service = false;
        else if (a == "--") {
            cfg.args.assign(argv + i + 1, argv + argc);
            break;
        } else {
            usage();
            return 2;
        }
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);

    Board board(cfg);
    try {
        board.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vx-board: %s\n", e.what());
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf(
        "  [board] launcher on the virtual board, apps from %s\n"
        "  [board] the sandbox's /tmp is %s/tmp here (the apps' logs: vorna-x/NAME.log)\n%s",
        cfg.apps_dir.c_str(), board.workdir().c_str(), HELP);
    vxscenario::Recorder recorder(board, cfg.apps_dir);
    vxfront::KeyFeed feed(board, [&recorder](uint32_t raw) { recorder.level(raw); });
    std::thread stopper;

    std::thread printer([&] {
        size_t next = 0;
        AppLogFollower app_log(board);
        while (!g_quit) {
            board.wait_line("", Millis(100), next);
            for (const std::string& l : board.lines(next)) {
                std::printf("%s", l.c_str());
                ++next;
                // The launcher collected its app: how it ended, as the board saw it.
                if (l.rfind("child ", 0) == 0 && !board.app_ends().empty())
                    std::printf("  [board] %s\n", describe(board.app_ends().back()).c_str());
            }
            app_log.poll();
            recorder.poll();
        }
    });

    RawTerminal term;
    bool play_down = false;
    int shot = 0;
    auto play_since = steady_clock::now();
    while (!g_quit) {
        if (board.state().launcher.exited.load()) {
            const int st = board.state().launcher.wait_status.load();
            std::printf("  [board] launcher ended: %s %d\n",
                        WIFEXITED(st) ? "exit status" : "signal",
                        WIFEXITED(st) ? WEXITSTATUS(st) : WTERMSIG(st));
            break;
        }
        pollfd pfd{0, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) continue;
        char c;
        if (read(0, &c, 1) != 1) break;
        switch (c) {
        case 'u':
        case 'd':
        case 'm':
        case 'p':
        case 'b':
            feed.press(c == 'u'   ? UP
                       : c == 'd' ? DOWN
                       : c == 'm' ? MIDDLE
                       : c == 'p' ? PLAY
                                  : BACK);
            feed.release();
            break;
        case 'o':
            hold(feed, OPEN_HOLD_MS);
            break;
        case 'c':
            hold(feed, CLOSE_HOLD_MS);
            break;
        case 'k':
            recorder.stop_app();
            if (stopper.joinable()) stopper.join();
            // On a thread of its own: the keys stay live for the 2 s it may take.
            stopper = std::thread([&board] {
                const std::optional<RunningApp> app = running_app(board);
                if (!app) {
                    std::printf("  [board] no app is running\n");
                    return;
                }
                std::printf("  [board] stopping %s (pid %d): SIGTERM to its process group\n",
                            app->name.c_str(), app->ns_pid);
                const AppStop r = stop_app(board);
                std::printf("  [board] %s %s\n", app->name.c_str(),
                            r == AppStop::Killed  ? "was still running 2 s later: SIGKILL sent"
                            : r == AppStop::Ended ? "ended after SIGTERM"
                                                  : "had already ended");
            });
            break;
        case 'P':
        case ' ':
            play_down = !play_down;
            if (play_down) {
                feed.press(PLAY);
                play_since = steady_clock::now();
                std::printf("  [board] PLAY down\n");
            } else {
                feed.release();
                const auto ms =
                    std::chrono::duration_cast<Millis>(steady_clock::now() - play_since);
                std::printf("  [board] PLAY up after %lld ms\n",
                            static_cast<long long>(ms.count()));
            }
            break;
        case 's':
            print_processes(board);
            break;
        case 'r': {
            std::string why;
            if (!recorder.on()) {
                std::printf(recorder.start(why) ? "  [board] recording: r again to stop\n"
                                                : "  [board] not recording: %s\n",
                            why.c_str());
                break;
            }
            recorder.stop();
            const std::string path = shots + "/" + recorder.file_name();
            std::ofstream(path) << recorder.text();
            std::printf("  [board] %d steps written to %s; replay: tools/run-scenario.sh %s\n",
                        recorder.steps(), path.c_str(), path.c_str());
            break;
        }
        case 'w': {
            const std::string path = shots + "/vx-screen-" + std::to_string(getpid()) + "-" +
                                     std::to_string(++shot) + ".png";
            board.screenshot(path);
            std::printf("  [board] the screen (display at row %u) written to %s\n",
                        board.screen_row(), path.c_str());
            break;
        }
        case 't':
            std::printf("  [board] OSD overlay (%s):\n",
                        board.state().osd.control.load() & 1u ? "enabled" : "disabled");
            for (const std::string& row : board.osd_text())
                std::printf("  |%s|\n", row.c_str());
            break;
        case '0':
        case '1':
        case '2':
        case '3':
            board.set_video_mode(c - '0');
            recorder.mode(std::string(1, c));
            std::printf("  [board] video mode %c\n", c);
            break;
        case '?':
            std::printf("%s", HELP);
            break;
        case 'q':
            g_quit = true;
            break;
        default:
            break;
        }
    }
    if (!board.state().launcher.exited.load()) {
        try {
            board.signal_launcher(SIGTERM);
            if (auto st = board.wait_exit(Millis(3000)))
                std::printf("  [board] launcher ended with status %d\n", WEXITSTATUS(*st));
        } catch (const std::exception&) {
        }
    }
    g_quit = true;
    printer.join();
    if (stopper.joinable()) stopper.join();
    board.stop();
    return 0;
}
