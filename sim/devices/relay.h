#pragma once
// The emulated goggles' device relay: the guest's CUSE server for /dev/remote_i2c and its PWM
// file system hand every request to the board over a virtio serial port each, and the board
// answers it from the device models. One request at a time on a port, each followed by its
// reply. The records have fixed widths: the 32-bit ARM guest and the x86-64 host lay them out
// alike.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace vxdevices {

// The ports and the agent's socket are byte streams: a record may come or go in pieces.
// Writes and reads all `n` bytes, through interruptions; false at an error or end of file.
inline bool write_all(int fd, const void* buf, size_t n) {
    const auto* p = static_cast<const uint8_t*>(buf);
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

inline bool read_all(int fd, void* buf, size_t n) {
    auto* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
        const ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

constexpr uint32_t RELAY_MAGIC = 0x4C525856; // "VXRL"
// The longest path, text or payload a request or a reply carries.
constexpr uint32_t RELAY_MAX_BYTES = 4096;

// The virtio serial ports' names, as the guest finds them in /sys/class/virtio-ports.
constexpr char RELAY_I2C_PORT[] = "vx.i2c";
constexpr char RELAY_PWM_PORT[] = "vx.pwm";
constexpr char AGENT_PORT[] = "vx.agent";

enum RelayKind : uint32_t {
    // The transport: an open file of the device begins a session, its release ends it; a
    // transfer carries the request's operation and its payload, and the reply the payload
    // as the model left it (a read's bytes in its tail).
    RELAY_I2C_OPEN = 1,
    RELAY_I2C_RELEASE,
    RELAY_I2C_TRANSFER,
    // The PWM chip's files, by path (the request's bytes): what a path is, a directory's
    // names (the reply's bytes, each ended by a NUL), an open with its access mode, a write of
    // the request's bytes and a read of an attribute (`file` from the open).
    RELAY_PWM_NODE,
    RELAY_PWM_LIST,
    RELAY_PWM_OPEN,
    RELAY_PWM_WRITE,
    RELAY_PWM_READ,
};

struct RelayRequest {
    uint32_t magic;
    uint32_t kind;    // RelayKind
    uint32_t session; // the transport's session, or the PWM file
    uint32_t op;      // the transport's operation, or the PWM open's access mode
    uint32_t len;     // bytes that follow
    uint32_t pad;
};

struct RelayReply {
    uint32_t magic;
    int32_t err;        // 0 or an errno
    uint32_t len;       // bytes that follow
    uint32_t file;      // a PWM path's file (PwmFile, 0: not the chip's)
    uint32_t directory; // 1: the PWM path is a directory
    uint32_t pad;
};

static_assert(sizeof(RelayRequest) == 24 && sizeof(RelayReply) == 24);

} // namespace vxdevices
