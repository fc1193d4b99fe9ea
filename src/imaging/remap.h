#pragma once
// The remap-and-dither pass.
#include <array>
#include <cstdint>
#include <vector>

#include "imaging/engine_state.h"
#include "imaging/observer.h"
#include "imaging/settings.h"

namespace jx {

// One neighbour of an error-diffusion kernel: dx columns right, dy rows down, weight k / divisor.
struct TDiffusionKernelEntry {
    int8_t dx, dy, k;
};
struct TDiffusionKernel {
    int32_t divisor;
    std::vector<TDiffusionKernelEntry> entries;  // applied in this order
};
// Indexed by dithering method: 0 (no diffusion, empty) and 1..6 "Shiau-Fan" .. "Stevenson-Arce".
const std::array<TDiffusionKernel, 7>& DiffusionKernels();

// Maps SourceImage (or the quick-add window of it) onto Palette[0..PaletteSize-1] into
// WorkingImage with settings.DitherMode, recounting the palette weights; then asks the observer
// to refresh the error metrics, the image view and the (re-sorted) palette grid. The palette is
// put in build order first (ArrangeByBuildOrder), so the result does not depend on the view
// order it was in.
void ConvertImage(EngineState& state, const TQuantizerSettings& settings, EngineObserver& observer);

}  // namespace jx
