// /dev/remote_i2c: the goggles' firmware driver that carries I2C transfers to the video chips
// through one ioctl. It checks that each request's payload is as long as its own counts say,
// then hands the transfer to the chip at the payload's bus and address. A select opens a
// transaction with the chip on the descriptor it came through.
#include "devices/remote_i2c.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "devices/i2c_chip.h"
#include "hw/remote_i2c.h"

namespace vxdevices {

namespace {

using vxboard::I2cBus;

// The headers of a write's and of a write-read's payload, as the launcher lays them out;
// the bytes to write follow, and after them the room for the bytes read.
struct WriteHeader {
    uint32_t bus;
    uint32_t addr;
    uint32_t len;
};
struct WriteReadHeader {
    uint32_t bus;
    uint32_t addr;
    uint32_t write_len;
    uint32_t read_len;
};
static_assert(sizeof(WriteHeader) == 12 && sizeof(WriteReadHeader) == 16);
static_assert(sizeof(RemoteI2cSelect) == 16);

constexpr const I2cChip* CHIPS[] = {&LT8668_CHIP, &OSD_CONTROLLER_CHIP};

template <typename Header> Header header_of(const uint8_t* payload) {
    Header h;
    std::memcpy(&h, payload, sizeof h);
    return h;
}

// The chip a request is addressed to: a select names it in its record, a transfer in its
// header. A payload too short for a whole select record still names its address.
const I2cChip* chip_of(const BoardState& s, uint32_t op, const uint8_t* p, uint32_t len) {
    uint32_t bus = 0, addr = 0;
    if (op == REMOTE_I2C_OP_SELECT) {
        RemoteI2cSelect sel{};
        std::memcpy(&sel, p, std::min<size_t>(len, sizeof sel));
        bus = sel.bus, addr = sel.addr;
    } else {
        const auto h = header_of<WriteHeader>(p);
        bus = h.bus, addr = h.addr;
    }
    for (const I2cChip* c : CHIPS)
        if (c->bus == bus && c->addr == addr && c->present(s)) return c;
    return nullptr;
}

int op_select(BoardState&, I2cSession& session, const I2cChip* chip, uint8_t*, uint32_t len) {
    if (len != sizeof(RemoteI2cSelect)) return EINVAL;
    if (chip == nullptr) return ENXIO;
    if (chip->selected) chip->selected(session);
    return 0;
}

// The lengths add up as the driver adds them, in 32 bits.
int op_write(BoardState& s, I2cSession& session, const I2cChip* chip, uint8_t* p, uint32_t len) {
    const auto h = header_of<WriteHeader>(p);
    if (len != uint32_t{sizeof h} + h.len) return EINVAL;
    if (chip == nullptr) return ENXIO;
    return chip->write(s, session, p + sizeof h, h.len);
}

int op_write_read(BoardState& s, I2cSession& session, const I2cChip* chip, uint8_t* p,
                  uint32_t len) {
    if (len < sizeof(WriteReadHeader)) return EINVAL;
    const auto h = header_of<WriteReadHeader>(p);
    if (len != uint32_t{sizeof h} + h.write_len + h.read_len) return EINVAL;
    if (chip == nullptr) return ENXIO;
    uint8_t* w = p + sizeof h;
    return chip->write_read(s, session, w, h.write_len, w + h.write_len, h.read_len);
}

struct Operation {
    uint32_t op;
    int (*run)(BoardState& s, I2cSession& session, const I2cChip* chip, uint8_t* payload,
               uint32_t len);
};

constexpr Operation OPERATIONS[] = {
    {REMOTE_I2C_OP_SELECT, op_select},
    {REMOTE_I2C_OP_WRITE, op_write},
    {REMOTE_I2C_OP_WRITE_READ, op_write_read},
};

int transfer(BoardState& s, I2cSession& session, uint32_t op, uint8_t* payload, uint32_t len) {
    if (len < sizeof(WriteHeader)) return EINVAL;
    const I2cChip* chip = chip_of(s, op, payload, len);
    if (chip != nullptr && chip->addressed) chip->addressed(s);
    for (const Operation& o : OPERATIONS)
        if (o.op == op) return o.run(s, session, chip, payload, len);
    return EINVAL;
}

} // namespace

int remote_i2c_transfer(BoardState& s, I2cSession& session, uint32_t op, uint8_t* payload,
                        uint32_t len) {
    I2cBus& bus = s.i2c;
    bus.transfers.fetch_add(1);
    const int r = bus.fail_all.load() ? EIO : transfer(s, session, op, payload, len);
    if (r != 0) bus.failed.fetch_add(1);
    return r;
}

} // namespace vxdevices
