#pragma once
// Helpers shared by the encoder tests.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "pngopt/pngenc/png_image.h"

namespace jx::test {

// The image as 16-bit RGBA, the way the suite's reference decodes hold it.
inline std::vector<uint16_t> ToRgba16(const PngImage& img) {
    std::vector<uint16_t> out;
    out.reserve(size_t(img.Width()) * img.Height() * 4);
    const unsigned depth = img.BitDepth();
    auto scale = [&](uint16_t v) -> uint16_t {
        if (depth == 16) return v;
        uint32_t v8 = depth == 8 ? v : v * 255u / ((1u << depth) - 1);
        return uint16_t(v8 * 257);
    };
    for (uint32_t y = 0; y < img.Height(); ++y) {
        for (uint32_t x = 0; x < img.Width(); ++x) {
            uint16_t r, g, b, a = 0xFFFF;
            switch (img.ColorType()) {
                case kPngPalette: {
                    uint16_t i = img.Sample(x, y, 0);
                    PngRgb c = i < img.Palette.size() ? img.Palette[i] : PngRgb{};
                    r = uint16_t(c.R * 257);
                    g = uint16_t(c.G * 257);
                    b = uint16_t(c.B * 257);
                    if (i < img.PaletteAlpha.size()) a = uint16_t(img.PaletteAlpha[i] * 257);
                    break;
                }
                case kPngGrey:
                case kPngGreyAlpha: {
                    uint16_t v = img.Sample(x, y, 0);
                    r = g = b = scale(v);
                    if (img.ColorType() == kPngGreyAlpha) a = scale(img.Sample(x, y, 1));
                    else if (img.Key && img.Key->Grey == v) a = 0;
                    break;
                }
                default: {
                    uint16_t s0 = img.Sample(x, y, 0), s1 = img.Sample(x, y, 1), s2 = img.Sample(x, y, 2);
                    r = scale(s0);
                    g = scale(s1);
                    b = scale(s2);
                    if (img.ColorType() == kPngRgba) a = scale(img.Sample(x, y, 3));
                    else if (img.Key && img.Key->R == s0 && img.Key->G == s1 && img.Key->B == s2) a = 0;
                    break;
                }
            }
            out.insert(out.end(), {r, g, b, a});
        }
    }
    return out;
}

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

// IHDR's bit depth byte of an encoded file.
inline uint8_t HeaderDepth(const std::vector<uint8_t>& file) { return file.at(24); }

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
