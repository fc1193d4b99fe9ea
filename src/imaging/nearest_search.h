#pragma once
// Nearest palette entry by a search pruned on the lightness term. Gives exactly the answer of the
// plain linear scan: the smallest distance, the lowest index among equals.
#include <cstdint>
#include <vector>

#include "imaging/pixel.h"

namespace jx {

class TNearestSearch {
public:
    void Build(const TPixelRec* palette, int32_t count, unsigned lumaShift, bool hasAlpha);
    int32_t Find(const TPixelRec& p) const;

private:
    struct Entry {
        TPixelRec rec;
        int32_t index;
    };
    std::vector<Entry> byC1_;  // sorted by c1, then index
    std::vector<int32_t> firstOfC1_;  // first position with c1 >= v, for v in 0..256
    unsigned lumaShift_ = 3;
    bool hasAlpha_ = false;
};

// The plain scan over palette[0..count-1]; 0 when count <= 0.
int32_t NearestLinear(const TPixelRec* palette, int32_t count, const TPixelRec& p, unsigned lumaShift, bool hasAlpha);

}  // namespace jx
