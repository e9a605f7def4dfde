#include "goggles/relay_answer.h"

#include <cerrno>
#include <string>

#include "devices/pwm_chip.h"

namespace vxgoggles {

namespace {

using vxdevices::RelayReply;
using vxdevices::RelayRequest;

std::string path_of(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

int transfer(vxboard::BoardState& s, I2cSessions& sessions, const RelayRequest& req,
             std::vector<uint8_t>& bytes) {
    const auto at = sessions.find(req.session);
    if (at == sessions.end()) return EBADF;
    return vxdevices::remote_i2c_transfer(s, *at->second, req.op, bytes.data(),
                                          static_cast<uint32_t>(bytes.size()));
}

} // namespace

RelayReply relay_answer(vxboard::BoardState& s, I2cSessions& sessions, const RelayRequest& req,
                        std::vector<uint8_t>& bytes, uint64_t at_ms) {
    RelayReply reply{vxdevices::RELAY_MAGIC, 0, 0, 0, 0, 0};
    std::vector<uint8_t> out;
    switch (req.kind) {
    case vxdevices::RELAY_I2C_OPEN:
        sessions[req.session] = std::make_unique<vxdevices::I2cSession>();
        break;
    case vxdevices::RELAY_I2C_RELEASE:
        sessions.erase(req.session);
        break;
    case vxdevices::RELAY_I2C_TRANSFER:
        reply.err = transfer(s, sessions, req, bytes);
        if (reply.err == 0) out = bytes;
        break;
    case vxdevices::RELAY_PWM_NODE: {
        const vxdevices::PwmNode n = vxdevices::pwm_node(s.pwm, path_of(bytes).c_str());
        reply.err = n.exists ? 0 : ENOENT;
        reply.file = n.file;
        reply.directory = n.directory ? 1 : 0;
        break;
    }
    case vxdevices::RELAY_PWM_LIST: {
        const std::string dir = path_of(bytes);
        if (!vxdevices::pwm_node(s.pwm, dir.c_str()).exists) {
            reply.err = ENOENT;
            break;
        }
        for (size_t i = 0; const char* name = vxdevices::pwm_dir_entry(s.pwm, dir.c_str(), i); ++i)
            out.insert(out.end(), name, name + std::char_traits<char>::length(name) + 1);
        break;
    }
    case vxdevices::RELAY_PWM_OPEN: {
        const std::string path = path_of(bytes);
        const vxdevices::PwmNode n = vxdevices::pwm_node(s.pwm, path.c_str());
        reply.file = n.file;
        reply.err = n.directory
                        ? EISDIR
                        : vxdevices::pwm_open(s.pwm, n.file, static_cast<int>(req.op), at_ms);
        break;
    }
    case vxdevices::RELAY_PWM_WRITE:
        reply.err =
            vxdevices::pwm_write(s.pwm, req.session, static_cast<int>(req.op),
                                 reinterpret_cast<const char*>(bytes.data()), bytes.size(), at_ms);
        break;
    case vxdevices::RELAY_PWM_READ: {
        char text[32];
        const size_t n = vxdevices::pwm_read(s.pwm, req.session, text, sizeof text);
        out.assign(text, text + n);
        break;
    }
    default:
        reply.err = EINVAL;
    }
    reply.len = static_cast<uint32_t>(out.size());
    bytes = std::move(out);
    return reply;
}

} // namespace vxgoggles
