// Palette: the palette image of a colour table, or of the input's own palette.
#include <unordered_map>

#include "pngopt/output_internal.h"

namespace jx::quillox::detail {
namespace {

uint64_t Pack(const uint16_t* p) {
    return uint64_t(p[0]) << 48 | uint64_t(p[1]) << 32 | uint64_t(p[2]) << 16 | p[3];
}

}  // namespace

bool Reorderable(const WorkImage& image, const Options& options) {
    return !(options.keepPalette && image.pngColorType == kPngPalette && !image.indices.empty() && image.kind == InputKind::Png);
}

OutputImage BuildPalette(const WorkImage& image, const std::vector<ColorUse>& table, int depth) {
    OutputImage out = Blank(image, kPngPalette, depth);
    std::unordered_map<uint64_t, uint8_t> index;
    index.reserve(table.size() * 2);
    for (size_t i = 0; i < table.size(); ++i) {
        index.emplace(table[i].rgba, uint8_t(i));
        out.palette.push_back({Hi(table[i].rgba, 0), Hi(table[i].rgba, 1), Hi(table[i].rgba, 2), Hi(table[i].rgba, 3)});
    }
    uint64_t last = ~uint64_t(0);
    uint8_t lastIndex = 0;
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint32_t x = 0; x < image.width; ++x) {
            uint64_t v = Pack(image.Pixel(x, y));
            if (v != last) {
                auto it = index.find(v);
                if (it == index.end()) throw PngError("Internal error: a colour is missing from the palette");
                last = v;
                lastIndex = it->second;
            }
            PutSample(row, x, depth, lastIndex);
        }
    }
    return out;
}

OutputImage BuildInputPalette(const WorkImage& image, int depth) {
    OutputImage out = Blank(image, kPngPalette, depth);
    out.palette = image.palette;
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint32_t x = 0; x < image.width; ++x) PutSample(row, x, depth, image.indices[uint64_t(y) * image.width + x]);
    }
    return out;
}

}  // namespace jx::quillox::detail
