// The hold tones as the board's PWM chip sounds them, on the launcher's virtual clock, and a
// launcher without a buzzer.
#include <algorithm>
#include <csignal>
#include <memory>

#include "board/pwm_history.h"

#include "board_fixture.h"

namespace systest {
namespace {

using vxboard::PwmAccessRecord;
using vxboard::Tone;

// How the hold tone of each gesture should sound.
struct Ramp {
    uint32_t base_hz, rise_hz, rise_ms, beep_hz;
    uint32_t at(uint64_t ms) const {
        const uint64_t t = std::min<uint64_t>(ms, rise_ms);
        return base_hz + static_cast<uint32_t>(t * rise_hz / rise_ms);
    }
};
constexpr Ramp OPENING{550, 800, 1500, 1600};
constexpr Ramp CLOSING{400, 1100, 3000, 1700};

std::string describe(const std::vector<Tone>& tones) {
    std::string s;
    for (const Tone& t : tones)
        s += " " + std::to_string(t.hz) + "@" + std::to_string(t.at_ms);
    return s;
}

class BuzzerTest : public BoardTest {
  protected:
    void SetUp() override {
        if (vxboard::target_from_env() == vxboard::Target::ArmStatic)
            GTEST_SKIP() << "the static build runs without the board's sysfs";
        BoardTest::SetUp();
    }
};

// A whole gesture's tones: the ramp from the pass that saw the press, rising to its top,
// silence, the beep for 100 ms, silence. The pitch of each step comes back from the period
// the chip was given, to the nearest hertz.
TEST_F(BuzzerTest, HoldTonesRiseAndConfirm) {
    app("one");
    vxboard::Board& b = start_stepped();
    for (const auto& [ramp, done] : {std::pair{OPENING, "menu open (hold play"},
                                     std::pair{CLOSING, "menu closed (hold play 3 s)\n"}}) {
        const size_t from = b.lines().size();
        const uint64_t pressed = static_cast<uint64_t>(b.virtual_ms());
        b.press(PLAY);
        ASSERT_TRUE(run_to_line(done, from)) << dump();
        b.release();
        ASSERT_TRUE(b.run_passes(5));
        std::vector<Tone> tones;
        for (const Tone& t : vxboard::pwm_tones(b.state()))
            if (t.at_ms >= pressed) tones.push_back(t);
        SCOPED_TRACE("tones:" + describe(tones));
        ASSERT_GE(tones.size(), 5u);
        const size_t n = tones.size();
        for (size_t i = 0; i + 3 < n; ++i) {
            const uint32_t want = ramp.at(tones[i].at_ms - tones[0].at_ms);
            EXPECT_LE(tones[i].hz, want + 1) << "entry " << i;
            EXPECT_GE(tones[i].hz + 1, want) << "entry " << i;
        }
        EXPECT_EQ(tones[0].hz, ramp.base_hz);
        EXPECT_EQ(tones[n - 4].hz, ramp.base_hz + ramp.rise_hz) << "the gesture ends at the top";
        EXPECT_EQ(tones[n - 3].hz, 0u);
        EXPECT_EQ(tones[n - 2].hz, ramp.beep_hz);
        EXPECT_EQ(tones[n - 1].hz, 0u);
        EXPECT_EQ(tones[n - 1].at_ms - tones[n - 2].at_ms, 100u);
    }
}

// Without a chip, or with its export refused, the launcher says so, touches nothing during
// a hold, and its termination only tries its two writes.
TEST_F(BuzzerTest, WithoutABuzzerAHoldIsSilent) {
    for (const auto& inject : std::vector<std::function<void(vxboard::BoardState&)>>{
             [](vxboard::BoardState& s) { s.pwm.missing = 1; },
             [](vxboard::BoardState& s) { s.pwm.export_errno = EACCES; }}) {
        app("one");
        vxboard::BoardConfig cfg;
        cfg.before_launch = inject;
        vxboard::Board& b = start_stepped(cfg);
        EXPECT_TRUE(logged("beep: brak buzzera — audio-feedback wyciszony\n")) << dump();
        const uint32_t from = b.state().pwm.accesses.load();
        hold_play_until("menu open (hold play");
        EXPECT_EQ(b.state().pwm.accesses.load(), from) << "no sysfs access during the hold";
        b.signal_launcher(SIGTERM);
        ASSERT_TRUE(b.wait_exit(Millis(5000)));
        const std::vector<PwmAccessRecord> all = vxboard::pwm_accesses(b.state());
        ASSERT_EQ(b.state().pwm.accesses.load() - from, 2u);
        EXPECT_EQ(all[all.size() - 2].file, vxboard::PWM_FILE_DUTY);
        EXPECT_EQ(all[all.size() - 1].file, vxboard::PWM_FILE_ENABLE);
        board_.reset();
    }
}

// SIGTERM can land in the middle of a sysfs write of the rising tone; the handler's own
// writes still leave the channel silent.
TEST_F(BuzzerTest, TerminationMidHoldSilencesTheChannel) {
    app("one");
    vxboard::Board& b = start_ready();
    b.press(PLAY);
    ASSERT_TRUE(wait_until([&] { return b.state().pwm.enabled.load() == 1; }, Millis(2000)));
    b.signal_launcher(SIGTERM);
    const auto status = b.wait_exit(Millis(5000));
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_EQ(b.state().pwm.enabled.load(), 0u);
    EXPECT_EQ(b.state().pwm.duty_ns.load(), 0u);
}

// ---- the board's replay of the history --------------------------------------------------

struct Step {
    uint32_t file;
    bool is_write;
    uint32_t value;
    int32_t error;
};

TEST(BuzzerHistory, TonesChangeOnlyWhenTheSoundDoes) {
    using namespace vxboard;
    const Step period_400{PWM_FILE_PERIOD, true, 2500000, 0};
    const Step duty_400{PWM_FILE_DUTY, true, 1250000, 0};
    const Step enable{PWM_FILE_ENABLE, true, 1, 0};
    const struct {
        const char* name;
        std::vector<Step> steps; // the ith at i ms
        std::vector<std::pair<uint64_t, uint32_t>> tones;
    } cases[] = {
        {"configured then enabled", {period_400, duty_400, enable}, {{2, 400}}},
        {"enabled without duty is silent", {period_400, enable, duty_400}, {{2, 400}}},
        {"retuning rounds to the nearest hertz",
         {period_400, duty_400, enable, {PWM_FILE_PERIOD, true, 1818181, 0},
          {PWM_FILE_DUTY, true, 909090, 0}, {PWM_FILE_PERIOD, true, 588235, 0}},
         {{2, 400}, {3, 550}, {5, 1700}}},
        {"duty off, then disabled: one silence",
         {period_400, duty_400, enable, {PWM_FILE_DUTY, true, 0, 0}, {PWM_FILE_ENABLE, true, 0, 0}},
         {{2, 400}, {3, 0}}},
        {"refused writes and opens change nothing",
         {{PWM_FILE_PERIOD, false, 0, 0}, period_400, {PWM_FILE_DUTY, true, 1250000, EINVAL},
          {PWM_FILE_ENABLE, false, 0, ENOENT}, enable, duty_400},
         {{5, 400}}},
    };
    for (const auto& c : cases) {
        auto s = std::make_unique<BoardState>();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            PwmAccess& a = s->pwm.history[i];
            a.at_ms = i;
            a.file = c.steps[i].file;
            a.is_write = c.steps[i].is_write ? 1 : 0;
            a.value = c.steps[i].value;
            a.error = c.steps[i].error;
        }
        s->pwm.accesses = static_cast<uint32_t>(c.steps.size());
        std::vector<std::pair<uint64_t, uint32_t>> got;
        for (const Tone& t : pwm_tones(*s))
            got.emplace_back(t.at_ms, t.hz);
        EXPECT_EQ(got, c.tones) << c.name;
    }
}

} // namespace
} // namespace systest
