#include "goggles/cpio.h"

#include <cstdio>

namespace vxgoggles {

namespace {

constexpr char MAGIC[] = "070701";
constexpr char TRAILER[] = "TRAILER!!!";
constexpr size_t ALIGN = 4; // the header with its name, and each file's data, are padded to it

void pad(std::string& out) {
    while (out.size() % ALIGN != 0)
        out += '\0';
}

// The header's thirteen fields are eight hex digits each: inode, mode, uid, gid, links,
// mtime, file size, device major and minor, special device major and minor, the name's size
// with its NUL, and a checksum (0 in this format).
void put(std::string& out, unsigned ino, const std::string& name, unsigned mode,
         const std::string& data) {
    char header[6 + 13 * 8 + 1];
    std::snprintf(header, sizeof header, "%s%08X%08X%08X%08X%08X%08X%08zX%08X%08X%08X%08X%08zX%08X",
                  MAGIC, ino, mode, 0u, 0u, 1u, 0u, data.size(), 0u, 0u, 0u, 0u, name.size() + 1,
                  0u);
    out += header;
    out += name;
    out += '\0';
    pad(out);
    out += data;
    pad(out);
}

} // namespace

std::string cpio_newc(const std::vector<CpioEntry>& entries) {
    std::string out;
    unsigned ino = 1;
    for (const CpioEntry& e : entries)
        put(out, ino++, e.path, e.mode, e.data);
    put(out, 0, TRAILER, 0, {});
    return out;
}

} // namespace vxgoggles
