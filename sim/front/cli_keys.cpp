#include "front/cli_keys.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "base/ctext.h"
#include "base/timings.h"
#include "base/video_modes.h"
#include "board/app_control.h"
#include "hw/keys_logic.h"
#include "hw/osd.h"

namespace vxcli {

namespace {

using vxboard::Millis;

// The holds of `o` and `c` outlast the launcher's thresholds by a margin that its sampling
// cannot eat: a press and its release are each seen three samples late, one sample a pass of
// at most 40 ms plus a settle wait, so the length it measures may differ from the hold's by
// a pass or two either way.
constexpr int32_t HOLD_MARGIN_MS = 300;
constexpr int32_t OPEN_HOLD_MS = HOLD_OPEN_MS + HOLD_MARGIN_MS;
constexpr int32_t CLOSE_HOLD_MS = HOLD_CLOSE_MS + HOLD_MARGIN_MS;
static_assert(OPEN_HOLD_MS < HOLD_CLOSE_MS, "a hold that opens the menu must not close it");

constexpr auto OPEN_HELP =
    ctext("hold PLAY ") + seconds_text<OPEN_HOLD_MS>() + " s (opens the menu)";
constexpr auto CLOSE_HELP =
    ctext("hold PLAY ") + seconds_text<CLOSE_HOLD_MS>() + " s (closes the menu)";
constexpr auto GRACE_TEXT = seconds_text<ESCAPE_KILL_AFTER_MS>() + " s";
constexpr auto STOP_HELP =
    ctext("stop the app (SIGTERM to its group, SIGKILL ") + GRACE_TEXT + " later)";

void say(const char* text) {
    std::printf("  [board] %s\n", text);
}

void tap(Cli& cli, int button, char) {
    cli.feed.press(button);
    cli.feed.release();
}

void hold(Cli& cli, int ms, char) {
    std::printf("  [board] PLAY held for %d ms\n", ms);
    std::fflush(stdout);
    cli.feed.press(KEY_PLAY);
    std::this_thread::sleep_for(Millis(ms));
    cli.feed.release();
    cli.feed.drain();
}

void toggle_play(Cli& cli, int, char) {
    cli.play_down = !cli.play_down;
    if (cli.play_down) {
        cli.feed.press(KEY_PLAY);
        cli.play_since = std::chrono::steady_clock::now();
        say("PLAY down");
        return;
    }
    cli.feed.release();
    const auto ms =
        std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - cli.play_since);
    std::printf("  [board] PLAY up after %lld ms\n", static_cast<long long>(ms.count()));
}

void report_stop(vxboard::Board& board) {
    const std::optional<vxboard::RunningApp> app = vxboard::running_app(board);
    if (!app) {
        say("no app is running");
        return;
    }
    std::printf("  [board] stopping %s (pid %d): SIGTERM to its process group\n", app->name.c_str(),
                app->ns_pid);
    const vxboard::AppStop r = vxboard::stop_app(board);
    const std::string killed =
        "was still running " + std::string(GRACE_TEXT.c_str()) + " later: SIGKILL sent";
    std::printf("  [board] %s %s\n", app->name.c_str(),
                r == vxboard::AppStop::Killed  ? killed.c_str()
                : r == vxboard::AppStop::Ended ? "ended after SIGTERM"
                                               : "had already ended");
}

void stop_app(Cli& cli, int, char) {
    cli.recorder.stop_app();
    if (cli.stopper.joinable()) cli.stopper.join();
    cli.stopper = std::thread([&board = cli.board] { report_stop(board); });
}

void processes(Cli& cli, int, char) {
    for (const vxboard::NamedProcess& p : vxboard::named_processes(cli.board))
        std::printf("  [board] pid %5d (host %d) %c  %s\n", p.proc.ns_pid, p.proc.host_pid,
                    p.proc.state, p.role.c_str());
}

void record(Cli& cli, int, char) {
    vxscenario::Recorder& rec = cli.recorder;
    if (!rec.on()) {
        std::string why;
        std::printf(rec.start(why) ? "  [board] recording: r again to stop\n"
                                   : "  [board] not recording: %s\n",
                    why.c_str());
        return;
    }
    rec.stop();
    const std::string path = cli.shots + "/" + rec.file_name();
    std::ofstream(path) << rec.text();
    std::printf("  [board] %d steps written to %s; replay: tools/run-scenario.sh %s\n", rec.steps(),
                path.c_str(), path.c_str());
}

void screenshot(Cli& cli, int, char) {
    const std::string path = cli.shots + "/vx-screen-" + std::to_string(getpid()) + "-" +
                             std::to_string(++cli.shot) + ".png";
    cli.board.screenshot(path);
    std::printf("  [board] the screen (display at row %u) written to %s\n", cli.board.screen_row(),
                path.c_str());
    const std::string display = path.substr(0, path.size() - 4) + "-display.png";
    if (cli.board.display_picture(display))
        std::printf("  [board] qemu's display written to %s\n", display.c_str());
}

void overlay(Cli& cli, int, char) {
    const bool on = (cli.board.state().osd.control.load() & OSD_CONTROL_ENABLE) != 0;
    std::printf("  [board] OSD overlay (%s):\n", on ? "enabled" : "disabled");
    for (const std::string& row : cli.board.osd_text())
        std::printf("  |%s|\n", row.c_str());
}

void video_mode(Cli& cli, int mode, char key) {
    cli.board.set_video_mode(mode);
    cli.recorder.mode(std::to_string(mode));
    std::printf("  [board] video mode %c\n", key);
}

void help(Cli&, int, char) {
    std::fputs(key_help().c_str(), stdout);
}

void quit(Cli& cli, int, char) {
    cli.quit = true;
}

// Where the help's texts start, after the keys' names.
constexpr size_t HELP_COLUMN = 12;

struct KeyBinding {
    const char* keys; // each of them does it
    int arg;          // the button, the hold's ms, the video mode
    const char* help;
    void (*act)(Cli& cli, int arg, char key);
};

constexpr KeyBinding KEYS[] = {
    {"u", KEY_UP, "tap UP (each tap held until the launcher has seen it)", tap},
    {"d", KEY_DOWN, "tap DOWN", tap},
    {"m", KEY_MIDDLE, "tap MIDDLE", tap},
    {"p", KEY_PLAY, "tap PLAY", tap},
    {"b", KEY_BACK, "tap BACK", tap},
    {"o", OPEN_HOLD_MS, OPEN_HELP.c_str(), hold},
    {"c", CLOSE_HOLD_MS, CLOSE_HELP.c_str(), hold},
    {"P ", 0, "PLAY down, up again at the next (hold it as long as you like)", toggle_play},
    {"k", 0, STOP_HELP.c_str(), stop_app},
    {"s", 0, "the processes on the board", processes},
    {"w", 0, "screenshot (PNG in the --shots directory)", screenshot},
    {"r", 0, "record a scenario; r again writes it to the --shots directory", record},
    {"t", 0, "the OSD overlay's text", overlay},
    {"1", MODE_NORMAL, "video mode NORMAL", video_mode},
    {"2", MODE_HDMI, "video mode HDMI", video_mode},
    {"3", MODE_AV, "video mode AV", video_mode},
    {"0", MODE_UNKNOWN, "video mode unknown", video_mode},
    {"?", 0, "this help", help},
    {"q", 0, "quit", quit},
};

std::string key_names(const char* keys) {
    std::string names;
    for (const char* k = keys; *k != '\0'; ++k)
        names +=
            (names.empty() ? "" : " or ") + (*k == ' ' ? std::string("space") : std::string(1, *k));
    return names;
}

} // namespace

void press_key(Cli& cli, char key) {
    if (key == '\0') return;
    for (const KeyBinding& b : KEYS)
        if (std::strchr(b.keys, key) != nullptr) return b.act(cli, b.arg, key);
}

std::string key_help() {
    std::string text = "keys:\n";
    for (const KeyBinding& b : KEYS) {
        std::string names = key_names(b.keys);
        names.resize(std::max(names.size() + 1, HELP_COLUMN), ' ');
        text += "  " + names + b.help + "\n";
    }
    return text;
}

} // namespace vxcli
