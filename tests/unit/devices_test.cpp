// The models of the goggles' devices that both boards answer from, driven as the emulated
// goggles' relay drives them: by path for the PWM chip's tree (which its file system lists),
// by operation and payload bytes for the transport.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <vector>

#include "base/screen.h"
#include "devices/adc_line.h"
#include "devices/fb_rules.h"
#include "devices/pwm_chip.h"
#include "devices/remote_i2c.h"
#include "hw/keys_logic.h"
#include "hw/osd.h"
#include "hw/remote_i2c.h"

namespace {

using namespace vxdevices;
using vxboard::BoardState;

std::unique_ptr<BoardState> fresh_state() {
    auto s = std::make_unique<BoardState>();
    std::memset(static_cast<void*>(s.get()), 0, sizeof *s);
    return s;
}

const std::string CHIP = PWM_CHIP_DIR;
const std::string CHANNEL = CHIP + "/pwm" + std::to_string(BUZZER_CHANNEL);

std::vector<std::string> listing(const vxboard::PwmChip& chip, const std::string& dir) {
    std::vector<std::string> names;
    for (size_t i = 0; const char* n = pwm_dir_entry(chip, dir.c_str(), i); ++i)
        names.emplace_back(n);
    return names;
}

TEST(PwmChipModel, TheTreeAsTheKernelShowsItBeforeAndAfterTheExport) {
    auto s = fresh_state();
    struct Case {
        std::string path;
        uint32_t file;
        bool directory, before, after;
    };
    const Case cases[] = {
        {PWM_CLASS_DIR, 0, true, true, true},
        {CHIP, vxboard::PWM_FILE_OTHER, true, true, true},
        {CHIP + "/export", vxboard::PWM_FILE_EXPORT, false, true, true},
        {CHANNEL, vxboard::PWM_FILE_OTHER, true, false, true},
        {CHANNEL + "/period", vxboard::PWM_FILE_PERIOD, false, false, true},
        {CHANNEL + "/duty_cycle", vxboard::PWM_FILE_DUTY, false, false, true},
        {CHANNEL + "/enable", vxboard::PWM_FILE_ENABLE, false, false, true},
        {CHIP + "/pwm0", vxboard::PWM_FILE_OTHER, false, false, false},
        {"/sys/class/pwmx", 0, false, false, false},
        {"/dev/null", 0, false, false, false},
    };
    for (int exported = 0; exported <= 1; ++exported) {
        s->pwm.exported = exported;
        for (const Case& c : cases) {
            const PwmNode n = pwm_node(s->pwm, c.path.c_str());
            EXPECT_EQ(n.file, c.file) << c.path;
            EXPECT_EQ(n.directory, c.directory) << c.path;
            EXPECT_EQ(n.exists, exported ? c.after : c.before) << c.path << " " << exported;
        }
    }
    s->pwm.missing = 1;
    EXPECT_FALSE(pwm_node(s->pwm, CHIP.c_str()).exists) << "no chip, no directory";
    EXPECT_TRUE(pwm_node(s->pwm, PWM_CLASS_DIR).exists) << "the class directory stays";
}

TEST(PwmChipModel, DirectoriesListWhatIsThere) {
    auto s = fresh_state();
    using Names = std::vector<std::string>;
    EXPECT_EQ(listing(s->pwm, PWM_CLASS_DIR), Names{"pwmchip0"});
    EXPECT_EQ(listing(s->pwm, CHIP), Names{"export"});
    EXPECT_EQ(listing(s->pwm, CHANNEL), Names{});
    ASSERT_EQ(pwm_open(s->pwm, vxboard::PWM_FILE_EXPORT, O_WRONLY, 1), 0);
    ASSERT_EQ(pwm_write(s->pwm, vxboard::PWM_FILE_EXPORT, O_WRONLY, "7\n", 2, 1), 0);
    EXPECT_EQ(listing(s->pwm, CHIP), (Names{"export", "pwm7"}));
    EXPECT_EQ(listing(s->pwm, CHANNEL), (Names{"period", "duty_cycle", "enable"}));
    s->pwm.missing = 1;
    EXPECT_EQ(listing(s->pwm, PWM_CLASS_DIR), Names{});
}

// A sequence of opens and writes as the relay hands them on, each with the errno the kernel
// gives, and what the chip holds after them.
TEST(PwmChipModel, WritesFollowThePwmCoresRules) {
    struct Step {
        bool open;
        uint32_t file;
        int access;
        const char* text;
        int err;
    };
    using vxboard::PWM_FILE_DUTY, vxboard::PWM_FILE_ENABLE, vxboard::PWM_FILE_EXPORT,
        vxboard::PWM_FILE_PERIOD;
    const Step steps[] = {
        {true, PWM_FILE_PERIOD, O_WRONLY, "", ENOENT}, // not exported yet
        {true, PWM_FILE_EXPORT, O_RDONLY, "", EACCES}, // export is write-only
        {false, PWM_FILE_EXPORT, O_WRONLY, "8", EINVAL},
        {false, PWM_FILE_EXPORT, O_WRONLY, "7\n", 0},
        {false, PWM_FILE_EXPORT, O_WRONLY, "7", EBUSY},
        {false, PWM_FILE_DUTY, O_WRONLY, "100", EINVAL},   // no period yet
        {false, PWM_FILE_ENABLE, O_WRONLY, "1", EINVAL},   // no period yet
        {false, PWM_FILE_PERIOD, O_RDONLY, "1000", EBADF}, // opened read-only
        {false, PWM_FILE_PERIOD, O_WRONLY, "1000\n", 0},
        {false, PWM_FILE_DUTY, O_WRONLY, "1001", EINVAL}, // longer than the period
        {false, PWM_FILE_DUTY, O_WRONLY, "500", 0},
        {false, PWM_FILE_PERIOD, O_WRONLY, "400", EINVAL}, // shorter than the duty cycle
        {false, PWM_FILE_PERIOD, O_WRONLY, "4x", EINVAL},
        {false, PWM_FILE_PERIOD, O_WRONLY, "4294967296", ERANGE},
        {false, PWM_FILE_ENABLE, O_WRONLY, "2", EINVAL},
        {false, PWM_FILE_ENABLE, O_WRONLY, "1", 0},
    };
    auto s = fresh_state();
    uint64_t at = 100;
    for (const Step& st : steps) {
        const int err =
            st.open ? pwm_open(s->pwm, st.file, st.access, at)
                    : pwm_write(s->pwm, st.file, st.access, st.text, std::strlen(st.text), at);
        EXPECT_EQ(err, st.err) << st.file << " '" << st.text << "'";
        const vxboard::PwmAccess& last =
            s->pwm.history[(s->pwm.accesses.load() - 1) % vxboard::PWM_HISTORY];
        EXPECT_EQ(last.at_ms.load(), at);
        EXPECT_EQ(last.error.load(), st.err);
        ++at;
    }
    EXPECT_EQ(s->pwm.accesses.load(), std::size(steps));
    EXPECT_EQ(s->pwm.period_ns.load(), 1000u);
    EXPECT_EQ(s->pwm.duty_ns.load(), 500u);
    EXPECT_EQ(s->pwm.enabled.load(), 1u);
    char text[16];
    const size_t n = pwm_read(s->pwm, PWM_FILE_DUTY, text, sizeof text);
    EXPECT_EQ(std::string(text, n), "500\n");
    EXPECT_EQ(pwm_read(s->pwm, PWM_FILE_DUTY, text, 2), 2u) << "cut to the room given";
}

// The transport's requests as payload bytes, the way the relay receives them.
std::vector<uint8_t> payload(std::initializer_list<uint32_t> words, std::vector<uint8_t> tail) {
    std::vector<uint8_t> p(words.size() * 4);
    std::memcpy(p.data(), std::data(words), p.size());
    p.insert(p.end(), tail.begin(), tail.end());
    return p;
}

TEST(RemoteI2cModel, RequestsAreCheckedThenReachTheirChip) {
    auto s = fresh_state();
    s->i2c.lt8668_regs[0xAD] = 0x5A;
    I2cSession session;
    struct Case {
        const char* what;
        uint32_t op;
        std::vector<uint8_t> p;
        int err;
    };
    const std::vector<Case> cases = {
        {"page select", REMOTE_I2C_OP_WRITE,
         payload({LT8668_BUS, LT8668_ADDR, 2}, {LT8668_PAGE_REG, LT8668_STATUS_PAGE}), 0},
        {"register read", REMOTE_I2C_OP_WRITE_READ,
         payload({LT8668_BUS, LT8668_ADDR, 1, 1}, {0xAD, 0}), 0},
        {"counts over the payload", REMOTE_I2C_OP_WRITE,
         payload({LT8668_BUS, LT8668_ADDR, 3}, {LT8668_PAGE_REG, 0}), EINVAL},
        {"short of a header", REMOTE_I2C_OP_WRITE, payload({LT8668_BUS, LT8668_ADDR}, {}), EINVAL},
        {"nobody there", REMOTE_I2C_OP_WRITE, payload({3, 0x10, 1}, {0}), ENXIO},
        {"unknown operation", 9, payload({LT8668_BUS, LT8668_ADDR, 1}, {0}), EINVAL},
        {"select with a short record", REMOTE_I2C_OP_SELECT, payload({OSD_BUS, 0, OSD_ADDR}, {}),
         EINVAL},
    };
    for (Case c : cases)
        EXPECT_EQ(
            remote_i2c_transfer(*s, session, c.op, c.p.data(), static_cast<uint32_t>(c.p.size())),
            c.err)
            << c.what;
    auto read = payload({LT8668_BUS, LT8668_ADDR, 1, 1}, {0xAD, 0});
    ASSERT_EQ(remote_i2c_transfer(*s, session, REMOTE_I2C_OP_WRITE_READ, read.data(),
                                  static_cast<uint32_t>(read.size())),
              0);
    EXPECT_EQ(read.back(), 0x5A) << "the register's value lands after the bytes written";
    EXPECT_EQ(s->i2c.transfers.load(), cases.size() + 1);
    EXPECT_EQ(s->i2c.failed.load(), 5u);
    s->i2c.fail_all = 1;
    EXPECT_EQ(remote_i2c_transfer(*s, session, REMOTE_I2C_OP_WRITE_READ, read.data(),
                                  static_cast<uint32_t>(read.size())),
              EIO);
}

// A cell access is acknowledged only after a select in the same session: the relay keeps a
// session for each open file of the guest's device.
TEST(RemoteI2cModel, AnOsdSelectHoldsForItsOwnSessionOnly) {
    auto s = fresh_state();
    I2cSession one, other;
    auto select = payload({OSD_BUS, 0, OSD_ADDR, 0}, {});
    const auto lo = static_cast<uint8_t>(OSD_REG_CELL_DATA & 0xFF);
    const auto hi = static_cast<uint8_t>(OSD_REG_CELL_DATA >> 8);
    auto cell = payload({OSD_BUS, OSD_ADDR, 3}, {lo, hi, 0x81});
    const auto n = [](const std::vector<uint8_t>& p) { return static_cast<uint32_t>(p.size()); };
    ASSERT_EQ(remote_i2c_transfer(*s, one, REMOTE_I2C_OP_SELECT, select.data(), n(select)), 0);
    EXPECT_EQ(remote_i2c_transfer(*s, other, REMOTE_I2C_OP_WRITE, cell.data(), n(cell)), ENXIO);
    EXPECT_EQ(remote_i2c_transfer(*s, one, REMOTE_I2C_OP_WRITE, cell.data(), n(cell)), 0);
    EXPECT_EQ(remote_i2c_transfer(*s, one, REMOTE_I2C_OP_WRITE, cell.data(), n(cell)), ENXIO)
        << "the access closed the select's transaction";
    EXPECT_EQ(s->osd.unselected.load(), 2u);
}

TEST(AdcLineModel, ButtonsReadTrueOnceSettledAndABandHighBefore) {
    for (const KeyBand& band : KEY_BANDS) {
        const uint32_t raw = adc_level_of_key(band.code);
        EXPECT_EQ(adc_conversion(raw, true), raw);
        EXPECT_EQ(adc_conversion(raw, false), raw + vxboard::ADC_UNSETTLED_OFFSET) << band.code;
    }
    EXPECT_EQ(adc_level_of_key(-1), 0u);
    EXPECT_EQ(adc_conversion(0, false), 0u) << "a line at rest reads as it is";
    uint32_t page[1024] = {};
    adc_sample_register(page) = 77;
    EXPECT_EQ(page[vxboard::ADC_SAMPLE_OFFSET / 4], 77u);
}

// The goggles' screen with room for three pages, two of them asked for so far.
void three_page_fb(vxboard::FbDevice& fb) {
    fb.xres = SCREEN_W;
    fb.yres = SCREEN_H;
    fb.xres_virtual = SCREEN_W;
    fb.yres_virtual = 2 * SCREEN_H;
    fb.line_length = SCREEN_W * PIXEL_BYTES;
    fb.bits_per_pixel = PIXEL_BYTES * 8;
    fb.smem_len = 3 * SCREEN_H * SCREEN_W * PIXEL_BYTES;
}

fb_var_screeninfo record_of(const vxboard::FbDevice& fb) {
    fb_var_screeninfo v{};
    v.xres = fb.xres;
    v.yres = fb.yres;
    v.xres_virtual = fb.xres_virtual;
    v.yres_virtual = fb.yres_virtual;
    v.bits_per_pixel = fb.bits_per_pixel;
    return v;
}

TEST(FbRules, PutAndPanRefuseWhatTheKernelRefuses) {
    auto s = fresh_state();
    three_page_fb(s->fb);
    const struct {
        const char* what;
        void (*change)(fb_var_screeninfo&);
        int put, pan;
    } cases[] = {
        {"the screen's own record", [](fb_var_screeninfo&) {}, 0, 0},
        {"three pages", [](fb_var_screeninfo& v) { v.yres_virtual = 3 * SCREEN_H; }, 0, 0},
        {"a zeroed record", [](fb_var_screeninfo& v) { v = {}; }, EINVAL, 0},
        {"7 rows", [](fb_var_screeninfo& v) { v.yres = 7; }, EINVAL, 0},
        {"a row past the memory", [](fb_var_screeninfo& v) { v.yres_virtual = 3 * SCREEN_H + 1; },
         EINVAL, 0},
        {"less than a screen", [](fb_var_screeninfo& v) { v.yres_virtual = SCREEN_H - 1; }, EINVAL,
         0},
        {"wider than the framebuffer", [](fb_var_screeninfo& v) { v.xres_virtual = SCREEN_W + 1; },
         EINVAL, 0},
        {"64 bits a pixel", [](fb_var_screeninfo& v) { v.bits_per_pixel = 64; }, EINVAL, 0},
        {"the second page", [](fb_var_screeninfo& v) { v.yoffset = SCREEN_H; }, 0, 0},
        {"a row past the virtual screen", [](fb_var_screeninfo& v) { v.yoffset = SCREEN_H + 1; }, 0,
         EINVAL},
        {"a pixel to the right", [](fb_var_screeninfo& v) { v.xoffset = 1; }, 0, EINVAL},
        {"a wrap", [](fb_var_screeninfo& v) { v.yoffset = 1, v.vmode = FB_VMODE_YWRAP; }, 0,
         EINVAL},
        {"a wrap to row 0", [](fb_var_screeninfo& v) { v.vmode = FB_VMODE_YWRAP; }, 0, 0},
    };
    for (const auto& c : cases) {
        fb_var_screeninfo v = record_of(s->fb);
        c.change(v);
        EXPECT_EQ(fb_put_var_refusal(s->fb, v), c.put) << c.what;
        EXPECT_EQ(fb_pan_refusal(s->fb, v), c.pan) << c.what;
    }
}

} // namespace
