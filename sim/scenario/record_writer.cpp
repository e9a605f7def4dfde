// Writing a session down as a scenario: the happenings in order, as steps. The button levels
// are taken as the front end put them on the line, which is what the launcher read; its lines
// and the screen are the launcher's answers, written as expectations in the forms that come
// out the same in another run.
#include <algorithm>
#include <string_view>
#include <utility>

#include "base/log_lines.h"
#include "base/timings.h"
#include "scenario/record.h"
#include "scenario/record_lengths.h"
#include "scenario/scenario.h"
#include "scenario/texts.h"
#include "scenario/words.h"

namespace vxscenario {
namespace {

using Kind = Happening::Kind;

// A press or a release step lasts until the launcher has seen it, three of its passes; a tap
// or a hold ends the same way after its release. The waits that follow are that much shorter.
constexpr int64_t SEEN_MS = SEEN_PASSES * POLL_IDLE_US / 1000;
constexpr size_t COMMENT_COLUMN = 44;

// Per form, the first of its values that another run gives otherwise: a pid, a count of
// writes, a length in ms.
const std::pair<std::string_view, size_t> UNSTABLE[] = {
    {LOG_LAUNCHED, 1},
    {LOG_OSD_OPEN, 0},
    {LOG_KEYS_BLOCKED, 0},
    {LOG_HOLD_ABORTED, 1},
    {LOG_CLOSING_HOLD_ABORTED, 0},
};

int key_of(uint32_t raw) {
    for (const KeyWord& k : KEY_WORDS)
        if (vxboard::Board::raw_for_key(k.key) == raw) return k.key;
    return -1;
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
            comment(std::string(key_word(keys_.back().first)) +
                    " was still held when the recording stopped");
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
            if (h.kind == Kind::Line && h.read) a.lines.push_back(*h.read);
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
                step((held <= TAP_MAX_MS ? "tap " : "hold ") + std::string(key_word(key)) + " " +
                         duration(held),
                     when);
            } else if (i + 1 < n) {
                step("press " + std::string(key_word(key)), when);
                if (held - SEEN_MS >= 10) step("wait " + duration(held - SEEN_MS));
            } else {
                step("slide " + std::string(key_word(keys_[i - 1].first)) + " " + key_word(key) +
                         " " + duration(held),
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
        const std::string_view form = h.read ? h.read->form : "";
        if (form == LOG_LAUNCHED) {
            launched_ = h.ms;
            // The app has the screen: what the launcher shows after it is written anew.
            shown_.screen.clear();
            fresh_ = false;
        }
        if (form != LOG_CHILD_EXITED) {
            step("expect log " + quote(stable_part(l, h.read)));
            return;
        }
        const int64_t ran = h.ms - launched_;
        const int64_t within = std::max<int64_t>(10000, (2 * ran + 5000 + 999) / 1000 * 1000);
        step("wait-for log " + quote(l) + " within " + duration(within),
             clock(h.ms) + ", " + duration(ran) + " after its launch");
        replayed_ = std::max(replayed_, h.ms);
        const std::string& name = h.read->values[0];
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
        const std::string m = mode_word(h.text[0] - '0');
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

} // namespace

std::string stable_part(const std::string& line, const std::optional<vxboard::LogLine>& read) {
    for (const auto& [form, value] : UNSTABLE)
        if (read && read->form == form) return line.substr(0, read->at[value]);
    return line;
}

std::string stable_part(const std::string& line) {
    return stable_part(line, vxboard::read_log_line(line));
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

} // namespace vxscenario
