// Temporary body: plain nearest-colour remap of the whole image, no dithering. The
// remap-and-dither pass replaces this file.
#include "imaging/remap.h"

#include "imaging/color_tree.h"

namespace jx {

void ConvertImage(EngineState& state, const TQuantizerSettings& settings, EngineObserver& observer) {
    observer.BusyBegin();
    const int32_t n = state.PaletteSize;
    if (n >= 1 && state.HasImage()) {
        if (state.Palette.size() < static_cast<size_t>(n)) state.Palette.resize(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) state.Palette[static_cast<size_t>(i)].Weight = 0;
        ColorTreeReset(state);
        if (!state.WorkingImage.SameShape(state.SourceImage))
            state.WorkingImage.Resize(state.ImageWidth(), state.ImageHeight());
        for (int32_t y = 0; y < state.ImageHeight(); ++y) {
            const TPixelRec* src = state.SourceImage[y];
            TPixelRec* dst = state.WorkingImage[y];
            for (int32_t x = 0; x < state.ImageWidth(); ++x) {
                TPixelRec p = src[x];
                if (p.A == 0) ClearPixel(state, p);
                dst[x] = NearestColor(state, p, true);
            }
        }
    }
    observer.Refresh(TRefreshTarget::ErrorMetrics);
    observer.Refresh(TRefreshTarget::ImageView);
    observer.Refresh(TRefreshTarget::PaletteGrid);
    observer.BusyEnd();
}

}  // namespace jx
