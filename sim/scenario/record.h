#pragma once
// A person's session on the board written down as a scenario while it happens: the button
// levels as they were put on the ADC line, the video switches, the launcher's lines as they
// came and, at quiet moments, what the screen showed. A front end feeds it; the text replays
// with vx-scenario against a fresh board (see SCENARIOS.md, "Recording in the browser").
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "board/board.h"
#include "board/log_forms.h"
#include "scenario/words.h"

namespace vxscenario {

// What the screen showed at a quiet moment: as `expect screen`, `expect selected` and
// `expect osd` read it.
struct Look {
    std::string service = "running";
    std::string screen = "goggles";
    int slot = -1;
    std::vector<std::string> osd = std::vector<std::string>(vxboard::OSD_ROWS);
};

// One thing that happened, `ms` after the recording started.
struct Happening {
    enum class Kind { Level, Mode, StopApp, Line, Look, Note } kind;
    Happening(Kind k, int64_t at, std::string what = {}) : kind(k), ms(at), text(std::move(what)) {}
    int64_t ms = 0;
    uint32_t raw = 0; // Level: the ADC sample on the line, 0 for no button
    std::string text; // Mode: 0..3 or none; Line: the launcher's line; Note: a comment
    std::optional<vxboard::LogLine> read; // Line: by its form, when it has one
    std::string app_end;  // Line "child NAME exited": how the board saw NAME end, as a step
    struct Look look {};  // Look
    std::string app_said; // Line "child NAME exited": the last line of NAME's log
};

// The session's beginning, as the replay's set-up lines say it.
struct Opening {
    std::string apps;                          // absolute
    std::string mode = mode_word(MODE_NORMAL); // the video mode at the start
    bool transport = true;                     // false: every I2C transfer failed already
    bool buzzer = true;
    std::vector<std::string> args; // the launcher's
    std::string started;           // local time, for the header
};

// The scenario of a session; `steps` gets the number of steps in it.
std::string write_recording(const Opening& opening, const std::vector<Happening>& happenings,
                            int& steps);

// The stable part of a launcher line, for `expect log`: up to a pid, a count of writes or a
// number of ms, which another run gives otherwise; `read` is the line by its form.
std::string stable_part(const std::string& line);
std::string stable_part(const std::string& line, const std::optional<vxboard::LogLine>& read);

class Recorder {
  public:
    Recorder(vxboard::Board& board, std::string apps_dir);

    // Starts a recording: only with the launcher idle, since a replay starts from a fresh
    // one. False, with the reason in `why`, when it is not.
    bool start(std::string& why);
    void stop();
    // The front end tells: a level put on the ADC line (from any thread), a video switch
    // ("0".."3", "none"), the app stopped, something worth a comment.
    void level(uint32_t raw);
    void mode(const std::string& m);
    void stop_app();
    void note(const std::string& what);
    // Reads the launcher's new lines, and looks at the screen once things have been quiet.
    // Call it often (every few tens of ms).
    void poll();

    bool on() const;
    int steps() const;
    // Moves whenever the text or the state changed.
    uint64_t generation() const;
    // The current recording, or the last one.
    std::string text() const;
    std::string file_name() const;

  private:
    int64_t now_ms() const;
    void take_lines_locked();
    void app_ended(Happening& h, const std::string& name) const;
    void look_locked();
    void add_locked(Happening h);
    bool idle_locked(std::string& why);

    vxboard::Board& board_;
    const std::string apps_dir_;
    mutable std::mutex mu_;
    bool on_ = false;
    std::chrono::steady_clock::time_point from_;
    Opening opening_;
    std::vector<Happening> happenings_;
    size_t next_line_ = 0;
    int64_t last_ms_ = 0; // the last thing that happened
    bool looked_ = true;  // since then
    bool held_ = false;
    int running_apps_ = 0;
    std::string text_, file_;
    int steps_ = 0;
    uint64_t generation_ = 0;
};

} // namespace vxscenario
