#pragma once
// The benches' PNG input: any PNG as 8-bit RGBA, through the library's simple reader.
#include <png.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

struct Rgba {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
};

inline Rgba ReadPng(const char* path) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path)) throw std::runtime_error(std::string("cannot read ") + path);
    img.format = PNG_FORMAT_RGBA;
    Rgba out;
    out.w = static_cast<int>(img.width);
    out.h = static_cast<int>(img.height);
    out.px.resize(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, out.px.data(), 0, nullptr))
        throw std::runtime_error(std::string("cannot decode ") + path + ": " + img.message);
    return out;
}

}  // namespace bench
