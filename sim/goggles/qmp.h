#pragma once
// qemu's machine protocol (QMP) on a connected socket, for what the board asks of qemu: a
// picture of the display as the guest's display driver last gave it to qemu.
#include <cstdint>
#include <string>
#include <vector>

namespace vxgoggles {

class Qmp {
  public:
    // Takes the connected socket; reads qemu's greeting and leaves its negotiation mode.
    explicit Qmp(int fd);
    ~Qmp();
    Qmp(const Qmp&) = delete;
    Qmp& operator=(const Qmp&) = delete;

    // Runs `command` (a JSON object); true when qemu returned rather than failed it.
    bool run(const std::string& command, std::string* reply = nullptr);
    // The display into `ppm_path`, as a binary PPM.
    bool screendump(const std::string& ppm_path);

  private:
    std::string read_line();
    int fd_;
    std::string pending_;
};

// A binary PPM (P6, 8 bits a channel) as 0xFFRRGGBB words; false for anything else.
bool read_ppm(const std::string& path, std::vector<uint32_t>& pixels, uint32_t& width,
              uint32_t& height);

} // namespace vxgoggles
