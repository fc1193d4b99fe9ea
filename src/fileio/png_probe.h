#pragma once
// Decoding of PNG files that outside tools leave behind, to judge them before they are used.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace jx {

struct RgbaImage {
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasAlpha = false;      // the file carries alpha (an alpha channel or transparency)
    std::vector<uint8_t> rgba;  // width * height * 4 bytes, rows top to bottom
};

// Larger images are refused here rather than allocated.
inline constexpr uint64_t MaxProbePixels = uint64_t{1} << 28;

// The image as 8-bit RGBA, or nothing when the bytes are not a complete, valid PNG. A header
// past MaxProbePixels, or claiming more rows than the image data can hold, is refused before any
// pixel memory is taken.
std::optional<RgbaImage> DecodePngRgba(std::span<const uint8_t> bytes);
std::optional<RgbaImage> DecodePngFileRgba(const std::string& path);

// A plain 8-bit PNG (RGB, or RGB + alpha) of width * height RGBA pixels, for tools to read.
std::vector<uint8_t> EncodePngRgba(uint32_t width, uint32_t height, bool withAlpha, std::span<const uint8_t> rgba);

// Same size and pixels; the colour of fully transparent pixels does not count.
bool SameImage(const RgbaImage& a, const RgbaImage& b);

}  // namespace jx
