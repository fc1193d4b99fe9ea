#pragma once
// The remap-and-dither pass.
#include "imaging/engine_state.h"
#include "imaging/observer.h"
#include "imaging/settings.h"

namespace jx {

// Maps SourceImage (or the quick-add window of it) onto Palette[0..PaletteSize-1] into
// WorkingImage with settings.DitherMode, recounting the palette weights; then asks the observer
// to refresh the error metrics, the image view and the (re-sorted) palette grid.
void ConvertImage(EngineState& state, const TQuantizerSettings& settings, EngineObserver& observer);

}  // namespace jx
