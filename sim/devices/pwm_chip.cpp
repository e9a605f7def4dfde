#include "devices/pwm_chip.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "base/ctext.h"

namespace vxdevices {

namespace {

// The tree the kernel shows, as the launcher's paths name it: the class directory, the
// chip's, its export file, and the buzzer's channel with the attributes the launcher writes.
constexpr auto CHIP_DIR = ctext(PWM_CHIP_DIR);
constexpr auto EXPORT_PATH = CHIP_DIR + "/export";
constexpr auto CHANNEL_DIR = CHIP_DIR + "/pwm" + decimal_text<BUZZER_CHANNEL>();
constexpr auto PERIOD_PATH = CHANNEL_DIR + "/period";
constexpr auto DUTY_PATH = CHANNEL_DIR + "/duty_cycle";
constexpr auto ENABLE_PATH = CHANNEL_DIR + "/enable";

// Where a node is: with the chip (its directory and export file), or in the channel's
// directory, which appears only once the channel is exported.
enum class Place { Class, Chip, Channel };

struct Node {
    const char* path;
    uint32_t file;
    bool directory;
    Place place;
};

constexpr Node NODES[] = {
    {PWM_CLASS_DIR, 0, true, Place::Class},
    {CHIP_DIR.c_str(), vxboard::PWM_FILE_OTHER, true, Place::Chip},
    {EXPORT_PATH.c_str(), vxboard::PWM_FILE_EXPORT, false, Place::Chip},
    {CHANNEL_DIR.c_str(), vxboard::PWM_FILE_OTHER, true, Place::Channel},
    {PERIOD_PATH.c_str(), vxboard::PWM_FILE_PERIOD, false, Place::Channel},
    {DUTY_PATH.c_str(), vxboard::PWM_FILE_DUTY, false, Place::Channel},
    {ENABLE_PATH.c_str(), vxboard::PWM_FILE_ENABLE, false, Place::Channel},
};

// Without the chip there is no directory of it at all.
bool there(const PwmChip& chip, Place place) {
    if (place == Place::Class) return true;
    if (chip.missing.load() != 0) return false;
    return place == Place::Chip || chip.exported.load() != 0;
}

const Node* node_at(const char* path) {
    for (const Node& n : NODES)
        if (std::strcmp(path, n.path) == 0) return &n;
    return nullptr;
}

bool below(const char* path, const char* dir) {
    const size_t n = std::strlen(dir);
    return std::strncmp(path, dir, n) == 0 && path[n] == '/';
}

void record(PwmChip& chip, uint32_t file, bool is_write, uint32_t value, int error,
            uint64_t at_ms) {
    const uint32_t i = chip.accesses.fetch_add(1) % vxboard::PWM_HISTORY;
    vxboard::PwmAccess& a = chip.history[i];
    a.at_ms.store(at_ms);
    a.file.store(file);
    a.is_write.store(is_write ? 1 : 0);
    a.value.store(value);
    a.error.store(error);
}

bool file_exists(const PwmChip& chip, uint32_t file) {
    for (const Node& n : NODES)
        if (!n.directory && n.file == file) return there(chip, n.place);
    return false;
}

// The decimal text of an attribute write, as the kernel's kstrtouint takes it: digits with
// an optional trailing newline.
int parse_value(const char* text, size_t n, uint32_t* out) {
    if (n > 0 && text[n - 1] == '\n') --n;
    if (n == 0) return EINVAL;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (text[i] < '0' || text[i] > '9') return EINVAL;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > UINT32_MAX) return ERANGE;
    }
    *out = static_cast<uint32_t>(v);
    return 0;
}

// Every attribute write asks the PWM core for a whole new state of the channel, and the core
// refuses a state without a period or with a duty cycle longer than the period, enabled or
// not. A freshly exported channel has no period: until one is written, the duty cycle and
// enable files refuse every value.
int apply_write(PwmChip& chip, uint32_t file, uint32_t v) {
    const uint32_t period = chip.period_ns.load();
    switch (file) {
    case vxboard::PWM_FILE_EXPORT:
        if (v >= vxboard::PWM_NPWM) return EINVAL;
        if (const uint32_t e = chip.export_errno.load()) return static_cast<int>(e);
        if (v != BUZZER_CHANNEL) return 0; // a channel the board leaves alone
        return chip.exported.exchange(1) != 0 ? EBUSY : 0;
    case vxboard::PWM_FILE_PERIOD:
        if (v == 0 || v < chip.duty_ns.load()) return EINVAL;
        chip.period_ns.store(v);
        return 0;
    case vxboard::PWM_FILE_DUTY:
        if (period == 0 || v > period) return EINVAL;
        chip.duty_ns.store(v);
        return 0;
    case vxboard::PWM_FILE_ENABLE:
        if (v > 1 || period == 0) return EINVAL;
        chip.enabled.store(v);
        return 0;
    default:
        return EINVAL;
    }
}

} // namespace

PwmNode pwm_node(const PwmChip& chip, const char* path) {
    if (const Node* n = node_at(path)) return {n->file, n->directory, there(chip, n->place)};
    if (below(path, PWM_CHIP_DIR)) return {vxboard::PWM_FILE_OTHER, false, false};
    return {0, false, false};
}

const char* pwm_dir_entry(const PwmChip& chip, const char* path, size_t index) {
    for (const Node& n : NODES) {
        if (!below(n.path, path) || !there(chip, n.place)) continue;
        const char* name = n.path + std::strlen(path) + 1;
        if (std::strchr(name, '/') != nullptr) continue;
        if (index-- == 0) return name;
    }
    return nullptr;
}

int pwm_open(PwmChip& chip, uint32_t file, int access, uint64_t at_ms) {
    int err = 0;
    if (!file_exists(chip, file))
        err = ENOENT;
    else if (file == vxboard::PWM_FILE_EXPORT && access != O_WRONLY)
        err = EACCES; // export is write-only
    record(chip, file, false, 0, err, at_ms);
    return err;
}

// A write to a descriptor opened read-only fails as the kernel fails it, before the
// attribute sees it.
int pwm_write(PwmChip& chip, uint32_t file, int access, const char* text, size_t n,
              uint64_t at_ms) {
    uint32_t value = 0;
    int err = access == O_RDONLY ? EBADF : 0;
    if (err == 0) err = parse_value(text, n, &value);
    if (err == 0) err = apply_write(chip, file, value);
    record(chip, file, true, value, err, at_ms);
    return err;
}

size_t pwm_read(const PwmChip& chip, uint32_t file, char* out, size_t cap) {
    uint32_t v = 0;
    if (file == vxboard::PWM_FILE_PERIOD)
        v = chip.period_ns.load();
    else if (file == vxboard::PWM_FILE_DUTY)
        v = chip.duty_ns.load();
    else if (file == vxboard::PWM_FILE_ENABLE)
        v = chip.enabled.load();
    else
        return 0;
    char digits[16];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    size_t at = 0;
    while (n > 0 && at < cap)
        out[at++] = digits[--n];
    if (at < cap) out[at++] = '\n';
    return at;
}

} // namespace vxdevices
