// Reading a scenario: every line a step, every word checked, every error reported with its
// line, before a board is started for it.
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "scenario/scenario.h"
#include "scenario/words.h"

namespace vxscenario {
namespace {

struct Word {
    std::string text;
    bool quoted = false;
};

// Words split at blanks; "..." is one word, with \" and \\ inside; a # that starts a word
// outside quotes starts a comment. `end`: where the words end.
bool split(const std::string& line, std::vector<Word>& words, size_t& end, std::string& error) {
    size_t i = 0;
    for (;;) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        end = i;
        if (i == line.size() || line[i] == '#') return true;
        Word w;
        if (line[i] == '"') {
            w.quoted = true;
            for (++i;; ++i) {
                if (i >= line.size()) return error = "a quoted text without its closing \"", false;
                if (line[i] == '"') break;
                if (line[i] == '\\' && i + 1 < line.size()) ++i;
                w.text += line[i];
            }
            ++i;
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                w.text += line[i++];
        }
        words.push_back(std::move(w));
    }
}

const std::map<std::string, std::vector<std::string>> FAULTS = {
    {"fb-pan", {"on", "off"}},
    {"transport", {"ok", "failing", "gone"}},
    {"overlay", {"ok", "missing", "half"}}};

// A step's words, taken one at a time; the first problem is kept.
class Reader {
  public:
    Reader(std::vector<Word> words) : words_(std::move(words)) {}

    bool done() const { return at_ == words_.size(); }
    bool failed() const { return !error.empty(); }
    bool next_is(const char* w) const { return !done() && words_[at_].text == w; }
    bool next_quoted() const { return !done() && words_[at_].quoted; }

    std::string word(const char* what) {
        if (done()) return fail(std::string("missing ") + what), std::string();
        if (words_[at_].quoted) return fail(std::string("expected ") + what + ", not a text"), "";
        return words_[at_++].text;
    }
    std::string any() { return words_[at_++].text; }
    std::string text() {
        if (done() || !words_[at_].quoted) return fail("expected a \"quoted text\""), std::string();
        return words_[at_++].text;
    }
    std::string one_of(const char* what, const std::vector<std::string>& choices) {
        const std::string w = word(what);
        for (const std::string& c : choices)
            if (w == c) return w;
        std::string list;
        for (const std::string& c : choices)
            list += (list.empty() ? "" : "|") + c;
        if (!failed()) fail(std::string(what) + " '" + w + "' is not one of " + list);
        return w;
    }
    int key(const char* what) {
        const std::string w = word(what);
        if (const std::optional<int> k = key_of_word(w)) return *k;
        std::string known;
        for (const KeyWord& k : KEY_WORDS)
            known += (known.empty() ? "" : " ") + std::string(k.word);
        if (!failed()) fail("unknown key '" + w + "' (" + known + ")");
        return -1;
    }
    int number(const char* what, int lo, int hi) {
        const std::string w = word(what);
        char* end = nullptr;
        const long v = std::strtol(w.c_str(), &end, 10);
        if (!failed() && (w.empty() || *end != '\0' || v < lo || v > hi))
            fail(std::string(what) + " '" + w + "' is not a number from " + std::to_string(lo) +
                 " to " + std::to_string(hi));
        return static_cast<int>(v);
    }
    // 150ms, 2s, 1.5s.
    Millis duration() {
        const std::string w = word("a duration");
        const size_t unit = w.find_first_not_of("0123456789.");
        const std::string num = w.substr(0, unit),
                          u = unit == std::string::npos ? "" : w.substr(unit);
        char* end = nullptr;
        const double v = std::strtod(num.c_str(), &end);
        if (!failed() && (num.empty() || *end != '\0' || (u != "ms" && u != "s")))
            fail("'" + w + "' is not a duration (150ms, 2s, 1.5s)");
        return Millis(std::llround(u == "s" ? v * 1000 : v));
    }
    Millis optional_duration(Millis fallback) { return done() ? fallback : duration(); }
    Millis within(Millis fallback) {
        if (done()) return fallback;
        word("'within'");
        if (!failed() && words_[at_ - 1].text != "within")
            fail("expected 'within DURATION', found '" + words_[at_ - 1].text + "'");
        return duration();
    }
    std::string png() {
        const std::string w = word("a .png file");
        if (!failed() && (w.size() < 5 || w.compare(w.size() - 4, 4, ".png") != 0))
            fail("'" + w + "' does not end in .png");
        return w;
    }
    void end() {
        if (!failed() && !done()) fail("unexpected '" + words_[at_].text + "' at the end");
    }
    void fail(const std::string& what) {
        if (error.empty()) error = what;
    }

    std::string error;

  private:
    std::vector<Word> words_;
    size_t at_ = 0;
};

int mode(Reader& r) {
    return mode_of_word(r.one_of("a video mode", mode_words())).value_or(MODE_NORMAL);
}

int signal_number(const std::string& name) {
    const std::string bare = name.rfind("SIG", 0) == 0 ? name.substr(3) : name;
    for (int s = 1; s < NSIG; ++s)
        if (const char* a = sigabbrev_np(s); a != nullptr && bare == a) return s;
    return 0;
}

int errno_number(const std::string& name) {
    for (int e = 1; e < 256; ++e)
        if (const char* n = strerrorname_np(e); n != nullptr && name == n) return e;
    return 0;
}

// The expected state of an app: running, exited CODE, killed SIGNAME, exec-failed ERRNAME,
// none.
void app_state(Reader& r, Step& s) {
    s.word = r.one_of("an app's state", {"running", "exited", "killed", "exec-failed", "none"});
    if (s.word == "exited") s.number = r.number("an exit code", 0, 255);
    if (s.word == "killed") {
        const std::string sig = r.word("a signal");
        s.number = signal_number(sig);
        if (!r.failed() && s.number == 0) r.fail("unknown signal '" + sig + "' (SIGSEGV, ...)");
    }
    if (s.word == "exec-failed") {
        const std::string err = r.word("an errno name");
        s.number = errno_number(err);
        if (!r.failed() && s.number == 0) r.fail("unknown errno name '" + err + "' (ENOEXEC, ...)");
    }
}

void expectation(Reader& r, Step& s) {
    const std::string what =
        r.one_of("an expectation", {"log", "no-log", "app-log", "service", "screen", "selected",
                                    "osd", "tone", "app"});
    if (what == "log" || what == "no-log") {
        s.op = what == "log" ? Op::ExpectLog : Op::ExpectNoLog;
        s.text = r.text();
    } else if (what == "app-log") {
        s.op = Op::ExpectAppLog;
        if (!r.next_quoted()) s.name = r.word("an app's name");
        s.text = r.text();
    } else if (what == "service") {
        s.op = Op::ExpectService;
        s.word = r.one_of("the service's state", {"stopped", "running"});
    } else if (what == "screen") {
        s.op = Op::ExpectScreen;
        s.word = r.one_of("what the screen shows", {"goggles", "launcher", "menu"});
    } else if (what == "selected") {
        s.op = Op::ExpectSelected;
        s.number = r.number("a list slot", 0, 5);
    } else if (what == "osd") {
        s.op = Op::ExpectOsd;
        s.number = r.number("an overlay row", 0, static_cast<int>(vxboard::OSD_ROWS) - 1);
        s.text = r.text();
    } else if (what == "tone") {
        s.op = Op::ExpectTone;
        s.number =
            r.next_is("silent") ? (r.word("a tone"), 0) : r.number("a tone in Hz", 1, 100000);
    } else if (what == "app") {
        s.op = Op::ExpectApp;
        s.name = r.word("an app's name");
        app_state(r, s);
    }
}

// One line that is not set-up: its step, or nothing when it is not one (the error in `r`).
std::optional<Step> step(const std::string& verb, Reader& r) {
    Step s;
    if (verb == "mode") {
        s.op = Op::Mode;
        s.number = mode(r);
    } else if (verb == "press") {
        s.op = Op::Press;
        s.key = r.key("a key");
    } else if (verb == "release") {
        s.op = Op::Release;
    } else if (verb == "tap" || verb == "hold") {
        s.op = Op::Tap;
        s.key = r.key("a key");
        s.span = verb == "tap" ? r.optional_duration(Millis(150)) : r.duration();
    } else if (verb == "slide") {
        s.op = Op::Slide;
        s.key = r.key("the key slid from");
        s.to_key = r.key("the key slid onto");
        s.span = r.optional_duration(Millis(150));
    } else if (verb == "wait") {
        s.op = Op::Wait;
        s.span = r.duration();
    } else if (verb == "wait-for") {
        if (r.one_of("what to wait for", {"log", "app-exit"}) == "log") {
            s.op = Op::WaitLog;
            s.text = r.text();
            s.span = r.within(Millis(5000));
        } else {
            s.op = Op::WaitAppExit;
            s.span = r.within(Millis(10000));
        }
    } else if (verb == "stop-app") {
        s.op = Op::StopApp;
        if (!r.done()) s.word = r.one_of("how", {"kill"});
    } else if (verb == "kill-launcher") {
        s.op = Op::KillLauncher;
    } else if (verb == "fault") {
        s.op = Op::Fault;
        std::vector<std::string> names;
        for (const auto& [name, settings] : FAULTS)
            names.push_back(name);
        s.name = r.one_of("a fault", names);
        if (!r.failed()) s.word = r.one_of("its setting", FAULTS.at(s.name));
    } else if (verb == "expect") {
        expectation(r, s);
    } else if (verb == "screenshot" || verb == "compare") {
        s.op = verb == "screenshot" ? Op::Screenshot : Op::Compare;
        s.text = r.png();
    } else {
        r.fail("unknown step '" + verb + "'");
        return std::nullopt;
    }
    r.end();
    return s;
}

// `recording NAME BYTES YYYY-MM-DDTHH:MM`: a recording on the goggles' storage, written then
// (UTC).
void recording(Reader& r, Setup& set) {
    vxboard::BoardConfig::Recording rec;
    rec.name = r.word("a recording's name");
    const std::string bytes = r.word("its size in bytes");
    const std::string when = r.word("when it was written, YYYY-MM-DDTHH:MM");
    if (r.failed()) return;
    char* end = nullptr;
    rec.bytes = std::strtoull(bytes.c_str(), &end, 10);
    if (bytes.empty() || *end != '\0') return r.fail("a size in bytes, not " + bytes);
    std::tm t{};
    const char* rest = strptime(when.c_str(), "%Y-%m-%dT%H:%M", &t);
    if (rest == nullptr || *rest != '\0') return r.fail("a time YYYY-MM-DDTHH:MM, not " + when);
    rec.written = timegm(&t);
    if (rec.name.empty() || rec.name.find('/') != std::string::npos || rec.name[0] == '.')
        return r.fail("a recording's name without '/', not starting with '.'");
    set.recordings.push_back(rec);
}

void setup(const std::string& verb, Reader& r, Setup& set) {
    if (verb == "apps") {
        set.apps = r.word("a directory");
        while (!r.done() && !r.failed())
            set.app_names.push_back(r.word("an app's name"));
    } else if (verb == "args") {
        while (!r.done())
            set.args.push_back(r.any());
    } else if (verb == "mode") {
        set.mode = mode(r);
    } else if (verb == "recording") {
        recording(r, set);
    } else {
        if (r.done()) r.fail("missing a board option");
        while (!r.done() && !r.failed()) {
            const std::string o = r.one_of(
                "a board option", {"no-buzzer", "no-transport", "no-framebuffer", "no-adc"});
            set.buzzer = set.buzzer && o != "no-buzzer";
            set.transport = set.transport && o != "no-transport";
            set.framebuffer = set.framebuffer && o != "no-framebuffer";
            set.adc = set.adc && o != "no-adc";
        }
    }
    r.end();
}

} // namespace

std::string to_string(const ParseError& e) {
    return e.path + ":" + std::to_string(e.line) + ": " + e.what;
}

Scenario parse(const std::string& path, const std::string& text, std::vector<ParseError>& errors) {
    Scenario sc;
    sc.path = path;
    std::istringstream in(text);
    std::string line;
    bool acted = false;
    for (int n = 1; std::getline(in, line); ++n) {
        std::vector<Word> words;
        std::string error;
        size_t end = 0;
        if (!split(line, words, end, error)) {
            errors.push_back({path, n, error});
            continue;
        }
        if (words.empty()) continue;
        const std::string verb = words[0].quoted ? "\"" + words[0].text + "\"" : words[0].text;
        Reader r(std::vector<Word>(words.begin() + 1, words.end()));
        if (verb == "apps" || verb == "args" || verb == "board" || verb == "recording" ||
            (verb == "mode" && !acted)) {
            if (acted) {
                const std::string what = "'" + verb + "' is set-up: it must come before the";
                errors.push_back({path, n, what + " first action, when the board starts"});
                continue;
            }
            setup(verb, r, sc.setup);
            if (verb == "apps") sc.setup.apps_line = n;
        } else {
            acted = true;
            if (std::optional<Step> s = step(verb, r); s && !r.failed()) {
                s->line = n;
                const size_t from = line.find_first_not_of(" \t");
                s->source = line.substr(from, end - from);
                s->source.erase(s->source.find_last_not_of(" \t") + 1);
                sc.steps.push_back(*s);
            }
        }
        if (r.failed()) errors.push_back({path, n, r.error});
    }
    return sc;
}

Scenario load(const std::string& path, bool apps_given, std::vector<ParseError>& errors) {
    std::ifstream in(path);
    if (!in) {
        errors.push_back({path, 0, std::string("cannot read: ") + std::strerror(errno)});
        return Scenario{path, {}, {}};
    }
    std::stringstream ss;
    ss << in.rdbuf();
    Scenario sc = parse(path, ss.str(), errors);
    const Setup& set = sc.setup;
    // The samples' directory is the build's of the target the scenario runs on.
    if (apps_given || set.apps.empty() || set.apps == SAMPLES_WORD) return sc;
    const std::filesystem::path dir = std::filesystem::path(path).parent_path() / set.apps;
    if (!std::filesystem::is_directory(dir))
        errors.push_back({path, set.apps_line, "no app directory " + dir.string()});
    for (const std::string& name : set.app_names)
        if (!std::filesystem::is_directory(dir / name))
            errors.push_back({path, set.apps_line, "no app " + name + " in " + dir.string()});
    return sc;
}

} // namespace vxscenario
