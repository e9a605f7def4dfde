// /dev/remote_i2c in the emulated goggles: a character device in user space (CUSE) whose
// ioctl carries each of the launcher's requests to the board, which answers it from the
// transport's model, and gives the launcher the board's answer as the firmware's driver would.
//
//   vx-guest-i2c          (started by the guest's start-up, stays in the foreground)
//
// The request record holds a pointer to its payload, so the kernel cannot know how much of
// the caller's memory the ioctl touches: the device asks for unrestricted ioctls, and the
// handler has the kernel retry the call twice, first to fetch the record, then to fetch the
// payload it points at and to take back what a read writes into it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/uio.h>

#include <cuse_lowlevel.h>

#include "devices/relay.h"
#include "guest/port.h"
#include "hw/remote_i2c.h"

namespace {

using vxdevices::RelayReply;
using vxdevices::RelayRequest;

static_assert(sizeof(RemoteI2cRequest) == 12, "the launcher's record as the 32-bit guest has it");

int g_port = -1;
uint32_t g_next_session = 1;

int relay(uint32_t kind, uint32_t session, uint32_t op, const void* bytes, uint32_t len, void* out,
          size_t cap) {
    RelayReply reply{};
    return vxguest::relay_call(g_port, RelayRequest{0, kind, session, op, len, 0}, bytes, &reply,
                               out, cap);
}

void on_open(fuse_req_t req, fuse_file_info* fi) {
    fi->fh = g_next_session++;
    fi->nonseekable = 1;
    const int err =
        relay(vxdevices::RELAY_I2C_OPEN, static_cast<uint32_t>(fi->fh), 0, nullptr, 0, nullptr, 0);
    if (err != 0) {
        fuse_reply_err(req, err);
        return;
    }
    fuse_reply_open(req, fi);
}

void on_release(fuse_req_t req, fuse_file_info* fi) {
    relay(vxdevices::RELAY_I2C_RELEASE, static_cast<uint32_t>(fi->fh), 0, nullptr, 0, nullptr, 0);
    fuse_reply_err(req, 0);
}

void on_ioctl(fuse_req_t req, int cmd, void* arg, fuse_file_info* fi, unsigned, const void* in,
              size_t in_size, size_t) {
    if (static_cast<unsigned long>(static_cast<unsigned>(cmd)) != REMOTE_I2C_IOCTL) {
        fuse_reply_err(req, ENOTTY);
        return;
    }
    const iovec record{arg, sizeof(RemoteI2cRequest)};
    if (in_size < sizeof(RemoteI2cRequest)) {
        fuse_reply_ioctl_retry(req, &record, 1, nullptr, 0);
        return;
    }
    RemoteI2cRequest r{};
    std::memcpy(&r, in, sizeof r);
    // A payload longer than a relay carries is longer than any transfer the chips take; the
    // model refuses one whose counts do not add up, and so does the driver.
    if (r.len > vxdevices::RELAY_MAX_BYTES) {
        fuse_reply_err(req, EINVAL);
        return;
    }
    const iovec payload{r.payload, r.len};
    if (in_size < sizeof r + r.len) {
        const iovec ins[] = {record, payload};
        fuse_reply_ioctl_retry(req, ins, 2, &payload, 1);
        return;
    }
    uint8_t answer[vxdevices::RELAY_MAX_BYTES];
    const int err = relay(vxdevices::RELAY_I2C_TRANSFER, static_cast<uint32_t>(fi->fh), r.op,
                          static_cast<const uint8_t*>(in) + sizeof r, r.len, answer, sizeof answer);
    if (err != 0) {
        fuse_reply_err(req, err);
        return;
    }
    fuse_reply_ioctl(req, 0, answer, r.len);
}

} // namespace

int main(int argc, char** argv) {
    g_port = vxguest::open_port(vxdevices::RELAY_I2C_PORT);
    if (g_port < 0) {
        std::fprintf(stderr, "vx-guest-i2c: no port %s\n", vxdevices::RELAY_I2C_PORT);
        return 1;
    }
    // The node's name under /dev, as the firmware's driver names it.
    constexpr char DEV_DIR[] = "/dev/";
    static_assert(std::string_view(REMOTE_I2C_DEVICE).starts_with(DEV_DIR));
    char devname[64];
    std::snprintf(devname, sizeof devname, "DEVNAME=%s", REMOTE_I2C_DEVICE + sizeof DEV_DIR - 1);
    const char* dev_info[] = {devname};
    cuse_info info{};
    info.dev_info_argc = 1;
    info.dev_info_argv = dev_info;
    info.flags = CUSE_UNRESTRICTED_IOCTL;
    cuse_lowlevel_ops ops{};
    ops.open = on_open;
    ops.release = on_release;
    ops.ioctl = on_ioctl;
    // In the foreground, one request at a time: the relay carries one at a time.
    char foreground[] = "-f", single[] = "-s";
    char* args[] = {argv[0], foreground, single, nullptr};
    (void)argc;
    return cuse_lowlevel_main(3, args, &info, &ops, nullptr);
}
