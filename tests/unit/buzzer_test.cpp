#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
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
    std::vector<std::string> fd_paths; // fd - FIRST_FAKE_FD -> path
    std::string writes;                // "leaf=text" for each write, space separated
    int open_fds = 0;
};
FakeSysfs g_fs;

const std::string* fake_path(int fd) {
    const int i = fd - FIRST_FAKE_FD;
    if (i < 0 || i >= static_cast<int>(g_fs.fd_paths.size())) return nullptr;
    return &g_fs.fd_paths[i];
}

} // namespace

extern "C" int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? va_arg(ap, mode_t) : 0;
    va_end(ap);
    const std::string p = path;
    if (p.rfind("/sys/", 0) != 0)
        return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
    EXPECT_TRUE(p == EXPORT || p == PERIOD || p == DUTY || p == ENABLE) << p;
    // An attribute opened for reading as well would be read by nobody.
    EXPECT_EQ(flags & O_ACCMODE, O_WRONLY) << p;
    if (const auto e = g_fs.open_errno.find(p); e != g_fs.open_errno.end()) {
        errno = e->second;
        return -1;
    }
    g_fs.fd_paths.push_back(p);
    ++g_fs.open_fds;
    return FIRST_FAKE_FD + static_cast<int>(g_fs.fd_paths.size()) - 1;
}

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
    const std::string* path = fake_path(fd);
    if (path == nullptr) return syscall(SYS_write, fd, buf, n);
    const std::string text(static_cast<const char*>(buf), n);
    g_fs.writes +=
        (g_fs.writes.empty() ? "" : " ") + path->substr(path->rfind('/') + 1) + "=" + text;
    const auto failing = g_fs.write_errno.find(*path);
    const int e =
        failing != g_fs.write_errno.end() ? failing->second : g_fs.channel.apply(*path, text);
    if (e != 0) errno = e;
    return e == 0 ? static_cast<ssize_t>(n) : -1;
}

extern "C" int close(int fd) {
    if (fake_path(fd) == nullptr) return static_cast<int>(syscall(SYS_close, fd));
    --g_fs.open_fds;
    return 0;
}

namespace {

class BuzzerSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        g_fs = FakeSysfs{};
        g_buzzer = Buzzer{};
    }
    void TearDown() override { EXPECT_EQ(g_fs.open_fds, 0) << "a sysfs file left open"; }

    // The writes since the last call.
    static std::string take_writes() { return std::exchange(g_fs.writes, ""); }
};

TEST_F(BuzzerSysfs, OpenExportsAndSilencesTheChannel) {
    const struct {
        const char* name;
        std::map<std::string, int> open_errno, write_errno;
        int result;
        const char* writes;
    } cases[] = {
        {"fresh chip", {}, {}, 0, "export=7 enable=0 duty_cycle=0"},
        {"exported before (write)", {}, {{EXPORT, EBUSY}}, 0, "export=7 enable=0 duty_cycle=0"},
        {"exported before (open)", {{EXPORT, EBUSY}}, {}, 0, "enable=0 duty_cycle=0"},
        {"channel files missing", {{ENABLE, ENOENT}, {DUTY, ENOENT}}, {}, 0, "export=7"},
        {"no chip", {{EXPORT, ENOENT}}, {}, -1, ""},
        {"export refused", {}, {{EXPORT, EINVAL}}, -1, "export=7"},
    };
    for (const auto& c : cases) {
        SetUp();
        g_fs.open_errno = c.open_errno;
        g_fs.write_errno = c.write_errno;
        EXPECT_EQ(buzzer_open(), c.result) << c.name;
        EXPECT_EQ(g_buzzer.available, c.result == 0) << c.name;
        EXPECT_EQ(take_writes(), c.writes) << c.name;
        EXPECT_EQ(g_fs.open_fds, 0) << c.name;
    }
}

// However far the pitch jumps between two loop passes (a pass that stalled lets the rising
// tone leap), the kernel takes every step: the value that keeps duty <= period goes first.
// Only the first tone after silence enables the channel.
TEST_F(BuzzerSysfs, EveryPitchStepIsTakenByTheKernel) {
    ASSERT_EQ(buzzer_open(), 0);
    g_fs.channel.refused = 0; // silencing a fresh channel, which has no period yet
    take_writes();
    const struct {
        uint32_t hz;
        const char* writes;
    } steps[] = {
        {550, "period=1818181 duty_cycle=909090 enable=1"},
        {1350, "duty_cycle=370370 period=740740"},
        {550, "period=1818181 duty_cycle=909090"},
        {400, "period=2500000 duty_cycle=1250000"},
        {1700, "duty_cycle=294117 period=588235"},
        {1, "period=1000000000 duty_cycle=500000000"},
        {1000000, "duty_cycle=500 period=1000"},
        {0, ""},
    };
    for (const auto& step : steps) {
        buzzer_tone(step.hz);
        EXPECT_EQ(take_writes(), step.writes) << step.hz << " Hz";
    }
    EXPECT_EQ(g_fs.channel.refused, 0);
    EXPECT_TRUE(g_fs.channel.enabled);
    EXPECT_EQ(g_buzzer.frequency, 1000000);

    buzzer_stop();
    EXPECT_EQ(take_writes(), "duty_cycle=0 enable=0");
    EXPECT_FALSE(g_fs.channel.enabled);
    buzzer_stop();
    EXPECT_EQ(take_writes(), "") << "stop when silent touches nothing";
    buzzer_tone(1600);
    EXPECT_EQ(take_writes(), "period=625000 duty_cycle=312500 enable=1");
}

// Without a buzzer nothing is written, but buzzer_off, which needs no state, still silences
// the channel; from the termination handler it must not change errno.
TEST_F(BuzzerSysfs, WithoutABuzzerOnlyOffWrites) {
    g_fs.open_errno = {{EXPORT, ENOENT}};
    ASSERT_EQ(buzzer_open(), -1);
    HoldTone tone;
    hold_tone_start(&tone, HOLD_OPENING);
    hold_tone_update(&tone, 800);
    buzzer_tone(1000);
    buzzer_stop();
    hold_tone_confirm(&tone);
    EXPECT_EQ(take_writes(), "");

    g_fs.write_errno = {{ENABLE, EIO}};
    errno = EAGAIN;
    buzzer_off();
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(take_writes(), "duty_cycle=0 enable=0");
}

// The beep of each kind, from a sounding hold tone or from silence, for its 100 ms.
TEST_F(BuzzerSysfs, ConfirmationBeepsOneHundredMilliseconds) {
    ASSERT_EQ(buzzer_open(), 0);
    const struct {
        HoldKind kind;
        bool sounding;
        const char* writes;
    } cases[] = {
        {HOLD_CLOSING, true,
         "duty_cycle=0 enable=0 period=588235 duty_cycle=294117 enable=1 duty_cycle=0 enable=0"},
        {HOLD_OPENING, false, "period=625000 duty_cycle=312500 enable=1 duty_cycle=0 enable=0"},
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
