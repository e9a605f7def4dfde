#pragma once
#include <cstddef>
#include <cstdint>

#include "base/paths.h"

// The goggles' firmware carries I2C transfers to its video chips through one ioctl on
// /dev/remote_i2c: the request record names an operation and points at its payload.

constexpr unsigned long REMOTE_I2C_IOCTL = 0xC00C4110; // _IOWR('A', 0x10, 12 bytes)

constexpr uint32_t REMOTE_I2C_OP_SELECT = 1;
constexpr uint32_t REMOTE_I2C_OP_WRITE = 2;
constexpr uint32_t REMOTE_I2C_OP_WRITE_READ = 3;

constexpr uint32_t LT8668_BUS = 1;
constexpr uint32_t LT8668_ADDR = 0x43;
constexpr uint8_t LT8668_PAGE_REG = 0xFF;
constexpr uint8_t LT8668_STATUS_PAGE = 0xE0;
constexpr uint32_t OSD_BUS = 2;
constexpr uint32_t OSD_ADDR = 0x5B;

struct RemoteI2cRequest {
    uint32_t op;
    uint32_t len; // the whole payload, in bytes
    void* payload;
};
#if defined(__arm__)
static_assert(sizeof(RemoteI2cRequest) == 12, "the driver reads a 12-byte request record");
#endif

struct RemoteI2cSelect {
    uint32_t bus;
    uint32_t zero0;
    uint32_t addr;
    uint32_t zero1;
};
static_assert(sizeof(RemoteI2cSelect) == 16);

// The largest transfer this system makes: a 16-bit register address and one byte.
constexpr size_t REMOTE_I2C_MAX_PAYLOAD = 16 + 2 + 1;

// Payload builders: fill `buf` (4-byte aligned, at least REMOTE_I2C_MAX_PAYLOAD bytes) and
// return the payload length.
size_t remote_i2c_write_payload(uint8_t* buf, uint32_t bus, uint32_t addr, const uint8_t* bytes,
                                uint32_t n);
size_t remote_i2c_write_read_payload(uint8_t* buf, uint32_t bus, uint32_t addr,
                                     const uint8_t* wbytes, uint32_t w, uint32_t r);

int remote_i2c_open();
int remote_i2c_close(int fd);
int remote_i2c_select(int fd, uint32_t bus, uint32_t addr);

int lt8668_select_page(int fd);
int lt8668_reg_read(int fd, uint8_t reg, uint8_t* out);
int osd_reg_write(int fd, uint16_t reg, uint8_t value);
int osd_reg_read(int fd, uint16_t reg, uint8_t* out);
