#pragma once
// Two-pass filtered resampling of TDibBuffer with sixteen reconstruction kernels and 14-bit weights.
#include <cstdint>
#include <vector>

#include "imaging/dib_buffer.h"

namespace jx {

constexpr int kResampleFilterCount = 16;

// The filter's name as the resize dialog lists it ("Nearest" .. "Blackman3"), by index.
const char* ResampleFilterName(int filter);
// Support radius R of the kernel.
double ResampleFilterRadius(int filter);
double Sinc(double x);
// Kernel value at distance x >= 0.
double ResampleKernel(int filter, double x);
// Source samples per target sample: 2 * Trunc(R / min(scale, 1)) + 1.
int KernelWindowWidth(double scale, double radius);

// Per target index: windowWidth slots starting at first[i], their weights in 14-bit fixed point
// (0 outside the source) and the sum of the weights, which is always 16384.
struct TContributions {
    int windowWidth = 0;
    std::vector<int> first;
    std::vector<int32_t> weights;  // targetLength * windowWidth
    std::vector<int32_t> sums;
    int32_t Weight(int target, int slot) const {
        return weights[static_cast<size_t>(target) * static_cast<size_t>(windowWidth) + static_cast<size_t>(slot)];
    }
};
TContributions BuildContributions(int targetLength, int sourceLength, int filter, float scale);

// Resizes source into destination (both already sized) with filter 0..15. 8-bit buffers resample
// their indices and only into 8 bits; 16, 24 and 32 bits mix freely (alpha is kept from 32 bits and
// 255 from other depths); depths below 8 and empty buffers leave the destination as it is. `scratch`
// may hold the intermediate image between calls.
void FilteredResize(TDibBuffer& source, TDibBuffer& destination, int filter, TDibBuffer* scratch = nullptr);

}  // namespace jx
