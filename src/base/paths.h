#pragma once
// The launcher's fixed paths: where it finds its apps and stages them, and the device nodes
// and sysfs files it drives. Nothing configures them; the virtual board builds its sandbox
// from these same names.

// The goggles' storage, where their recordings lie and the apps below.
constexpr char RECORD_DIR[] = "/record";
// Apps: one sub-directory each, staged under the staging directory with their logs and pid
// files ("NAME.log", "NAME.pid" and the directory "NAME/").
constexpr char APPS_DIR[] = "/record/vorna-x/apps";
constexpr char STAGING_DIR[] = "/tmp/vorna-x";
constexpr char PROC_DIR[] = "/proc";
constexpr char DEV_NULL[] = "/dev/null";

// Devices.
constexpr char FB_DEVICE[] = "/dev/fb0";
constexpr char ADC_MEM_DEVICE[] = "/dev/mem";
constexpr char REMOTE_I2C_DEVICE[] = "/dev/remote_i2c";
constexpr char PWM_CHIP_DIR[] = "/sys/class/pwm/pwmchip0";
constexpr int BUZZER_CHANNEL = 7;
