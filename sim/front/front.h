#pragma once
// What the two front ends of the board (vx-web, vx-board) share: the options that set up
// the board, and presses that the launcher sees however briefly a person made them.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "board/board.h"

namespace vxfront {

enum class Option { Taken, NotMine, Bad };

// Takes the board option at argv[i] (--apps DIR, --target T, --mode N, --no-buzzer) and its
// value, moving i past it. Bad: `error` says what is wrong with the value.
Option take_board_option(int argc, char** argv, int& i, vxboard::BoardConfig& cfg,
                         std::string& error);

// take_options goes on with the front end's start.
constexpr int GO_ON = -1;

// Walks the command line: the board's options through take_board_option, any other option
// at argv[i] through `own`, which moves i past what it takes and returns GO_ON or the front
// end's exit status. GO_ON, or the exit status: 2 once it has said what is wrong with a
// board option's value ("PROGRAM: ...").
int take_options(int argc, char** argv, vxboard::BoardConfig& cfg, const char* program,
                 const std::function<int(int& i)>& own);

// Once the options are read: the emulated goggles list the release's apps, which its archive
// brings, unless told of an app directory of one's own.
void settle_apps_dir(vxboard::BoardConfig& cfg);

// Starts the board; false once it has said why it could not ("PROGRAM: ...").
bool start_board(vxboard::Board& board, const char* program);

// Set by SIGINT and SIGTERM once end_on_signals() has been called: the front end winds down.
extern std::atomic<bool> g_quit;
void end_on_signals();

// Asks a launcher that is still running to end (SIGTERM) and waits a while for it, as the
// goggles' shutdown would; its exit status, or nothing if it had ended or did not in time.
std::optional<int> end_launcher(vxboard::Board& board);

// A whole decimal number within [lo, hi].
bool parse_number(const std::string& text, long lo, long hi, long& out);

// The launcher debounces its button: a level counts on its third equal sample, one sample a
// loop pass (30 or 40 ms, and 9 ms more while the line settles under a button). A press
// shorter than that would be lost, and a press that follows a release too soon would merge
// with the one before. The feed puts each level on the line and keeps it there until the
// launcher has read it often enough; a level held longer keeps its real length.
class KeyFeed {
  public:
    // Reads of a level before the next may follow: the debouncer's three, and one that may
    // have sampled the line just before the level was put on it.
    static constexpr uint32_t READS_TO_SEE = 4;
    // A launcher that does not read its button (no ADC, hung, ended) gets the person's own
    // timing after this.
    static constexpr std::chrono::milliseconds MAX_STRETCH{1000};

    // `on_level` hears of each level as it goes on the line (on the feed's own thread).
    explicit KeyFeed(vxboard::Board& board, std::function<void(uint32_t raw)> on_level = {});
    ~KeyFeed();
    KeyFeed(const KeyFeed&) = delete;
    KeyFeed& operator=(const KeyFeed&) = delete;

    void press(int key);
    void release();
    // Waits until every level asked for is on the line and has been read.
    void drain();
    // How long the latest press stayed on the line, in ms (0 before the first).
    int64_t last_press_ms() const;

  private:
    void run();
    void push(uint32_t raw);

    vxboard::Board& board_;
    const std::function<void(uint32_t)> on_level_;
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::deque<uint32_t> queue_;
    uint32_t last_queued_ = 0;
    bool busy_ = false;
    bool quit_ = false;
    int64_t last_press_ms_ = 0;
    std::thread worker_;
};

} // namespace vxfront
