#include "imaging/smooth.h"

#include <cstdlib>
#include <string>

#include "imaging/errors.h"

namespace jx {
namespace {

void SmoothPixel(TPixelRec& p, const TPixelRec& n1, const TPixelRec& n2, int32_t strength, bool soft) {
    const int32_t r = (n1.R + n2.R) >> 1, g = (n1.G + n2.G) >> 1, b = (n1.B + n2.B) >> 1, a = (n1.A + n2.A) >> 1;
    const int32_t sad = std::abs(p.R - r) + std::abs(p.G - g) + std::abs(p.B - b) + std::abs(p.A - a);
    if (sad >= strength) return;
    if (soft) {
        p.R = static_cast<uint8_t>((r + p.R) >> 1);
        p.G = static_cast<uint8_t>((g + p.G) >> 1);
        p.B = static_cast<uint8_t>((b + p.B) >> 1);
        p.A = static_cast<uint8_t>((a + p.A) >> 1);
    } else {
        p.R = static_cast<uint8_t>(r);
        p.G = static_cast<uint8_t>(g);
        p.B = static_cast<uint8_t>(b);
        p.A = static_cast<uint8_t>(a);
    }
}

}  // namespace

void SmoothHorizontal(TPixelImage& img, int32_t strength, bool soft) {
    if (strength <= 0) return;
    for (int32_t y = 0; y < img.Height(); ++y) {
        TPixelRec* row = img[y];
        for (int32_t x = 1; x + 1 < img.Width(); ++x) SmoothPixel(row[x], row[x - 1], row[x + 1], strength, soft);
    }
}

void SmoothVertical(TPixelImage& img, int32_t strength, bool soft) {
    if (strength <= 0) return;
    for (int32_t y = 1; y + 1 < img.Height(); ++y) {
        TPixelRec* above = img[y - 1];
        TPixelRec* row = img[y];
        TPixelRec* below = img[y + 1];
        for (int32_t x = 0; x < img.Width(); ++x) SmoothPixel(row[x], above[x], below[x], strength, soft);
    }
}

void Smooth(TPixelImage& img, int32_t mode, int32_t strength, bool soft) {
    switch (static_cast<TSmoothMode>(mode)) {
        case TSmoothMode::None: break;
        case TSmoothMode::Horizontal: SmoothHorizontal(img, strength, soft); break;
        case TSmoothMode::Vertical: SmoothVertical(img, strength, soft); break;
        case TSmoothMode::HorizontalVertical:
            SmoothHorizontal(img, strength, soft);
            SmoothVertical(img, strength, soft);
            break;
        case TSmoothMode::VerticalHorizontal:
            SmoothVertical(img, strength, soft);
            SmoothHorizontal(img, strength, soft);
            break;
        default: throw ImagingError("Unknown smoothing mode " + std::to_string(mode));
    }
}

}  // namespace jx
