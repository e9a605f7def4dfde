#pragma once
// Scenarios: sessions on the virtual goggles written as plain text, one step a line (see
// SCENARIOS.md), read whole before any board starts and then run step by step against a
// board, each expectation checked as its step comes.
#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/video_modes.h"
#include "board/board.h"

namespace vxscenario {

using Millis = std::chrono::milliseconds;

// The launcher's debouncer decides on its third sample: a press or a release is seen after
// this many of its passes.
constexpr int SEEN_PASSES = 3;

// `apps samples [NAME...]`: the sample apps as the build of the scenario's target staged them.
constexpr char SAMPLES_WORD[] = "samples";

enum class Op {
    Press,
    Release,
    Tap, // also `hold`: a press of a given length
    Slide,
    Wait,
    WaitLog,
    WaitAppExit,
    Mode,
    Fault,
    StopApp,
    KillLauncher,
    ExpectLog,
    ExpectNoLog,
    ExpectAppLog,
    ExpectService,
    ExpectScreen,
    ExpectSelected,
    ExpectOsd,
    ExpectTone,
    ExpectApp,
    Screenshot,
    Compare,
};

struct Step {
    int line = 0;
    std::string source; // the line as written, without its comment
    Op op = Op::Wait;
    int key = -1, to_key = -1;
    Millis span{0};   // how long, or how long at most
    std::string text; // a log or overlay text, a file
    std::string name; // an app, a fault
    std::string word; // the state expected, a fault's setting
    int number = 0;   // a mode, a slot, a row, Hz, an exit code, a signal, an errno
};

// What the board starts with; the steps before the first action set it.
struct Setup {
    std::string apps;                   // relative to the scenario's directory
    std::vector<std::string> app_names; // only these of it (none: all)
    int apps_line = 0;
    int mode = MODE_NORMAL;
    std::vector<std::string> args;
    bool buzzer = true, transport = true, framebuffer = true, adc = true;
    std::vector<vxboard::BoardConfig::Recording> recordings; // on the goggles' storage
};

struct Scenario {
    std::string path;
    Setup setup;
    std::vector<Step> steps;
};

struct ParseError {
    std::string path;
    int line = 0;
    std::string what;
};
std::string to_string(const ParseError& e);

// Reads a scenario from its text; every error found lands in `errors`.
Scenario parse(const std::string& path, const std::string& text, std::vector<ParseError>& errors);
// Reads a scenario file; without `apps_given`, its app directory and apps must be there.
Scenario load(const std::string& path, bool apps_given, std::vector<ParseError>& errors);

struct Options {
    std::string apps; // overrides the scenario's `apps`
    bool realtime = false;
    bool accept = false; // `compare` writes its reference anew
    std::optional<vxboard::Target> target;
    std::string out_dir; // screenshots, diffs; default: the scenario's directory
    // On the emulated goggles, the scenarios of a run share one boot: each starts the
    // launcher anew on the guest the last one ran on (release_kept_board() ends it).
    bool one_boot = false;
};

// Takes down the emulated goggles kept from one scenario to the next.
void release_kept_board();

// Why the target cannot run the scenario at all (its board, a step), in words that begin
// "the emulated goggles cannot"; "" when it can. Checked before any board starts.
std::string refusal(const Scenario& scenario, const Options& options);

// One scenario's board and what its steps have read of it so far. The board starts at the
// first step that is not set-up.
class Session {
  public:
    Session(const Scenario& scenario, Options options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs a step: nullopt when it passed, else what was expected and what was found.
    std::optional<std::string> run(const Step& step);
    // The launcher's clock since the board started, in ms; nullopt before.
    std::optional<int64_t> clock_ms() const;
    // What a failure report shows: the end of the launcher's log and of the app's (the one a
    // step names, else the last one launched); a screenshot written to `png`.
    std::string tails(const Step& step, size_t lines) const;
    // Why an app could not be run, when the board knows better than its log: an ARM
    // executable whose exec failed (ENOEXEC) on a board without qemu-arm; else empty.
    std::string hint() const;
    void screenshot(const std::string& png) const;
    vxboard::Board* board() const { return board_.get(); }
    // The board's part done: taken down, or on the emulated goggles kept for the next
    // scenario. The launcher's log of this scenario, to its end.
    std::vector<std::string> finish();
    const std::string& out_dir() const { return options_.out_dir; }

  private:
    struct Launch {
        std::string name;
        pid_t pid = -1;
        size_t line = 0;
    };
    using Check = std::optional<std::string>; // nullopt: as expected

    // session.cpp: the board, the clocks, the apps launched.
    void start();
    vxboard::BoardConfig board_config();
    std::optional<Launch> last_launch(const std::string& name) const;
    bool running(const std::string& name) const;
    bool run_until(const std::function<bool()>& done, Millis limit, bool paced = false);
    void pass_time(Millis span);
    Check settled(const std::function<Check()>& check);
    // Real time for what follows an action to show: longer on the emulated goggles, whose
    // pictures and logs reach the board through the guest's agent.
    Millis grace() const;
    // On the emulated goggles, the guest's followed files (the logs) brought up to now.
    void sync_logs();
    std::string path_near_scenario(const std::string& file) const;
    // session_act.cpp: the steps that act.
    void act(const Step& step);
    void put(int key);
    std::pair<uint32_t, Millis> reads_to_see() const;
    void tap(int key, Millis span);
    void fault(const Step& step);
    // session_expect.cpp: the steps that wait or expect.
    Check wait_for_log(const Step& step);
    Check wait_for_app_exit(const Step& step);
    Check expect(const Step& step);
    Check expect_log(const Step& step);
    Check expect_no_log(const Step& step);
    Check expect_app_log(const Step& step);
    Check expect_service(const Step& step);
    Check expect_screen(const Step& step);
    Check expect_selected(const Step& step);
    Check expect_osd(const Step& step);
    Check expect_tone(const Step& step);
    Check expect_app(const Step& step);
    Check app_state(const Step& step);
    // session_compare.cpp
    Check compare(const Step& step);

    const Scenario& scenario_;
    Options options_;
    std::string apps_copy_; // the named apps alone
    std::shared_ptr<vxboard::Board> board_;
    size_t line_base_ = 0; // the first line of this scenario's launcher on a kept board
    int64_t clock_base_ = 0;
    bool started_ = false; // the launcher came up and the clock has its base
    size_t cursor_ = 0;    // where the next log expectation starts looking
    size_t mark_ = 0;      // the first line of the last step that acted or waited
    int held_ = -1;        // the button held since a `press`
};

enum class Outcome { Passed, Failed, Refused };

// Runs every step of a scenario until one fails, with a line of report for each to `out`;
// a scenario the target cannot run is refused, with why, before its board starts.
Outcome run(const Scenario& scenario, const Options& options, std::ostream& out);

} // namespace vxscenario
