// The steps that wait for the launcher or an app, and the expectations: each says, when it
// fails, what it expected and what it found.
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/log_lines.h"
#include "board/app_control.h"
#include "board/log_forms.h"
#include "board/pwm_history.h"
#include "board/screen.h"
#include "scenario/scenario.h"
#include "scenario/session_parts.h"
#include "scenario/staging.h"
#include "scenario/texts.h"

namespace vxscenario {
namespace {

// The launcher's clock it may take to collect an app that has ended.
constexpr Millis COLLECT_LIMIT(5000);
// How often the launcher's watchdog looks whether the launcher is still its parent.
constexpr Millis WATCHDOG_LOOK(1000);

// The app's state a step expects, in the words the board's report uses.
std::string expected_app(const Step& s) {
    if (s.word == "exited") return "exited " + std::to_string(s.number);
    if (s.word == "killed") return "killed by SIG" + std::string(sigabbrev_np(s.number));
    if (s.word == "exec-failed") return "exec failed: " + errno_name(s.number);
    if (s.word == "none") return "never launched";
    return s.word;
}

std::string from_line(size_t i) {
    return "none from line " + std::to_string(i + 1) + " on";
}

} // namespace

Session::Check Session::wait_for_log(const Step& s) {
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
        return mismatch("a line containing " + quoted(s.text) + " within " +
                            std::to_string(s.span.count()) + " ms",
                        from_line(cursor_));
    cursor_ = *at;
    return std::nullopt;
}

Session::Check Session::wait_for_app_exit(const Step& s) {
    // The goggles' launcher has logged the launch the step waits for: its line brought in.
    if (board_->goggles() != nullptr) sync_logs();
    const std::optional<Launch> app = last_launch("");
    if (!app) return mismatch("a launched app to end", "no app launched");
    if (!board_->wait_ended(app->pid, s.span))
        return mismatch(app->name + " (pid " + std::to_string(app->pid) + ") to end within " +
                            std::to_string(s.span.count()) + " ms",
                        "still running");
    const bool collected = run_until(
        [&] {
            const std::vector<std::string> lines = board_->lines();
            for (size_t i = app->line; i < lines.size(); ++i) {
                const std::optional<vxboard::LogLine> l = vxboard::read_log_line(lines[i]);
                if (l && l->form == LOG_CHILD_EXITED && l->values[0] == app->name) return true;
            }
            return false;
        },
        COLLECT_LIMIT);
    if (collected) return std::nullopt;
    char line[256];
    std::snprintf(line, sizeof line, LOG_CHILD_EXITED, app->name.c_str());
    return mismatch("the launcher to collect " + app->name + " (" + quoted(rtrim(line)) + ")",
                    app->name + " ended, not collected within " +
                        std::to_string(COLLECT_LIMIT.count() / 1000) + " s");
}

Session::Check Session::expect(const Step& s) {
    static const std::pair<Op, Check (Session::*)(const Step&)> EXPECTATIONS[] = {
        {Op::ExpectLog, &Session::expect_log},
        {Op::ExpectNoLog, &Session::expect_no_log},
        {Op::ExpectAppLog, &Session::expect_app_log},
        {Op::ExpectService, &Session::expect_service},
        {Op::ExpectScreen, &Session::expect_screen},
        {Op::ExpectSelected, &Session::expect_selected},
        {Op::ExpectOsd, &Session::expect_osd},
        {Op::ExpectTone, &Session::expect_tone},
        {Op::ExpectApp, &Session::expect_app},
    };
    for (const auto& [op, check] : EXPECTATIONS)
        if (op == s.op) return (this->*check)(s);
    return std::nullopt;
}

Session::Check Session::expect_log(const Step& s) {
    const auto at = board_->wait_line(s.text, options_.realtime ? grace() : Millis(0), cursor_);
    if (!at) return mismatch("a line containing " + quoted(s.text), from_line(cursor_));
    cursor_ = *at;
    return std::nullopt;
}

Session::Check Session::expect_no_log(const Step& s) {
    // What the goggles' launcher logged up to now, in.
    sync_logs();
    const std::vector<std::string> lines = board_->lines();
    for (size_t i = mark_; i < lines.size(); ++i)
        if (lines[i].find(s.text) != std::string::npos)
            return mismatch("no line containing " + quoted(s.text) + " from line " +
                                std::to_string(mark_ + 1) + " on",
                            "line " + std::to_string(i + 1) + ": " + rtrim(lines[i]));
    return std::nullopt;
}

Session::Check Session::expect_app_log(const Step& s) {
    // On the goggles, the launch the step follows and the log as the app's run has it (the
    // last run's log is cut when an app starts again) brought in first.
    if (board_->goggles() != nullptr) sync_logs();
    const std::optional<Launch> last = last_launch("");
    const std::string name = !s.name.empty() ? s.name : last ? last->name : "(no app)";
    const std::string path = board_->sandbox_path(staged(name, ".log"));
    bool exists = false;
    std::string log;
    // An app still running has a while, in real time, to write it; the launcher waits.
    wait_real(
        [&] {
            log = slurp(path, &exists);
            return log.find(s.text) != std::string::npos || !running(name);
        },
        board_->goggles() != nullptr ? GOGGLES_APP_LOG_GRACE : APP_LOG_GRACE);
    if (log.find(s.text) == std::string::npos && board_->goggles() != nullptr) {
        // An app that ended may have written its last lines after the agent last looked.
        sync_logs();
        log = slurp(path, &exists);
    }
    if (log.find(s.text) != std::string::npos) return std::nullopt;
    const std::vector<std::string> lines = split_lines(log);
    return mismatch(name + ".log to contain " + quoted(s.text),
                    !exists ? "no such log"
                    : lines.empty()
                        ? "an empty log"
                        : "its last line " +
                              quoted(rtrim(lines.back().substr(0, lines.back().size() - 1))));
}

Session::Check Session::expect_service(const Step& s) {
    const bool stopped = s.word == "stopped";
    char state = 0;
    // A launcher gone without resuming the service leaves that to its watchdog, which looks
    // once a second.
    wait_real([&] { return ((state = board_->service_state()) == 'T') == stopped; },
              grace() + WATCHDOG_LOOK);
    if ((state == 'T') == stopped) return std::nullopt;
    return mismatch("the service " + s.word,
                    state == 0 ? "no service" : std::string("state ") + state);
}

Session::Check Session::expect_screen(const Step& s) {
    return settled([&]() -> Check {
        const std::string found = vxboard::screen_shows(*board_);
        if (found == s.word || (s.word == "launcher" && found == "menu")) return std::nullopt;
        return mismatch(s.word, found == "goggles"
                                    ? "the goggles' page (row 0)"
                                    : found + " (a launcher page at row " +
                                          std::to_string(board_->screen_row()) + ")");
    });
}

Session::Check Session::expect_selected(const Step& s) {
    return settled([&]() -> Check {
        const int slot = vxboard::highlighted_slot(*board_);
        if (slot == s.number) return std::nullopt;
        return mismatch("slot " + std::to_string(s.number) + " highlighted",
                        slot < 0 ? "no highlighted slot" : "slot " + std::to_string(slot));
    });
}

Session::Check Session::expect_osd(const Step& s) {
    return settled([&]() -> Check {
        const std::string row = rtrim(board_->osd_text()[static_cast<size_t>(s.number)]);
        if (row == rtrim(s.text)) return std::nullopt;
        return mismatch("overlay row " + std::to_string(s.number) + " " + quoted(rtrim(s.text)),
                        quoted(row));
    });
}

Session::Check Session::expect_tone(const Step& s) {
    const auto check = [&]() -> Check {
        const vxboard::PwmChip& c = board_->state().pwm;
        const uint32_t hz =
            vxboard::pwm_sounding_hz(c.period_ns.load(), c.duty_ns.load(), c.enabled.load() != 0);
        if (static_cast<int>(hz) == s.number) return std::nullopt;
        auto tone = [](uint32_t v) {
            return v == 0 ? std::string("silence") : std::to_string(v) + " Hz";
        };
        return mismatch(tone(static_cast<uint32_t>(s.number)), tone(hz));
    };
    // The goggles' buzzer follows a button after the guest's launcher has read it.
    return board_->goggles() != nullptr ? settled(check) : check();
}

Session::Check Session::expect_app(const Step& s) {
    // The goggles' launch and end reach the board after the guest's agent has seen them.
    if (board_->goggles() != nullptr) return settled([&] { return app_state(s); });
    return app_state(s);
}

Session::Check Session::app_state(const Step& s) {
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

} // namespace vxscenario
