#pragma once
#include <cstdint>

#include "fileio/bitmap.h"

namespace jx {

enum TResamplingFilter : int {
    sfBox = 0,
    sfTriangle = 1,
    sfHermite = 2,
    sfBell = 3,
    sfSpline = 4,
    sfLanczos3 = 5,
    sfMitchell = 6,
};

// Default radius (support) of each kernel.
float DefaultFilterRadius(TResamplingFilter filter);
// The kernel's value at x, in single precision.
float FilterValue(TResamplingFilter filter, float x);

// Scales source into a 24-bit target of the new size; source is converted to
// 24 bits in place (alpha is lost). Radius 0 takes the kernel's default.
// Nothing happens when one of the four sizes is 0.
void ResampleBitmap(int new_width, int new_height, TResamplingFilter filter, TBitmap& target,
                    TBitmap& source, float radius = 0.0f);

}  // namespace jx
