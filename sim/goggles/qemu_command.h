#pragma once
// The command line that makes qemu the emulated goggles: a 32-bit ARM board with the screen's
// display, the board's serial ports and the RAM in a file the board shares.
#include <string>
#include <vector>

namespace vxgoggles {

struct QemuFiles {
    std::string kernel, initrd; // the guest's kernel, and its initramfs with the release's
    std::string ram;            // the RAM's file
    std::string console;        // where the guest's console goes
    std::string agent_socket, i2c_socket, pwm_socket, qmp_socket; // the board listens on these
};

std::vector<std::string> qemu_command(const QemuFiles& files);

} // namespace vxgoggles
