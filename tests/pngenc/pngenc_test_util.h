#pragma once
// Helpers shared by the encoder tests.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "pngenc/png_image.h"

namespace jx::test {

inline uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Data lengths of the chunks with the given name, in file order.
inline std::vector<uint32_t> ChunkLengths(const std::vector<uint8_t>& file, const std::string& name) {
    std::vector<uint32_t> out;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        uint32_t len = Be32(&file[pos]);
        if (std::string(reinterpret_cast<const char*>(&file[pos + 4]), 4) == name) out.push_back(len);
        pos += size_t(len) + 12;
    }
    return out;
}

// A deterministic image of the given format with smooth areas and noise.
inline PngImage MakeImage(uint32_t w, uint32_t h, uint8_t colorType, uint8_t depth, uint32_t seed = 1) {
    PngImage img(w, h, colorType, depth);
    std::mt19937 rng(seed);
    const uint32_t max = (1u << depth) - 1;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            for (unsigned c = 0; c < img.Channels(); ++c) {
                uint32_t v = (x * 7 + y * 3 + c * 50) % (max + 1);
                if ((x / 5 + y / 3) % 3 == 0) v = rng() % (max + 1);
                img.SetSample(x, y, c, uint16_t(v));
            }
        }
    }
    if (colorType == kPngPalette) {
        for (uint32_t i = 0; i <= max; ++i) img.Palette.push_back(PngRgb{uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7)});
    }
    return img;
}

}  // namespace jx::test
