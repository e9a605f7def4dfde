// The board's eyes in the emulated goggles: it tells the board, over a port of its own, what
// only the guest can see, and carries out the board's few commands. One line a message:
//
//   fb XRES YRES XRES_VIRTUAL YRES_VIRTUAL LINE_LENGTH SMEM_LEN    the framebuffer, once
//   fbpages PFN+COUNT...         where its memory lies in the guest's RAM, in runs of pages
//   pan XOFFSET YOFFSET          the framebuffer's pan position, at each change
//   file PATH OFFSET HEX         bytes appended to a followed file (the logs, the pid files)
//   trunc PATH SIZE              a followed file got shorter (an app's log of a new run)
//   ps PID PPID PGID STATE COMM  the guest's processes, between ps-begin and ps-end, when
//                                they changed
//
// and from the board: `kill PID SIG` (a negative PID: a process group), `busy MS` (look often
// for the next MS ms).
//
// The board reads the framebuffer's memory itself, from the guest's RAM, which is a file it
// shares with qemu: the driver's pages do not move once allocated, so their page frames are
// told once. The pan position is not in memory the board can read: sysfs has it.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fb.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/paths.h"
#include "devices/relay.h"
#include "guest/port.h"

namespace {

// Every look costs the guest's emulated CPU its wake-up and system calls, so the agent looks
// often only while someone uses the goggles: the board says so at each press and release
// (`busy MS`). Then the pan position, which a picture waits for, is read every 20 ms; idle,
// every 200 ms (an app's picture, or the launcher's after an app, is seen that late).
constexpr int BUSY_TICK_MS = 20;
constexpr int IDLE_TICK_MS = 200;
constexpr int64_t FILES_EVERY_MS = 200;     // the followed files
constexpr int64_t PROCESSES_EVERY_MS = 500; // the process list
constexpr size_t PAGE_BYTES = 4096;
constexpr size_t FILE_CHUNK = 2048; // bytes of a followed file a line carries
constexpr char PAN_FILE[] = "/sys/class/graphics/fb0/pan";
constexpr char LAUNCHER_LOG[] = "/tmp/vornax-launcher.log";
constexpr char LAUNCHER_PID[] = "/tmp/vornax-launcher.pid"; // its start-up script writes it
// A present page's frame number in /proc/self/pagemap: bit 63 present, bits 0-54 the frame.
constexpr uint64_t PAGEMAP_PRESENT = 1ull << 63;
constexpr uint64_t PAGEMAP_PFN_MASK = (1ull << 55) - 1;

int g_port = -1;

void send(const std::string& line) {
    vxguest::write_all(g_port, line.data(), line.size());
}

std::string read_text(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buf[512];
    ssize_t n;
    do
        n = read(fd, buf, sizeof buf - 1);
    while (n < 0 && errno == EINTR);
    close(fd);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// The framebuffer's geometry and its pages' frames, by mapping it and asking the page map.
void report_framebuffer() {
    const int fd = open(FB_DEVICE, O_RDONLY | O_CLOEXEC);
    fb_var_screeninfo var{};
    fb_fix_screeninfo fix{};
    if (fd < 0 || ioctl(fd, FBIOGET_VSCREENINFO, &var) != 0 ||
        ioctl(fd, FBIOGET_FSCREENINFO, &fix) != 0) {
        send("fb none\n");
        return;
    }
    char line[160];
    std::snprintf(line, sizeof line, "fb %u %u %u %u %u %u\n", var.xres, var.yres, var.xres_virtual,
                  var.yres_virtual, fix.line_length, fix.smem_len);
    send(line);
    void* map = mmap(nullptr, fix.smem_len, PROT_READ, MAP_SHARED, fd, 0);
    const int pagemap = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
    if (map == MAP_FAILED || pagemap < 0) {
        send("fbpages\n");
        return;
    }
    // The mapping stays, so that the pages stay where the board reads them.
    const auto* bytes = static_cast<const volatile uint8_t*>(map);
    const size_t pages = fix.smem_len / PAGE_BYTES;
    std::string runs = "fbpages";
    uint64_t start = 0, count = 0;
    for (size_t i = 0; i < pages; ++i) {
        (void)bytes[i * PAGE_BYTES]; // faulted in, so that the page map has it
        uint64_t entry = 0;
        const off_t at =
            static_cast<off_t>((reinterpret_cast<uintptr_t>(map) / PAGE_BYTES + i) * sizeof entry);
        if (pread(pagemap, &entry, sizeof entry, at) != sizeof entry ||
            (entry & PAGEMAP_PRESENT) == 0)
            break;
        const uint64_t pfn = entry & PAGEMAP_PFN_MASK;
        if (count > 0 && pfn == start + count) {
            ++count;
            continue;
        }
        if (count > 0) runs += " " + std::to_string(start) + "+" + std::to_string(count);
        start = pfn;
        count = 1;
    }
    if (count > 0) runs += " " + std::to_string(start) + "+" + std::to_string(count);
    send(runs + "\n");
}

// A sysfs attribute gives its value afresh at each read from its start.
void check_pan(int fd, std::string& last) {
    char buf[64];
    ssize_t n;
    do
        n = pread(fd, buf, sizeof buf - 1, 0);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    std::string pan(buf, static_cast<size_t>(n));
    if (pan == last) return;
    last = pan;
    pan.erase(pan.find_last_not_of('\n') + 1);
    const size_t comma = pan.find(',');
    if (comma == std::string::npos) return;
    send("pan " + pan.substr(0, comma) + " " + pan.substr(comma + 1) + "\n");
}

// ---- followed files -------------------------------------------------------------------

std::map<std::string, off_t> g_sent; // bytes of each file the board has

void follow(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    fstat(fd, &st);
    off_t& sent = g_sent[path];
    if (st.st_size < sent) {
        send("trunc " + path + " " + std::to_string(st.st_size) + "\n");
        sent = st.st_size;
    }
    static const char HEX[] = "0123456789abcdef";
    char buf[FILE_CHUNK];
    for (;;) {
        const ssize_t n = pread(fd, buf, sizeof buf, sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::string line = "file " + path + " " + std::to_string(sent) + " ";
        for (ssize_t i = 0; i < n; ++i) {
            line += HEX[static_cast<uint8_t>(buf[i]) >> 4];
            line += HEX[static_cast<uint8_t>(buf[i]) & 0xF];
        }
        send(line + "\n");
        sent += n;
    }
    close(fd);
}

// The launcher's log and pid file, and each app's log and pid file in the staging directory.
void follow_files() {
    follow(LAUNCHER_LOG);
    follow(LAUNCHER_PID);
    DIR* dir = opendir(STAGING_DIR);
    if (dir == nullptr) return;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        const bool log = name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0;
        const bool pid = name.size() > 4 && name.compare(name.size() - 4, 4, ".pid") == 0;
        if (log || pid) follow(std::string(STAGING_DIR) + "/" + name);
    }
    closedir(dir);
}

// ---- processes --------------------------------------------------------------------------

std::string process_list() {
    std::string out;
    DIR* dir = opendir(PROC_DIR);
    if (dir == nullptr) return out;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        const std::string stat =
            read_text((std::string(PROC_DIR) + "/" + e->d_name + "/stat").c_str());
        // pid (comm) state ppid pgrp ...: the name may hold spaces and parentheses.
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        char state = '?';
        int ppid = 0, pgid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgid) != 3) continue;
        std::string comm = stat.substr(open + 1, close - open - 1);
        for (char& c : comm)
            if (c == ' ' || c == '\n') c = '_';
        out += "ps " + std::string(e->d_name) + " " + std::to_string(ppid) + " " +
               std::to_string(pgid) + " " + state + " " + comm + "\n";
    }
    closedir(dir);
    return out;
}

void check_processes(std::string& last) {
    std::string now = process_list();
    if (now == last) return;
    last = now;
    send("ps-begin\n" + now + "ps-end\n");
}

// ---- commands ---------------------------------------------------------------------------

int64_t now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int64_t g_busy_until_ms = 0;

void run_command(const std::string& line) {
    int pid = 0, sig = 0, ms = 0;
    if (std::sscanf(line.c_str(), "kill %d %d", &pid, &sig) == 2 && pid != 0)
        kill(pid, sig);
    else if (std::sscanf(line.c_str(), "busy %d", &ms) == 1)
        g_busy_until_ms = now_ms() + ms;
}

void take_commands(std::string& pending) {
    char buf[256];
    ssize_t n;
    do
        n = read(g_port, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return;
    pending.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
        run_command(pending.substr(0, nl));
}

} // namespace

int main() {
    g_port = vxguest::open_port(vxdevices::AGENT_PORT);
    if (g_port < 0) {
        std::fprintf(stderr, "vx-guest-agent: no port %s\n", vxdevices::AGENT_PORT);
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);
    report_framebuffer();
    const int pan_fd = open(PAN_FILE, O_RDONLY | O_CLOEXEC);
    std::string pan, processes, pending;
    int64_t files_at = 0, processes_at = 0;
    for (;;) {
        pollfd p{g_port, POLLIN, 0};
        const int tick = now_ms() < g_busy_until_ms ? BUSY_TICK_MS : IDLE_TICK_MS;
        if (poll(&p, 1, tick) > 0 && (p.revents & POLLIN) != 0) take_commands(pending);
        check_pan(pan_fd, pan);
        const int64_t now = now_ms();
        if (now >= files_at) {
            follow_files();
            files_at = now + FILES_EVERY_MS;
        }
        if (now >= processes_at) {
            check_processes(processes);
            processes_at = now + PROCESSES_EVERY_MS;
        }
    }
}
