#pragma once
// Per-channel clipping: values below a low threshold become 0, above a high threshold 255.
#include <array>
#include <cstdint>

#include "imaging/engine_state.h"

namespace jx {

// R, G, B, A. The defaults change nothing.
struct TChannelThresholds {
    std::array<int32_t, 4> Lo{0, 0, 0, 0};        // 0..127
    std::array<int32_t, 4> Hi{255, 255, 255, 255};  // 128..255
};

// A copy of source with every channel clipped (both comparisons strict, so a value equal to a
// threshold stays); c1..c3 and Weight are the source's. Raises ImagingError for a threshold out of
// its range.
TPixelImage ColorCorrected(const TPixelImage& source, const TChannelThresholds& t);

}  // namespace jx
