#include "goggles/qemu_command.h"

#include "base/screen.h"
#include "devices/relay.h"
#include "goggles/guest_memory.h"

namespace vxgoggles {

namespace {

constexpr char QEMU[] = "qemu-system-arm";
constexpr uint64_t MIB = 1 << 20;

// A serial port the guest finds by name, on a socket qemu connects to.
void add_port(std::vector<std::string>& cmd, const std::string& id, const std::string& socket,
              const char* name) {
    cmd.insert(cmd.end(), {"-chardev", "socket,id=" + id + ",path=" + socket, "-device",
                           "virtserialport,chardev=" + id + ",name=" + name});
}

} // namespace

std::vector<std::string> qemu_command(const QemuFiles& f) {
    const std::string ram_mib = std::to_string(GUEST_RAM_BYTES / MIB);
    std::vector<std::string> cmd = {
        QEMU, "-machine", "virt,memory-backend=ram", "-cpu", "cortex-a15", "-m", ram_mib + "M",
        // The RAM in a file that the board maps too, where it plays the ADC.
        "-object",
        "memory-backend-file,id=ram,size=" + ram_mib + "M,mem-path=" + f.ram + ",share=on",
        // No network card: without one qemu also wants no network boot ROM, which Debian's
        // qemu-system-arm only recommends.
        "-nic", "none",
        // The virtio-mmio transport's modern mode: in its legacy one the GPU never binds.
        "-global", "virtio-mmio.force-legacy=false", "-device",
        "virtio-gpu-device,xres=" + std::to_string(SCREEN_W) + ",yres=" + std::to_string(SCREEN_H),
        "-device", "virtio-serial-device"};
    add_port(cmd, "agent", f.agent_socket, vxdevices::AGENT_PORT);
    add_port(cmd, "i2c", f.i2c_socket, vxdevices::RELAY_I2C_PORT);
    add_port(cmd, "pwm", f.pwm_socket, vxdevices::RELAY_PWM_PORT);
    const std::string kernel_mem = std::to_string(GUEST_KERNEL_MEM / MIB);
    cmd.insert(cmd.end(), {"-chardev", "socket,id=qmp,path=" + f.qmp_socket, "-mon",
                           "chardev=qmp,mode=control", "-display", "none", "-monitor", "none",
                           "-serial", "file:" + f.console,
                           // A kernel that panics ends qemu rather than rebooting it.
                           "-no-reboot", "-kernel", f.kernel, "-initrd", f.initrd, "-append",
                           "console=ttyAMA0 quiet panic=1 mem=" + kernel_mem + "M"});
    return cmd;
}

} // namespace vxgoggles
