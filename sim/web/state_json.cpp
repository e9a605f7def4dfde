#include "web/state_json.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board/pwm_history.h"
#include "hw/keys_logic.h"

namespace vxweb {
namespace {

using nlohmann::json;

// The latest changes of the sound, so that a page can play beeps shorter than a tick.
constexpr size_t TONES_SHOWN = 8;

std::string wait_status_text(int st) {
    if (WIFEXITED(st)) return "exited " + std::to_string(WEXITSTATUS(st));
    if (WIFSIGNALED(st)) return "killed by signal " + std::to_string(WTERMSIG(st));
    return "ended";
}

json buzzer_json(const vxboard::PwmChip& pwm, const std::vector<vxboard::Tone>& all) {
    json tones = json::array();
    for (size_t i = all.size() > TONES_SHOWN ? all.size() - TONES_SHOWN : 0; i < all.size(); ++i)
        tones.push_back({{"at", all[i].at_ms}, {"hz", all[i].hz}});
    const uint32_t hz = pwm.exported.load() != 0
                            ? vxboard::pwm_sounding_hz(pwm.period_ns.load(), pwm.duty_ns.load(),
                                                       pwm.enabled.load() != 0)
                            : 0;
    return {{"missing", pwm.missing.load() != 0}, {"hz", hz}, {"tones", tones}};
}

} // namespace

ButtonLine::~ButtonLine() {
    if (fd_ >= 0) close(fd_);
}

int ButtonLine::held() {
    if (fd_ < 0) fd_ = open((board_.workdir() + "/mem").c_str(), O_RDONLY | O_CLOEXEC);
    uint32_t raw = 0;
    if (fd_ < 0 || pread(fd_, &raw, sizeof raw,
                         static_cast<off_t>(vxboard::ADC_PAGE_PHYS + vxboard::ADC_SAMPLE_OFFSET)) !=
                       sizeof raw)
        return -1;
    // A conversion started just after the launcher's sleep reads the line one band high
    // until it settles: the same button.
    for (int k = KEY_UP; k < KEY_NONE; ++k)
        if (raw != 0 && (raw == vxboard::Board::raw_for_key(k) ||
                         raw == vxboard::Board::raw_for_key(k) + vxboard::ADC_UNSETTLED_OFFSET))
            return k;
    return -1;
}

std::vector<uint64_t> board_fingerprint(const vxboard::Board& board, int button) {
    const vxboard::BoardState& s = board.state();
    const uint8_t* regs = s.i2c.lt8668_regs;
    return {s.pwm.accesses.load(),
            s.pwm.missing.load(),
            s.osd.control.load(),
            static_cast<uint64_t>(regs[0xB7]) << 16 | regs[0xAD] << 8 | regs[0xAC],
            s.i2c.fail_all.load(),
            static_cast<uint64_t>(button + 1),
            s.launcher.exited.load() != 0};
}

json board_json(const vxboard::Board& board, int button) {
    const vxboard::BoardState& s = board.state();
    const bool exited = s.launcher.exited.load() != 0;
    return {
        {"buzzer", buzzer_json(s.pwm, vxboard::pwm_tones(s))},
        {"osd", {{"enabled", (s.osd.control.load() & 1u) != 0}, {"rows", board.osd_text()}}},
        {"mode", {{"registers", board.video_mode()}, {"transport", s.i2c.fail_all.load() == 0}}},
        {"button", button},
        {"screen_row", board.screen_row()},
        {"launcher",
         {{"exited", exited},
          {"status", exited ? wait_status_text(s.launcher.wait_status.load()) : ""}}},
    };
}

} // namespace vxweb
