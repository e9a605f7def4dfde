#include "png/png_io.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace vxboard {

namespace {

struct File {
    FILE* f;
    ~File() {
        if (f) std::fclose(f);
    }
};

void write_png(const std::string& path, const uint32_t* px, uint32_t w, uint32_t h, uint32_t stride,
               bool alpha) {
    File file{std::fopen(path.c_str(), "wb")};
    if (!file.f) throw std::runtime_error("cannot write " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("png error writing " + path);
    }
    png_init_io(png, file.f);
    png_set_IHDR(png, info, w, h, 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const uint32_t channels = alpha ? 4 : 3;
    std::vector<uint8_t> row(static_cast<size_t>(w) * channels);
    for (uint32_t y = 0; y < h; ++y) {
        const uint32_t* src = px + static_cast<size_t>(y) * stride;
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* d = &row[static_cast<size_t>(x) * channels];
            d[0] = static_cast<uint8_t>(src[x] >> 16);
            d[1] = static_cast<uint8_t>(src[x] >> 8);
            d[2] = static_cast<uint8_t>(src[x]);
            if (alpha) d[3] = static_cast<uint8_t>(src[x] >> 24);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
}

} // namespace

void write_png_rgb(const std::string& path, const uint32_t* px, uint32_t w, uint32_t h,
                   uint32_t stride) {
    write_png(path, px, w, h, stride, false);
}

void write_png_argb(const std::string& path, const uint32_t* px, uint32_t w, uint32_t h,
                    uint32_t stride) {
    write_png(path, px, w, h, stride, true);
}

bool read_png_argb(const std::string& path, std::vector<uint32_t>& px, uint32_t& w, uint32_t& h) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
    img.format = PNG_FORMAT_BGRA; // little-endian words of 0xAARRGGBB
    px.assign(static_cast<size_t>(img.width) * img.height, 0);
    if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr)) {
        png_image_free(&img);
        return false;
    }
    w = img.width;
    h = img.height;
    return true;
}

} // namespace vxboard
