#include "guest/port.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace vxguest {

namespace {

// Without udev no /dev/virtio-ports/NAME links are made: the name is in sysfs.
constexpr char PORTS_DIR[] = "/sys/class/virtio-ports";

bool port_named(const char* port, const char* name) {
    const std::string path = std::string(PORTS_DIR) + "/" + port + "/name";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char text[64] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return false;
    text[std::strcspn(text, "\n")] = '\0';
    return std::strcmp(text, name) == 0;
}

} // namespace

int open_port(const char* name) {
    DIR* dir = opendir(PORTS_DIR);
    if (dir == nullptr) return -1;
    int fd = -1;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.' || !port_named(e->d_name, name)) continue;
        fd = open((std::string("/dev/") + e->d_name).c_str(), O_RDWR | O_CLOEXEC);
        break;
    }
    closedir(dir);
    return fd;
}

int relay_call(int fd, vxdevices::RelayRequest req, const void* bytes, vxdevices::RelayReply* reply,
               void* out, size_t cap) {
    req.magic = vxdevices::RELAY_MAGIC;
    if (!write_all(fd, &req, sizeof req) || (req.len > 0 && !write_all(fd, bytes, req.len)))
        return EIO;
    if (!read_all(fd, reply, sizeof *reply) || reply->magic != vxdevices::RELAY_MAGIC ||
        reply->len > cap)
        return EIO;
    if (reply->len > 0 && !read_all(fd, out, reply->len)) return EIO;
    return reply->err;
}

} // namespace vxguest
