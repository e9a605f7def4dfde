// Running a scenario against the board. Stepped, the launcher's passes run only as the steps
// grant them, on its virtual clock; in real time it runs on its own and the steps wait in
// real time. Apps keep the real clock either way: what waits for an app waits in real time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <thread>

#include "board/app_control.h"
#include "board/pwm_history.h"
#include "board/screen.h"
#include "board_paths.h"
#include "png/png_io.h"
#include "scenario/scenario.h"

namespace fs = std::filesystem;

namespace vxscenario {
namespace {

constexpr Millis START_TIMEOUT(15000); // qemu-arm takes a while to bring up a binary
constexpr Millis POLL(10);
// The launcher's debouncer decides on its third sample: a press or a release is seen after
// three passes, or about this long in real time, or surely once it has read the line a
// fourth time (the first may have been taken just before the change).
constexpr int SEEN_PASSES = 3;
constexpr Millis SEEN_REAL(160);
constexpr uint32_t READS_TO_SEE = 4;
constexpr Millis READ_LIMIT(1000); // for a launcher that reads no button
// Real time for what follows an action at once on a launcher running on its own, and for
// what an app or a signalled process does in real time.
constexpr Millis REAL_GRACE(1000);
constexpr Millis APP_LOG_GRACE(3000);
// The launcher's clock it may take to collect an app that has ended.
constexpr Millis COLLECT_LIMIT(5000);
constexpr const char* STAGING = "/tmp/vorna-x/";
constexpr const char* SANITIZER_MARKS[] = {"ERROR: AddressSanitizer",
                                           "AddressSanitizer:DEADLYSIGNAL", "LeakSanitizer",
                                           "runtime error:", "ERROR: UndefinedBehaviorSanitizer"};

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

std::string mismatch(const std::string& expected, const std::string& found) {
    return "expected " + expected + "\nfound    " + found;
}

std::string rtrim(std::string s) {
    s.erase(s.find_last_not_of(" \n") + 1);
    return s;
}

std::string slurp(const std::string& path, bool* exists = nullptr) {
    std::ifstream in(path, std::ios::binary);
    if (exists != nullptr) *exists = static_cast<bool>(in);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string last_lines(const std::vector<std::string>& lines, size_t n) {
    std::string out;
    for (size_t i = lines.size() > n ? lines.size() - n : 0; i < lines.size(); ++i) {
        out += "  | " + lines[i];
        if (out.back() != '\n') out += '\n';
    }
    return out.empty() ? "  (nothing)\n" : out;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l + "\n");
    return lines;
}

bool wait_real(const std::function<bool()>& done, Millis limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(POLL);
    }
    return true;
}

std::string seconds(int64_t ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(ms) / 1000);
    return buf;
}

std::string errno_name(int e) {
    const char* n = strerrorname_np(e);
    return std::string(std::strerror(e)) + " (" + (n ? n : std::to_string(e)) + ")";
}

// The app's state a step expects, in the words the board's report uses.
std::string expected_app(const Step& s) {
    if (s.word == "exited") return "exited " + std::to_string(s.number);
    if (s.word == "killed") return "killed by SIG" + std::string(sigabbrev_np(s.number));
    if (s.word == "exec-failed") return "exec failed: " + errno_name(s.number);
    if (s.word == "none") return "never launched";
    return s.word;
}

// A 32-bit little-endian ARM executable, as the goggles run: what the host's kernel runs only
// through qemu-arm registered with binfmt_misc.
bool arm_executable(const std::string& path) {
    unsigned char h[20] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(h), sizeof h)) return false;
    return std::memcmp(h,
                       "\x7f"
                       "ELF\x01\x01",
                       6) == 0 &&
           (h[16] == 2 || h[16] == 3) && h[17] == 0 && h[18] == 40 && h[19] == 0;
}

} // namespace

Session::Session(const Scenario& scenario, Options options)
    : scenario_(scenario), options_(std::move(options)) {
    if (options_.out_dir.empty()) options_.out_dir = fs::path(scenario.path).parent_path().string();
    if (options_.out_dir.empty()) options_.out_dir = ".";
}

Session::~Session() {
    board_.reset();
    if (!apps_copy_.empty()) fs::remove_all(apps_copy_);
}

std::string Session::path_near_scenario(const std::string& file) const {
    return (fs::path(scenario_.path).parent_path() / file).lexically_normal().string();
}

void Session::start() {
    const Setup& set = scenario_.setup;
    vxboard::BoardConfig cfg;
    cfg.apps_dir = !options_.apps.empty() ? options_.apps
                   : !set.apps.empty()    ? path_near_scenario(set.apps)
                                          : VX_SAMPLE_APPS_DIR;
    if (!fs::is_directory(cfg.apps_dir))
        throw std::runtime_error("no app directory " + cfg.apps_dir);
    if (options_.apps.empty() && !set.app_names.empty()) {
        char tmpl[] = "/tmp/vx-scenario-apps-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("cannot make a directory in /tmp");
        apps_copy_ = tmpl;
        fs::permissions(apps_copy_, fs::perms(0755));
        for (const std::string& name : set.app_names)
            fs::copy(fs::path(cfg.apps_dir) / name, fs::path(apps_copy_) / name,
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        cfg.apps_dir = apps_copy_;
    }
    cfg.video_mode = set.mode;
    cfg.args = set.args;
    cfg.stepped = !options_.realtime;
    cfg.target = options_.target;
    if (cfg.stepped &&
        cfg.target.value_or(vxboard::target_from_env()) == vxboard::Target::ArmStatic)
        throw std::runtime_error("no preload joins the static ARM build to step its clock: "
                                 "run it with --realtime");
    cfg.with_i2c = set.transport;
    cfg.with_fb = set.framebuffer;
    cfg.with_mem = set.adc;
    if (!set.buzzer) cfg.before_launch = [](vxboard::BoardState& s) { s.pwm.missing = 1; };
    board_ = std::make_unique<vxboard::Board>(cfg);
    board_->start();
    // Up once it has scanned its apps; a launcher that ends at start-up is a scenario's
    // business too.
    const auto end = std::chrono::steady_clock::now() + START_TIMEOUT;
    while (!board_->wait_line("scan done:", POLL) && !board_->state().launcher.exited.load())
        if (std::chrono::steady_clock::now() > end)
            throw std::runtime_error("the launcher did not start within 15 s");
    if (cfg.stepped && !board_->state().launcher.exited.load()) board_->run_passes(0);
    clock_base_ = 0;
    clock_base_ = *clock_ms();
}

std::optional<int64_t> Session::clock_ms() const {
    if (!board_) return std::nullopt;
    return (options_.realtime ? board_->sandbox_monotonic_ms() : board_->virtual_ms()) -
           clock_base_;
}

bool Session::run_until(const std::function<bool()>& done, Millis limit, bool paced) {
    if (options_.realtime) return wait_real(done, limit);
    if (!paced) return board_->run_until(done, limit);
    // The launcher's clock kept from running ahead of the real one, so that an app, which
    // runs in real time, has the time the limit gives it.
    const auto real_from = std::chrono::steady_clock::now();
    const int64_t virtual_from = board_->virtual_ms();
    return board_->run_until(
        [&] {
            if (done()) return true;
            const auto ahead = Millis(board_->virtual_ms() - virtual_from) -
                               (std::chrono::steady_clock::now() - real_from);
            if (ahead > Millis(0)) std::this_thread::sleep_for(ahead);
            return false;
        },
        limit, limit + vxboard::Board::STEP_MAX_REAL);
}

// On the real clock what the launcher draws may come a little after the step that caused
// it: the expectation has a while to come true.
std::optional<std::string>
Session::settled(const std::function<std::optional<std::string>()>& check) {
    if (options_.realtime) wait_real([&] { return !check(); }, REAL_GRACE);
    return check();
}

// While an app runs, it has the time too: the launcher's clock keeps pace with the real one.
void Session::pass_time(Millis span) {
    if (options_.realtime) return std::this_thread::sleep_for(span);
    const int64_t end = board_->virtual_ms() + span.count();
    if (!run_until([&] { return board_->virtual_ms() >= end; }, span, running("")))
        throw std::runtime_error("the launcher stopped passing");
}

std::optional<Session::Launch> Session::last_launch(const std::string& name) const {
    const std::vector<std::string> lines = board_->lines();
    const std::string prefix = "launched " + (name.empty() ? "" : name + " ");
    for (size_t i = lines.size(); i-- > 0;) {
        const std::string& l = lines[i];
        const size_t pid = l.find(" pid=");
        if (l.rfind(prefix, 0) != 0 || pid == std::string::npos) continue;
        return Launch{l.substr(9, pid - 9), std::atoi(l.c_str() + pid + 5), i};
    }
    return std::nullopt;
}

bool Session::running(const std::string& name) const {
    const std::optional<Launch> launch = last_launch(name);
    if (!launch) return false;
    for (const vxboard::SandboxProcess& p : board_->processes())
        if (p.ns_pid == launch->pid && p.state != 'Z') return true;
    return false;
}

void Session::act(const Step& s) {
    vxboard::Board& b = *board_;
    // A level (-1: none) until the launcher has seen it.
    auto put = [&](int key) {
        key < 0 ? b.release() : b.press(key);
        if (options_.realtime)
            std::this_thread::sleep_for(SEEN_REAL);
        else if (!b.run_passes(SEEN_PASSES))
            throw std::runtime_error("the launcher stopped passing");
    };
    // On the real clock the pressed and the released line each stay until the launcher has
    // read them often enough, as the front ends keep them: a short tap is not lost to the
    // phase of its passes.
    auto tap = [&](int key, Millis span) {
        if (!options_.realtime) return b.tap(key, span);
        for (const int level : {key, -1}) {
            const uint32_t before = b.state().adc.reads.load();
            level < 0 ? b.release() : b.press(level);
            if (level >= 0) std::this_thread::sleep_for(span);
            wait_real([&] { return b.state().adc.reads.load() - before >= READS_TO_SEE; },
                      READ_LIMIT);
        }
    };
    switch (s.op) {
    case Op::Press:
        put(s.key);
        held_ = s.key;
        break;
    case Op::Release:
        put(-1);
        held_ = -1;
        break;
    case Op::Slide:
        if (held_ != s.key) put(s.key);
        tap(s.to_key, s.span);
        held_ = -1;
        break;
    case Op::Tap:
        tap(s.key, s.span);
        held_ = -1;
        break;
    case Op::Wait:
        pass_time(s.span);
        break;
    case Op::Mode:
        b.set_video_mode(s.number);
        break;
    case Op::StopApp:
        vxboard::stop_app(b);
        break;
    case Op::Fault: {
        vxboard::BoardState& st = b.state();
        if (s.name == "fb-pan") st.fb.fail_pan = s.word == "on" ? EIO : 0;
        if (s.name == "overlay") {
            st.osd.missing = s.word == "missing" ? 1 : 0;
            st.osd.half_cells = s.word == "half" ? 1 : 0;
        }
        if (s.name == "transport") {
            // Failing: every transfer fails. Gone: the node is away, and what was open of it
            // answers nothing.
            st.i2c.fail_all = s.word != "ok" ? 1 : 0;
            st.opens.remote_i2c_opens_left = 0;
            st.opens.remote_i2c_errno = s.word == "gone" ? ENOENT : 0;
        }
        break;
    }
    default:
        break;
    }
}

std::optional<std::string> Session::wait_for(const Step& s) {
    const std::string within = std::to_string(s.span.count()) + " ms";
    if (s.op == Op::WaitLog) {
        std::optional<size_t> at;
        run_until(
            [&] {
                const std::vector<std::string> lines = board_->lines();
                for (size_t i = cursor_; i < lines.size() && !at; ++i)
                    if (lines[i].find(s.text) != std::string::npos) at = i;
                return at.has_value();
            },
            s.span, running(""));
        if (!at)
            return mismatch("a line containing " + quoted(s.text) + " within " + within,
                            "none from line " + std::to_string(cursor_ + 1) + " on");
        cursor_ = *at;
        return std::nullopt;
    }
    const std::optional<Launch> app = last_launch("");
    if (!app) return mismatch("a launched app to end", "no app launched");
    if (!board_->wait_ended(app->pid, s.span))
        return mismatch(app->name + " (pid " + std::to_string(app->pid) + ") to end within " +
                            within,
                        "still running");
    const std::string collected = "child " + app->name + " exited";
    if (!run_until(
            [&] {
                const std::vector<std::string> lines = board_->lines();
                for (size_t i = app->line; i < lines.size(); ++i)
                    if (lines[i].rfind(collected, 0) == 0) return true;
                return false;
            },
            COLLECT_LIMIT))
        return mismatch("the launcher to collect " + app->name + " (\"" + collected + "\")",
                        app->name + " ended, not collected within 5 s");
    return std::nullopt;
}

std::optional<std::string> Session::expect(const Step& s) {
    vxboard::Board& b = *board_;
    switch (s.op) {
    case Op::ExpectLog: {
        const auto at = b.wait_line(s.text, options_.realtime ? REAL_GRACE : Millis(0), cursor_);
        if (!at)
            return mismatch("a line containing " + quoted(s.text),
                            "none from line " + std::to_string(cursor_ + 1) + " on");
        cursor_ = *at;
        return std::nullopt;
    }
    case Op::ExpectNoLog: {
        const std::vector<std::string> lines = b.lines();
        for (size_t i = mark_; i < lines.size(); ++i)
            if (lines[i].find(s.text) != std::string::npos)
                return mismatch("no line containing " + quoted(s.text) + " from line " +
                                    std::to_string(mark_ + 1) + " on",
                                "line " + std::to_string(i + 1) + ": " + rtrim(lines[i]));
        return std::nullopt;
    }
    case Op::ExpectAppLog: {
        const std::optional<Launch> last = last_launch("");
        const std::string name = !s.name.empty() ? s.name : last ? last->name : "(no app)";
        const std::string path = b.sandbox_path(STAGING + name + ".log");
        bool exists = false;
        std::string log;
        // An app still running has a while, in real time, to write it; the launcher waits.
        wait_real(
            [&] {
                log = slurp(path, &exists);
                return log.find(s.text) != std::string::npos || !running(name);
            },
            APP_LOG_GRACE);
        if (log.find(s.text) != std::string::npos) return std::nullopt;
        const std::vector<std::string> lines = split_lines(log);
        return mismatch(name + ".log to contain " + quoted(s.text),
                        !exists ? "no such log"
                        : lines.empty()
                            ? "an empty log"
                            : "its last line " +
                                  quoted(rtrim(lines.back().substr(0, lines.back().size() - 1))));
    }
    case Op::ExpectService: {
        const bool stopped = s.word == "stopped";
        char state = 0;
        wait_real([&] { return ((state = b.service_state()) == 'T') == stopped; }, REAL_GRACE);
        if ((state == 'T') == stopped) return std::nullopt;
        return mismatch("the service " + s.word,
                        state == 0 ? "no service" : std::string("state ") + state);
    }
    case Op::ExpectScreen:
        return settled([&]() -> std::optional<std::string> {
            const std::string found = vxboard::screen_shows(b);
            if (found == s.word || (s.word == "launcher" && found == "menu")) return std::nullopt;
            return mismatch(s.word, found == "goggles" ? "the goggles' page (row 0)"
                                                       : found + " (a launcher page at row " +
                                                             std::to_string(b.screen_row()) + ")");
        });
    case Op::ExpectSelected:
        return settled([&]() -> std::optional<std::string> {
            const int slot = vxboard::highlighted_slot(b);
            if (slot == s.number) return std::nullopt;
            return mismatch("slot " + std::to_string(s.number) + " highlighted",
                            slot < 0 ? "no highlighted slot" : "slot " + std::to_string(slot));
        });
    case Op::ExpectOsd:
        return settled([&]() -> std::optional<std::string> {
            const std::string row = rtrim(b.osd_text()[static_cast<size_t>(s.number)]);
            if (row == rtrim(s.text)) return std::nullopt;
            return mismatch("overlay row " + std::to_string(s.number) + " " + quoted(rtrim(s.text)),
                            quoted(row));
        });
    case Op::ExpectTone: {
        const vxboard::PwmChip& c = b.state().pwm;
        const uint32_t hz =
            vxboard::pwm_sounding_hz(c.period_ns.load(), c.duty_ns.load(), c.enabled.load() != 0);
        if (static_cast<int>(hz) == s.number) return std::nullopt;
        auto tone = [](uint32_t v) {
            return v == 0 ? std::string("silence") : std::to_string(v) + " Hz";
        };
        return mismatch(tone(static_cast<uint32_t>(s.number)), tone(hz));
    }
    case Op::ExpectApp:
        return expect_app(s);
    default:
        return std::nullopt;
    }
}

std::optional<std::string> Session::expect_app(const Step& s) {
    const std::string want = expected_app(s);
    const std::optional<Launch> launch = last_launch(s.name);
    std::string found = "never launched";
    if (launch) {
        const std::optional<vxboard::AppEnd> end = board_->app_end(launch->pid);
        if (end && end->exec_errno != 0)
            found = "exec failed: " + errno_name(end->exec_errno);
        else if (end && end->wait_status)
            found = vxboard::describe(*end);
        else
            found = running(s.name) ? "running" : "ended, not collected by the launcher yet";
    }
    if (found == want) return std::nullopt;
    return mismatch(s.name + " " + want, found);
}

std::optional<std::string> Session::compare(const Step& s) {
    const std::string ref = path_near_scenario(s.text);
    const std::string shot = board_->workdir() + "/compare.png";
    board_->screenshot(shot);
    std::vector<uint32_t> got, want;
    uint32_t w = 0, h = 0, rw = 0, rh = 0;
    if (!vxboard::read_png_argb(shot, got, w, h)) return "cannot read the screenshot back";
    if (options_.accept) {
        if (fs::path(ref).has_parent_path()) fs::create_directories(fs::path(ref).parent_path());
        fs::copy_file(shot, ref, fs::copy_options::overwrite_existing);
        return std::nullopt;
    }
    if (!vxboard::read_png_argb(ref, want, rw, rh))
        return mismatch("the screen as " + ref, "no such picture (--accept writes it)");
    if (rw != w || rh != h)
        return mismatch("a " + std::to_string(rw) + "x" + std::to_string(rh) + " screen",
                        std::to_string(w) + "x" + std::to_string(h));
    size_t differ = 0;
    uint32_t x0 = w, y0 = h, x1 = 0, y1 = 0;
    std::vector<uint32_t> diff(got.size());
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            if (((got[i] ^ want[i]) & 0xFFFFFF) == 0) {
                // The picture faded to a third, so that the differences stand out.
                const uint32_t g =
                    ((got[i] >> 16 & 0xFF) + (got[i] >> 8 & 0xFF) + (got[i] & 0xFF)) / 9;
                diff[i] = 0xFF000000u | g << 16 | g << 8 | g;
                continue;
            }
            diff[i] = 0xFFFF0000u;
            ++differ;
            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
    if (differ == 0) return std::nullopt;
    const std::string diff_path =
        (fs::path(options_.out_dir) / (fs::path(s.text).stem().string() + ".diff.png")).string();
    vxboard::write_png_rgb(diff_path, diff.data(), w, h, w);
    return mismatch("the screen as " + ref, std::to_string(differ) + " pixels differ, within (" +
                                                std::to_string(x0) + "," + std::to_string(y0) +
                                                ")-(" + std::to_string(x1) + "," +
                                                std::to_string(y1) + "); in red on " + diff_path);
}

std::optional<std::string> Session::run(const Step& s) {
    try {
        if (!board_) start();
        switch (s.op) {
        case Op::Press:
        case Op::Release:
        case Op::Tap:
        case Op::Slide:
        case Op::Wait:
        case Op::Mode:
        case Op::Fault:
        case Op::StopApp:
            mark_ = board_->lines().size();
            act(s);
            return std::nullopt;
        case Op::WaitLog:
        case Op::WaitAppExit:
            mark_ = board_->lines().size();
            return wait_for(s);
        case Op::Screenshot: {
            const fs::path out = fs::path(options_.out_dir) / s.text;
            if (out.has_parent_path()) fs::create_directories(out.parent_path());
            board_->screenshot(out.string());
            return std::nullopt;
        }
        case Op::Compare:
            return compare(s);
        default:
            return expect(s);
        }
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
}

std::string Session::tails(const Step& step, size_t lines) const {
    if (!board_) return "";
    std::string out = "the launcher's log, its last lines:\n" + last_lines(board_->lines(), lines);
    std::string app = step.op == Op::ExpectApp || step.op == Op::ExpectAppLog ? step.name : "";
    if (app.empty())
        if (const std::optional<Launch> l = last_launch("")) app = l->name;
    if (!app.empty()) {
        const std::string log = slurp(board_->sandbox_path(STAGING + app + ".log"));
        out += app + ".log, its last lines:\n" + last_lines(split_lines(log), lines);
    }
    return out;
}

std::string Session::hint() const {
    if (!board_) return "";
    for (const vxboard::AppEnd& e : board_->app_ends())
        if (e.exec_errno == ENOEXEC &&
            arm_executable(board_->sandbox_path(STAGING + e.name + "/app")))
            return e.name + "/app is an ARM executable, and the board cannot run ARM executables: "
                            "tools/setup.sh arm-apps registers qemu-arm";
    return "";
}

void Session::screenshot(const std::string& png) const {
    if (board_) board_->screenshot(png);
}

bool run(const Scenario& scenario, const Options& options, std::ostream& out) {
    const auto real_from = std::chrono::steady_clock::now();
    const vxboard::Target target = options.target.value_or(vxboard::target_from_env());
    out << scenario.path << " ("
        << (target == vxboard::Target::Host  ? "host"
            : target == vxboard::Target::Arm ? "armhf"
                                             : "armhf-static")
        << ", " << (options.realtime ? "real time" : "stepped") << ")\n";
    Session session(scenario, options);
    for (const Step& step : scenario.steps) {
        const std::optional<std::string> failure = session.run(step);
        const std::optional<int64_t> at = session.clock_ms();
        char line[256];
        std::snprintf(line, sizeof line, "  %4d  %-48s %-6s %9s\n", step.line, step.source.c_str(),
                      failure ? "FAILED" : "ok", at ? seconds(*at).c_str() : "-");
        out << line << std::flush;
        if (!failure) continue;
        std::istringstream msg(*failure);
        for (std::string l; std::getline(msg, l);)
            out << "        " << l << "\n";
        if (const std::string hint = session.hint(); !hint.empty())
            out << "        " << hint << "\n";
        std::istringstream tails(session.tails(step, 15));
        for (std::string l; std::getline(tails, l);)
            out << "        " << l << "\n";
        const std::string png =
            (fs::path(session.out_dir()) / (fs::path(scenario.path).stem().string() + ".line" +
                                            std::to_string(step.line) + ".png"))
                .string();
        try {
            if (session.board() != nullptr) {
                session.screenshot(png);
                out << "        the screen then: " << png << "\n";
            }
        } catch (const std::exception&) {
        }
        out << "FAILED " << scenario.path << " at line " << step.line << "\n";
        return false;
    }
    // A sanitized launcher that found a fault in itself may have said so and carried on, or
    // ended: the report fails the scenario, whatever its steps saw. The board is taken down
    // first, so that the last of the log is in.
    const int64_t clock_ms = session.clock_ms().value_or(0);
    std::vector<std::string> lines;
    if (vxboard::Board* b = session.board()) {
        b->stop();
        lines = b->lines();
    }
    for (size_t i = 0; i < lines.size(); ++i)
        for (const char* mark : SANITIZER_MARKS)
            if (lines[i].find(mark) != std::string::npos) {
                out << "  a sanitizer report on the board:\n"
                    << last_lines(std::vector<std::string>(lines.begin() + static_cast<long>(i),
                                                           lines.end()),
                                  40)
                    << "FAILED " << scenario.path << "\n";
                return false;
            }
    const auto real_ms =
        std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - real_from).count();
    out << "passed " << scenario.path << ": " << scenario.steps.size() << " steps, "
        << seconds(clock_ms) << " on the launcher's clock in " << seconds(real_ms) << "\n";
    return true;
}

} // namespace vxscenario
