#pragma once
// The board's work directory: the files it shares with the sandbox, each made by the board
// and bound where the launcher looks for it.
#include "base/paths.h"
#include "board/board.h"

namespace vxboard {

// Paths below the work directory.
constexpr char STATE_FILE[] = "/state";
constexpr char MEM_FILE[] = "/mem";
constexpr char FB_FILE[] = "/fb0";
constexpr char I2C_FILE[] = "/remote_i2c";
constexpr char TMP_DIR[] = "/tmp";         // the sandbox's /tmp, unless it has a tmpfs
constexpr char RECORD_FILES[] = "/record"; // the goggles' storage, the apps' directory in it
// The sandbox's /etc/ld.so.preload: the board's library, by the loader's $LIB.
constexpr char LD_SO_PRELOAD_FILE[] = "/ld.so.preload";
constexpr char LD_SO_PRELOAD_TEXT[] = "/run/vx-board/preload/$LIB/libvx-preload.so\n";

// The device nodes, each present unless its test leaves it out.
struct DeviceFile {
    bool BoardConfig::*wanted;
    const char* file;
    const char* node; // the launcher's path
};

constexpr DeviceFile DEVICE_FILES[] = {
    {&BoardConfig::with_mem, MEM_FILE, ADC_MEM_DEVICE},
    {&BoardConfig::with_fb, FB_FILE, FB_DEVICE},
    {&BoardConfig::with_i2c, I2C_FILE, REMOTE_I2C_DEVICE},
};

// The framebuffer's state as the goggles' driver sets it up for the launcher's screen.
void set_up_fb(FbDevice& fb, const BoardConfig& config);

} // namespace vxboard
