#include "hw/buzzer.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/sys.h"

Buzzer g_buzzer;

namespace {

constexpr size_t PATH_BYTES = 128;
constexpr size_t NUMBER_BYTES = 32;
constexpr size_t CHANNEL_BYTES = 8;
constexpr uint32_t US_PER_MS = 1000;

struct SysfsPath {
    char text[PATH_BYTES] = {};
};

constexpr size_t append(SysfsPath& p, size_t at, const char* s) {
    while (*s != '\0' && at + 1 < PATH_BYTES)
        p.text[at++] = *s++;
    return at;
}

// "<chip>/pwm<channel>/<leaf>", built by the compiler: buzzer_off runs in the termination
// handler, where snprintf is not safe, so no path is ever formatted at run time.
constexpr SysfsPath channel_path(const char* leaf) {
    SysfsPath p;
    size_t at = append(p, 0, PWM_CHIP_DIR);
    at = append(p, at, "/pwm");
    char digits[CHANNEL_BYTES] = {};
    size_t n = 0;
    for (int c = BUZZER_CHANNEL; n == 0 || c > 0; c /= 10)
        digits[n++] = static_cast<char>('0' + c % 10);
    while (n > 0 && at + 1 < PATH_BYTES)
        p.text[at++] = digits[--n];
    at = append(p, at, "/");
    append(p, at, leaf);
    return p;
}

constexpr SysfsPath chip_path(const char* leaf) {
    SysfsPath p;
    const size_t at = append(p, 0, PWM_CHIP_DIR);
    append(p, append(p, at, "/"), leaf);
    return p;
}

constexpr SysfsPath EXPORT_PATH = chip_path("export");
constexpr SysfsPath PERIOD_PATH = channel_path("period");
constexpr SysfsPath DUTY_PATH = channel_path("duty_cycle");
constexpr SysfsPath ENABLE_PATH = channel_path("enable");

constexpr size_t text_length(const char* s) {
    size_t n = 0;
    while (s[n] != '\0')
        ++n;
    return n;
}

int open_for_write(const char* path) {
    return sys_open(path, O_WRONLY);
}

// 0, or the errno of the failed write. sysfs takes a value in one write.
int write_all(int fd, const char* text) {
    return sys_write_all(fd, text, text_length(text));
}

// The text goes without NUL or newline: the PWM attributes parse the whole buffer.
void write_file(const SysfsPath& path, const char* text) {
    const int fd = open_for_write(path.text);
    if (fd < 0) return;
    write_all(fd, text);
    close(fd);
}

void write_number(const SysfsPath& path, uint32_t value) {
    char text[NUMBER_BYTES];
    snprintf(text, sizeof text, "%u", value);
    write_file(path, text);
}

// EBUSY from the export means the channel was exported before (an earlier launcher run):
// it is there all the same.
bool export_channel() {
    char number[CHANNEL_BYTES];
    snprintf(number, sizeof number, "%d", BUZZER_CHANNEL);
    const int fd = open_for_write(EXPORT_PATH.text);
    if (fd < 0) return errno == EBUSY;
    const int err = write_all(fd, number);
    close(fd);
    return err == 0 || err == EBUSY;
}

} // namespace

uint32_t buzzer_period_ns(uint32_t hz) {
    return hz == 0 ? 0 : NS_PER_S / hz;
}

uint32_t hold_tone_frequency(HoldKind kind, uint32_t elapsed_ms) {
    const bool closing = kind == HOLD_CLOSING;
    const uint32_t base = closing ? TONE_CLOSE_BASE_HZ : TONE_OPEN_BASE_HZ;
    const uint32_t rise = closing ? TONE_CLOSE_RISE_HZ : TONE_OPEN_RISE_HZ;
    const uint32_t rise_ms = closing ? TONE_CLOSE_RISE_MS : TONE_OPEN_RISE_MS;
    const uint32_t t = elapsed_ms < rise_ms ? elapsed_ms : rise_ms;
    return base + t * rise / rise_ms;
}

int buzzer_open() {
    if (!export_channel()) return -1;
    // Whatever an earlier run left sounding stops here.
    write_file(ENABLE_PATH, "0");
    write_file(DUTY_PATH, "0");
    g_buzzer.available = true;
    return 0;
}

void buzzer_tone(uint32_t hz) {
    if (hz == 0 || !g_buzzer.available) return;
    const uint32_t period = buzzer_period_ns(hz);
    // The PWM core refuses any state whose duty cycle is longer than its period, so the
    // value that keeps the pair valid goes first: the period when it grows or shrinks a
    // little, the duty cycle when the new period is shorter than the duty now sounding (a
    // rising tone that leapt after a stalled pass).
    const uint32_t duty_now = buzzer_period_ns(static_cast<uint32_t>(g_buzzer.frequency)) >> 1;
    if (period < duty_now) {
        write_number(DUTY_PATH, period >> 1);
        write_number(PERIOD_PATH, period);
    } else {
        write_number(PERIOD_PATH, period);
        write_number(DUTY_PATH, period >> 1);
    }
    if (g_buzzer.frequency == 0) write_file(ENABLE_PATH, "1");
    g_buzzer.frequency = static_cast<int32_t>(hz);
}

void buzzer_off() {
    // May interrupt the main loop between a failed call and its errno check.
    const int saved_errno = errno;
    write_file(DUTY_PATH, "0");
    write_file(ENABLE_PATH, "0");
    g_buzzer.frequency = 0;
    errno = saved_errno;
}

void buzzer_stop() {
    if (g_buzzer.frequency != 0) buzzer_off();
}

void hold_tone_start(HoldTone* tone, HoldKind kind) {
    tone->kind = kind;
    buzzer_tone(kind == HOLD_CLOSING ? TONE_CLOSE_BASE_HZ : TONE_OPEN_BASE_HZ);
}

void hold_tone_update(HoldTone* tone, uint32_t elapsed_ms) {
    if (!g_buzzer.available) return;
    buzzer_tone(hold_tone_frequency(tone->kind, elapsed_ms));
}

void hold_tone_confirm(HoldTone* tone) {
    if (g_buzzer.frequency != 0) buzzer_off();
    if (!g_buzzer.available) return;
    buzzer_tone(tone->kind == HOLD_CLOSING ? TONE_CLOSE_CONFIRM_HZ : TONE_OPEN_CONFIRM_HZ);
    sleep_us(TONE_CONFIRM_MS * US_PER_MS);
    buzzer_off();
}
