#pragma once
// PNG files of pictures held as 0xAARRGGBB words, the framebuffer's pixel form.
#include <cstdint>
#include <string>
#include <vector>

namespace vxboard {

// Opaque RGB: the alpha byte is dropped (a composited screen).
void write_png_rgb(const std::string& path, const uint32_t* px, uint32_t w, uint32_t h,
                   uint32_t stride);
// RGBA: the alpha byte kept (a launcher page as drawn).
void write_png_argb(const std::string& path, const uint32_t* px, uint32_t w, uint32_t h,
                    uint32_t stride);
// Reads an RGBA or RGB PNG into 0xAARRGGBB words; false when it cannot.
bool read_png_argb(const std::string& path, std::vector<uint32_t>& px, uint32_t& w, uint32_t& h);

} // namespace vxboard
