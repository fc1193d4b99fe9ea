// Transparent fill: the colours fully transparent pixels take, tried one after another for the
// smallest file ("/a1").
#include <algorithm>
#include <string>

#include "pngopt/output_internal.h"
#include "pngopt/trial_engine.h"

namespace jx::quillox::detail {
namespace {

void FillColour(WorkImage& image, uint16_t value) {
    for (uint64_t i = 0; i < image.rgba.size(); i += 4)
        if (image.rgba[i + 3] == 0) image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = value;
}

void FillZero(WorkImage& image) { FillColour(image, 0); }
void FillWhite(WorkImage& image) { FillColour(image, image.sampleDepth == 16 ? 0xFFFF : 0xFF00); }

// Along one run of pixels, each transparent one takes the colour of the last visible one.
template <typename PixelAt>
void FillRun(uint32_t count, PixelAt pixelAt) {
    uint16_t last[3] = {0, 0, 0};
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t* p = pixelAt(i);
        if (p[3] == 0) std::copy(last, last + 3, p);
        else std::copy(p, p + 3, last);
    }
}

void FillFromLeft(WorkImage& image) {
    for (uint32_t y = 0; y < image.height; ++y) FillRun(image.width, [&](uint32_t i) { return image.Pixel(i, y); });
}
void FillFromRight(WorkImage& image) {
    const uint32_t w = image.width;
    for (uint32_t y = 0; y < image.height; ++y) FillRun(w, [&](uint32_t i) { return image.Pixel(w - 1 - i, y); });
}
void FillFromTop(WorkImage& image) {
    for (uint32_t x = 0; x < image.width; ++x) FillRun(image.height, [&](uint32_t i) { return image.Pixel(x, i); });
}
void FillFromBottom(WorkImage& image) {
    const uint32_t h = image.height;
    for (uint32_t x = 0; x < image.width; ++x) FillRun(h, [&](uint32_t i) { return image.Pixel(x, h - 1 - i); });
}

// The colours of fully transparent pixels, set one way or another for compression's sake.
void FillTransparent(WorkImage& image, TransparentFill fill) {
    switch (fill) {
        case TransparentFill::AsIs: break;
        case TransparentFill::Zero: FillZero(image); break;
        case TransparentFill::White: FillWhite(image); break;
        case TransparentFill::FromLeft: FillFromLeft(image); break;
        case TransparentFill::FromRight: FillFromRight(image); break;
        case TransparentFill::FromTop: FillFromTop(image); break;
        case TransparentFill::FromBottom: FillFromBottom(image); break;
    }
}

uint64_t VariantSize(const OutputImage& out, const Measurer& m) {
    std::vector<std::pair<uint8_t, int>> settings;
    for (uint8_t set : {uint8_t(0x01), uint8_t(0x02), uint8_t(0x04), uint8_t(0x1F)})
        for (int strategy : {0, 1}) settings.emplace_back(set, strategy);
    return m.Smallest(out, settings);
}

}  // namespace

OutputImage ChooseTransparentFill(WorkImage& image, const Options& options, std::ostream* progress, ThreadPool* pool) {
    const Analysis& a = image.analysis;
    OutputImage out;
    const Measurer m(options, pool);
    // Each fill works on the image as the previous one left it; the run fills only pay
    // where partial pixels keep an alpha channel.
    static constexpr TransparentFill kFills[] = {TransparentFill::AsIs,     TransparentFill::Zero,
                                                 TransparentFill::White,    TransparentFill::FromLeft,
                                                 TransparentFill::FromRight, TransparentFill::FromTop,
                                                 TransparentFill::FromBottom};
    const size_t fills = a.partial ? 7 : 3;
    // Fills are measured side by side, as many at once as a bounded amount of copies allows.
    const uint64_t copyBytes = uint64_t(image.rgba.size()) * sizeof(uint16_t) + 1;
    const size_t batch = size_t(std::clamp<uint64_t>((uint64_t(256) << 20) / copyBytes, 1, fills));
    uint64_t bestSize = 0;
    WorkImage bestImage;
    for (size_t first = 0; first < fills; first += batch) {
        const size_t n = std::min(batch, fills - first);
        std::vector<WorkImage> trials(n);
        for (size_t k = 0; k < n; ++k) {
            FillTransparent(image, kFills[first + k]);
            trials[k] = image;
        }
        std::vector<OutputImage> candidates(n);
        std::vector<uint64_t> sizes(n);
        ParallelFor(pool, n, [&](size_t k) {
            Analyze(trials[k]);
            candidates[k] = ChooseOutputFormat(trials[k], options, pool);
            sizes[k] = VariantSize(candidates[k], m);
        });
        for (size_t k = 0; k < n; ++k) {
            if (first + k == 0 || sizes[k] < bestSize) {
                bestSize = sizes[k];
                out = std::move(candidates[k]);
                bestImage = std::move(trials[k]);
            }
            if (progress) *progress << "." << std::flush;
        }
    }
    image = std::move(bestImage);
    if (progress) *progress << "\r" << std::string(80, ' ') << std::flush;
    return out;
}

}  // namespace jx::quillox::detail
