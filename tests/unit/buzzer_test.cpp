#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "hw/buzzer.h"

namespace {

constexpr const char* EXPORT = "/sys/class/pwm/pwmchip0/export";
constexpr const char* PERIOD = "/sys/class/pwm/pwmchip0/pwm7/period";
constexpr const char* DUTY = "/sys/class/pwm/pwmchip0/pwm7/duty_cycle";
constexpr const char* ENABLE = "/sys/class/pwm/pwmchip0/pwm7/enable";

// A stand-in for the sysfs files: the buzzer code is linked into this binary, so its open,
// write and close calls land in the functions below.
constexpr int FIRST_FAKE_FD = 900;

struct Access {
    std::string path;
    std::string text; // empty for an open
    bool operator==(const Access&) const = default;
};

// The channel as the kernel's PWM core keeps it: every change is applied whole and refused
// when it leaves no period, or a duty cycle longer than the period.
struct PwmChannel {
    uint64_t period = 0, duty = 0;
    bool enabled = false;
    int refused = 0;

    int apply(const std::string& path, const std::string& text) {
        PwmChannel next = *this;
        const uint64_t v = std::stoull(text);
        if (path == PERIOD) next.period = v;
        if (path == DUTY) next.duty = v;
        if (path == ENABLE) next.enabled = v != 0;
        if (path != PERIOD && path != DUTY && path != ENABLE) return 0;
        if (next.period == 0 || next.duty > next.period) {
            ++refused;
            return EINVAL;
        }
        period = next.period, duty = next.duty, enabled = next.enabled;
        return 0;
    }
};

struct FakeSysfs {
    std::map<std::string, int> open_errno;  // a path whose open fails
    std::map<std::string, int> write_errno; // a path whose writes fail
    PwmChannel channel;
    std::vector<std::string> fd_paths;      // fd - FIRST_FAKE_FD -> path
    std::vector<Access> writes;
    std::vector<std::string> opens;
    std::vector<int> open_flags;
    int open_fds = 0;
};
FakeSysfs g_fs;

bool is_sysfs(const char* path) {
    return std::string(path).rfind("/sys/", 0) == 0;
}

const std::string* fake_path(int fd) {
    const int i = fd - FIRST_FAKE_FD;
    if (i < 0 || i >= static_cast<int>(g_fs.fd_paths.size())) return nullptr;
    return &g_fs.fd_paths[i];
}

} // namespace

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    if (!is_sysfs(path)) return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
    g_fs.opens.push_back(path);
    g_fs.open_flags.push_back(flags);
    if (const auto e = g_fs.open_errno.find(path); e != g_fs.open_errno.end()) {
        errno = e->second;
        return -1;
    }
    g_fs.fd_paths.push_back(path);
    ++g_fs.open_fds;
    return FIRST_FAKE_FD + static_cast<int>(g_fs.fd_paths.size()) - 1;
}

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
    const std::string* path = fake_path(fd);
    if (path == nullptr) return syscall(SYS_write, fd, buf, n);
    const std::string text(static_cast<const char*>(buf), n);
    g_fs.writes.push_back({*path, text});
    if (const auto e = g_fs.write_errno.find(*path); e != g_fs.write_errno.end()) {
        errno = e->second;
        return -1;
    }
    if (const int e = g_fs.channel.apply(*path, text)) {
        errno = e;
        return -1;
    }
    return static_cast<ssize_t>(n);
}

extern "C" int close(int fd) {
    if (fake_path(fd) == nullptr) return static_cast<int>(syscall(SYS_close, fd));
    --g_fs.open_fds;
    return 0;
}

namespace {

struct FrequencyCase {
    int32_t kind;
    uint32_t elapsed_ms;
    uint32_t hz;
};

TEST(HoldToneFrequency, RisesLinearlyAndHoldsAtTheTop) {
    const FrequencyCase cases[] = {
        // the closing hold: 400 Hz up to 1500 Hz over 3 s
        {1, 0, 400},
        {1, 1500, 950},
        {1, 2999, 1499},
        {1, 3000, 1500},
        {1, 3001, 1500},
        {1, 0xFFFFFFFFu, 1500},
        // the opening hold: 550 Hz up to 1350 Hz over 1.5 s
        {0, 0, 550},
        {0, 1, 550},
        {0, 750, 950},
        {0, 1500, 1350},
        {0, 60000, 1350},
        {0, 0xFFFFFFFFu, 1350},
        {0, 0x80000000u, 1350},
        // every kind other than 1 is the opening hold
        {2, 750, 950},
        {-1, 0xFFFFFFFFu, 1350},
    };
    for (const FrequencyCase& c : cases)
        EXPECT_EQ(hold_tone_frequency(c.kind, c.elapsed_ms), c.hz)
            << "kind " << c.kind << " at " << c.elapsed_ms << " ms";
}

class BuzzerSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        g_fs = FakeSysfs{};
        g_buzzer = Buzzer{};
    }
    void TearDown() override { EXPECT_EQ(g_fs.open_fds, 0) << "a sysfs file left open"; }

    // The writes since the last call.
    std::vector<Access> take_writes() {
        std::vector<Access> w;
        w.swap(g_fs.writes);
        return w;
    }
    void open_ok() {
        ASSERT_EQ(buzzer_open(), 0);
        take_writes();
    }
};

struct OpenCase {
    const char* name;
    std::map<std::string, int> open_errno, write_errno;
    int result;
    std::vector<Access> writes;
};

TEST_F(BuzzerSysfs, OpenExportsAndSilencesTheChannel) {
    const std::vector<Access> silenced = {{EXPORT, "7"}, {ENABLE, "0"}, {DUTY, "0"}};
    const OpenCase cases[] = {
        {"fresh chip", {}, {}, 0, silenced},
        {"exported before (write)", {}, {{EXPORT, EBUSY}}, 0, silenced},
        {"exported before (open)", {{EXPORT, EBUSY}}, {}, 0, {{ENABLE, "0"}, {DUTY, "0"}}},
        {"channel files missing", {{ENABLE, ENOENT}, {DUTY, ENOENT}}, {}, 0, {{EXPORT, "7"}}},
        {"no chip", {{EXPORT, ENOENT}}, {}, -1, {}},
        {"export refused", {}, {{EXPORT, EINVAL}}, -1, {{EXPORT, "7"}}},
        {"export open denied", {{EXPORT, EACCES}}, {}, -1, {}},
    };
    for (const OpenCase& c : cases) {
        SetUp();
        g_fs.open_errno = c.open_errno;
        g_fs.write_errno = c.write_errno;
        EXPECT_EQ(buzzer_open(), c.result) << c.name;
        EXPECT_EQ(g_buzzer.available, c.result == 0 ? 1 : 0) << c.name;
        EXPECT_EQ(take_writes(), c.writes) << c.name;
        for (int flags : g_fs.open_flags)
            EXPECT_EQ(flags & O_ACCMODE, O_WRONLY) << c.name;
        EXPECT_EQ(g_fs.open_fds, 0) << c.name;
    }
}

TEST_F(BuzzerSysfs, FirstToneEnablesLaterOnesOnlyRetune) {
    open_ok();
    buzzer_tone(550);
    EXPECT_EQ(take_writes(),
              (std::vector<Access>{{PERIOD, "1818181"}, {DUTY, "909090"}, {ENABLE, "1"}}));
    EXPECT_EQ(g_buzzer.frequency, 550);
    buzzer_tone(400);
    EXPECT_EQ(take_writes(), (std::vector<Access>{{PERIOD, "2500000"}, {DUTY, "1250000"}}));
    buzzer_tone(0);
    EXPECT_TRUE(take_writes().empty());
    EXPECT_EQ(g_buzzer.frequency, 400);

    buzzer_stop();
    EXPECT_EQ(take_writes(), (std::vector<Access>{{DUTY, "0"}, {ENABLE, "0"}}));
    EXPECT_EQ(g_buzzer.frequency, 0);
    buzzer_stop();
    EXPECT_TRUE(take_writes().empty()) << "stop when silent touches nothing";

    buzzer_tone(1700);
    EXPECT_EQ(take_writes(),
              (std::vector<Access>{{PERIOD, "588235"}, {DUTY, "294117"}, {ENABLE, "1"}}));
}

// However far the pitch jumps between two loop passes (a pass that stalled lets the rising
// tone leap), the kernel takes every step, and the channel sounds the new pitch at half duty.
TEST_F(BuzzerSysfs, EveryPitchStepIsTakenByTheKernel) {
    open_ok();
    g_fs.channel.refused = 0; // silencing a fresh channel, which has no period yet
    const struct {
        uint32_t hz;
        uint64_t period_ns;
    } steps[] = {{550, 1818181}, {1350, 740740}, {550, 1818181}, {400, 2500000},
                 {1500, 666666}, {1700, 588235}, {1, 1000000000}, {1000000, 1000}};
    for (const auto& step : steps) {
        buzzer_tone(step.hz);
        EXPECT_EQ(g_fs.channel.period, step.period_ns) << step.hz << " Hz";
        EXPECT_EQ(g_fs.channel.duty, step.period_ns / 2) << step.hz << " Hz";
        EXPECT_TRUE(g_fs.channel.enabled) << step.hz << " Hz";
    }
    EXPECT_EQ(g_fs.channel.refused, 0);
    buzzer_stop();
    EXPECT_FALSE(g_fs.channel.enabled);
}

// The tone is taken as sounding even when the kernel refused a value, so the channel is
// enabled once and silenced on the next stop.
TEST_F(BuzzerSysfs, FailedWritesStillCountAsSounding) {
    open_ok();
    g_fs.write_errno = {{PERIOD, EINVAL}, {DUTY, EINVAL}, {ENABLE, EIO}};
    buzzer_tone(1600);
    EXPECT_EQ(g_buzzer.frequency, 1600);
    buzzer_tone(1350);
    EXPECT_EQ(take_writes().size(), 5u);
    EXPECT_EQ(g_buzzer.frequency, 1350);
    buzzer_stop();
    EXPECT_EQ(take_writes(), (std::vector<Access>{{DUTY, "0"}, {ENABLE, "0"}}));
}

TEST_F(BuzzerSysfs, WithoutABuzzerOnlyOffWrites) {
    g_fs.open_errno = {{EXPORT, ENOENT}};
    ASSERT_EQ(buzzer_open(), -1);
    take_writes();
    g_fs.opens.clear();
    HoldTone tone;
    hold_tone_start(&tone, 0);
    hold_tone_update(&tone, 800);
    buzzer_tone(1000);
    buzzer_stop();
    hold_tone_confirm(&tone);
    EXPECT_TRUE(g_fs.opens.empty());
    EXPECT_EQ(tone.kind, 0);

    buzzer_off();
    EXPECT_EQ(take_writes(), (std::vector<Access>{{DUTY, "0"}, {ENABLE, "0"}}));
}

// The beep of each kind, from a sounding hold tone or from silence, for its 100 ms.
TEST_F(BuzzerSysfs, ConfirmationBeepsOneHundredMilliseconds) {
    open_ok();
    const struct {
        int32_t kind;
        bool sounding;
        std::vector<Access> writes;
    } cases[] = {
        {1, true, {{DUTY, "0"}, {ENABLE, "0"}, {PERIOD, "588235"}, {DUTY, "294117"}, {ENABLE, "1"},
                   {DUTY, "0"}, {ENABLE, "0"}}},
        {0, false, {{PERIOD, "625000"}, {DUTY, "312500"}, {ENABLE, "1"}, {DUTY, "0"}, {ENABLE, "0"}}},
    };
    for (const auto& c : cases) {
        HoldTone tone;
        hold_tone_start(&tone, c.kind);
        if (!c.sounding) buzzer_stop();
        take_writes();
        const auto t0 = std::chrono::steady_clock::now();
        hold_tone_confirm(&tone);
        const auto took = std::chrono::steady_clock::now() - t0;
        EXPECT_GE(took, std::chrono::milliseconds(TONE_CONFIRM_MS));
        EXPECT_LT(took, std::chrono::milliseconds(TONE_CONFIRM_MS + 400));
        EXPECT_EQ(take_writes(), c.writes) << "kind " << c.kind;
        EXPECT_EQ(g_buzzer.frequency, 0);
    }
}

} // namespace
