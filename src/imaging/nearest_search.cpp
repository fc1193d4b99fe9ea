#include "imaging/nearest_search.h"

#include <algorithm>
#include <limits>

namespace jx {
namespace {

// Least and greatest squared difference between v and the values lo..hi.
inline int32_t LeastSq(int v, int lo, int hi) {
    const int d = v < lo ? lo - v : (v > hi ? v - hi : 0);
    return Squares[d];
}
inline int32_t GreatestSq(int v, int lo, int hi) { return Squares[std::max(std::abs(v - lo), std::abs(v - hi))]; }

}  // namespace

void TNearestSearch::Build(const TPixelRec* palette, int32_t count, unsigned lumaShift, bool hasAlpha) {
    lumaShift_ = lumaShift;
    hasAlpha_ = hasAlpha;
    palette_.assign(palette, palette + std::max(count, 0));
    cellStart_.clear();
    cellCount_.clear();
    candidates_.clear();
    byC1_.clear();
    if (count > kMaxCellPalette) {
        byC1_.reserve(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) byC1_.push_back({palette[i], i});
        std::stable_sort(byC1_.begin(), byC1_.end(), [](const Entry& a, const Entry& b) { return a.rec.c1 < b.rec.c1; });
        firstOfC1_.assign(257, 0);
        size_t pos = 0;
        for (int v = 0; v <= 256; ++v) {
            while (pos < byC1_.size() && byC1_[pos].rec.c1 < v) ++pos;
            firstOfC1_[static_cast<size_t>(v)] = static_cast<int32_t>(pos);
        }
        return;
    }
    const size_t cells = size_t{kBins} * kBins * kBins * (hasAlpha ? kAlphaBins : 1);
    cellStart_.assign(cells, -1);
    cellCount_.assign(cells, 0);
    candidates_.clear();
}

int32_t TNearestSearch::CellOf(const TPixelRec& p) const {
    const int32_t a = hasAlpha_ ? (p.A >> kAlphaShift) : 0;
    return ((a * kBins + (p.c1 >> kShift)) * kBins + (p.c2 >> kShift)) * kBins + (p.c3 >> kShift);
}

void TNearestSearch::FillCell(int32_t cell, const TPixelRec& p) const {
    const int lo1 = p.c1 >> kShift << kShift, lo2 = p.c2 >> kShift << kShift, lo3 = p.c3 >> kShift << kShift;
    const int hi1 = lo1 + (1 << kShift) - 1, hi2 = lo2 + (1 << kShift) - 1, hi3 = lo3 + (1 << kShift) - 1;
    const int loA = hasAlpha_ ? p.A >> kAlphaShift << kAlphaShift : 0;
    const int hiA = hasAlpha_ ? loA + (1 << kAlphaShift) - 1 : 0;
    const int32_t n = static_cast<int32_t>(palette_.size());
    std::vector<int32_t> least(static_cast<size_t>(n));
    int32_t bound = std::numeric_limits<int32_t>::max();
    for (int32_t i = 0; i < n; ++i) {
        const TPixelRec& e = palette_[static_cast<size_t>(i)];
        int32_t lo = (LeastSq(e.c1, lo1, hi1) << lumaShift_) + 2 * LeastSq(e.c2, lo2, hi2) + 2 * LeastSq(e.c3, lo3, hi3);
        int32_t hi = (GreatestSq(e.c1, lo1, hi1) << lumaShift_) + 2 * GreatestSq(e.c2, lo2, hi2) +
                     2 * GreatestSq(e.c3, lo3, hi3);
        if (hasAlpha_) {
            lo += LeastSq(e.A, loA, hiA);
            hi += GreatestSq(e.A, loA, hiA);
        }
        least[static_cast<size_t>(i)] = lo;
        bound = std::min(bound, hi);
    }
    cellStart_[static_cast<size_t>(cell)] = static_cast<int32_t>(candidates_.size());
    for (int32_t i = 0; i < n; ++i) {
        if (least[static_cast<size_t>(i)] > bound) continue;
        const TPixelRec& e = palette_[static_cast<size_t>(i)];
        // Without alpha the distance ignores it: a copy of the query's keeps the term zero.
        candidates_.push_back({e.c1, e.c2, e.c3, hasAlpha_ ? e.A : uint8_t{0}, i});
    }
    cellCount_[static_cast<size_t>(cell)] = static_cast<int32_t>(candidates_.size()) - cellStart_[static_cast<size_t>(cell)];
}

int32_t TNearestSearch::Find(const TPixelRec& p, int32_t& distance) const {
    if (palette_.empty()) {
        distance = std::numeric_limits<int32_t>::max();
        return 0;
    }
    if (!byC1_.empty()) return FindByLightness(p, distance);
    const int32_t cell = CellOf(p);
    if (cellStart_[static_cast<size_t>(cell)] < 0) FillCell(cell, p);
    const Candidate* c = candidates_.data() + cellStart_[static_cast<size_t>(cell)];
    const int32_t count = cellCount_[static_cast<size_t>(cell)];
    const int32_t p1 = p.c1, p2 = p.c2, p3 = p.c3, pA = hasAlpha_ ? p.A : 0;
    const unsigned shift = lumaShift_;
    int32_t best = std::numeric_limits<int32_t>::max();
    int32_t bestIndex = 0;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t d1 = p1 - c[k].c1, d2 = p2 - c[k].c2, d3 = p3 - c[k].c3, dA = pA - c[k].A;
        const int32_t d = ((d1 * d1) << shift) + 2 * (d2 * d2) + 2 * (d3 * d3) + dA * dA;
        if (d < best) {
            best = d;
            bestIndex = c[k].index;
        }
    }
    distance = best;
    return bestIndex;
}

int32_t TNearestSearch::FindByLightness(const TPixelRec& p, int32_t& distance) const {
    const int32_t n = static_cast<int32_t>(byC1_.size());
    int32_t best = std::numeric_limits<int32_t>::max();
    int32_t bestIndex = std::numeric_limits<int32_t>::max();
    auto consider = [&](const Entry& e) {
        const int32_t d = ColorDistance(p, e.rec, lumaShift_, hasAlpha_);
        if (d < best || (d == best && e.index < bestIndex)) {
            best = d;
            bestIndex = e.index;
        }
    };
    // An equal bound may still hide a lower index, so a side goes on past it.
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
    distance = best;
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
