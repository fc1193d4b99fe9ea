#pragma once
// Smoothing of thin lines and single-pixel noise: a pixel close to the average of its two
// neighbours along a direction takes that average (or the mean of it and itself).
#include <cstdint>

#include "imaging/engine_state.h"

namespace jx {

enum class TSmoothMode : int32_t { None = 0, Horizontal = 1, Vertical = 2, HorizontalVertical = 3, VerticalHorizontal = 4 };

// In place, left to right (top to bottom), so the neighbour before a pixel already holds its
// smoothed value. Only R, G, B, A change; border pixels across the pass stay. strength 0 does nothing.
void SmoothHorizontal(TPixelImage& image, int32_t strength, bool softLine);
void SmoothVertical(TPixelImage& image, int32_t strength, bool softLine);
// The passes of a mode in their order; raises ImagingError for an unknown mode.
void Smooth(TPixelImage& image, int32_t mode, int32_t strength, bool softLine);

}  // namespace jx
