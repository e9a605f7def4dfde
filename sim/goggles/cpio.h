#pragma once
// An initramfs archive in the kernel's "newc" cpio format, which the kernel unpacks after the
// guest's own: how the board hands the release archive to the emulated goggles at each boot.
#include <string>
#include <vector>

namespace vxgoggles {

struct CpioEntry {
    std::string path; // relative, without a leading '/'
    unsigned mode;    // with the file type bits: S_IFDIR | 0755, S_IFREG | 0644
    std::string data; // a file's bytes
};

std::string cpio_newc(const std::vector<CpioEntry>& entries);

} // namespace vxgoggles
