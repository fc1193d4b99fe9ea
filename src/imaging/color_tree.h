#pragma once
// The 16-way colour tree: deduplicator of the colour list (keyed by A, R, G, B) and, in turn,
// cache of nearest palette entries (keyed by A, c1, c2, c3). Every user resets it first.
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "imaging/image.h"
#include "imaging/pixel.h"

namespace jx {

struct EngineState;

// One node: 16 slots, chosen per level by bit L of the four key bytes (a*8 + x*4 + y*2 + z).
// In inner nodes a slot holds a child node's index (0 = none); in the nodes of the last level it
// is the index cell (-1 = no entry yet).
struct TColorTreeNode {
    int32_t Slot[16];
};

class TColorTree {
public:
    TColorTree();

    // Drops every node and cell.
    void Reset();

    // The index cell of key (a, x, y, z), created with -1 along with its path when missing.
    int32_t& Cell(uint8_t a, uint8_t x, uint8_t y, uint8_t z);

    size_t NodeCount() const { return nodes_.size(); }

    // First palette index of each RGBA key, built on first use after a reset; lets a lookup prefer
    // the entry that matches a colour exactly among the entries at distance 0.
    std::unordered_map<uint32_t, int32_t>& ExactIndex() { return exact_; }
    bool ExactIndexBuilt() const { return exactBuilt_; }
    void SetExactIndexBuilt() { exactBuilt_ = true; }

private:
    std::vector<TColorTreeNode> nodes_;  // nodes_[0] is the root
    std::unordered_map<uint32_t, int32_t> exact_;
    bool exactBuilt_ = false;
};

// Frees the tree; the next user starts from an empty root.
void ColorTreeReset(EngineState& state);

// Colour-list insertion by A, R, G, B: a new colour is stored at list[count] (all eleven bytes)
// and count grows; a known colour adds p's weight to its entry (saturating).
// Raises ImagingError when list has no room at count.
void ColorTreeInsert(EngineState& state, const TPixelRec& p, std::vector<TPixelRec>& list, int32_t& count);
// The same with 64-bit weights beside the list (weight is p's; weights as long as list): the
// weights sum exactly, the records' Weight fields keep a copy capped at the int32 maximum.
void ColorTreeInsert(EngineState& state, const TPixelRec& p, int64_t weight, std::vector<TPixelRec>& list,
                     std::vector<int64_t>& weights, int32_t& count);

// Index of the palette entry nearest to p (A, c1, c2, c3), cached per working-space colour.
// The first minimum in index order wins, except that among the entries at distance 0 one equal to
// p in R, G, B, A is preferred, so an image whose colours are all in the palette maps onto itself.
// 0 when PaletteSize <= 0.
int32_t ColorTreeNearest(EngineState& state, const TPixelRec& p);

// A copy of the nearest palette entry; with count, that entry's Weight grows by 1 first.
TPixelRec NearestColor(EngineState& state, const TPixelRec& p, bool count);
int32_t NearestIndex(EngineState& state, const TPixelRec& p);

// A fingerprint of the image's shape and of the R, G, B, A bytes of every pixel.
uint64_t ColorFingerprint(const TGrid<TPixelRec>& image);

// UniqueColorCount and Palette[0..UniqueColorCount-1]: the distinct colours of SourceImage
// (by A, R, G, B) in order of first appearance, each weighted by its pixel count. With convert,
// the pixels' c1..c3 are filled by the current converter too, each distinct colour converted once.
void BuildUniqueColors(EngineState& state, bool convert = false);

}  // namespace jx
