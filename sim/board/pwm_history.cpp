#include "board/pwm_history.h"

namespace vxboard {

namespace {
constexpr uint64_t NS_PER_S = 1000000000u;
}

std::vector<PwmAccessRecord> pwm_accesses(const BoardState& s) {
    const uint32_t total = s.pwm.accesses.load();
    const uint32_t kept = total < PWM_HISTORY ? total : PWM_HISTORY;
    std::vector<PwmAccessRecord> out;
    out.reserve(kept);
    for (uint32_t i = total - kept; i != total; ++i) {
        const PwmAccess& a = s.pwm.history[i % PWM_HISTORY];
        out.push_back({a.at_ms.load(), a.file.load(), a.is_write.load() != 0, a.value.load(),
                       a.error.load()});
    }
    return out;
}

uint32_t pwm_sounding_hz(uint32_t period_ns, uint32_t duty_ns, bool enabled) {
    if (!enabled || duty_ns == 0 || period_ns == 0) return 0;
    return static_cast<uint32_t>((NS_PER_S + period_ns / 2) / period_ns);
}

std::vector<Tone> pwm_tones(const BoardState& s) {
    uint32_t period = 0, duty = 0;
    bool enabled = false;
    uint32_t sounding = 0;
    std::vector<Tone> out;
    for (const PwmAccessRecord& a : pwm_accesses(s)) {
        if (!a.is_write || a.error != 0) continue;
        if (a.file == PWM_FILE_PERIOD) period = a.value;
        if (a.file == PWM_FILE_DUTY) duty = a.value;
        if (a.file == PWM_FILE_ENABLE) enabled = a.value != 0;
        const uint32_t hz = pwm_sounding_hz(period, duty, enabled);
        if (hz != sounding) out.push_back({a.at_ms, hz});
        sounding = hz;
    }
    return out;
}

} // namespace vxboard
