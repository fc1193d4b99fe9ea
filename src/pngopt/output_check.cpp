// The check that an encoded output decodes to the working image's pixels.
#include "pngopt/output.h"

namespace jx::quillox {
namespace {
uint32_t To16(uint16_t v, int depth) { return depth == 16 ? v : uint32_t(v >> 8) * 257; }
}  // namespace

bool DecodesToSamePixels(const std::vector<uint8_t>& encoded, const WorkImage& image, const Options& options,
                         std::string* why) {
    auto fail = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    WorkImage decoded;
    try {
        decoded = ReadPng(encoded, ReadSettings{GammaMode::Keep, false});
    } catch (const std::exception& e) {
        return fail(std::string("result does not decode: ") + e.what());
    }
    if (decoded.width != image.width || decoded.height != image.height) return fail("result has another size");
    const bool colorMayChange = options.cleanTransparent || options.optimizeTransparent;
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* a = &image.rgba[i];
        const uint16_t* b = &decoded.rgba[i];
        uint32_t alphaA = a[3] == image.OpaqueAlpha() ? 0xFFFF : To16(a[3], image.sampleDepth);
        uint32_t alphaB = b[3] == decoded.OpaqueAlpha() ? 0xFFFF : To16(b[3], decoded.sampleDepth);
        if (alphaA != alphaB) return fail("result differs in alpha at pixel " + std::to_string(i / 4));
        if (alphaA == 0 && colorMayChange) continue;
        for (int c = 0; c < 3; ++c)
            if (To16(a[c], image.sampleDepth) != To16(b[c], decoded.sampleDepth))
                return fail("result differs in colour at pixel " + std::to_string(i / 4));
    }
    return true;
}

}  // namespace jx::quillox
