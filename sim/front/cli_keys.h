#pragma once
// vx-board's keys: each key of the terminal, what it does on the board, and its line of help.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "board/board.h"
#include "front/front.h"
#include "scenario/record.h"

namespace vxcli {

// What the keys act on and what they keep between presses.
struct Cli {
    Cli(vxboard::Board& b, vxfront::KeyFeed& f, vxscenario::Recorder& r, std::string s,
        std::atomic<bool>& q)
        : board(b), feed(f), recorder(r), shots(std::move(s)), quit(q) {}

    vxboard::Board& board;
    vxfront::KeyFeed& feed;
    vxscenario::Recorder& recorder;
    const std::string shots; // the directory for screenshots and recordings
    std::atomic<bool>& quit;
    std::thread stopper; // stops an app on its own, so that the keys stay live meanwhile
    bool play_down = false;
    std::chrono::steady_clock::time_point play_since{};
    int shot = 0;
};

// Does what `key` stands for; a key without a binding does nothing.
void press_key(Cli& cli, char key);

// The keys and what each does, a line each.
std::string key_help();

} // namespace vxcli
