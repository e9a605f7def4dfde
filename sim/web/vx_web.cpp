// The virtual goggles in a browser: runs the launcher on the virtual board and serves, on
// the loopback interface only, a page that shows the goggles' screen and presses their
// buttons.
//
//   vx-web [--port N] [--apps DIR] [--target host|armhf|armhf-static|goggles] [--mode 0..3]
//          [--no-buzzer] [-- LAUNCHER-ARGS...]
//
// The page talks over one WebSocket (/ws): it sends what commands.h lists, and receives the
// board's state as JSON whenever something changed, followed by what changed of the
// launcher's page, as a PNG of a rectangle, when that changed. /contract.json gives the page
// what it takes from the launcher and the board; server.h lists the rest.
#include <civetweb.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "base/paths.h"
#include "board/board.h"
#include "board_paths.h"
#include "front/front.h"
#include "web/goggles.h"
#include "web/server.h"

namespace {

using vxfront::g_quit;

using vxboard::Millis;

constexpr long DEFAULT_PORT = 8088;
// How often the launcher's new lines are printed here.
constexpr Millis PRINT_EVERY(100);

int usage() {
    std::fprintf(stderr,
                 "usage: vx-web [--port N] [--apps DIR] [--target host|armhf|armhf-static|goggles]"
                 " [--mode 0..3] [--no-buzzer] [-- LAUNCHER-ARGS...]\n");
    return 2;
}

// The command line; 0 when it is good, else the exit status.
int read_options(int argc, char** argv, vxboard::BoardConfig& cfg, long& port) {
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
            return usage();
        }
    }
    vxfront::settle_apps_dir(cfg);
    return 0;
}

// The launcher's lines as they come, until a signal ends vx-web.
void print_lines(const vxboard::Board& board) {
    size_t printed = 0;
    bool ended = false;
    while (!g_quit) {
        std::this_thread::sleep_for(PRINT_EVERY);
        for (const std::string& l : board.lines(printed)) {
            std::printf("%s", l.c_str());
            ++printed;
        }
        if (!ended && board.state().launcher.exited.load()) {
            ended = true;
            std::printf("  [web] the launcher ended; the page stays up (Ctrl-C to quit)\n");
        }
    }
}

int run_server(vxboard::Board& board, const std::string& apps_dir, long port) {
    mg_init_library(0);
    vxweb::WebGoggles web(board, apps_dir);
    mg_context* ctx = vxweb::serve(web, port);
    if (ctx == nullptr) return 1;
    std::printf("  [web] the virtual goggles: http://127.0.0.1:%ld/  (apps from %s)\n", port,
                apps_dir.c_str());
    const std::string staging = std::filesystem::path(STAGING_DIR).lexically_relative("/tmp");
    std::printf("  [web] the sandbox's /tmp is %s/tmp here (the apps' logs: %s/NAME.log)\n",
                board.workdir().c_str(), staging.c_str());
    std::thread pump([&] { web.pump(g_quit); });
    print_lines(board);
    g_quit = true;
    pump.join();
    mg_stop(ctx);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    vxboard::BoardConfig cfg;
    cfg.apps_dir = VX_SAMPLE_APPS_DIR;
    long port = DEFAULT_PORT;
    if (const int bad = read_options(argc, argv, cfg, port)) return bad;
    vxfront::end_on_signals();
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    vxboard::Board board(cfg);
    if (!vxfront::start_board(board, "vx-web")) return 1;
    const int status = run_server(board, cfg.apps_dir, port);
    vxfront::end_launcher(board);
    board.stop();
    std::printf("  [web] board stopped\n");
    return status;
}
