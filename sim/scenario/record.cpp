// Writing a session down as a scenario. The button levels are taken as the front end put
// them on the line, which is what the launcher read; its lines and the screen are the
// launcher's answers, written as expectations in the forms that come out the same in
// another run.
#include "scenario/record.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "base/timings.h"
#include "board/app_control.h"
#include "board/screen.h"
#include "hw/keys_logic.h"
#include "scenario/scenario.h"

namespace vxscenario {
namespace {

using Kind = Happening::Kind;
using Clock = std::chrono::steady_clock;

// Quiet this long after the last thing that happened: the launcher has drawn its answer.
constexpr int64_t QUIET_MS = 300;
// A press or a release step lasts until the launcher has seen it, three of its passes; a tap
// or a hold ends the same way after its release. The waits that follow are that much shorter.
constexpr int64_t SEEN_MS = 120;
// The launcher times a press from its third equal sample to its third sample of the release,
// a pass (up to about 50 ms) either side of the line's own length, here and in the replay
// alike: a length closer than this to one of its thresholds is written this far from it.
constexpr int64_t CLEAR_MS = 100;
constexpr size_t COMMENT_COLUMN = 44;

const std::pair<int, const char*> KEY_NAMES[] = {{KEY_UP, "UP"},
                                                 {KEY_DOWN, "DOWN"},
                                                 {KEY_MIDDLE, "MIDDLE"},
                                                 {KEY_PLAY, "PLAY"},
                                                 {KEY_BACK, "BACK"}};
const char* const MODE_NAMES[] = {"unknown", "normal", "hdmi", "av"};

int key_of(uint32_t raw) {
    for (const auto& [key, name] : KEY_NAMES)
        if (vxboard::Board::raw_for_key(key) == raw) return key;
    return -1;
}

std::string key_name(int key) {
    for (const auto& [k, name] : KEY_NAMES)
        if (k == key) return name;
    return "?";
}

bool starts(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::string rtrim(std::string s) {
    s.erase(s.find_last_not_of(" \n") + 1);
    return s;
}

// 130ms, 2.04s, 3.3s: to 10 ms, which no step of the launcher's resolves.
std::string duration(int64_t ms) {
    ms = (ms + 5) / 10 * 10;
    if (ms < 1000) return std::to_string(ms) + "ms";
    std::string s =
        std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 10 + 100).substr(1);
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    return s + "s";
}

// m:ss.cc since the recording started.
std::string clock(int64_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%05.2f", static_cast<int>(ms / 60000),
                  static_cast<double>(ms % 60000) / 1000);
    return buf;
}

std::string quote(const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') q += '\\';
        q += c;
    }
    return q + "\"";
}

// What the launcher answered to a press: its lines until the next action, and whether what
// it showed changed (unknown without a look just before and one after).
struct Answer {
    std::vector<std::string> lines;
    std::optional<bool> changed;
};

// The launcher's own side of `threshold` for a press held `ms` on the line, where its answer
// tells: PLAY's from a line of what the threshold does or the length it measured when it let
// the hold go; another key's from whether it acted as on a tap. Else the side the line's
// length lies on.
bool over(int key, int32_t threshold, int64_t ms, const Answer& a) {
    if (key == KEY_PLAY) {
        static const std::pair<int32_t, const char*> PAST[] = {
            {HOLD_BLOCK_MS, "hold: keys blocked at"}, {HOLD_OPEN_MS, "menu open (hold"},
            {HOLD_OPEN_MS, "menu OSD open (av"},      {HOLD_OPEN_MS, "menu suppressed"},
            {HOLD_OPEN_MS, "fb0 init fail"},          {HOLD_OPEN_MS, "osd menu open fail"},
            {HOLD_CLOSE_MS, "menu closed"},           {ESCAPE_HOLD_MS, "stopped (hold play"}};
        for (const std::string& l : a.lines)
            for (const auto& [t, says] : PAST)
                if (t == threshold && l.find(says) != std::string::npos) return true;
        for (const std::string& l : a.lines) {
            if (!starts(l, "hold aborted (")) continue;
            const size_t comma = l.find(", ");
            const long measured = comma == std::string::npos ? 0 : std::atol(l.c_str() + comma + 2);
            // A hold let go at another button's press says 0 ms: it ended before it opened or
            // closed the menu.
            if (measured > 0) return measured >= threshold;
            if (threshold >= HOLD_OPEN_MS) return false;
        }
        return ms >= threshold;
    }
    for (const std::string& l : a.lines)
        if (starts(l, "launched ") || starts(l, "launch failed")) return false;
    return a.changed ? !*a.changed : ms > threshold;
}

// The length to write for a press held `ms`; `why` says when it is not the one recorded.
int64_t clear_of_thresholds(int key, int64_t ms, const Answer& a, std::string& why) {
    const std::vector<int32_t> thresholds =
        key == KEY_PLAY
            ? std::vector<int32_t>{HOLD_BLOCK_MS, HOLD_OPEN_MS, HOLD_CLOSE_MS, ESCAPE_HOLD_MS}
            : std::vector<int32_t>{TAP_MAX_MS};
    for (const int32_t t : thresholds) {
        if (std::llabs(ms - t) >= CLEAR_MS) continue;
        const bool past = over(key, t, ms, a);
        why = "held " + duration(ms) + ", taken as " + (past ? "over " : "under ") + duration(t);
        return past ? t + CLEAR_MS : t - CLEAR_MS;
    }
    return ms;
}

bool same(const Look& a, const Look& b) {
    return a.service == b.service && a.screen == b.screen && a.slot == b.slot && a.osd == b.osd;
}

// The happenings in order, as steps. A press is written once the next action comes, with
// the launcher's answer to it at hand.
class Writer {
  public:
    explicit Writer(const Opening& o) : transport_(o.transport), mode_(o.mode) {}

    void step(const std::string& step, const std::string& comment = "") {
        std::string l = step;
        if (!comment.empty())
            l += std::string(std::max(l.size() + 1, COMMENT_COLUMN) - l.size(), ' ') + "# " +
                 comment;
        text += l + "\n";
        ++steps;
    }
    void comment(const std::string& c) { text += "# " + c + "\n"; }

    void happening(const Happening& h) {
        if (released_ >= 0 && (h.kind == Kind::Mode || h.kind == Kind::StopApp ||
                               h.kind == Kind::Note || (h.kind == Kind::Level && h.raw != 0)))
            flush();
        switch (h.kind) {
        case Kind::Level:
            level(h);
            break;
        case Kind::Note:
            comment(clock(h.ms) + " " + h.text);
            break;
        default:
            if (keys_.empty())
                after(h);
            else
                answer_.push_back(h);
        }
    }

    void finish() {
        if (released_ >= 0)
            flush();
        else if (!keys_.empty())
            comment(key_name(keys_.back().first) + " was still held when the recording stopped");
    }

    std::string text;
    int steps = 0;

  private:
    // The person's pause up to `ms`, less what the replay spends in its steps already. None
    // before the first action: the replay's board starts there.
    void wait_until(int64_t ms) {
        if (!begun_) replayed_ = ms;
        begun_ = true;
        if (ms - replayed_ >= 10) step("wait " + duration(ms - replayed_));
        replayed_ = std::max(replayed_, ms);
    }

    void level(const Happening& h) {
        if (h.raw == 0) {
            if (!keys_.empty()) released_ = h.ms;
            return;
        }
        const int key = key_of(h.raw);
        if (key < 0) return;
        if (keys_.empty()) {
            wait_until(h.ms);
            before_ = fresh_ ? std::optional<Look>(shown_) : std::nullopt;
        }
        keys_.push_back({key, h.ms});
    }

    void after(const Happening& h) {
        if (h.kind == Kind::Line) return line(h);
        if (h.kind == Kind::Look) return look(h.look);
        wait_until(h.ms);
        if (h.kind == Kind::StopApp) return step("stop-app", clock(h.ms));
        mode(h);
    }

    // One key: a tap or a hold. Several, the thumb sliding from one to the next: each but
    // the last pressed and held, the last slid onto.
    void flush() {
        Answer a;
        std::optional<Look> seen;
        for (const Happening& h : answer_) {
            if (h.kind == Kind::Line) a.lines.push_back(h.text);
            if (h.kind == Kind::Look && !seen) seen = h.look;
        }
        if (keys_.size() == 1 && before_ && seen) a.changed = !same(*before_, *seen);
        const size_t n = keys_.size();
        for (size_t i = 0; i < n; ++i) {
            const auto [key, at] = keys_[i];
            std::string why;
            const int64_t held = clear_of_thresholds(
                key, (i + 1 < n ? keys_[i + 1].second : released_) - at, a, why);
            const std::string when = clock(at) + (why.empty() ? "" : "; " + why);
            if (n == 1) {
                step((held <= TAP_MAX_MS ? "tap " : "hold ") + key_name(key) + " " + duration(held),
                     when);
            } else if (i + 1 < n) {
                step("press " + key_name(key), when);
                if (held - SEEN_MS >= 10) step("wait " + duration(held - SEEN_MS));
            } else {
                step("slide " + key_name(keys_[i - 1].first) + " " + key_name(key) + " " +
                         duration(held),
                     when);
            }
        }
        replayed_ = released_ + SEEN_MS;
        fresh_ = false;
        const std::vector<Happening> answer = std::move(answer_);
        keys_.clear();
        answer_.clear();
        released_ = -1;
        for (const Happening& h : answer)
            after(h);
    }

    // An app's end is waited for: it runs in real time, however the replay's launcher runs.
    void line(const Happening& h) {
        const std::string l = rtrim(h.text);
        if (starts(l, "launched ")) {
            launched_ = h.ms;
            // The app has the screen: what the launcher shows after it is written anew.
            shown_.screen.clear();
            fresh_ = false;
        }
        if (!starts(l, "child ") || l.size() < 13 || l.compare(l.size() - 7, 7, " exited") != 0) {
            step("expect log " + quote(stable_part(l)));
            return;
        }
        const int64_t ran = h.ms - launched_;
        const int64_t within = std::max<int64_t>(10000, (2 * ran + 5000 + 999) / 1000 * 1000);
        step("wait-for log " + quote(l) + " within " + duration(within),
             clock(h.ms) + ", " + duration(ran) + " after its launch");
        replayed_ = std::max(replayed_, h.ms);
        const std::string name = l.substr(6, l.size() - 13);
        if (!h.app_end.empty()) step("expect app " + name + " " + h.app_end);
        // The app's last words up to a number, which a clock or a count would change.
        const std::string said = h.app_said.substr(0, h.app_said.find_first_of("0123456789"));
        if (!rtrim(said).empty()) step("expect app-log " + name + " " + quote(said));
    }

    void mode(const Happening& h) {
        if (h.text == "none") {
            if (transport_) step("fault transport failing", clock(h.ms));
            transport_ = false;
            return;
        }
        const std::string m = MODE_NAMES[std::clamp(h.text[0] - '0', 0, 3)];
        if (!transport_) step("fault transport ok", clock(h.ms));
        if (!transport_ || m != mode_) step("mode " + m, clock(h.ms));
        transport_ = true;
        mode_ = m;
        fresh_ = false;
    }

    // What changed on the screen since the last look written.
    void look(const Look& now) {
        if (now.service != shown_.service) step("expect service " + now.service);
        if (now.screen != shown_.screen) step("expect screen " + now.screen);
        if (now.screen == "menu" && now.slot >= 0 &&
            (now.slot != shown_.slot || now.screen != shown_.screen))
            step("expect selected " + std::to_string(now.slot));
        for (size_t r = 0; r < now.osd.size() && r < shown_.osd.size(); ++r)
            if (now.osd[r] != shown_.osd[r])
                step("expect osd " + std::to_string(r) + " " + quote(now.osd[r]));
        shown_ = now;
        fresh_ = true;
    }

    bool transport_;
    std::string mode_;
    bool begun_ = false;
    int64_t replayed_ = 0; // how far into the recording the replay's steps have come
    int64_t launched_ = 0;
    std::vector<std::pair<int, int64_t>> keys_; // the press under way: keys and when
    int64_t released_ = -1;                     // when it ended, while not written yet
    std::vector<Happening> answer_;             // what came after its start
    Look shown_;                                // as the last look written found it
    bool fresh_ = false;                        // that look came after the last action
    std::optional<Look> before_;                // the look before the press, if fresh
};

std::string app_end_words(const vxboard::AppEnd& e) {
    if (e.exec_errno != 0) {
        const char* name = strerrorname_np(e.exec_errno);
        return name ? std::string("exec-failed ") + name : "";
    }
    if (!e.wait_status) return "";
    const int st = *e.wait_status;
    if (WIFEXITED(st)) return "exited " + std::to_string(WEXITSTATUS(st));
    const char* sig = WIFSIGNALED(st) ? sigabbrev_np(WTERMSIG(st)) : nullptr;
    return sig ? std::string("killed SIG") + sig : "";
}

} // namespace

std::string stable_part(const std::string& line) {
    for (const char* mark : {"pid=", "writes="})
        if (const size_t at = line.find(mark); at != std::string::npos)
            return line.substr(0, at + std::strlen(mark));
    for (size_t i = 0; i < line.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i])) ||
            (i > 0 && std::isdigit(static_cast<unsigned char>(line[i - 1]))))
            continue;
        size_t j = i;
        while (j < line.size() && std::isdigit(static_cast<unsigned char>(line[j])))
            ++j;
        if (line.compare(j, 3, " ms") == 0) return line.substr(0, i);
    }
    return line;
}

std::string write_recording(const Opening& o, const std::vector<Happening>& happenings,
                            int& steps) {
    Writer w(o);
    w.comment("A session on the virtual goggles, recorded " + o.started +
              "; the comments give each action's time since the start.");
    w.comment("Replay: tools/run-scenario.sh FILE, on the launcher's stepped clock, or with "
              "--realtime (SCENARIOS.md).");
    std::string set_up = "apps " + o.apps + "\nmode " + o.mode + "\n";
    if (!o.args.empty()) {
        set_up += "args";
        for (const std::string& a : o.args)
            set_up += " " + a;
        set_up += "\n";
    }
    if (!o.buzzer) set_up += "board no-buzzer\n";
    w.text += set_up + "\n";
    if (!o.transport) w.step("fault transport failing");
    for (const Happening& h : happenings)
        w.happening(h);
    w.finish();
    steps = w.steps;
    return w.text;
}

Recorder::Recorder(vxboard::Board& board, std::string apps_dir)
    : board_(board), apps_dir_(std::filesystem::absolute(apps_dir).lexically_normal().string()) {}

int64_t Recorder::now_ms() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from_).count();
}

bool Recorder::idle_locked(std::string& why) {
    vxboard::BoardState& s = board_.state();
    // The overlay stays enabled after the launcher's menu on it, blank.
    const std::vector<std::string> rows = board_.osd_text();
    if (s.launcher.exited.load() != 0)
        why = "the launcher has ended";
    else if (s.adc.raw.load() != 0)
        why = "a button is held";
    else if (board_.service_state() == 'T' || board_.screen_row() != 0 ||
             std::any_of(rows.begin(), rows.end(),
                         [](const std::string& r) { return !rtrim(r).empty(); }))
        why = "close the menu and let the app end first: a replay starts from a fresh launcher";
    return why.empty();
}

bool Recorder::start(std::string& why) {
    std::lock_guard<std::mutex> lock(mu_);
    if (on_) return true;
    if (!idle_locked(why)) return false;
    vxboard::BoardState& s = board_.state();
    on_ = true;
    from_ = Clock::now();
    happenings_.clear();
    next_line_ = board_.line_count();
    last_ms_ = 0;
    looked_ = true;
    held_ = false;
    running_apps_ = 0;
    const std::time_t t = std::time(nullptr);
    char at[32], file[64];
    std::strftime(at, sizeof at, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
    std::strftime(file, sizeof file, "recording-%Y%m%d-%H%M%S.scn", std::localtime(&t));
    opening_ = {apps_dir_,
                MODE_NAMES[std::clamp(board_.video_mode(), 0, 3)],
                s.i2c.fail_all.load() == 0,
                s.pwm.missing.load() == 0,
                board_.config().args,
                at};
    file_ = file;
    text_ = write_recording(opening_, happenings_, steps_);
    ++generation_;
    return true;
}

void Recorder::stop() {
    std::unique_lock<std::mutex> lock(mu_);
    // What the launcher shows at the end is written down too, once it has drawn it.
    for (int64_t left; on_ && (left = QUIET_MS - (now_ms() - last_ms_)) > 0;) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(left));
        lock.lock();
        take_lines_locked();
    }
    if (!on_) return;
    take_lines_locked();
    if (!looked_ && !held_ && running_apps_ == 0) look_locked();
    on_ = false;
    ++generation_;
}

void Recorder::level(uint32_t raw) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!on_) return;
    // What the launcher said before this level belongs before it.
    take_lines_locked();
    held_ = raw != 0;
    Happening h(Kind::Level, now_ms());
    h.raw = raw;
    add_locked(std::move(h));
}

void Recorder::mode(const std::string& m) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!on_) return;
    take_lines_locked();
    add_locked(Happening(Kind::Mode, now_ms(), m));
}

void Recorder::stop_app() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!on_) return;
    take_lines_locked();
    add_locked(Happening(Kind::StopApp, now_ms()));
}

void Recorder::note(const std::string& what) {
    std::lock_guard<std::mutex> lock(mu_);
    if (on_) add_locked(Happening(Kind::Note, now_ms(), what));
}

void Recorder::poll() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!on_) return;
    take_lines_locked();
    // An app draws and reads the buttons in real time: what the screen shows under it is no
    // answer of the launcher's.
    if (!looked_ && !held_ && running_apps_ == 0 && now_ms() - last_ms_ >= QUIET_MS) look_locked();
}

void Recorder::look_locked() {
    looked_ = true;
    Look l;
    l.service = board_.service_state() == 'T' ? "stopped" : "running";
    l.screen = vxboard::screen_shows(board_);
    l.slot = l.screen == "menu" ? vxboard::highlighted_slot(board_) : -1;
    l.osd = board_.osd_text();
    for (std::string& row : l.osd)
        row = rtrim(row);
    Happening h(Kind::Look, now_ms());
    h.look = l;
    add_locked(std::move(h));
}

void Recorder::take_lines_locked() {
    const std::vector<std::string> lines = board_.lines(next_line_);
    next_line_ += lines.size();
    for (const std::string& l : lines) {
        Happening h(Kind::Line, now_ms(), l);
        if (starts(l, "launched ")) running_apps_ = 1;
        if (starts(l, "child ") && l.find(" exited") != std::string::npos) {
            running_apps_ = 0;
            const std::string name = l.substr(6, l.find(" exited") - 6);
            const std::vector<vxboard::AppEnd> ends = board_.app_ends();
            for (auto e = ends.rbegin(); e != ends.rend(); ++e)
                if (e->name == name) {
                    h.app_end = app_end_words(*e);
                    break;
                }
            std::ifstream log(board_.sandbox_path(std::string(vxboard::STAGING_DIR_IN_SANDBOX) +
                                                  "/" + name + ".log"));
            for (std::string said; std::getline(log, said);)
                if (!rtrim(said).empty()) h.app_said = said;
        }
        add_locked(std::move(h));
    }
}

void Recorder::add_locked(Happening h) {
    if (h.kind != Kind::Look) {
        last_ms_ = h.ms;
        looked_ = false;
    }
    happenings_.push_back(std::move(h));
    text_ = write_recording(opening_, happenings_, steps_);
    ++generation_;
}

bool Recorder::on() const {
    std::lock_guard<std::mutex> lock(mu_);
    return on_;
}

int Recorder::steps() const {
    std::lock_guard<std::mutex> lock(mu_);
    return steps_;
}

uint64_t Recorder::generation() const {
    std::lock_guard<std::mutex> lock(mu_);
    return generation_;
}

std::string Recorder::text() const {
    std::lock_guard<std::mutex> lock(mu_);
    return text_;
}

std::string Recorder::file_name() const {
    std::lock_guard<std::mutex> lock(mu_);
    return file_;
}

} // namespace vxscenario
