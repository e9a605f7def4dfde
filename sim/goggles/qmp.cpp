#include "goggles/qmp.h"

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vxgoggles {

namespace {

bool write_text(int fd, const std::string& text) {
    size_t at = 0;
    while (at < text.size()) {
        const ssize_t n = write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

Qmp::Qmp(int fd) : fd_(fd) {
    if (read_line().find("\"QMP\"") == std::string::npos ||
        !run(R"({"execute":"qmp_capabilities"})"))
        throw std::runtime_error("qemu's machine protocol did not answer");
}

Qmp::~Qmp() {
    close(fd_);
}

// One message a line; empty at the end of the stream.
std::string Qmp::read_line() {
    for (;;) {
        const size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            return line;
        }
        char buf[4096];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {};
        pending_.append(buf, static_cast<size_t>(n));
    }
}

// Events may come before the command's answer: they are passed over.
bool Qmp::run(const std::string& command, std::string* reply) {
    if (!write_text(fd_, command + "\n")) return false;
    for (;;) {
        std::string line = read_line();
        if (line.empty()) return false;
        if (line.find("\"event\"") != std::string::npos) continue;
        const bool ok = line.find("\"return\"") != std::string::npos;
        if (reply) *reply = std::move(line);
        return ok;
    }
}

bool Qmp::screendump(const std::string& ppm_path) {
    return run(R"({"execute":"screendump","arguments":{"filename":")" + ppm_path + "\"}}");
}

bool read_ppm(const std::string& path, std::vector<uint32_t>& pixels, uint32_t& width,
              uint32_t& height) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    unsigned maxval = 0;
    if (!(in >> magic >> width >> height >> maxval) || magic != "P6" || maxval != 255) return false;
    in.get(); // the one whitespace byte before the samples
    const std::string rgb((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (rgb.size() < static_cast<size_t>(width) * height * 3) return false;
    pixels.resize(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0xFF000000u | static_cast<uint32_t>(static_cast<uint8_t>(rgb[3 * i])) << 16 |
                    static_cast<uint32_t>(static_cast<uint8_t>(rgb[3 * i + 1])) << 8 |
                    static_cast<uint8_t>(rgb[3 * i + 2]);
    return true;
}

} // namespace vxgoggles
