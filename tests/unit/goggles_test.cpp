// The board's side of the emulated goggles that runs without qemu: the relay's answers from
// the device models, the agent's messages, the guest's RAM as the board reads the
// framebuffer's pages from it, and the archive the board hands the guest.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

#include "goggles/agent_link.h"
#include "goggles/app_ledger.h"
#include "goggles/cpio.h"
#include "goggles/guest_memory.h"
#include "goggles/relay_answer.h"
#include "hw/remote_i2c.h"

namespace {

namespace fs = std::filesystem;
using namespace vxgoggles;
using vxdevices::RelayReply;
using vxdevices::RelayRequest;

std::unique_ptr<vxboard::BoardState> fresh_state() {
    auto s = std::make_unique<vxboard::BoardState>();
    std::memset(static_cast<void*>(s.get()), 0, sizeof *s);
    return s;
}

std::vector<uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

// The guest's requests in the order its CUSE server and its file system send them, each with
// the errno the guest's caller gets and what the reply carries.
TEST(GogglesRelay, RequestsAreAnsweredFromTheModels) {
    auto s = fresh_state();
    s->i2c.lt8668_regs[0xB7] = 0x01;
    I2cSessions sessions;
    const std::string chip = PWM_CHIP_DIR;
    const std::string period = chip + "/pwm7/period";
    struct Step {
        const char* what;
        uint32_t kind, session, op;
        std::vector<uint8_t> in;
        int err;
        std::vector<uint8_t> out; // compared when not empty
        uint32_t file;
    };
    auto words = [](std::initializer_list<uint32_t> w, std::vector<uint8_t> tail) {
        std::vector<uint8_t> p(w.size() * 4);
        std::memcpy(p.data(), std::data(w), p.size());
        p.insert(p.end(), tail.begin(), tail.end());
        return p;
    };
    const auto page = words({LT8668_BUS, LT8668_ADDR, 2}, {LT8668_PAGE_REG, LT8668_STATUS_PAGE});
    const auto read = words({LT8668_BUS, LT8668_ADDR, 1, 1}, {0xB7, 0});
    const std::vector<Step> steps = {
        {"transfer before an open",
         vxdevices::RELAY_I2C_TRANSFER,
         5,
         REMOTE_I2C_OP_WRITE,
         page,
         EBADF,
         {},
         0},
        {"open", vxdevices::RELAY_I2C_OPEN, 5, 0, {}, 0, {}, 0},
        {"page select", vxdevices::RELAY_I2C_TRANSFER, 5, REMOTE_I2C_OP_WRITE, page, 0, page, 0},
        {"register read", vxdevices::RELAY_I2C_TRANSFER, 5, REMOTE_I2C_OP_WRITE_READ, read, 0,
         words({LT8668_BUS, LT8668_ADDR, 1, 1}, {0xB7, 0x01}), 0},
        {"release", vxdevices::RELAY_I2C_RELEASE, 5, 0, {}, 0, {}, 0},
        {"transfer after the release",
         vxdevices::RELAY_I2C_TRANSFER,
         5,
         REMOTE_I2C_OP_WRITE_READ,
         read,
         EBADF,
         {},
         0},
        {"the chip's directory",
         vxdevices::RELAY_PWM_NODE,
         0,
         0,
         bytes_of(chip),
         0,
         {},
         vxboard::PWM_FILE_OTHER},
        {"a channel not exported",
         vxdevices::RELAY_PWM_NODE,
         0,
         0,
         bytes_of(period),
         ENOENT,
         {},
         vxboard::PWM_FILE_PERIOD},
        {"listing",
         vxdevices::RELAY_PWM_LIST,
         0,
         0,
         bytes_of(chip),
         0,
         {'e', 'x', 'p', 'o', 'r', 't', 0},
         0},
        {"open a directory",
         vxdevices::RELAY_PWM_OPEN,
         0,
         O_RDONLY,
         bytes_of(chip),
         EISDIR,
         {},
         vxboard::PWM_FILE_OTHER},
        {"open export",
         vxdevices::RELAY_PWM_OPEN,
         0,
         O_WRONLY,
         bytes_of(chip + "/export"),
         0,
         {},
         vxboard::PWM_FILE_EXPORT},
        {"export",
         vxdevices::RELAY_PWM_WRITE,
         vxboard::PWM_FILE_EXPORT,
         O_WRONLY,
         bytes_of("7\n"),
         0,
         {},
         0},
        {"export again",
         vxdevices::RELAY_PWM_WRITE,
         vxboard::PWM_FILE_EXPORT,
         O_WRONLY,
         bytes_of("7\n"),
         EBUSY,
         {},
         0},
        {"open the period",
         vxdevices::RELAY_PWM_OPEN,
         0,
         O_RDWR,
         bytes_of(period),
         0,
         {},
         vxboard::PWM_FILE_PERIOD},
        {"write it",
         vxdevices::RELAY_PWM_WRITE,
         vxboard::PWM_FILE_PERIOD,
         O_RDWR,
         bytes_of("625000"),
         0,
         {},
         0},
        {"read it back",
         vxdevices::RELAY_PWM_READ,
         vxboard::PWM_FILE_PERIOD,
         0,
         {},
         0,
         bytes_of("625000\n"),
         0},
        {"unknown request", 99, 0, 0, {}, EINVAL, {}, 0},
    };
    for (const Step& st : steps) {
        std::vector<uint8_t> b = st.in;
        const RelayReply r = relay_answer(*s, sessions,
                                          RelayRequest{vxdevices::RELAY_MAGIC, st.kind, st.session,
                                                       st.op, static_cast<uint32_t>(b.size()), 0},
                                          b, 1234);
        EXPECT_EQ(r.magic, vxdevices::RELAY_MAGIC) << st.what;
        EXPECT_EQ(r.err, st.err) << st.what;
        EXPECT_EQ(r.len, b.size()) << st.what;
        if (!st.out.empty()) {
            EXPECT_EQ(b, st.out) << st.what;
        }
        if (st.file != 0) {
            EXPECT_EQ(r.file, st.file) << st.what;
        }
    }
    EXPECT_EQ(s->pwm.period_ns.load(), 625000u);
    EXPECT_EQ(s->pwm.history[0].at_ms.load(), 1234u) << "kept at the time the relay gives";
}

TEST(GogglesAgent, MessagesAreTakenApart) {
    std::vector<std::pair<uint32_t, uint32_t>> pans;
    std::vector<std::string> files;
    int framebuffers = 0, lists = 0;
    std::vector<std::tuple<pid_t, int, int>> exits;
    std::vector<uint64_t> syncs;
    std::vector<std::pair<uint64_t, int>> dones;
    AgentLink link(AgentEvents{
        [&] { ++framebuffers; }, [&](uint32_t x, uint32_t y) { pans.emplace_back(x, y); },
        [&](const std::string& p, uint64_t o, const std::string& b) {
            files.push_back(p + "@" + std::to_string(o) + ":" + b);
        },
        [&](const std::string& p, uint64_t n) {
            files.push_back(p + " cut to " + std::to_string(n));
        },
        [&] { ++lists; },
        [&](pid_t pid, int status, int err) { exits.emplace_back(pid, status, err); },
        [&](uint64_t n) { syncs.push_back(n); },
        [&](uint64_t n, int status) { dones.emplace_back(n, status); }});
    const struct {
        const char* line;
        bool known;
    } lines[] = {
        {"fb 1920 1080 1920 3240 7680 24883200", true},
        {"fbpages 270811+1 270810+3", true},
        {"pan 0 1080", true},
        {"pan 0", false},
        {"file /tmp/vorna-x/a.log 10 6869210a", true},
        {"file /tmp/x 0 6g", false},
        {"trunc /tmp/vorna-x/a.log 0", true},
        {"ps-begin", true},
        {"ps 1 0 0 S init", true},
        {"ps 7 1 7 T fpv_grd_service", true},
        {"ps-end", true},
        {"exit 42 32512 8", true},
        {"exit 43 9 0", true},
        {"exit 0 0 0", false},
        {"exit 44 256", false},
        {"synced 7", true},
        {"synced", false},
        {"done 8 0", true},
        {"done 9 3", true},
        {"done 10", false},
        {"reboot", false},
    };
    for (const auto& l : lines)
        EXPECT_EQ(link.take(l.line), l.known) << l.line;
    EXPECT_EQ(link.fb().yres_virtual, 3240u);
    EXPECT_EQ(link.fb().line_length, 7680u);
    ASSERT_EQ(link.fb_pages().size(), 2u);
    EXPECT_EQ(link.fb_pages()[1].pfn, 270810u);
    EXPECT_EQ(link.fb_pages()[1].count, 3u);
    EXPECT_EQ(framebuffers, 1);
    EXPECT_EQ(pans, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1080}}));
    EXPECT_EQ(files, (std::vector<std::string>{"/tmp/vorna-x/a.log@10:hi!\n",
                                               "/tmp/vorna-x/a.log cut to 0"}));
    EXPECT_EQ(lists, 1);
    EXPECT_EQ(exits, (std::vector<std::tuple<pid_t, int, int>>{{42, 32512, 8}, {43, 9, 0}}));
    EXPECT_EQ(syncs, (std::vector<uint64_t>{7}));
    EXPECT_EQ(dones, (std::vector<std::pair<uint64_t, int>>{{8, 0}, {9, 3}}));
    ASSERT_EQ(link.processes().size(), 2u);
    EXPECT_EQ(link.processes()[1].comm, "fpv_grd_service");
    EXPECT_EQ(link.processes()[1].state, 'T');
}

// The launcher's log and the agent's ends, in the orders they can arrive in: an app's run
// is collected, with its status, only once both the launcher's "child exited" line and the
// guest's end are in; an exec's errno comes with the end, whenever that comes.
TEST(GogglesLedger, AppRunsFollowTheLogAndTheEnds) {
    struct Event {
        const char* line; // a log line, or nullptr for an end
        pid_t pid;
        int status, err;
    };
    struct Case {
        const char* what;
        std::vector<Event> events;
        std::vector<std::tuple<std::string, pid_t, uint32_t, int, int>>
            runs; // name pid state status errno
    };
    using vxboard::APP_RUN_COLLECTED;
    using vxboard::APP_RUN_EXEC;
    const Case cases[] = {
        {"running", {{"launched hello pid=40\n", 0, 0, 0}}, {{"hello", 40, APP_RUN_EXEC, 0, 0}}},
        {"end, then the launcher's line",
         {{"launched hello pid=40\n", 0, 0, 0},
          {nullptr, 40, 3 << 8, 0},
          {"child hello exited\n", 0, 0, 0}},
         {{"hello", 40, APP_RUN_COLLECTED, 3 << 8, 0}}},
        {"the launcher's line, then the end",
         {{"launched hello pid=40\n", 0, 0, 0},
          {"child hello exited\n", 0, 0, 0},
          {nullptr, 40, 9, 0}},
         {{"hello", 40, APP_RUN_COLLECTED, 9, 0}}},
        {"ended, not collected",
         {{"launched hello pid=40\n", 0, 0, 0}, {nullptr, 40, 0, 0}},
         {{"hello", 40, APP_RUN_EXEC, 0, 0}}},
        {"a failed exec's end before its launch line",
         {{nullptr, 41, 127 << 8, ENOEXEC}, {"launched broken pid=41\n", 0, 0, 0}},
         {{"broken", 41, APP_RUN_EXEC, 0, ENOEXEC}}},
        {"another process's end and an unknown line change nothing",
         {{"launched hello pid=40\n", 0, 0, 0},
          {nullptr, 39, 0, 0},
          {"child other exited\n", 0, 0, 0},
          {"menu open (hold play, 1 apps)\n", 0, 0, 0}},
         {{"hello", 40, APP_RUN_EXEC, 0, 0}}},
        {"two runs of one app: the second collected, the first as it was",
         {{"launched hello pid=40\n", 0, 0, 0},
          {nullptr, 40, 0, 0},
          {"child hello exited\n", 0, 0, 0},
          {"launched hello pid=45\n", 0, 0, 0},
          {"child hello exited\n", 0, 0, 0},
          {nullptr, 45, 15, 0}},
         {{"hello", 40, APP_RUN_COLLECTED, 0, 0}, {"hello", 45, APP_RUN_COLLECTED, 15, 0}}},
    };
    for (const Case& c : cases) {
        auto s = fresh_state();
        AppLedger ledger(s->apps);
        for (const Event& e : c.events)
            e.line ? ledger.log_line(e.line) : ledger.exited(e.pid, e.status, e.err);
        ASSERT_EQ(s->apps.started.load(), c.runs.size()) << c.what;
        for (size_t i = 0; i < c.runs.size(); ++i) {
            const vxboard::AppRun& r = s->apps.runs[i];
            const auto& [name, pid, state, status, err] = c.runs[i];
            EXPECT_EQ(std::string(r.name), name) << c.what;
            EXPECT_EQ(r.ns_pid.load(), pid) << c.what;
            EXPECT_EQ(r.state.load(), state) << c.what;
            EXPECT_EQ(r.wait_status.load(), status) << c.what;
            EXPECT_EQ(r.exec_errno.load(), err) << c.what;
        }
        for (const Event& e : c.events) {
            EXPECT_TRUE(e.line != nullptr || ledger.ended(e.pid)) << c.what << ": pid " << e.pid;
        }
        EXPECT_FALSE(ledger.ended(1)) << c.what;
    }
}

// A RAM file as qemu keeps it, with the framebuffer's pages scattered in it: the board reads
// them back in order, across the runs' ends, and refuses frames outside the RAM.
TEST(GogglesMemory, TheFramebufferIsReadFromItsPagesInTheGuestsRam) {
    const fs::path ram = fs::temp_directory_path() / ("vx-ram-" + std::to_string(getpid()));
    {
        std::ofstream(ram).flush();
        fs::resize_file(ram, GUEST_RAM_BYTES);
    }
    const uint64_t first_pfn = VIRT_RAM_BASE / PAGE_BYTES;
    const std::vector<PageRun> runs = {{first_pfn + 10, 2}, {first_pfn + 5, 1}};
    {
        const int fd = open(ram.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        // Page i of the framebuffer filled with the byte 'a' + i.
        const uint64_t pages[] = {10, 11, 5};
        for (size_t i = 0; i < 3; ++i) {
            const std::string fill(PAGE_BYTES, static_cast<char>('a' + i));
            ASSERT_EQ(
                pwrite(fd, fill.data(), fill.size(), static_cast<off_t>(pages[i] * PAGE_BYTES)),
                static_cast<ssize_t>(PAGE_BYTES));
        }
        close(fd);
    }
    GuestMemory mem(ram.string());
    std::string out(PAGE_BYTES + 2, '?');
    ASSERT_TRUE(mem.read_scattered(runs, 2 * PAGE_BYTES - 1, out.data(), 2));
    EXPECT_EQ(out.substr(0, 2), "bc") << "across the end of a run";
    ASSERT_TRUE(mem.read_scattered(runs, PAGE_BYTES - 1, out.data(), PAGE_BYTES + 2));
    EXPECT_EQ(out.front(), 'a');
    EXPECT_EQ(out[1], 'b');
    EXPECT_EQ(out.back(), 'c');
    EXPECT_FALSE(mem.read_scattered(runs, 3 * PAGE_BYTES - 1, out.data(), 2)) << "past the runs";
    EXPECT_FALSE(mem.read_scattered({{first_pfn - 1, 1}}, 0, out.data(), 1)) << "below the RAM";
    mem.adc_page()[0x810 / 4] = 0x1234;
    std::ifstream in(ram, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(ADC_PAGE_IN_RAM + 0x810));
    uint32_t v = 0;
    in.read(reinterpret_cast<char*>(&v), sizeof v);
    EXPECT_EQ(v, 0x1234u) << "the ADC page where the guest's /dev/mem finds it";
    fs::remove(ram);
}

// The archive the kernel unpacks after the guest's own, checked by Debian's cpio where the
// machine has it.
TEST(GogglesCpio, AnArchiveCpioUnpacks) {
    if (system("command -v cpio >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no cpio on this machine (tools/setup.sh goggles installs it)";
    const fs::path dir = fs::temp_directory_path() / ("vx-cpio-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string odd(4097, 'x'); // a size that needs padding
    std::ofstream(dir / "a.cpio", std::ios::binary)
        << cpio_newc({{"release", S_IFDIR | 0755, {}},
                      {"release/app", S_IFREG | 0751, odd},
                      {"release/b", S_IFREG | 0644, "b\n"}});
    ASSERT_EQ(system(("cd " + dir.string() + " && cpio -i --quiet < a.cpio").c_str()), 0);
    std::ifstream app(dir / "release/app", std::ios::binary), b(dir / "release/b");
    std::stringstream a_text, b_text;
    a_text << app.rdbuf();
    b_text << b.rdbuf();
    EXPECT_EQ(a_text.str(), odd);
    EXPECT_EQ(b_text.str(), "b\n");
    EXPECT_EQ(fs::status(dir / "release/app").permissions(), static_cast<fs::perms>(0751));
    fs::remove_all(dir);
}

} // namespace
