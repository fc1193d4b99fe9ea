#pragma once
// The "Adaptive" palette type.
#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

// Reduces the colour list Palette[0..ColorListLength-1] to at most N = PaletteSize colours;
// may lower PaletteSize and ColorListLength; PaletteOrder becomes the identity over PaletteSize.
// Palette entries with A = 0 are left as cleared records. indexedSearch false runs the plain
// quadratic searches instead of the indexed ones; both give the same palette in the same order.
void BuildAdaptivePalette(EngineState& state, const TQuantizerSettings& settings, bool indexedSearch = true);

}  // namespace jx
