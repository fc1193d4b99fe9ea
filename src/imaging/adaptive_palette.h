#pragma once
// The "Adaptive" palette type.
#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

// Reduces the colour list Palette[0..ColorListLength-1] to at most N = PaletteSize colours;
// may lower PaletteSize and ColorListLength; PaletteOrder becomes the identity over PaletteSize.
void BuildAdaptivePalette(EngineState& state, const TQuantizerSettings& settings);

}  // namespace jx
