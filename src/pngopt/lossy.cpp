#include "pngopt/lossy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

#include "pngopt/output.h"
#include "pngenc/png_image.h"
#include "pngenc/row_filter.h"
#include "platform/byte_order.h"

namespace jx::quillox {
namespace {

constexpr int kBins = 511;  // residuals -255..255

// Index of the colour-table entry nearest to an 8-bit RGBA value (high bytes, first minimum).
size_t NearestEntry(const std::vector<ColorUse>& table, const uint8_t* p) {
    size_t best = 0;
    int64_t bestDistance = -1;
    for (size_t i = 0; i < table.size(); ++i) {
        int64_t d = 0;
        for (int c = 0; c < 4; ++c) {
            int64_t diff = int64_t(uint8_t(table[i].rgba >> (56 - 16 * c))) - p[c];
            d += diff * diff;
        }
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

// Palette input: the indices follow the new pixels, or are dropped when a colour left the palette.
void RebuildIndices(WorkImage& image) {
    if (image.indices.empty()) return;
    std::unordered_map<uint64_t, uint8_t> index;
    for (size_t i = image.palette.size(); i-- > 0;) {
        const PaletteEntry& e = image.palette[i];
        index[uint64_t(e.r) << 56 | uint64_t(e.g) << 40 | uint64_t(e.b) << 24 | uint64_t(e.a) << 8] = uint8_t(i);
    }
    for (uint64_t i = 0; i < image.indices.size(); ++i) {
        const uint16_t* p = &image.rgba[i * 4];
        auto it = index.find(uint64_t(p[0]) << 48 | uint64_t(p[1]) << 32 | uint64_t(p[2]) << 16 | p[3]);
        if (it == index.end()) {
            image.indices.clear();
            return;
        }
        image.indices[i] = it->second;
    }
}

}  // namespace

uint8_t LossyFilterSet(const WorkImage& image, const Options& options) {
    int enabled = 0, only = 0;
    for (int f = 0; f < 5; ++f)
        if (options.filters[f]) ++enabled, only = f;
    if (enabled == 1) return uint8_t(1u << only);
    const Analysis& a = image.analysis;
    return a.colorCount > 256 || a.grey ? FilterBit(kFilterAverage) : FilterBit(kFilterPaeth);
}

std::vector<int32_t> PrepareLossyLevels(const WorkImage& image, uint8_t filterSet, int quality) {
    std::array<int64_t, kBins> value{};
    std::array<uint64_t, kBins> count{};
    for (int d = -255; d <= 255; ++d) value[size_t(d + 255)] = int64_t(d) * 256;
    // The four channels' histograms are summed at once: only their total is used.
    const uint32_t w = image.width, h = image.height;
    auto at = [&](int64_t x, int64_t y, int c) -> int {
        if (x < 0 || y < 0) return 0;
        return image.Pixel(uint32_t(x), uint32_t(y))[c] >> 8;
    };
    for (int f = 0; f < 5; ++f) {
        if (!(filterSet >> f & 1)) continue;
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c) {
                    const int left = at(int64_t(x) - 1, y, c), up = at(x, int64_t(y) - 1, c);
                    int p = 0;
                    switch (f) {
                        case kFilterSub: p = left; break;
                        case kFilterUp: p = up; break;
                        case kFilterAverage: p = (left + up) / 2; break;
                        case kFilterPaeth: p = pngenc::PaethPredict(left, up, at(int64_t(x) - 1, int64_t(y) - 1, c)); break;
                        default: break;
                    }
                    ++count[size_t(at(x, y, c) - p + 255)];
                }
    }
    const double s = 2.0 * std::sqrt(double(quality));
    for (int d = -255; d <= 255; ++d) {
        const size_t bi = size_t(std::lrint(d / s) + 255), di = size_t(d + 255);
        const uint64_t total = count[bi] + count[di];
        if (total == 0) continue;
        // In place: bin b may be merged on after it received others, and bin d keeps its own.
        value[bi] = (value[bi] * int64_t(count[bi]) + value[di] * int64_t(count[di])) / int64_t(total);
        count[bi] = total;
    }
    std::vector<int32_t> levels;
    for (size_t i = 0; i < kBins; ++i)
        if (count[i]) levels.push_back(int32_t(std::lrint(double(value[i]) / 256.0)));
    return levels;
}

bool ApplyLossyPrePass(WorkImage& image, const Options& options) {
    if (options.lossyQuality <= 0 || image.width == 0 || image.height == 0) return false;
    // The encoder writes interlaced images losslessly, so the pass would change nothing but depth.
    if (OutputInterlaced(image, options)) return false;
    const uint32_t w = image.width, h = image.height;
    PngImage png(w, h, kPngRgba, 8);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = png.Row(y);
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) row[uint64_t(x) * 4 + c] = uint8_t(image.Pixel(x, y)[c] >> 8);
    }
    png.FilterSet = LossyFilterSet(image, options);
    png.CompressionLevel = 1;
    png.LossyQuality = uint8_t(std::min(options.lossyQuality, 255));
    png.LossyMethod = uint8_t(options.lossyMethod);
    if (options.lossyMethod == 1) png.LossyLevels = PrepareLossyLevels(image, png.FilterSet, options.lossyQuality);
    const PngImage back = PngImage::Decode(png.Encode());
    if (back.Width() != w || back.Height() != h || back.ColorType() != kPngRgba || back.BitDepth() != 8)
        throw PngError("Internal error: the lossy pass read back another image");

    const Analysis& a = image.analysis;
    // Few colours: every pixel returns to one of its own colours, so the palette survives. The
    // input's palette kept with "/np" must survive too, grey or not.
    const bool keepPalette = options.keepPalette && image.kind == InputKind::Png && image.pngColorType == kPngPalette;
    const bool toTable = a.colorCount <= 256 && !a.colorTable.empty() && (!a.grey || keepPalette);
    if (toTable) {
        std::unordered_map<uint32_t, size_t> nearest;
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* row = back.Row(y);
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = row + uint64_t(x) * 4;
                auto [it, fresh] = nearest.try_emplace(BigEndian32(p), 0);
                if (fresh) it->second = NearestEntry(a.colorTable, p);
                const uint64_t v = a.colorTable[it->second].rgba;
                uint16_t* q = image.Pixel(x, y);
                for (int c = 0; c < 4; ++c) q[c] = uint16_t(v >> (48 - 16 * c));
            }
        }
    } else {
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* row = back.Row(y);
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c) image.Pixel(x, y)[c] = uint16_t(row[uint64_t(x) * 4 + c] << 8);
        }
        if (image.sampleDepth == 16) {
            image.sampleDepth = 8;
            if (image.hasTrns)
                image.key = {uint16_t(image.key.r & 0xFF00), uint16_t(image.key.g & 0xFF00), uint16_t(image.key.b & 0xFF00)};
        }
    }
    RebuildIndices(image);
    Analyze(image);
    return true;
}

}  // namespace jx::quillox
