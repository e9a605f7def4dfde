#include "goggles/agent_link.h"

#include <sstream>

namespace vxgoggles {

namespace {

bool unhex(const std::string& hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

} // namespace

bool AgentLink::take(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "fb") {
        GuestFb fb;
        if (!(in >> fb.xres >> fb.yres >> fb.xres_virtual >> fb.yres_virtual >> fb.line_length >>
              fb.smem_len))
            return false;
        std::lock_guard<std::mutex> lock(mu_);
        fb_ = fb;
        return true;
    }
    if (word == "fbpages") {
        std::vector<PageRun> runs;
        for (std::string run; in >> run;) {
            const size_t plus = run.find('+');
            if (plus == std::string::npos) return false;
            runs.push_back({std::stoull(run.substr(0, plus)), std::stoull(run.substr(plus + 1))});
        }
        {
            std::lock_guard<std::mutex> lock(mu_);
            pages_ = std::move(runs);
        }
        if (events_.framebuffer) events_.framebuffer();
        return true;
    }
    if (word == "pan") {
        uint32_t x = 0, y = 0;
        if (!(in >> x >> y)) return false;
        if (events_.pan) events_.pan(x, y);
        return true;
    }
    if (word == "file") {
        std::string path, hex, bytes;
        uint64_t offset = 0;
        if (!(in >> path >> offset >> hex) || !unhex(hex, bytes)) return false;
        if (events_.file) events_.file(path, offset, bytes);
        return true;
    }
    if (word == "trunc") {
        std::string path;
        uint64_t size = 0;
        if (!(in >> path >> size)) return false;
        if (events_.truncate) events_.truncate(path, size);
        return true;
    }
    if (word == "exit") {
        pid_t pid = 0;
        int status = 0, err = 0;
        if (!(in >> pid >> status >> err) || pid <= 0) return false;
        if (events_.exit) events_.exit(pid, status, err);
        return true;
    }
    if (word == "synced") {
        uint64_t n = 0;
        if (!(in >> n)) return false;
        if (events_.synced) events_.synced(n);
        return true;
    }
    if (word == "done") {
        uint64_t n = 0;
        int status = 0;
        if (!(in >> n >> status)) return false;
        if (events_.done) events_.done(n, status);
        return true;
    }
    if (word == "ps-begin") {
        std::lock_guard<std::mutex> lock(mu_);
        incoming_.clear();
        return true;
    }
    if (word == "ps") {
        GuestProcess p{};
        if (!(in >> p.pid >> p.ppid >> p.pgid >> p.state >> p.comm)) return false;
        std::lock_guard<std::mutex> lock(mu_);
        incoming_.push_back(p);
        return true;
    }
    if (word == "ps-end") {
        {
            std::lock_guard<std::mutex> lock(mu_);
            processes_ = incoming_;
        }
        if (events_.processes) events_.processes();
        return true;
    }
    return false;
}

GuestFb AgentLink::fb() const {
    std::lock_guard<std::mutex> lock(mu_);
    return fb_;
}

std::vector<PageRun> AgentLink::fb_pages() const {
    std::lock_guard<std::mutex> lock(mu_);
    return pages_;
}

std::vector<GuestProcess> AgentLink::processes() const {
    std::lock_guard<std::mutex> lock(mu_);
    return processes_;
}

} // namespace vxgoggles
