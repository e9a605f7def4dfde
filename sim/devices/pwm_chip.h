#pragma once
// The PWM controller's sysfs directory /sys/class/pwm/pwmchip0, with the buzzer on channel 7,
// as the goggles' kernel presents it: which files and directories are there, and the PWM
// core's rules for what is written to them, as a model on the board state. The fast board's
// preload reaches it from the launcher's opens and writes, the emulated goggles' relay from
// the guest's PWM file system. Every open and write is kept in the state's history ring, at
// the time its caller gives (the launcher's clock, in ms).
//
// The launcher's termination handler silences the buzzer through these files, so nothing
// here allocates or locks.
#include <cstddef>
#include <cstdint>

#include "base/paths.h"
#include "board_state.h"

namespace vxdevices {

using vxboard::PwmChip;

// The PWM class directory, which holds the chip's.
constexpr char PWM_CLASS_DIR[] = "/sys/class/pwm";
constexpr bool below_class_dir(const char* chip) {
    for (size_t i = 0; i + 1 < sizeof PWM_CLASS_DIR; ++i)
        if (chip[i] != PWM_CLASS_DIR[i]) return false;
    return chip[sizeof PWM_CLASS_DIR - 1] == '/';
}
static_assert(below_class_dir(PWM_CHIP_DIR));

// A path below the PWM class directory, as the model knows it: a PwmFile (PWM_FILE_OTHER for
// any other path below the chip's directory), whether it is a directory, whether it is there
// now. `file` 0: the path is not the chip's at all.
struct PwmNode {
    uint32_t file;
    bool directory;
    bool exists;
};
PwmNode pwm_node(const PwmChip& chip, const char* path);

// The names in directory `path` now, one at a time: the `index`th, or nullptr past the last.
const char* pwm_dir_entry(const PwmChip& chip, const char* path, size_t index);

// An open of `file` with the access mode `access` (O_RDONLY, O_WRONLY or O_RDWR): 0 or the
// errno the kernel fails it with.
int pwm_open(PwmChip& chip, uint32_t file, int access, uint64_t at_ms);

// A write of `n` bytes of `text` to `file`, opened with `access`: 0 or the errno.
int pwm_write(PwmChip& chip, uint32_t file, int access, const char* text, size_t n, uint64_t at_ms);

// What a read of an attribute gives: its value in decimal and a newline, into `out`; the
// number of bytes, at most `cap`.
size_t pwm_read(const PwmChip& chip, uint32_t file, char* out, size_t cap);

} // namespace vxdevices
