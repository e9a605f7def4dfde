#include <cerrno>

#include "board_fixture.h"

namespace systest {
namespace {

using Lines = std::vector<std::string>;

std::string regs(int b7, int ad, int ac) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "mode: LT8668 B7=0x%02x AD=0x%02x AC=0x%02x\n", b7, ad, ac);
    return buf;
}

std::string boot(int mode) {
    return "boot mode=" + std::to_string(mode) + " (0=? 1=NORMAL 2=HDMI 3=AV)\n";
}

std::string banner(int yoff, int fb) {
    return std::string("VornaX-Launcher v") + VERSION + " started (adc=1 yoff=" + std::to_string(yoff) +
           " fb=" + std::to_string(fb) + ")\n";
}

std::string scan(int mode) {
    return "scan done: 0 apps (mode=" + std::to_string(mode) + ")\n";
}

struct ModeCase {
    const char* name;
    int b7, ad, ac;
    bool fail_all, no_transport;
    Lines want;
    friend void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }
};

class BootMode : public BoardTest, public ::testing::WithParamInterface<ModeCase> {};

// The register line comes once per reading, twice when the first answer is unknown; AV
// leaves the framebuffer alone.
TEST_P(BootMode, LogsRegistersAndMode) {
    const ModeCase& c = GetParam();
    vxboard::BoardConfig cfg;
    cfg.with_i2c = !c.no_transport;
    cfg.before_launch = [&](vxboard::BoardState& s) {
        s.i2c.lt8668_regs[0xB7] = static_cast<uint8_t>(c.b7);
        s.i2c.lt8668_regs[0xAD] = static_cast<uint8_t>(c.ad);
        s.i2c.lt8668_regs[0xAC] = static_cast<uint8_t>(c.ac);
        s.i2c.fail_all = c.fail_all ? 1 : 0;
    };
    vxboard::Board& b = start_ready(cfg);
    EXPECT_EQ(b.settle(Millis(200), Millis(3000)), c.want);
}

const ModeCase MODE_CASES[] = {
    {"normal", 1, 9, 9, false, false, {regs(1, 9, 9), boot(1), banner(0, 1), scan(1)}},
    {"av", 2, 2, 1, false, false, {regs(2, 2, 1), boot(3), banner(0, 0), scan(3)}},
    {"hdmi_ac0", 2, 2, 0, false, false, {regs(2, 2, 0), boot(2), banner(0, 1), scan(2)}},
    {"hdmi_ad1", 2, 1, 1, false, false, {regs(2, 1, 1), boot(2), banner(0, 1), scan(2)}},
    {"b7_zero",
     0,
     2,
     1,
     false,
     false,
     {regs(0, 2, 1), regs(0, 2, 1), boot(0), banner(0, 1), scan(0)}},
    {"b7_three",
     3,
     0,
     0,
     false,
     false,
     {regs(3, 0, 0), regs(3, 0, 0), boot(0), banner(0, 1), scan(0)}},
    {"transfers_fail",
     2,
     2,
     1,
     true,
     false,
     {regs(0, 0, 0), regs(0, 0, 0), boot(0), banner(0, 1), scan(0)}},
    {"no_transport", 2, 2, 1, false, true, {boot(0), banner(0, 1), scan(0)}},
};

INSTANTIATE_TEST_SUITE_P(Registers, BootMode, ::testing::ValuesIn(MODE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

struct FbCase {
    const char* name;
    std::function<void(vxboard::BoardConfig&)> setup;
    std::string message;
    friend void PrintTo(const FbCase& c, std::ostream* os) { *os << c.name; }
};

class FbFailure : public BoardTest, public ::testing::WithParamInterface<FbCase> {};

TEST_P(FbFailure, EndsStartUpWithStatus1) {
    const FbCase& c = GetParam();
    vxboard::BoardConfig cfg;
    c.setup(cfg);
    vxboard::Board& b = start(cfg);
    const auto st = b.wait_exit(START_TIMEOUT);
    ASSERT_TRUE(st) << dump();
    ASSERT_TRUE(WIFEXITED(*st));
    EXPECT_EQ(WEXITSTATUS(*st), 1);
    EXPECT_EQ(b.settle(Millis(100), Millis(2000)), (Lines{NORMAL_REGS, BOOT_NORMAL, c.message}));
}

const FbCase FB_CASES[] = {
    {"missing", [](auto& c) { c.with_fb = false; }, "fb0: No such file or directory\n"},
    {"vscreeninfo", [](auto& c) { c.before_launch = [](auto& s) { s.fb.fail_get_var = EIO; }; },
     "ioctl: Input/output error\n"},
    {"fscreeninfo", [](auto& c) { c.before_launch = [](auto& s) { s.fb.fail_get_fix = ENODEV; }; },
     "ioctl: No such device\n"},
    {"line_length", [](auto& c) { c.fb_line_length = 5120; }, "unexpected fb layout\n"},
    {"yres_virtual", [](auto& c) { c.fb_yres_virtual = 2159; }, "unexpected fb layout\n"},
    {"smem_len", [](auto& c) { c.fb_smem_len = 24883199; }, "unexpected fb layout\n"},
    {"mmap", [](auto& c) { c.before_launch = [](auto& s) { s.fb.fail_mmap = ENOMEM; }; },
     "mmap: Cannot allocate memory\n"},
};

INSTANTIATE_TEST_SUITE_P(Faults, FbFailure, ::testing::ValuesIn(FB_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BoardTest, SmallestAcceptedLayoutOpensAndGrowsToThreePages) {
    vxboard::BoardConfig cfg;
    cfg.fb_yres_virtual = 2160;
    cfg.fb_smem_len = 24883200;
    cfg.fb_yoffset = 1080; // the goggles' service left its second page on screen
    vxboard::Board& b = start_ready(cfg);
    EXPECT_TRUE(b.wait_line(banner(1080, 1), Millis(100))) << dump();
    EXPECT_EQ(b.state().fb.yres_virtual.load(), 3240u);
    EXPECT_EQ(b.state().fb.put_vars.load(), 1u);
}

TEST_F(BoardTest, RefusedVirtualHeightStillOpens) {
    vxboard::BoardConfig cfg;
    cfg.before_launch = [](vxboard::BoardState& s) { s.fb.fail_put_var = EINVAL; };
    vxboard::Board& b = start_ready(cfg);
    EXPECT_EQ(b.settle(Millis(200), Millis(3000)),
              (Lines{NORMAL_REGS, BOOT_NORMAL, "FBIOPUT yvirt=3240 failed errno=22\n", banner(0, 1),
                     scan(1)}));
    EXPECT_EQ(b.state().fb.yres_virtual.load(), 2160u);
}

} // namespace
} // namespace systest

namespace systest {
namespace {

// Without the transport the mode is unknown, and an unknown mode needs the framebuffer.
// Needs no device ioctl, so the static product binary runs it too.
TEST_F(BoardTest, NoTransportAndNoFramebufferEndStartUp) {
    vxboard::BoardConfig cfg;
    cfg.with_i2c = false;
    cfg.with_fb = false;
    vxboard::Board& b = start(cfg);
    const auto st = b.wait_exit(START_TIMEOUT);
    ASSERT_TRUE(st) << dump();
    ASSERT_TRUE(WIFEXITED(*st));
    EXPECT_EQ(WEXITSTATUS(*st), 1);
    EXPECT_EQ(b.settle(Millis(100), Millis(2000)),
              (std::vector<std::string>{"boot mode=0 (0=? 1=NORMAL 2=HDMI 3=AV)\n",
                                        "fb0: No such file or directory\n"}));
}

} // namespace
} // namespace systest
