// /dev/remote_i2c's one ioctl on a launcher's descriptor: the request record and the payload
// it points at, in the launcher's own memory, handed to the transport's model.
#include <cerrno>

#include "devices/remote_i2c.h"
#include "hw/remote_i2c.h"
#include "preload.h"

namespace vxpreload {

int remote_i2c_ioctl(BoardState& s, OpenDevice& fd, unsigned long req, void* arg) {
    if (req != REMOTE_I2C_IOCTL) return fail(ENOTTY);
    const auto* r = static_cast<const RemoteI2cRequest*>(arg);
    const int err =
        vxdevices::remote_i2c_transfer(s, fd.i2c, r->op, static_cast<uint8_t*>(r->payload), r->len);
    return err == 0 ? 0 : fail(err);
}

} // namespace vxpreload
