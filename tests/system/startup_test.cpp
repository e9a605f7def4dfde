// Start-up of the real binary against the devices it finds: what it logs, in order, and
// whether it stays up (or ends with status 1).
#include <cerrno>

#include "board_fixture.h"

namespace systest {
namespace {

std::string regs(int b7, int ad, int ac) {
    return log_text(LOG_MODE_REGISTERS, b7, ad, ac);
}
std::string boot(int mode) {
    return log_text(LOG_BOOT_MODE.c_str(), mode);
}
std::string banner(int yoff, int fb) {
    return log_text(LOG_BANNER, VERSION, 1, yoff, fb);
}
std::string scan(int mode) {
    return log_text(LOG_SCAN_DONE, 0, mode);
}

struct StartCase {
    const char* name;
    std::function<void(vxboard::BoardConfig&)> setup;
    Lines want;
    int status; // -1: stays up
    friend void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }
};

void regs_set(vxboard::BoardConfig& c, uint8_t b7, uint8_t ad, uint8_t ac, bool fail = false) {
    c.before_launch = [=](vxboard::BoardState& s) {
        s.i2c.lt8668_regs[0xB7] = b7;
        s.i2c.lt8668_regs[0xAD] = ad;
        s.i2c.lt8668_regs[0xAC] = ac;
        s.i2c.fail_all = fail ? 1 : 0;
    };
}

class StartUp : public BoardTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartUp, LogsAndStaysUpOrEnds) {
    const StartCase& c = GetParam();
    vxboard::BoardConfig cfg;
    c.setup(cfg);
    vxboard::Board& b = start(cfg);
    if (c.status >= 0) {
        const auto st = b.wait_exit(START_TIMEOUT);
        ASSERT_TRUE(st) << dump();
        ASSERT_TRUE(WIFEXITED(*st));
        EXPECT_EQ(WEXITSTATUS(*st), c.status);
    } else {
        EXPECT_TRUE(b.wait_line("scan done:", START_TIMEOUT)) << dump();
    }
    EXPECT_EQ(b.settle(Millis(200), Millis(3000)), c.want);
}

// clang-format off
const StartCase STARTS[] = {
    // The register line comes once per reading, twice when the first answer is unknown; AV
    // leaves the framebuffer alone.
    {"normal", [](auto& c) { regs_set(c, 1, 9, 9); },
     {regs(1, 9, 9), boot(MODE_NORMAL), banner(0, 1), scan(MODE_NORMAL)}, -1},
    {"av", [](auto& c) { regs_set(c, 2, 2, 1); },
     {regs(2, 2, 1), boot(MODE_AV), banner(0, 0), scan(MODE_AV)}, -1},
    {"hdmi", [](auto& c) { regs_set(c, 2, 1, 1); },
     {regs(2, 1, 1), boot(MODE_HDMI), banner(0, 1), scan(MODE_HDMI)}, -1},
    {"hdmi_not_av", [](auto& c) { regs_set(c, 2, 2, 0); },
     {regs(2, 2, 0), boot(MODE_HDMI), banner(0, 1), scan(MODE_HDMI)}, -1},
    {"unknown_read_twice", [](auto& c) { regs_set(c, 3, 0, 0); },
     {regs(3, 0, 0), regs(3, 0, 0), boot(MODE_UNKNOWN), banner(0, 1), scan(MODE_UNKNOWN)}, -1},
    {"transfers_fail", [](auto& c) { regs_set(c, 2, 2, 1, true); },
     {regs(0, 0, 0), regs(0, 0, 0), boot(MODE_UNKNOWN), banner(0, 1), scan(MODE_UNKNOWN)}, -1},
    {"no_transport", [](auto& c) { c.with_i2c = false; },
     {boot(MODE_UNKNOWN), banner(0, 1), scan(MODE_UNKNOWN)}, -1},
    {"smallest_layout_and_the_goggles_second_page",
     [](auto& c) {
         c.fb_yres_virtual = 2160;
         c.fb_smem_len = 24883200;
         c.fb_yoffset = 1080;
     },
     {NORMAL_REGS, BOOT_NORMAL, banner(1080, 1), scan(MODE_NORMAL)}, -1},
    {"third_page_refused",
     [](auto& c) { c.before_launch = [](auto& s) { s.fb.fail_put_var = EINVAL; }; },
     {NORMAL_REGS, BOOT_NORMAL, log_text(LOG_FB_NO_THIRD_PAGE.c_str(), EINVAL), banner(0, 1),
      scan(MODE_NORMAL)}, -1},
    {"no_adc", [](auto& c) { c.with_mem = false; },
     {NORMAL_REGS, BOOT_NORMAL, LOG_NO_ADC}, 1},
    {"no_framebuffer", [](auto& c) { c.with_fb = false; },
     {NORMAL_REGS, BOOT_NORMAL, "fb0: No such file or directory\n"}, 1},
    {"vscreeninfo_fails",
     [](auto& c) { c.before_launch = [](auto& s) { s.fb.fail_get_var = EIO; }; },
     {NORMAL_REGS, BOOT_NORMAL, "ioctl: Input/output error\n"}, 1},
    {"fscreeninfo_fails",
     [](auto& c) { c.before_launch = [](auto& s) { s.fb.fail_get_fix = ENODEV; }; },
     {NORMAL_REGS, BOOT_NORMAL, "ioctl: No such device\n"}, 1},
    {"line_length", [](auto& c) { c.fb_line_length = 5120; },
     {NORMAL_REGS, BOOT_NORMAL, LOG_FB_LAYOUT}, 1},
    {"two_pages_short", [](auto& c) { c.fb_yres_virtual = 2159; },
     {NORMAL_REGS, BOOT_NORMAL, LOG_FB_LAYOUT}, 1},
    {"memory_short", [](auto& c) { c.fb_smem_len = 24883199; },
     {NORMAL_REGS, BOOT_NORMAL, LOG_FB_LAYOUT}, 1},
    {"mmap_fails", [](auto& c) { c.before_launch = [](auto& s) { s.fb.fail_mmap = ENOMEM; }; },
     {NORMAL_REGS, BOOT_NORMAL, "mmap: Cannot allocate memory\n"}, 1},
    // Needs no device ioctl, so the static product binary runs it too.
    {"no_transport_and_no_framebuffer",
     [](auto& c) {
         c.with_i2c = false;
         c.with_fb = false;
     },
     {boot(MODE_UNKNOWN), "fb0: No such file or directory\n"}, 1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Devices, StartUp, ::testing::ValuesIn(STARTS),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace systest
