#include "web/frame.h"

#include <png.h>

namespace vxweb {

std::string frame_message(const FrameHead& head, const std::string& png) {
    std::string m(reinterpret_cast<const char*>(&head), sizeof head);
    return m + png;
}

void halve(const uint32_t* src, uint32_t stride, uint32_t out_w, uint32_t out_h,
           std::vector<uint32_t>& out) {
    out.resize(static_cast<size_t>(out_w) * out_h);
    for (uint32_t y = 0; y < out_h; ++y) {
        const uint32_t* r0 = src + static_cast<size_t>(2 * y) * stride;
        const uint32_t* r1 = r0 + stride;
        uint32_t* o = out.data() + static_cast<size_t>(y) * out_w;
        for (uint32_t x = 0; x < out_w; ++x) {
            const uint32_t q[4] = {r0[2 * x], r0[2 * x + 1], r1[2 * x], r1[2 * x + 1]};
            uint32_t a = 0, r = 0, g = 0, b = 0;
            for (uint32_t p : q) {
                const uint32_t pa = p >> 24;
                a += pa;
                r += ((p >> 16) & 0xFF) * pa;
                g += ((p >> 8) & 0xFF) * pa;
                b += (p & 0xFF) * pa;
            }
            if (a == 0) {
                o[x] = 0;
                continue;
            }
            const uint32_t half = a / 2;
            o[x] = ((a + 2) / 4) << 24 | ((r + half) / a) << 16 | ((g + half) / a) << 8 |
                   ((b + half) / a);
        }
    }
}

namespace {

void append(png_structp png, png_bytep data, png_size_t len) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), len);
}

} // namespace

std::string png_rgba(const std::vector<uint32_t>& px, uint32_t w, uint32_t h) {
    std::string out;
    if (px.size() < static_cast<size_t>(w) * h) return out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return out;
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, append, nullptr);
    // Pages change while a button is held (the progress panel): speed over size. Without a
    // row filter the encoding takes a quarter of the time, and the launcher's flat panels
    // compress as well.
    png_set_compression_level(png, 1);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t* src = px.data() + static_cast<size_t>(y) * w;
        for (uint32_t x = 0; x < w; ++x) {
            row[4 * x] = static_cast<uint8_t>(src[x] >> 16);
            row[4 * x + 1] = static_cast<uint8_t>(src[x] >> 8);
            row[4 * x + 2] = static_cast<uint8_t>(src[x]);
            row[4 * x + 3] = static_cast<uint8_t>(src[x] >> 24);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

} // namespace vxweb
