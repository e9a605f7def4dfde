#include "display/fb_device.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "base/log.h"
#include "base/log_lines.h"
#include "base/sys.h"

Framebuffer g_fb;

int fb_layout_ok(const fb_fix_screeninfo& fix, const fb_var_screeninfo& var) {
    return fix.line_length == LINE_BYTES && var.yres_virtual >= FB_MIN_VIRTUAL_ROWS &&
           fix.smem_len >= FB_MIN_MEM_BYTES;
}

int fb_open() {
    const int fd = sys_open(FB_DEVICE, O_RDWR);
    if (fd < 0) {
        perror(LOG_ERROR_FB0);
        return -1;
    }
    // The variable information (resolution, virtual size, pan offset) is what the driver
    // lets us change; the fixed information (memory size, line length) is the hardware's.
    if (sys_ioctl(fd, FBIOGET_VSCREENINFO, &g_fb.var) < 0 ||
        sys_ioctl(fd, FBIOGET_FSCREENINFO, &g_fb.fix) < 0) {
        perror(LOG_ERROR_IOCTL);
        close(fd);
        return -1;
    }
    if (!fb_layout_ok(g_fb.fix, g_fb.var)) {
        log_bytes(LOG_FB_LAYOUT, sizeof LOG_FB_LAYOUT - 1);
        close(fd);
        return -1;
    }
    g_fb.fd = fd;
    void* mem = mmap(nullptr, g_fb.fix.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mem == MAP_FAILED) {
        perror(LOG_ERROR_MMAP);
        g_fb.mem = nullptr;
        g_fb.fd = -1;
        close(fd);
        return -1;
    }
    g_fb.mem = static_cast<uint8_t*>(mem);
    g_fb.boot_yoffset = static_cast<int32_t>(g_fb.var.yoffset);
    g_fb.saved_var = g_fb.var;

    // A driver that only offers two pages of virtual height may still hold three in its
    // memory; asking for the third is allowed to fail, the pans to it will then fail too.
    fb_var_screeninfo three = g_fb.var;
    three.yres_virtual = FB_VIRTUAL_ROWS;
    if (sys_ioctl(fd, FBIOPUT_VSCREENINFO, &three) != 0)
        log_line(LOG_FB_NO_THIRD_PAGE.c_str(), errno);
    g_fb.ready = 1;
    return 0;
}

void fb_begin_frame_no_clear() {
    g_fb.draw = g_fb.mem + static_cast<size_t>(g_fb.fix.line_length) * fb_back_page_row(g_fb.page);
}

void fb_begin_frame() {
    fb_begin_frame_no_clear();
    // Only the canvas: the rest of the page is never drawn.
    for (uint32_t y = 0; y < CANVAS_H; ++y)
        std::memset(canvas_row(fb_canvas(), y), 0, CANVAS_W * 4);
}

void fb_clear_beyond_canvas() {
    for (const uint32_t top : PAGE_Y) {
        const Canvas page{reinterpret_cast<uint32_t*>(g_fb.mem + size_t{LINE_BYTES} * top)};
        for (uint32_t y = 0; y < SCREEN_H; ++y) {
            const uint32_t from = y < CANVAS_H ? CANVAS_W : 0;
            std::memset(canvas_row(page, y) + from, 0, (SCREEN_W - from) * PIXEL_BYTES);
        }
    }
}

void fb_present() {
    fb_var_screeninfo v = g_fb.var;
    v.yres_virtual = FB_VIRTUAL_ROWS;
    v.xoffset = 0;
    v.yoffset = fb_back_page_row(g_fb.page);
    if (sys_ioctl(g_fb.fd, FBIOPAN_DISPLAY, &v) == 0) {
        g_fb.panned = 1;
        g_fb.page ^= 1;
    }
}

void fb_restore() {
    g_fb.saved_var.yoffset = 0;
    if (sys_ioctl(g_fb.fd, FBIOPAN_DISPLAY, &g_fb.saved_var) == 0) g_fb.panned = 0;
}

void fb_follow_screen() {
    fb_var_screeninfo now{};
    if (sys_ioctl(g_fb.fd, FBIOGET_VSCREENINFO, &now) != 0) return;
    g_fb.panned = 0;
    for (int32_t page = 0; page < 2; ++page)
        if (now.yoffset == PAGE_Y[page]) {
            g_fb.page = page;
            g_fb.panned = 1;
        }
}

void fb_restore_from_signal() {
    g_fb.saved_var.yoffset = 0;
    ioctl(g_fb.fd, FBIOPAN_DISPLAY, &g_fb.saved_var);
}

bool fb_is_open() {
    return g_fb.fd >= 0;
}
bool fb_is_panned() {
    return g_fb.panned != 0;
}
int fb_ready() {
    return g_fb.ready;
}
int32_t fb_boot_yoffset() {
    return g_fb.boot_yoffset;
}
Canvas fb_canvas() {
    return Canvas{reinterpret_cast<uint32_t*>(g_fb.draw)};
}
