#pragma once
// The guest's end of a virtio serial port to the board, found by its name, and a relay call
// over it: one request and its reply.
#include <cstddef>
#include <cstdint>

#include "devices/relay.h"

namespace vxguest {

// Opens the port named `name` (read and write); -1 when the guest has none by that name.
int open_port(const char* name);

using vxdevices::read_all;
using vxdevices::write_all;

// Sends `req` with `len` bytes of `bytes` and waits for the reply; its bytes go to `out` (room
// for `cap`). The reply's errno, or EIO when the port failed or the reply is not one.
int relay_call(int fd, vxdevices::RelayRequest req, const void* bytes, vxdevices::RelayReply* reply,
               void* out, size_t cap);

} // namespace vxguest
