#pragma once
// Compression-noise filter: each pixel becomes the average of the similar pixels in a square window
// around it, similarity being the engine's colour distance.
#include <cstdint>
#include <functional>

#include "imaging/engine_state.h"

namespace jx {

struct TJpegFilterSettings {
    int32_t BlockSize = 3;   // window radius B, 1..8: (2B + 1) x (2B + 1) pixels, clipped at the borders
    int32_t MaxError = 16;   // filter strength M, 1..32
    bool Aggressive = false;  // use every neighbour within the limit, not only those within half the largest
    unsigned LumaShift = 1;  // lightness weight of the distance while filtering
    bool HasAlpha = false;   // the distance counts alpha
};

// The distance limit T = v * v with v = trunc(log10((255 - M) / 256)^2 * 65536 + 4).
int32_t JpegFilterLimit(int32_t maxError);

// Called after each row with its index; returns false to stop the filter.
using TRowCallback = std::function<bool(int32_t row)>;

// out := source with R, G, B, A, c1, c2, c3 of every pixel the rounded average over its similar
// neighbours (Weight kept). Returns false when rowDone asked to stop; out is then incomplete.
// Raises ImagingError for settings out of range.
bool JpegFilter(const TPixelImage& source, TPixelImage& out, const TJpegFilterSettings& settings,
                const TRowCallback& rowDone = {});

}  // namespace jx
