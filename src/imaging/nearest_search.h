#pragma once
// Nearest palette entry by a search over cells of the working space. Gives exactly the answer of
// the plain linear scan: the smallest distance, the lowest index among equals.
#include <cstdint>
#include <vector>

#include "imaging/pixel.h"

namespace jx {

class TNearestSearch {
public:
    void Build(const TPixelRec* palette, int32_t count, unsigned lumaShift, bool hasAlpha);
    int32_t Find(const TPixelRec& p) const {
        int32_t distance;
        return Find(p, distance);
    }
    // Also gives the distance from p to the entry found.
    int32_t Find(const TPixelRec& p, int32_t& distance) const;

private:
    // The space is cut into cells of 8 values of c1, c2, c3 (and of 32 values of alpha when it
    // counts). A cell's candidates, found on its first query, are the entries that can be
    // nearest to some point of it: those whose least distance to the cell is no more than the
    // smallest greatest distance of any entry. They are kept in index order, so a strict scan
    // of them keeps the first minimum as the full scan does.
    static constexpr int kShift = 3, kBins = 256 >> kShift;
    static constexpr int kAlphaShift = 5, kAlphaBins = 256 >> kAlphaShift;
    int32_t CellOf(const TPixelRec& p) const;
    void FillCell(int32_t cell, const TPixelRec& p) const;

    // A large palette makes the cells costly to fill: it walks outwards from p's lightness in
    // the palette sorted by c1 instead, and stops a side once its lightness term alone exceeds
    // the best distance.
    static constexpr int32_t kMaxCellPalette = 512;
    int32_t FindByLightness(const TPixelRec& p, int32_t& distance) const;
    struct Entry {
        TPixelRec rec;
        int32_t index;
    };
    std::vector<Entry> byC1_;         // sorted by c1, then index
    std::vector<int32_t> firstOfC1_;  // first position with c1 >= v, for v in 0..256

    std::vector<TPixelRec> palette_;
    unsigned lumaShift_ = 3;
    bool hasAlpha_ = false;
    // A candidate carries its own components, so a query reads one short run of memory.
    struct Candidate {
        uint8_t c1, c2, c3, A;
        int32_t index;
    };
    mutable std::vector<int32_t> cellStart_;  // -1: not yet found
    mutable std::vector<int32_t> cellCount_;
    mutable std::vector<Candidate> candidates_;
};

// The plain scan over palette[0..count-1]; 0 when count <= 0.
int32_t NearestLinear(const TPixelRec* palette, int32_t count, const TPixelRec& p, unsigned lumaShift, bool hasAlpha);

}  // namespace jx
