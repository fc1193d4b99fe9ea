#include "imaging/engine_state.h"

#include <string>

#include "imaging/bayer.h"
#include "imaging/edge_map.h"
#include "imaging/errors.h"

namespace jx {

EngineState::EngineState() {
    AlphaBackground.R = AlphaBackground.G = AlphaBackground.B = 255;
    AlphaBackground.A = 0;
    Convert(AlphaBackground);
    ChromaMax = ComputeChromaMax(ColorConverter);
    BuildBayerMatrices(*this);
}

void EngineState::SetSourceImage(TPixelImage image, TSourceConversion conversion) {
    SourceImage = std::move(image);
    HiddenColors.reset();
    TPixelRec* px = SourceImage.Data();
    const int64_t n = SourceImage.Count();
    if (conversion == TSourceConversion::Now) {
        ConvertPixels(*this, px, n, true);
    } else {
        for (int64_t i = 0; i < n; ++i)
            if (px[i].A == 0) px[i].R = px[i].G = px[i].B = px[i].Weight = 0;
    }
    // Deferred, the quantize that follows the conversion writes every working pixel: the
    // working image only needs the shape.
    if (conversion == TSourceConversion::Now)
        WorkingImage = SourceImage;
    else if (!WorkingImage.SameShape(SourceImage))
        WorkingImage.Resize(SourceImage.Width(), SourceImage.Height());
    QualityMask.Resize(SourceImage.Width(), SourceImage.Height(), 0);
    if (conversion == TSourceConversion::Now) BuildEdgeMap(*this);
}

void ClearPixel(const EngineState& state, TPixelRec& p) {
    p.R = p.G = p.B = p.A = 0;
    state.Convert(p);
    p.Weight = 0;
}

TLogicalPalette BuildHPalette(const EngineState& state) {
    const int32_t n = state.PaletteSize;
    if (n < 1 || n > 256)
        throw ImagingError("An indexed image needs 1 to 256 palette colours, not " + std::to_string(n));
    if (state.Palette.size() < static_cast<size_t>(n)) throw ImagingError("Palette shorter than its size");
    TLogicalPalette lp;
    lp.NumEntries = static_cast<uint16_t>(n);
    for (int32_t i = 0; i < n; ++i) {
        const TPixelRec& p = state.Palette[static_cast<size_t>(i)];
        lp.Entries[static_cast<size_t>(i)] = {p.R, p.G, p.B, 0};
    }
    return lp;
}

}  // namespace jx
