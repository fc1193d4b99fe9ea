#pragma once
// The "Adaptive" palette type.
#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

// A list longer than this sets the pre-merge threshold as a list of this length would: the grain
// of a camera-sized photograph gives millions of colours, and a threshold that kept growing with
// them would fold clearly different hues together before the clustering could weigh them.
inline constexpr int32_t kPreMergeListBound = 262144;

// Reduces the colour list Palette[0..ColorListLength-1] to at most N = PaletteSize colours;
// may lower PaletteSize and ColorListLength; PaletteOrder becomes the identity over PaletteSize.
// Palette entries with A = 0 are left as cleared records. indexedSearch false runs the plain
// quadratic searches instead of the indexed ones; both give the same palette in the same order.
// The pre-merge threshold grows with the list length only up to listBound entries (benchmarks
// try other bounds; 0 or less lifts it).
void BuildAdaptivePalette(EngineState& state, const TQuantizerSettings& settings, bool indexedSearch = true,
                          int32_t listBound = kPreMergeListBound);

}  // namespace jx
