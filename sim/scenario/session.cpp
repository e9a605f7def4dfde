// A scenario's board and its clocks. Stepped, the launcher's passes run only as the steps
// grant them, on its virtual clock; in real time it runs on its own and the steps wait in
// real time. Apps keep the real clock either way: what waits for an app waits in real time.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/log_lines.h"
#include "board/log_forms.h"
#include "board_paths.h"
#include "goggles/machine.h"
#include "scenario/scenario.h"
#include "scenario/session_parts.h"
#include "scenario/staging.h"
#include "scenario/texts.h"

namespace fs = std::filesystem;

namespace vxscenario {
namespace {

constexpr Millis START_TIMEOUT(15000); // qemu-arm takes a while to bring up a binary
// The emulated goggles boot a kernel and install the release first.
constexpr Millis GOGGLES_START_TIMEOUT(60000);

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

bool wait_real(const std::function<bool()>& done, Millis limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(POLL);
    }
    return true;
}

Session::Session(const Scenario& scenario, Options options)
    : scenario_(scenario), options_(std::move(options)) {
    if (options_.out_dir.empty()) options_.out_dir = fs::path(scenario.path).parent_path().string();
    if (options_.out_dir.empty()) options_.out_dir = ".";
}

std::shared_ptr<vxboard::Board>& kept_goggles() {
    static std::shared_ptr<vxboard::Board> board;
    return board;
}

void release_kept_board() {
    kept_goggles().reset();
}

std::vector<std::string> Session::finish() {
    if (!board_) return {};
    if (board_ == kept_goggles()) {
        // The guest stays for the next scenario: its log brought up to now.
        if (vxgoggles::GogglesMachine* g = board_->goggles()) g->sync_files(GOGGLES_SYNC);
        return board_->lines(line_base_);
    }
    board_->stop();
    return board_->lines();
}

Session::~Session() {
    board_.reset();
    if (!apps_copy_.empty()) fs::remove_all(apps_copy_);
}

std::string Session::path_near_scenario(const std::string& file) const {
    return (fs::path(scenario_.path).parent_path() / file).lexically_normal().string();
}

vxboard::BoardConfig Session::board_config() {
    const Setup& set = scenario_.setup;
    vxboard::BoardConfig cfg;
    const vxboard::Target target = options_.target.value_or(vxboard::target_from_env());
    cfg.apps_dir = !options_.apps.empty()                         ? options_.apps
                   : set.apps == SAMPLES_WORD || set.apps.empty() ? vxboard::sample_apps_dir(target)
                                                                  : path_near_scenario(set.apps);
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
    cfg.with_i2c = set.transport;
    cfg.with_fb = set.framebuffer;
    cfg.with_mem = set.adc;
    cfg.recordings = set.recordings;
    if (!set.buzzer) cfg.before_launch = [](vxboard::BoardState& s) { s.pwm.missing = 1; };
    return cfg;
}

void Session::start() {
    const vxboard::BoardConfig cfg = board_config();
    const vxboard::Target target = cfg.target.value_or(vxboard::target_from_env());
    if (cfg.stepped && target == vxboard::Target::ArmStatic)
        throw std::runtime_error("no preload joins the static ARM build to step its clock: "
                                 "run it with --realtime");
    // On the emulated goggles one boot serves every scenario of the run: the next launcher
    // starts on the guest that ran the last, or a fresh guest boots when that one cannot.
    std::shared_ptr<vxboard::Board>& kept = kept_goggles();
    const bool one_boot = options_.one_boot && target == vxboard::Target::Goggles;
    if (one_boot && kept) {
        try {
            line_base_ = kept->rerun(cfg);
            board_ = kept;
        } catch (const std::exception&) {
            kept.reset();
        }
    }
    if (!board_) {
        board_ = std::make_shared<vxboard::Board>(cfg);
        board_->start();
        line_base_ = 0;
        if (one_boot) kept = board_;
    }
    cursor_ = mark_ = line_base_;
    // Up once it has scanned its apps; a launcher that ends at start-up is a scenario's
    // business too.
    const std::string scanned(vxboard::form_head(LOG_SCAN_DONE));
    // The clock reads nothing until the launcher is up: a board that never brings it up has
    // no time to report.
    const auto end = std::chrono::steady_clock::now() +
                     (target == vxboard::Target::Goggles ? GOGGLES_START_TIMEOUT : START_TIMEOUT);
    while (!board_->wait_line(scanned, POLL, line_base_) && !board_->state().launcher.exited.load())
        if (std::chrono::steady_clock::now() > end)
            throw std::runtime_error("the launcher did not start in time");
    if (cfg.stepped && !board_->state().launcher.exited.load()) board_->run_passes(0);
    clock_base_ = options_.realtime ? board_->sandbox_monotonic_ms() : board_->virtual_ms();
    started_ = true;
}

std::optional<int64_t> Session::clock_ms() const {
    if (!board_ || !started_) return std::nullopt;
    return (options_.realtime ? board_->sandbox_monotonic_ms() : board_->virtual_ms()) -
           clock_base_;
}

std::string refusal(const Scenario& scenario, const Options& options) {
    if (options.target.value_or(vxboard::target_from_env()) != vxboard::Target::Goggles) return "";
    const std::string cannot = "the emulated goggles cannot ";
    if (!options.realtime)
        return cannot + "step the launcher's clock (it runs on the guest kernel's own): run "
                        "with --realtime";
    const Setup& set = scenario.setup;
    // `apps samples NAME...` takes the release's apps: what it does not ship is not there.
    if (options.apps.empty() && (set.apps.empty() || set.apps == SAMPLES_WORD))
        for (const std::string& name : set.app_names)
            if (!fs::exists(fs::path(vxboard::goggles_release_apps_dir()) / name))
                return cannot + "run " + name + ": the release archive does not ship it";
    if (!set.buzzer || !set.transport || !set.framebuffer || !set.adc)
        return cannot + "start without one of their devices (`board`): the guest's kernel "
                        "and start-up bring them all";
    if (!set.args.empty())
        return cannot + "give the launcher arguments (`args`): the release's start-up script "
                        "starts it";
    for (const Step& s : scenario.steps) {
        if (s.op != Op::Fault) continue;
        const bool relayed = s.name == "overlay" || (s.name == "transport" && s.word != "gone");
        if (!relayed)
            return cannot + "inject `" + s.source + "` (line " + std::to_string(s.line) + "): " +
                   (s.name == "fb-pan"
                        ? "the guest's display driver pans the framebuffer, not the board"
                        : "/dev/remote_i2c is the guest's own device node");
    }
    return "";
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
Session::Check Session::settled(const std::function<Check()>& check) {
    if (options_.realtime) wait_real([&] { return !check(); }, grace());
    return check();
}

Millis Session::grace() const {
    return board_ && board_->goggles() ? GOGGLES_GRACE : REAL_GRACE;
}

void Session::sync_logs() {
    if (vxgoggles::GogglesMachine* g = board_->goggles(); g && !g->sync_files(GOGGLES_SYNC))
        throw std::runtime_error("the emulated goggles' agent did not answer within " +
                                 std::to_string(GOGGLES_SYNC.count()) + " ms");
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
    const std::string_view head = vxboard::form_head(LOG_LAUNCHED);
    for (size_t i = lines.size(); i-- > line_base_;) {
        if (lines[i].rfind(head, 0) != 0) continue;
        const std::optional<vxboard::LogLine> l = vxboard::read_log_line(lines[i]);
        if (!l || l->form != LOG_LAUNCHED || (!name.empty() && l->values[0] != name)) continue;
        return Launch{l->values[0], std::atoi(l->values[1].c_str()), i};
    }
    return std::nullopt;
}

bool Session::running(const std::string& name) const {
    const std::optional<Launch> launch = last_launch(name);
    if (!launch) return false;
    // The guest's agent tells each end as it comes; its process list may not have the app yet.
    if (const vxgoggles::GogglesMachine* g = board_->goggles()) return !g->ended(launch->pid);
    for (const vxboard::SandboxProcess& p : board_->processes())
        if (p.ns_pid == launch->pid && p.state != 'Z') return true;
    return false;
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
        case Op::KillLauncher:
            mark_ = board_->lines().size();
            act(s);
            return std::nullopt;
        case Op::WaitLog:
            mark_ = board_->lines().size();
            return wait_for_log(s);
        case Op::WaitAppExit:
            mark_ = board_->lines().size();
            return wait_for_app_exit(s);
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
    std::string out =
        "the launcher's log, its last lines:\n" + last_lines(board_->lines(line_base_), lines);
    std::string app = step.op == Op::ExpectApp || step.op == Op::ExpectAppLog ? step.name : "";
    if (app.empty())
        if (const std::optional<Launch> l = last_launch("")) app = l->name;
    if (!app.empty()) {
        const std::string log = slurp(board_->sandbox_path(staged(app, ".log")));
        out += app + ".log, its last lines:\n" + last_lines(split_lines(log), lines);
    }
    return out;
}

std::string Session::hint() const {
    if (!board_) return "";
    for (const vxboard::AppEnd& e : board_->app_ends())
        if (e.exec_errno == ENOEXEC && arm_executable(board_->sandbox_path(staged(e.name, "/app"))))
            return e.name + "/app is an ARM executable, and the board cannot run ARM executables: "
                            "tools/setup.sh arm-apps registers qemu-arm";
    return "";
}

void Session::screenshot(const std::string& png) const {
    if (board_) board_->screenshot(png);
}

} // namespace vxscenario
