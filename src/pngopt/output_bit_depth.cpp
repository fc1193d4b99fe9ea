// Bit depth: 16-bit samples that hold 8-bit values, and the smallest depth a palette or grey
// image needs.
#include "pngopt/output_internal.h"

namespace jx::quillox::detail {

int BitsFor(size_t entries) {
    if (entries <= 2) return 1;
    if (entries <= 4) return 2;
    if (entries <= 16) return 4;
    return 8;
}

bool GreyFits(const WorkImage& image, int depth) {
    const uint32_t d = GreyDivisor(depth);
    for (const ColorUse& c : image.analysis.colorTable)
        if (Hi(c.rgba, 3) != 0 && Hi(c.rgba, 0) % d) return false;
    return true;
}

void To8Bit(WorkImage& image) {
    if (image.sampleDepth != 16) return;
    for (uint16_t& v : image.rgba) v = uint16_t(v & 0xFF00);
    if (image.hasTrns) image.key = {uint16_t(image.key.r & 0xFF00), uint16_t(image.key.g & 0xFF00), uint16_t(image.key.b & 0xFF00)};
    image.sampleDepth = 8;
    Analyze(image);
}

}  // namespace jx::quillox::detail
