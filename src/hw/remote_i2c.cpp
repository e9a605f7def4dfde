#include "hw/remote_i2c.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "base/sys.h"

namespace {

void put_u32(uint8_t* at, uint32_t v) {
    std::memcpy(at, &v, sizeof v);
}

int transfer(int fd, uint32_t op, void* payload, size_t len) {
    RemoteI2cRequest req{op, static_cast<uint32_t>(len), payload};
    return sys_ioctl(fd, REMOTE_I2C_IOCTL, &req);
}

int write_bytes(int fd, uint32_t bus, uint32_t addr, const uint8_t* bytes, uint32_t n) {
    alignas(4) uint8_t buf[REMOTE_I2C_MAX_PAYLOAD];
    const size_t len = remote_i2c_write_payload(buf, bus, addr, bytes, n);
    return transfer(fd, REMOTE_I2C_OP_WRITE, buf, len) == 0 ? 0 : -1;
}

// A register read: the address bytes out, one byte back. The out byte is only written on
// success, so callers' preset values stand for a failed read.
int read_byte(int fd, uint32_t bus, uint32_t addr, const uint8_t* reg, uint32_t w, uint8_t* out) {
    alignas(4) uint8_t buf[REMOTE_I2C_MAX_PAYLOAD];
    const size_t len = remote_i2c_write_read_payload(buf, bus, addr, reg, w, 1);
    const int r = transfer(fd, REMOTE_I2C_OP_WRITE_READ, buf, len);
    if (r == 0) *out = buf[16 + w];
    return r;
}

} // namespace

size_t remote_i2c_write_payload(uint8_t* buf, uint32_t bus, uint32_t addr, const uint8_t* bytes,
                                uint32_t n) {
    put_u32(buf, bus);
    put_u32(buf + 4, addr);
    put_u32(buf + 8, n);
    std::memcpy(buf + 12, bytes, n);
    return 12 + n;
}

size_t remote_i2c_write_read_payload(uint8_t* buf, uint32_t bus, uint32_t addr,
                                     const uint8_t* wbytes, uint32_t w, uint32_t r) {
    put_u32(buf, bus);
    put_u32(buf + 4, addr);
    put_u32(buf + 8, w);
    put_u32(buf + 12, r);
    std::memcpy(buf + 16, wbytes, w);
    std::memset(buf + 16 + w, 0, r);
    return 16 + w + r;
}

int remote_i2c_open() {
    return sys_open(REMOTE_I2C_DEVICE, O_RDWR | O_NONBLOCK);
}

int remote_i2c_close(int fd) {
    if (fd < 0) return fd;
    return close(fd);
}

int remote_i2c_select(int fd, uint32_t bus, uint32_t addr) {
    RemoteI2cSelect sel{bus, 0, addr, 0};
    return transfer(fd, REMOTE_I2C_OP_SELECT, &sel, sizeof sel);
}

int lt8668_select_page(int fd) {
    const uint8_t bytes[2] = {LT8668_PAGE_REG, LT8668_STATUS_PAGE};
    return write_bytes(fd, LT8668_BUS, LT8668_ADDR, bytes, 2);
}

int lt8668_reg_read(int fd, uint8_t reg, uint8_t* out) {
    return read_byte(fd, LT8668_BUS, LT8668_ADDR, &reg, 1, out);
}

int osd_reg_write(int fd, uint16_t reg, uint8_t value) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(reg & 0xFF), static_cast<uint8_t>(reg >> 8),
                              value};
    return write_bytes(fd, OSD_BUS, OSD_ADDR, bytes, 3);
}

int osd_reg_read(int fd, uint16_t reg, uint8_t* out) {
    const uint8_t addr[2] = {static_cast<uint8_t>(reg & 0xFF), static_cast<uint8_t>(reg >> 8)};
    return read_byte(fd, OSD_BUS, OSD_ADDR, addr, 2, out);
}
