#include <algorithm>
#include <csignal>
#include <memory>

#include "board/pwm_history.h"

#include "flow_fixture.h"

namespace systest {
namespace {

using vxboard::PwmAccessRecord;
using vxboard::Tone;

constexpr const char* NO_BUZZER = "beep: brak buzzera — audio-feedback wyciszony\n";

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

// The press reaches the launcher after its debounce, a few polls of 30 to 40 ms.
constexpr int64_t PRESS_TO_TONE_MAX_MS = 300;
// The pitch is computed from the launcher's clock a moment before the board stamps the write.
constexpr uint32_t PITCH_SLACK_HZ = 8;
constexpr uint64_t BEEP_MS = 100;
constexpr uint64_t BEEP_SLACK_MS = 60;

bool preload_joins_launcher() {
    return vxboard::target_from_env() != vxboard::Target::ArmStatic;
}

std::string describe(const std::vector<Tone>& tones) {
    std::string s;
    for (const Tone& t : tones)
        s += " " + std::to_string(t.hz) + "@" + std::to_string(t.at_ms);
    return s;
}

std::vector<Tone> tones_after(const vxboard::BoardState& s, uint64_t after_ms) {
    std::vector<Tone> out;
    for (const Tone& t : vxboard::pwm_tones(s))
        if (t.at_ms > after_ms) out.push_back(t);
    return out;
}

// The accesses since the `from`th one the board counted.
std::vector<PwmAccessRecord> accesses_from(const vxboard::BoardState& s, uint32_t from) {
    const std::vector<PwmAccessRecord> all = vxboard::pwm_accesses(s);
    const uint32_t total = s.pwm.accesses.load();
    const uint32_t first = total - static_cast<uint32_t>(all.size());
    EXPECT_GE(from, first) << "the history ring no longer holds them";
    const size_t skip = std::min<size_t>(from > first ? from - first : 0, all.size());
    return {all.begin() + static_cast<std::ptrdiff_t>(skip), all.end()};
}

uint64_t last_access_ms(const vxboard::BoardState& s) {
    const std::vector<PwmAccessRecord> all = vxboard::pwm_accesses(s);
    return all.empty() ? 0 : all.back().at_ms;
}

// A whole gesture's tones: the ramp from its start, a rise that never goes down or past the
// top, silence, the beep for about 100 ms, silence.
void expect_hold_sound(const std::vector<Tone>& tones, const Ramp& ramp, int64_t pressed_ms) {
    SCOPED_TRACE("tones:" + describe(tones));
    ASSERT_GE(tones.size(), 5u);
    const Tone& first = tones.front();
    EXPECT_EQ(first.hz, ramp.base_hz);
    EXPECT_GE(static_cast<int64_t>(first.at_ms), pressed_ms);
    EXPECT_LE(static_cast<int64_t>(first.at_ms), pressed_ms + PRESS_TO_TONE_MAX_MS);

    const size_t n = tones.size();
    const Tone &off = tones[n - 3], &beep = tones[n - 2], &end = tones[n - 1];
    for (size_t i = 1; i < n - 3; ++i) {
        EXPECT_GT(tones[i].hz, tones[i - 1].hz) << "entry " << i;
        const uint32_t want = ramp.at(tones[i].at_ms - first.at_ms);
        EXPECT_LE(tones[i].hz, want + PITCH_SLACK_HZ) << "entry " << i;
        EXPECT_GE(tones[i].hz + PITCH_SLACK_HZ, want) << "entry " << i;
    }
    EXPECT_EQ(tones[n - 4].hz, ramp.base_hz + ramp.rise_hz) << "the gesture ends at the top";
    EXPECT_EQ(off.hz, 0u);
    EXPECT_EQ(beep.hz, ramp.beep_hz);
    EXPECT_EQ(end.hz, 0u);
    EXPECT_GE(end.at_ms - beep.at_ms, BEEP_MS);
    EXPECT_LE(end.at_ms - beep.at_ms, BEEP_MS + BEEP_SLACK_MS);
}

// The writes of a hold tone: the first one configures and enables the channel, the rise
// only retunes it (period, then duty cycle at half of it), and the beep starts from off.
void expect_hold_writes(const std::vector<PwmAccessRecord>& accesses) {
    std::vector<PwmAccessRecord> writes;
    for (const PwmAccessRecord& a : accesses) {
        EXPECT_EQ(a.error, 0) << "file " << a.file << " write " << a.is_write;
        if (a.is_write) writes.push_back(a);
    }
    ASSERT_GE(writes.size(), 5u);
    EXPECT_EQ(writes[0].file, vxboard::PWM_FILE_PERIOD);
    EXPECT_EQ(writes[1].file, vxboard::PWM_FILE_DUTY);
    EXPECT_EQ(writes[1].value, writes[0].value / 2);
    EXPECT_EQ(writes[2].file, vxboard::PWM_FILE_ENABLE);
    EXPECT_EQ(writes[2].value, 1u);
    size_t i = 3;
    for (; i + 1 < writes.size() && writes[i].file == vxboard::PWM_FILE_PERIOD; i += 2) {
        EXPECT_EQ(writes[i + 1].file, vxboard::PWM_FILE_DUTY) << "write " << i + 1;
        EXPECT_EQ(writes[i + 1].value, writes[i].value / 2) << "write " << i + 1;
    }
    ASSERT_LT(i + 1, writes.size());
    EXPECT_EQ(writes[i].file, vxboard::PWM_FILE_DUTY) << "the rise ends with the beep's off";
    EXPECT_EQ(writes[i].value, 0u);
    EXPECT_EQ(writes[i + 1].file, vxboard::PWM_FILE_ENABLE);
    EXPECT_EQ(writes[i + 1].value, 0u);
    // Every open is followed by exactly one write.
    size_t opens = 0;
    for (const PwmAccessRecord& a : accesses)
        opens += a.is_write ? 0 : 1;
    EXPECT_EQ(opens, writes.size());
}

class BuzzerTest : public FlowTest {
  protected:
    void SetUp() override {
        if (!preload_joins_launcher())
            GTEST_SKIP() << "the static build runs without the board's sysfs";
        FlowTest::SetUp();
    }
};

TEST_F(BuzzerTest, OpeningAndClosingHoldsRiseAndConfirm) {
    app("one");
    vxboard::Board& b = start_ready();
    const vxboard::BoardState& s = b.state();
    EXPECT_FALSE(logged(NO_BUZZER));

    struct Gesture {
        const char* name;
        const Ramp& ramp;
        Millis held;
        const char* done;
    } gestures[] = {
        {"opening", OPENING, OPEN_HOLD, "menu open (hold play"},
        {"closing", CLOSING, CLOSE_HOLD, "menu closed (hold play 3 s)\n"},
    };
    for (const Gesture& g : gestures) {
        SCOPED_TRACE(g.name);
        const size_t from_line = b.lines().size();
        const uint32_t from_access = s.pwm.accesses.load();
        const uint64_t before_ms = last_access_ms(s);
        const int64_t pressed_ms = b.sandbox_monotonic_ms();
        b.tap(PLAY, g.held);
        line_at(g.done, from_line);
        // The release after the confirmation must not sound anything.
        std::this_thread::sleep_for(Millis(300));
        expect_hold_sound(tones_after(s, before_ms), g.ramp, pressed_ms);
        expect_hold_writes(accesses_from(s, from_access));
        EXPECT_EQ(s.pwm.enabled.load(), 0u);
        EXPECT_EQ(s.pwm.duty_ns.load(), 0u);
    }
}

struct StartCase {
    const char* name;
    std::function<void(vxboard::BoardState&)> before_launch;
    bool buzzer;
};

class BuzzerStart : public BuzzerTest, public ::testing::WithParamInterface<StartCase> {};

// At start-up the channel is exported and silenced; a chip that is not there, or refuses
// the export, leaves the launcher without sound but otherwise working.
TEST_P(BuzzerStart, ExportsOrGoesQuiet) {
    const StartCase& c = GetParam();
    app("one");
    vxboard::BoardConfig cfg;
    cfg.before_launch = c.before_launch;
    vxboard::Board& b = start_ready(cfg);
    const vxboard::BoardState& s = b.state();
    EXPECT_EQ(logged(NO_BUZZER), !c.buzzer);
    if (c.buzzer) {
        EXPECT_EQ(s.pwm.exported.load(), 1u);
        EXPECT_EQ(s.pwm.enabled.load(), 0u) << "what an earlier run left sounding stops";
        EXPECT_EQ(s.pwm.duty_ns.load(), 0u);
    }

    const size_t from_line = b.lines().size();
    const uint32_t from_access = s.pwm.accesses.load();
    const uint64_t before_ms = last_access_ms(s);
    const int64_t pressed_ms = b.sandbox_monotonic_ms();
    b.tap(PLAY, OPEN_HOLD);
    line_at("menu open (hold play", from_line);
    std::this_thread::sleep_for(Millis(300));
    if (c.buzzer) {
        expect_hold_sound(tones_after(s, before_ms), OPENING, pressed_ms);
        return;
    }
    EXPECT_TRUE(accesses_from(s, from_access).empty()) << "no sysfs access during the hold";

    // The termination handler still tries its two writes, and nothing more.
    b.signal_launcher(SIGTERM);
    ASSERT_TRUE(b.wait_exit(Millis(5000)));
    const std::vector<PwmAccessRecord> after = accesses_from(s, from_access);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].file, vxboard::PWM_FILE_DUTY);
    EXPECT_EQ(after[1].file, vxboard::PWM_FILE_ENABLE);
    for (const PwmAccessRecord& a : after) {
        EXPECT_FALSE(a.is_write);
        EXPECT_EQ(a.error, ENOENT);
    }
}

const StartCase STARTS[] = {
    {"already_exported_and_sounding",
     [](vxboard::BoardState& s) {
         s.pwm.exported = 1;
         s.pwm.period_ns = 1000000;
         s.pwm.duty_ns = 500000;
         s.pwm.enabled = 1;
     },
     true},
    {"no_chip", [](vxboard::BoardState& s) { s.pwm.missing = 1; }, false},
    {"export_refused", [](vxboard::BoardState& s) { s.pwm.export_errno = EACCES; }, false},
};

INSTANTIATE_TEST_SUITE_P(BuzzerChips, BuzzerStart, ::testing::ValuesIn(STARTS),
                         [](const auto& info) { return std::string(info.param.name); });

// SIGTERM can land in the middle of a sysfs write of the rising tone; the handler's own
// writes still leave the channel silent.
TEST_F(BuzzerTest, TerminationMidHoldSilencesTheChannel) {
    app("one");
    for (const Millis into : {Millis(300), Millis(1000)}) {
        SCOPED_TRACE(into.count());
        vxboard::Board& b = start_ready();
        const vxboard::BoardState& s = b.state();
        b.press(PLAY);
        std::this_thread::sleep_for(into);
        EXPECT_EQ(s.pwm.enabled.load(), 1u);
        EXPECT_NE(s.pwm.duty_ns.load(), 0u);
        b.signal_launcher(SIGTERM);
        const auto status = b.wait_exit(Millis(5000));
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
        EXPECT_EQ(s.pwm.enabled.load(), 0u);
        EXPECT_EQ(s.pwm.duty_ns.load(), 0u);
        board_.reset();
    }
}

// ---- reading the history back ----------------------------------------------------------

struct Step {
    uint32_t file;
    bool is_write;
    uint32_t value;
    int32_t error;
};

void push(vxboard::BoardState& s, uint64_t at_ms, const Step& step) {
    vxboard::PwmAccess& a = s.pwm.history[s.pwm.accesses.load() % vxboard::PWM_HISTORY];
    a.at_ms = at_ms;
    a.file = step.file;
    a.is_write = step.is_write ? 1 : 0;
    a.value = step.value;
    a.error = step.error;
    s.pwm.accesses.fetch_add(1);
}

struct ReplayCase {
    const char* name;
    std::vector<Step> steps; // the ith at i ms
    std::vector<std::pair<uint64_t, uint32_t>> tones;
};

TEST(BuzzerHistory, TonesChangeOnlyWhenTheSoundDoes) {
    using namespace vxboard;
    const Step period_400{PWM_FILE_PERIOD, true, 2500000, 0};
    const Step duty_400{PWM_FILE_DUTY, true, 1250000, 0};
    const Step enable{PWM_FILE_ENABLE, true, 1, 0};
    const Step disable{PWM_FILE_ENABLE, true, 0, 0};
    const Step duty_off{PWM_FILE_DUTY, true, 0, 0};
    const ReplayCase cases[] = {
        {"configured then enabled", {period_400, duty_400, enable}, {{2, 400}}},
        {"enabled without duty is silent", {period_400, enable, duty_400}, {{2, 400}}},
        {"retuning rounds to the nearest hertz",
         {period_400,
          duty_400,
          enable,
          {PWM_FILE_PERIOD, true, 1818181, 0},
          {PWM_FILE_DUTY, true, 909090, 0},
          {PWM_FILE_PERIOD, true, 588235, 0}},
         {{2, 400}, {3, 550}, {5, 1700}}},
        {"duty off, then disabled: one silence",
         {period_400, duty_400, enable, duty_off, disable},
         {{2, 400}, {3, 0}}},
        {"refused writes and opens change nothing",
         {{PWM_FILE_PERIOD, false, 0, 0},
          period_400,
          {PWM_FILE_DUTY, true, 1250000, EINVAL},
          {PWM_FILE_ENABLE, false, 0, ENOENT},
          enable,
          duty_400},
         {{5, 400}}},
        {"export writes are not sound",
         {period_400, duty_400, enable, {PWM_FILE_EXPORT, true, 7, 0}},
         {{2, 400}}},
    };
    for (const ReplayCase& c : cases) {
        auto s = std::make_unique<BoardState>();
        for (size_t i = 0; i < c.steps.size(); ++i)
            push(*s, i, c.steps[i]);
        std::vector<std::pair<uint64_t, uint32_t>> got;
        for (const Tone& t : pwm_tones(*s))
            got.emplace_back(t.at_ms, t.hz);
        EXPECT_EQ(got, c.tones) << c.name;
    }
}

TEST(BuzzerHistory, AccessesAreTheNewestOfTheRingOldestFirst) {
    using namespace vxboard;
    for (const uint32_t count : {0u, 3u, PWM_HISTORY, PWM_HISTORY + 10}) {
        auto s = std::make_unique<BoardState>();
        for (uint32_t i = 0; i < count; ++i)
            push(*s, 1000 + i, {PWM_FILE_PERIOD, true, i, 0});
        const std::vector<PwmAccessRecord> got = pwm_accesses(*s);
        ASSERT_EQ(got.size(), std::min(count, PWM_HISTORY)) << count;
        for (size_t k = 0; k < got.size(); ++k) {
            const uint32_t want =
                count - static_cast<uint32_t>(got.size()) + static_cast<uint32_t>(k);
            EXPECT_EQ(got[k].value, want) << count << " #" << k;
            EXPECT_EQ(got[k].at_ms, 1000u + want) << count << " #" << k;
        }
    }
}

} // namespace
} // namespace systest
