// Command-line front end of the virtual goggles board: runs the launcher on the board with
// an app directory, prints its log, and turns keys into button presses.
//
//   vx-board [--apps DIR] [--target host|armhf|armhf-static] [--no-mem] [--no-service]
//            [-- LAUNCHER-ARGS...]
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "board/board.h"
#include "board_paths.h"

using namespace vxboard;
using std::chrono::steady_clock;

namespace {

constexpr Millis TAP_MS(150);
constexpr Millis OPEN_HOLD_MS(1800);
constexpr Millis CLOSE_HOLD_MS(3300);

// Button codes of the goggles' resistor ladder.
enum : int { UP = 0, DOWN = 1, MIDDLE = 4, PLAY = 6, BACK = 7 };

const char* HELP = "keys: u=UP d=DOWN m=MIDDLE p=PLAY b=BACK (taps of 150 ms)\n"
                   "      o=hold PLAY 1.8 s (open the menu)   c=hold PLAY 3.3 s (close it)\n"
                   "      P or space = PLAY down / up (hold it as long as you like)\n"
                   "      s=processes on the board   w=screenshot (PNG in the current directory)\n"
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
                 "usage: vx-board [--apps DIR] [--target host|armhf|armhf-static] "
                 "[--mode 0..3] [--no-mem] [--no-service] [--no-buzzer] [-- LAUNCHER-ARGS...]\n");
}

void print_processes(const Board& board) {
    for (const SandboxProcess& p : board.processes())
        std::printf("  [board] pid %d (host %d) %-16s %c\n", p.ns_pid, p.host_pid, p.comm.c_str(),
                    p.state);
}

void hold(Board& board, Millis span) {
    std::printf("  [board] PLAY held for %lld ms\n", static_cast<long long>(span.count()));
    std::fflush(stdout);
    board.tap(PLAY, span);
}

} // namespace

int main(int argc, char** argv) {
    BoardConfig cfg;
    cfg.apps_dir = VX_SAMPLE_APPS_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--apps" && i + 1 < argc)
            cfg.apps_dir = argv[++i];
        else if (a == "--target" && i + 1 < argc) {
            const std::string t = argv[++i];
            cfg.target = t == "armhf"          ? Target::Arm
                         : t == "armhf-static" ? Target::ArmStatic
                                               : Target::Host;
        } else if (a == "--no-mem")
            cfg.with_mem = false;
        else if (a == "--no-service")
            cfg.with_service = false;
        else if (a == "--mode" && i + 1 < argc)
            cfg.video_mode = std::atoi(argv[++i]);
        else if (a == "--no-buzzer")
            cfg.before_launch = [](vxboard::BoardState& s) { s.pwm.missing = 1; };
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
    std::printf("  [board] launcher on the virtual board, apps from %s\n%s", cfg.apps_dir.c_str(),
                HELP);

    std::thread printer([&] {
        size_t next = 0;
        while (!g_quit) {
            if (!board.wait_line("", Millis(100), next)) continue;
            const auto all = board.lines();
            for (; next < all.size(); ++next) {
                std::printf("%s", all[next].c_str());
                // The launcher collected its app: how it ended, as the board saw it.
                if (all[next].rfind("child ", 0) == 0 && !board.app_ends().empty())
                    std::printf("  [board] %s\n", describe(board.app_ends().back()).c_str());
            }
        }
    });

    RawTerminal term;
    bool play_down = false;
    int shots = 0;
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
            board.tap(UP, TAP_MS);
            break;
        case 'd':
            board.tap(DOWN, TAP_MS);
            break;
        case 'm':
            board.tap(MIDDLE, TAP_MS);
            break;
        case 'p':
            board.tap(PLAY, TAP_MS);
            break;
        case 'b':
            board.tap(BACK, TAP_MS);
            break;
        case 'o':
            hold(board, OPEN_HOLD_MS);
            break;
        case 'c':
            hold(board, CLOSE_HOLD_MS);
            break;
        case 'P':
        case ' ':
            play_down = !play_down;
            if (play_down) {
                board.press(PLAY);
                play_since = steady_clock::now();
                std::printf("  [board] PLAY down\n");
            } else {
                board.release();
                const auto ms =
                    std::chrono::duration_cast<Millis>(steady_clock::now() - play_since);
                std::printf("  [board] PLAY up after %lld ms\n",
                            static_cast<long long>(ms.count()));
            }
            break;
        case 's':
            print_processes(board);
            break;
        case 'w': {
            const std::string path = "vx-screen-" + std::to_string(++shots) + ".png";
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
    board.stop();
    return 0;
}
