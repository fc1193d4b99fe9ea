#include "imaging/nearest_search.h"

#include <algorithm>
#include <limits>

namespace jx {

void TNearestSearch::Build(const TPixelRec* palette, int32_t count, unsigned lumaShift, bool hasAlpha) {
    lumaShift_ = lumaShift;
    hasAlpha_ = hasAlpha;
    byC1_.clear();
    byC1_.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int32_t i = 0; i < count; ++i) byC1_.push_back({palette[i], i});
    std::stable_sort(byC1_.begin(), byC1_.end(), [](const Entry& a, const Entry& b) { return a.rec.c1 < b.rec.c1; });
    firstOfC1_.assign(257, 0);
    size_t pos = 0;
    for (int v = 0; v <= 256; ++v) {
        while (pos < byC1_.size() && byC1_[pos].rec.c1 < v) ++pos;
        firstOfC1_[static_cast<size_t>(v)] = static_cast<int32_t>(pos);
    }
}

int32_t TNearestSearch::Find(const TPixelRec& p) const {
    const int32_t n = static_cast<int32_t>(byC1_.size());
    if (n == 0) return 0;
    int32_t best = std::numeric_limits<int32_t>::max();
    int32_t bestIndex = std::numeric_limits<int32_t>::max();
    auto consider = [&](const Entry& e) {
        const int32_t d = ColorDistance(p, e.rec, lumaShift_, hasAlpha_);
        if (d < best || (d == best && e.index < bestIndex)) {
            best = d;
            bestIndex = e.index;
        }
    };
    // Walk outwards from p's lightness; a side stops once its lightness term alone exceeds the
    // best distance (an equal bound may still hide a lower index, so it goes on).
    int32_t up = firstOfC1_[p.c1];
    int32_t down = up - 1;
    bool upOpen = up < n, downOpen = down >= 0;
    while (upOpen || downOpen) {
        if (upOpen) {
            const Entry& e = byC1_[static_cast<size_t>(up)];
            if ((Squares[e.rec.c1 - p.c1] << lumaShift_) > best) {
                upOpen = false;
            } else {
                consider(e);
                upOpen = ++up < n;
            }
        }
        if (downOpen) {
            const Entry& e = byC1_[static_cast<size_t>(down)];
            if ((Squares[p.c1 - e.rec.c1] << lumaShift_) > best) {
                downOpen = false;
            } else {
                consider(e);
                downOpen = --down >= 0;
            }
        }
    }
    return bestIndex;
}

int32_t NearestLinear(const TPixelRec* palette, int32_t count, const TPixelRec& p, unsigned lumaShift, bool hasAlpha) {
    int32_t best = std::numeric_limits<int32_t>::max();
    int32_t bestIndex = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t d = ColorDistance(p, palette[i], lumaShift, hasAlpha);
        if (d < best) {
            best = d;
            bestIndex = i;
        }
    }
    return bestIndex;
}

}  // namespace jx
