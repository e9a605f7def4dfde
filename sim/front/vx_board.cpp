// Command-line front end of the virtual goggles board: runs the launcher on the board with
// an app directory, prints its log and the running app's, and turns keys into button
// presses.
//
//   vx-board [--apps DIR] [--target host|armhf|armhf-static|goggles] [--mode 0..3] [--no-mem]
//            [--no-service] [--no-buzzer] [--shots DIR] [-- LAUNCHER-ARGS...]
//   vx-board --check DIR     what the launcher will make of an app directory, and exit
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "board/app_control.h"
#include "board/board.h"
#include "board_paths.h"
#include "catalogue/catalogue.h"
#include "front/cli_keys.h"
#include "front/front.h"
#include "scenario/record.h"

using namespace vxboard;

namespace {

using vxfront::g_quit;

constexpr int KEY_POLL_MS = 100;
constexpr Millis LOG_POLL(100);

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
    std::fprintf(
        stderr,
        "usage: vx-board [--apps DIR] [--target host|armhf|armhf-static|goggles] [--mode 0..3]\n"
        "                [--no-mem] [--no-service] [--no-buzzer] [--shots DIR]"
        " [-- LAUNCHER-ARGS...]\n"
        "       vx-board --check DIR\n");
}

// The options of vx-board's own, after those both front ends take.
int take_own_option(int argc, char** argv, int& i, BoardConfig& cfg, std::string& shots) {
    const std::string a = argv[i];
    if (a == "--check" && i + 1 < argc) {
        const vxcat::Report r = vxcat::check_catalogue(argv[i + 1]);
        std::fputs(vxcat::report_text(r).c_str(), stdout);
        return r.error.empty() ? 0 : 1;
    }
    if (a == "--shots" && i + 1 < argc) {
        shots = argv[++i];
        if (std::filesystem::is_directory(shots)) return vxfront::GO_ON;
        std::fprintf(stderr, "vx-board: --shots %s: not a directory\n", shots.c_str());
        return 2;
    }
    if (a == "--no-mem" || a == "--no-service") {
        (a == "--no-mem" ? cfg.with_mem : cfg.with_service) = false;
        return vxfront::GO_ON;
    }
    if (a == "--") {
        cfg.args.assign(argv + i + 1, argv + argc);
        i = argc;
        return vxfront::GO_ON;
    }
    usage();
    return 2;
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

// The launcher's log as it grows, how each app it collected ended, and the running app's log.
void follow_logs(Board& board, vxscenario::Recorder& recorder) {
    size_t next = 0;
    AppLogFollower app_log(board);
    while (!g_quit) {
        board.wait_line("", LOG_POLL, next);
        for (const std::string& l : board.lines(next)) {
            std::printf("%s", l.c_str());
            ++next;
            if (l.rfind("child ", 0) == 0 && !board.app_ends().empty())
                std::printf("  [board] %s\n", describe(board.app_ends().back()).c_str());
        }
        app_log.poll();
        recorder.poll();
    }
}

// The keys, until one quits or the launcher ends.
void read_keys(vxcli::Cli& cli) {
    RawTerminal term;
    while (!g_quit) {
        if (cli.board.state().launcher.exited.load()) {
            const int st = cli.board.state().launcher.wait_status.load();
            std::printf("  [board] launcher ended: %s %d\n",
                        WIFEXITED(st) ? "exit status" : "signal",
                        WIFEXITED(st) ? WEXITSTATUS(st) : WTERMSIG(st));
            return;
        }
        pollfd pfd{0, POLLIN, 0};
        if (poll(&pfd, 1, KEY_POLL_MS) <= 0) continue;
        char c;
        if (read(0, &c, 1) != 1) return;
        vxcli::press_key(cli, c);
    }
}

void run(Board& board, const BoardConfig& cfg, const std::string& shots) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf(
        "  [board] launcher on the virtual board, apps from %s\n"
        "  [board] the sandbox's /tmp is %s/tmp here (the apps' logs: vorna-x/NAME.log)\n%s",
        cfg.apps_dir.c_str(), board.workdir().c_str(), vxcli::key_help().c_str());
    vxscenario::Recorder recorder(board, cfg.apps_dir);
    vxfront::KeyFeed feed(board, [&recorder](uint32_t raw) { recorder.level(raw); });
    std::thread printer([&] { follow_logs(board, recorder); });
    vxcli::Cli cli(board, feed, recorder, shots, g_quit);
    read_keys(cli);
    if (const auto st = vxfront::end_launcher(board))
        std::printf("  [board] launcher ended with status %d\n", WEXITSTATUS(*st));
    g_quit = true;
    printer.join();
    if (cli.stopper.joinable()) cli.stopper.join();
}

} // namespace

int main(int argc, char** argv) {
    BoardConfig cfg;
    cfg.apps_dir = VX_SAMPLE_APPS_DIR;
    std::string shots = std::filesystem::temp_directory_path().string();
    const int status = vxfront::take_options(argc, argv, cfg, "vx-board", [&](int& i) {
        return take_own_option(argc, argv, i, cfg, shots);
    });
    if (status != vxfront::GO_ON) return status;
    vxfront::end_on_signals();
    Board board(cfg);
    if (!vxfront::start_board(board, "vx-board")) return 1;
    run(board, cfg, shots);
    board.stop();
    return 0;
}
