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
//   exit PID STATUS ERRNO        a process ended, with the status its parent's wait gets and,
//                                when it never got an exec through, the errno its last failed
//                                exec returned (else 0)
//
//   synced N                     the followed files are sent as they were at the board's sync N
//   done N STATUS                the board's halt N or start N is done (STATUS 0: as asked)
//
// and from the board: `kill PID SIG` (a negative PID: a process group), `busy MS` (look often
// for the next MS ms), `sync N` (send the followed files now, then say so), and between two
// runs on one boot: `put PATH OFFSET MODE HEX` (bytes of a file of the next run, under
// /release/next), `halt N` (end every process of the last run), `start N` (the next run's
// apps installed, the service and the launcher started: /sbin/rerun-launcher).
//
// The board reads the framebuffer's memory itself, from the guest's RAM, which is a file it
// shares with qemu: the driver's pages do not move once allocated, so their page frames are
// told once. The pan position is not in memory the board can read: sysfs has it.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/fb.h>
#include <linux/netlink.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

// What the board has of each followed file: how many bytes, of which file (a pid file is
// written anew for each run of an app, as long as the last), and its first bytes (an app's
// log is cut for a new run, which may have written past the old end before the next look).
struct Sent {
    off_t bytes = 0;
    ino_t inode = 0;
    std::string head;
};
constexpr size_t HEAD_BYTES = 64;
std::map<std::string, Sent> g_sent;

void follow(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    fstat(fd, &st);
    Sent& sent = g_sent[path];
    char head[HEAD_BYTES];
    const size_t compare = std::min(sent.head.size(), static_cast<size_t>(st.st_size));
    const bool same_head = pread(fd, head, compare, 0) == static_cast<ssize_t>(compare) &&
                           sent.head.compare(0, compare, head, compare) == 0;
    if (st.st_size < sent.bytes || st.st_ino != sent.inode || !same_head) {
        send("trunc " + path + " 0\n");
        sent = Sent{0, st.st_ino, {}};
    }
    static const char HEX[] = "0123456789abcdef";
    char buf[FILE_CHUNK];
    for (;;) {
        const ssize_t n = pread(fd, buf, sizeof buf, sent.bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        std::string line = "file " + path + " " + std::to_string(sent.bytes) + " ";
        for (ssize_t i = 0; i < n; ++i) {
            line += HEX[static_cast<uint8_t>(buf[i]) >> 4];
            line += HEX[static_cast<uint8_t>(buf[i]) & 0xF];
        }
        send(line + "\n");
        if (sent.head.size() < HEAD_BYTES)
            sent.head.append(buf, std::min(static_cast<size_t>(n), HEAD_BYTES - sent.head.size()));
        sent.bytes += n;
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

// ---- process ends -----------------------------------------------------------------------
//
// A short-lived app (one whose exec fails, one that ends at once) can come and go between two
// process lists, and its parent's wait status is the parent's alone. The kernel's process
// events tell each end with that status as it happens; the execve tracepoint tells what a
// failed exec returned, which no other trace of the process keeps.

constexpr char TRACEFS[] = "/sys/kernel/tracing";
constexpr char EXECVE_EXIT_EVENT[] = "/sys/kernel/tracing/events/syscalls/sys_exit_execve";

std::map<int, int> g_failed_exec; // pid -> errno of its last failed execve

int open_process_events() {
    const int fd = socket(PF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_CONNECTOR);
    if (fd < 0) return -1;
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = CN_IDX_PROC;
    addr.nl_pid = static_cast<__u32>(getpid());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    // The subscription: a netlink header, a connector header and the operation.
    alignas(nlmsghdr) uint8_t msg[NLMSG_SPACE(sizeof(cn_msg) + sizeof(proc_cn_mcast_op))] = {};
    auto* nl = reinterpret_cast<nlmsghdr*>(msg);
    nl->nlmsg_len = NLMSG_LENGTH(sizeof(cn_msg) + sizeof(proc_cn_mcast_op));
    nl->nlmsg_type = NLMSG_DONE;
    nl->nlmsg_pid = static_cast<__u32>(getpid());
    auto* cn = static_cast<cn_msg*>(NLMSG_DATA(nl));
    cn->id.idx = CN_IDX_PROC;
    cn->id.val = CN_VAL_PROC;
    cn->len = sizeof(proc_cn_mcast_op);
    const proc_cn_mcast_op op = PROC_CN_MCAST_LISTEN;
    std::memcpy(cn->data, &op, sizeof op);
    if (::send(fd, msg, nl->nlmsg_len, 0) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool write_text(const std::string& path, const char* text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = write(fd, text, std::strlen(text)) == static_cast<ssize_t>(std::strlen(text));
    close(fd);
    return ok;
}

// The failed returns of execve, as lines of the trace pipe; -1 without tracefs.
int open_exec_failures() {
    if (mount("nodev", TRACEFS, "tracefs", 0, nullptr) != 0 && errno != EBUSY) return -1;
    if (!write_text(std::string(EXECVE_EXIT_EVENT) + "/filter", "ret < 0") ||
        !write_text(std::string(EXECVE_EXIT_EVENT) + "/enable", "1"))
        return -1;
    return open((std::string(TRACEFS) + "/trace_pipe").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

// "  COMM-PID  [CPU] FLAGS  TIME: sys_execve -> 0xfffffff8": the pid is the digits before
// the blank and bracket of the CPU, the return value negative.
void take_exec_failure(const std::string& line) {
    const size_t arrow = line.find("sys_execve -> 0x");
    const size_t cpu = line.find(" [");
    if (arrow == std::string::npos || cpu == std::string::npos) return;
    size_t end = cpu;
    while (end > 0 && line[end - 1] == ' ')
        --end;
    size_t start = end;
    while (start > 0 && line[start - 1] >= '0' && line[start - 1] <= '9')
        --start;
    if (start == end || start == 0 || line[start - 1] != '-') return;
    const int pid = std::atoi(line.substr(start, end - start).c_str());
    const auto ret = static_cast<int32_t>(std::strtoul(line.c_str() + arrow + 16, nullptr, 16));
    if (pid > 0 && ret < 0) g_failed_exec[pid] = -ret;
}

void read_exec_failures(int fd, std::string& pending) {
    if (fd < 0) return;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
    }
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1))
        take_exec_failure(pending.substr(0, nl));
}

// True when a process ended (its list is then worth sending at once).
bool read_process_events(int fd, int trace_fd, std::string& trace_pending) {
    if (fd < 0) return false;
    bool ended = false;
    alignas(nlmsghdr) uint8_t buf[8192];
    for (;;) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        for (size_t at = 0; at + sizeof(nlmsghdr) <= static_cast<size_t>(n);) {
            const auto* nl = reinterpret_cast<const nlmsghdr*>(buf + at);
            if (nl->nlmsg_len < sizeof(nlmsghdr) || at + nl->nlmsg_len > static_cast<size_t>(n))
                break;
            at += NLMSG_ALIGN(nl->nlmsg_len);
            if (nl->nlmsg_len < NLMSG_LENGTH(sizeof(cn_msg) + sizeof(proc_event))) continue;
            const auto* cn = static_cast<const cn_msg*>(NLMSG_DATA(nl));
            const auto* ev = reinterpret_cast<const proc_event*>(cn->data);
            if (ev->what == proc_event::PROC_EVENT_EXEC) {
                g_failed_exec.erase(ev->event_data.exec.process_tgid);
            } else if (ev->what == proc_event::PROC_EVENT_EXIT &&
                       ev->event_data.exit.process_pid == ev->event_data.exit.process_tgid) {
                // The failed exec's trace line came before its process's end.
                read_exec_failures(trace_fd, trace_pending);
                const int pid = ev->event_data.exit.process_tgid;
                const auto failed = g_failed_exec.find(pid);
                const int err = failed == g_failed_exec.end() ? 0 : failed->second;
                if (failed != g_failed_exec.end()) g_failed_exec.erase(failed);
                send("exit " + std::to_string(pid) + " " +
                     std::to_string(ev->event_data.exit.exit_code) + " " + std::to_string(err) +
                     "\n");
                ended = true;
            }
        }
    }
    return ended;
}

// ---- commands ---------------------------------------------------------------------------

int64_t now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int64_t g_busy_until_ms = 0;

// ---- runs on one boot --------------------------------------------------------------------

constexpr char NEXT_RUN_DIR[] = "/release/next/";
constexpr char RERUN_SCRIPT[] = "/sbin/rerun-launcher";
constexpr int HALT_WAIT_MS = 5000;
// PF_KTHREAD in /proc/PID/stat's flags: the kernel's own threads stay.
constexpr unsigned long KERNEL_THREAD = 0x00200000;
// What stands for the goggles' hardware stays from one run to the next.
constexpr const char* KEPT_PROGRAMS[] = {"vx-guest-agent", "vx-guest-i2c", "vx-guest-pwm"};

void make_parents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

bool put_file(const std::string& path, long long offset, unsigned mode, const std::string& hex) {
    if (path.compare(0, sizeof NEXT_RUN_DIR - 1, NEXT_RUN_DIR) != 0 ||
        path.find("..") != std::string::npos || hex.size() % 2 != 0)
        return false;
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    make_parents(path);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                    static_cast<ssize_t>(bytes.size());
    fchmod(fd, mode & 07777);
    close(fd);
    return ok;
}

// Every process of the last run, the launcher's, the apps', the service's, whatever they
// left behind: all but init, the kernel's threads and the board's own programs.
std::vector<int> run_processes() {
    std::vector<int> out;
    DIR* dir = opendir(PROC_DIR);
    if (dir == nullptr) return out;
    while (const dirent* e = readdir(dir)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 1 || pid == getpid()) continue;
        const std::string stat =
            read_text((std::string(PROC_DIR) + "/" + e->d_name + "/stat").c_str());
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        char state = '?';
        int ppid = 0, pgrp = 0, session = 0, tty = 0, tpgid = 0;
        unsigned long flags = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d %d %d %d %d %lu", &state, &ppid, &pgrp,
                        &session, &tty, &tpgid, &flags) != 7)
            continue;
        if ((flags & KERNEL_THREAD) != 0 || state == 'Z') continue;
        const std::string comm = stat.substr(open + 1, close - open - 1);
        bool kept = false;
        for (const char* k : KEPT_PROGRAMS)
            kept = kept || comm == k;
        if (!kept) out.push_back(pid);
    }
    closedir(dir);
    return out;
}

int halt_run() {
    for (const int pid : run_processes())
        kill(pid, SIGKILL);
    // Init collects them; a zombie is no process of the run any more.
    for (int waited = 0; !run_processes().empty(); waited += 10) {
        if (waited >= HALT_WAIT_MS) return 1;
        usleep(10000);
    }
    g_failed_exec.clear();
    // What the last launcher and its apps wrote goes to the board before the answer: the
    // next scenario's log begins after it.
    follow_files();
    return 0;
}

int start_run() {
    // The next run's files are followed from their start. The last run's stay as the board
    // has them until the script removes them, which it does before anything of the next run
    // writes: the agent follows nothing meanwhile.
    g_sent.clear();
    const pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        execl("/bin/sh", "sh", RERUN_SCRIPT, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void run_command(const std::string& line) {
    int pid = 0, sig = 0, ms = 0;
    unsigned long long n = 0;
    if (std::sscanf(line.c_str(), "kill %d %d", &pid, &sig) == 2 && pid != 0) {
        kill(pid, sig);
    } else if (std::sscanf(line.c_str(), "busy %d", &ms) == 1) {
        g_busy_until_ms = now_ms() + ms;
    } else if (std::sscanf(line.c_str(), "sync %llu", &n) == 1) {
        follow_files();
        send("synced " + std::to_string(n) + "\n");
    } else if (std::sscanf(line.c_str(), "halt %llu", &n) == 1) {
        send("done " + std::to_string(n) + " " + std::to_string(halt_run()) + "\n");
    } else if (std::sscanf(line.c_str(), "start %llu", &n) == 1) {
        send("done " + std::to_string(n) + " " + std::to_string(start_run()) + "\n");
    } else if (line.compare(0, 4, "put ") == 0) {
        char path[256];
        long long offset = 0;
        unsigned mode = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "put %255s %lld %o %n", path, &offset, &mode, &used) == 3 &&
            !put_file(path, offset, mode, line.substr(static_cast<size_t>(used))))
            std::fprintf(stderr, "vx-guest-agent: cannot put %s\n", path);
    }
}

// Reads what the board sent, as long as more is there at once: the files of a next run come
// in long lines, one after another.
void take_commands(std::string& pending) {
    static char buf[65536];
    for (;;) {
        ssize_t n;
        do
            n = read(g_port, buf, sizeof buf);
        while (n < 0 && errno == EINTR);
        if (n <= 0) return;
        pending.append(buf, static_cast<size_t>(n));
        size_t from = 0;
        for (size_t nl; (nl = pending.find('\n', from)) != std::string::npos; from = nl + 1)
            run_command(pending.substr(from, nl - from));
        pending.erase(0, from);
        pollfd p{g_port, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0) return;
    }
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
    const int trace_fd = open_exec_failures();
    const int events_fd = open_process_events();
    if (events_fd < 0) std::fprintf(stderr, "vx-guest-agent: no process events\n");
    std::string pan, processes, pending, trace_pending;
    int64_t files_at = 0, processes_at = 0;
    for (;;) {
        pollfd p[2] = {{g_port, POLLIN, 0}, {events_fd, POLLIN, 0}};
        const int tick = now_ms() < g_busy_until_ms ? BUSY_TICK_MS : IDLE_TICK_MS;
        if (poll(p, 2, tick) > 0 && (p[0].revents & POLLIN) != 0) take_commands(pending);
        read_exec_failures(trace_fd, trace_pending);
        // An end is followed by the launcher's log line about it and by the list without it.
        if (read_process_events(events_fd, trace_fd, trace_pending)) {
            follow_files();
            check_processes(processes);
        }
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
