// Temporary body: keeps the colour list when it fits, else its N heaviest colours. The
// adaptive palette build replaces this file.
#include "imaging/adaptive_palette.h"

#include <algorithm>

namespace jx {

void BuildAdaptivePalette(EngineState& state, const TQuantizerSettings& settings) {
    const int32_t n = state.PaletteSize;
    if (n <= 0) return;
    if (state.ColorListLength > n) {
        std::stable_sort(state.Palette.begin(), state.Palette.begin() + state.ColorListLength,
                         [](const TPixelRec& a, const TPixelRec& b) { return a.Weight > b.Weight; });
        state.ColorListLength = n;
    }
    state.PaletteSize = state.ColorListLength;
    state.PaletteOrder.assign(static_cast<size_t>(std::max(state.PaletteSize, 0)), 0);
    for (int32_t i = 0; i < state.PaletteSize; ++i) state.PaletteOrder[static_cast<size_t>(i)] = i;
}

}  // namespace jx
