// A session recorded as it happens: the levels, switches and lines as they come, with the
// time of each, and a look at the screen whenever things have been quiet for a while.
#include "scenario/record.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/log_lines.h"
#include "board/app_control.h"
#include "board/screen.h"
#include "scenario/staging.h"
#include "scenario/texts.h"
#include "scenario/words.h"

namespace vxscenario {
namespace {

using Kind = Happening::Kind;
using Clock = std::chrono::steady_clock;

// Quiet this long after the last thing that happened: the launcher has drawn its answer.
constexpr int64_t QUIET_MS = 300;

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
                mode_word(board_.video_mode()),
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
        h.read = vxboard::read_log_line(l);
        const std::string_view form = h.read ? h.read->form : "";
        if (form == LOG_LAUNCHED) running_apps_ = 1;
        if (form == LOG_CHILD_EXITED) {
            running_apps_ = 0;
            app_ended(h, h.read->values[0]);
        }
        add_locked(std::move(h));
    }
}

// How the board saw the app `name` end, and the last line of its log.
void Recorder::app_ended(Happening& h, const std::string& name) const {
    const std::vector<vxboard::AppEnd> ends = board_.app_ends();
    for (auto e = ends.rbegin(); e != ends.rend(); ++e)
        if (e->name == name) {
            h.app_end = app_end_words(*e);
            break;
        }
    std::ifstream log(board_.sandbox_path(staged(name, ".log")));
    for (std::string said; std::getline(log, said);)
        if (!rtrim(said).empty()) h.app_said = said;
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
