#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <vector>

#include "display/fb_device.h"

namespace {

std::vector<uint32_t> g_pans; // yoffset of every pan asked for
bool g_pan_fails = false;

} // namespace

// The layer under test is linked into this binary: its pans land here instead of a driver.
extern "C" int ioctl(int, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    auto* var = va_arg(ap, fb_var_screeninfo*);
    va_end(ap);
    EXPECT_EQ(request, static_cast<unsigned long>(FBIOPAN_DISPLAY));
    g_pans.push_back(var->yoffset);
    // The launcher's pages at x 0; the goggles' page where they left it.
    EXPECT_EQ(var->xoffset, var->yoffset == 0 ? 8u : 0u);
    return g_pan_fails ? -1 : 0;
}

namespace {

TEST(FbLayout, Bounds) {
    const struct {
        uint32_t line_length, yres_virtual, smem_len;
        int ok;
    } cases[] = {
        {7680, 2160, 24883200, 1}, {7680, 3240, 30000000, 1}, {7680, 2160, 24883199, 0},
        {7680, 2159, 24883200, 0}, {5120, 3240, 24883200, 0}, {7684, 3240, 24883200, 0},
    };
    for (const auto& c : cases) {
        fb_fix_screeninfo fix{};
        fb_var_screeninfo var{};
        fix.line_length = c.line_length;
        fix.smem_len = c.smem_len;
        var.yres_virtual = c.yres_virtual;
        EXPECT_EQ(fb_layout_ok(fix, var), c.ok)
            << c.line_length << " " << c.yres_virtual << " " << c.smem_len;
    }
}

class Pages : public ::testing::Test {
  protected:
    void SetUp() override {
        mem_.assign(LINE_PIXELS * FB_VIRTUAL_ROWS, 0xDEADBEEF);
        g_fb = Framebuffer{};
        g_fb.fd = 99;
        g_fb.mem = reinterpret_cast<uint8_t*>(mem_.data());
        g_fb.fix.line_length = LINE_BYTES;
        g_fb.var.yres_virtual = 2160;
        g_fb.var.xoffset = 8; // the goggles left the display elsewhere
        g_fb.var.yoffset = 540;
        g_fb.saved_var = g_fb.var;
        g_pans.clear();
        g_pan_fails = false;
    }
    uint32_t draw_row() const { return static_cast<uint32_t>((g_fb.draw - g_fb.mem) / LINE_BYTES); }
    std::vector<uint32_t> mem_;
};

// The page after a failed pan is drawn again; the restore pans to row 0 and leaves the
// page to draw next as it was. A frame without clear leaves the page as it was, a frame
// with one clears only the canvas.
TEST_F(Pages, AlternateFromRow1080RepeatAfterAFailedPanAndRestoreToRowZero) {
    std::vector<uint32_t> drawn;
    for (bool fail : {false, false, true, false}) {
        fb_begin_frame_no_clear();
        drawn.push_back(draw_row());
        g_pan_fails = fail;
        fb_present();
    }
    EXPECT_EQ(drawn, (std::vector<uint32_t>{1080, 2160, 1080, 1080}));
    EXPECT_EQ(std::count(mem_.begin(), mem_.end(), 0xDEADBEEFu), std::ssize(mem_));
    EXPECT_EQ(g_fb.panned, 1);
    g_pan_fails = true;
    fb_restore();
    EXPECT_EQ(g_fb.panned, 1);
    g_pan_fails = false;
    fb_restore();
    EXPECT_EQ(g_fb.panned, 0);
    EXPECT_EQ(g_pans, (std::vector<uint32_t>{1080, 2160, 1080, 1080, 0, 0}));

    fb_begin_frame();
    ASSERT_EQ(draw_row(), 2160u);
    const uint32_t* page = mem_.data() + LINE_PIXELS * 2160;
    EXPECT_EQ(page[0], 0u);
    EXPECT_EQ(page[LINE_PIXELS * 719 + 1279], 0u);
    EXPECT_EQ(page[1280], 0xDEADBEEFu);              // right of the canvas
    EXPECT_EQ(page[LINE_PIXELS * 720], 0xDEADBEEFu); // below it
    EXPECT_EQ(page[-1], 0xDEADBEEFu);                // above it, the other page
}

} // namespace
