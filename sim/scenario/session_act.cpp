// The steps that act on the board: the buttons, the waits, the video mode, stopping the app
// and the faults.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "base/timings.h"
#include "board/app_control.h"
#include "front/front.h"
#include "scenario/scenario.h"
#include "scenario/session_parts.h"

namespace vxscenario {
namespace {

// On the real clock a press or a release is seen after about this long, surely once the
// launcher has read the line as often as the front ends wait for.
constexpr Millis SEEN_REAL(160);
// A SIGKILLed launcher is gone, and its end known to the board, within this.
constexpr Millis LAUNCHER_END(5000);

// On the emulated goggles an app samples the buttons beside the launcher, both on a CPU the
// host shares, and the board cannot tell their samples apart: while an app runs, a level
// stays until both together have read it this often. The app samples about twice as often
// as the launcher (10 ms between its samples against the launcher's 30), so it has had the
// three its debouncer needs, however slowly the guest runs.
constexpr uint32_t GOGGLES_APP_READS = 10;
constexpr Millis GOGGLES_APP_STRETCH(10000);

} // namespace

// How many reads of a level the step waits for, and for how long at most.
std::pair<uint32_t, Millis> Session::reads_to_see() const {
    if (board_->goggles() != nullptr && running(""))
        return {GOGGLES_APP_READS, GOGGLES_APP_STRETCH};
    return {vxfront::KeyFeed::READS_TO_SEE, vxfront::KeyFeed::MAX_STRETCH};
}

// A level (-1: none) until the launcher has seen it, and an app that runs, on the real clock,
// too.
void Session::put(int key) {
    vxboard::Board& b = *board_;
    const uint32_t before = b.state().adc.reads.load();
    key < 0 ? b.release() : b.press(key);
    if (options_.realtime && b.goggles() != nullptr && running("")) {
        const auto [reads, limit] = reads_to_see();
        wait_real([&] { return b.state().adc.reads.load() - before >= reads; }, limit);
    } else if (options_.realtime)
        std::this_thread::sleep_for(SEEN_REAL);
    else if (running(""))
        pass_time(SEEN_REAL);
    else if (!b.run_passes(SEEN_PASSES))
        throw std::runtime_error("the launcher stopped passing");
}

// On the real clock the pressed and the released line each stay until the launcher has read
// them often enough, as the front ends keep them: a short tap is not lost to the phase of its
// passes. On the stepped clock an app that runs, on the real one, reads the buttons too: the
// tap then takes its length in real time, the launcher's clock keeping pace.
void Session::tap(int key, Millis span) {
    vxboard::Board& b = *board_;
    if (!options_.realtime && running("")) {
        b.press(key);
        pass_time(std::max(span, SEEN_REAL));
        b.release();
        return pass_time(SEEN_REAL);
    }
    if (!options_.realtime) return b.tap(key, span);
    const auto [reads, limit] = reads_to_see();
    for (const int level : {key, -1}) {
        const uint32_t before = b.state().adc.reads.load();
        level < 0 ? b.release() : b.press(level);
        if (level >= 0) std::this_thread::sleep_for(span);
        wait_real([&] { return b.state().adc.reads.load() - before >= reads; }, limit);
    }
}

void Session::fault(const Step& s) {
    vxboard::BoardState& st = board_->state();
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
}

void Session::act(const Step& s) {
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
        board_->set_video_mode(s.number);
        break;
    case Op::StopApp:
        // As the wearer's escape ends an app: its group killed outright the span later; or
        // killed outright at once.
        if (s.word == "kill")
            vxboard::kill_app(*board_);
        else
            vxboard::stop_app(*board_, Millis(ESCAPE_KILL_AFTER_MS));
        break;
    case Op::KillLauncher:
        // As a crash or the kernel ends it: nothing of its own runs, what it holds stays held
        // until its watchdog sees it gone.
        board_->signal_launcher(SIGKILL);
        if (!board_->wait_exit(LAUNCHER_END))
            throw std::runtime_error("the launcher did not end within " +
                                     std::to_string(LAUNCHER_END.count()) + " ms of its SIGKILL");
        break;
    case Op::Fault:
        fault(s);
        break;
    default:
        break;
    }
}

} // namespace vxscenario
