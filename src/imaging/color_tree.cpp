#include "imaging/color_tree.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "imaging/color_map.h"
#include "imaging/engine_state.h"
#include "imaging/errors.h"

namespace jx {
namespace {

constexpr int64_t kDirectTablePixels = int64_t{1} << 20;

inline int SlotOf(int level, uint8_t a, uint8_t x, uint8_t y, uint8_t z) {
    return (((a >> level) & 1) << 3) | (((x >> level) & 1) << 2) | (((y >> level) & 1) << 1) | ((z >> level) & 1);
}

}  // namespace

TColorTree::TColorTree() { Reset(); }

void TColorTree::Reset() {
    std::vector<TColorTreeNode>().swap(nodes_);
    nodes_.push_back(TColorTreeNode{});
    exact_.clear();
    exactBuilt_ = false;
}

int32_t& TColorTree::Cell(uint8_t a, uint8_t x, uint8_t y, uint8_t z) {
    size_t node = 0;
    // Levels 7..1 descend; the node reached holds the cells, chosen by the level-0 bits.
    for (int level = 7; level >= 1; --level) {
        const int slot = SlotOf(level, a, x, y, z);
        int32_t child = nodes_[node].Slot[slot];
        if (child == 0) {
            if (nodes_.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max()))
                throw ImagingError("Colour tree too large");
            TColorTreeNode fresh{};
            if (level == 1)
                for (int32_t& c : fresh.Slot) c = -1;
            try {
                nodes_.push_back(fresh);
            } catch (const std::bad_alloc&) {
                throw ImagingError("Out of memory in the colour tree");
            }
            child = static_cast<int32_t>(nodes_.size() - 1);
            nodes_[node].Slot[slot] = child;
        }
        node = static_cast<size_t>(child);
    }
    return nodes_[node].Slot[SlotOf(0, a, x, y, z)];
}

void ColorTreeReset(EngineState& state) { state.ColorTree.Reset(); }

void ColorTreeInsert(EngineState& state, const TPixelRec& p, std::vector<TPixelRec>& list, int32_t& count) {
    int32_t& cell = state.ColorTree.Cell(p.A, p.R, p.G, p.B);
    if (cell < 0) {
        if (count < 0 || static_cast<size_t>(count) >= list.size())
            throw ImagingError("Colour list full at " + std::to_string(count) + " entries");
        cell = count;
        list[static_cast<size_t>(count)] = p;
        ++count;
    } else {
        TPixelRec& e = list[static_cast<size_t>(cell)];
        e.Weight = AddWeight(e.Weight, p.Weight);
    }
}

void ColorTreeInsert(EngineState& state, const TPixelRec& p, int64_t weight, std::vector<TPixelRec>& list,
                     std::vector<int64_t>& weights, int32_t& count) {
    int32_t& cell = state.ColorTree.Cell(p.A, p.R, p.G, p.B);
    if (cell < 0) {
        if (count < 0 || static_cast<size_t>(count) >= list.size() || static_cast<size_t>(count) >= weights.size())
            throw ImagingError("Colour list full at " + std::to_string(count) + " entries");
        cell = count;
        list[static_cast<size_t>(count)] = p;
        list[static_cast<size_t>(count)].Weight = CappedWeight(weight);
        weights[static_cast<size_t>(count)] = weight;
        ++count;
    } else {
        int64_t& w = weights[static_cast<size_t>(cell)];
        w += weight;
        list[static_cast<size_t>(cell)].Weight = CappedWeight(w);
    }
}

int32_t ColorTreeNearest(EngineState& state, const TPixelRec& p) {
    const int64_t n = std::min<int64_t>(state.PaletteSize, static_cast<int64_t>(state.Palette.size()));
    if (n <= 0) return 0;
    int32_t& cell = state.ColorTree.Cell(p.A, p.c1, p.c2, p.c3);
    // A cached index past a palette that shrank without a reset is searched again.
    if (cell < 0 || cell >= n) {
        int32_t best = std::numeric_limits<int32_t>::max();
        int32_t bestIndex = 0;
        const TPixelRec* pal = state.Palette.data();
        for (int32_t i = 0; i < n; ++i) {
            const int32_t d = state.Distance(p, pal[i]);
            if (d < best) {
                best = d;
                bestIndex = i;
            }
        }
        cell = bestIndex;
    }
    const int32_t index = cell;
    const TPixelRec& found = state.Palette[static_cast<size_t>(index)];
    if (SameRgba(found, p) || state.Distance(found, p) != 0) return index;

    // Several colours share these working values: prefer the entry that is exactly p.
    TColorTree& tree = state.ColorTree;
    if (!tree.ExactIndexBuilt()) {
        auto& map = tree.ExactIndex();
        for (int32_t i = 0; i < n; ++i) map.emplace(PixelKey(state.Palette[static_cast<size_t>(i)]), i);
        tree.SetExactIndexBuilt();
    }
    const auto it = tree.ExactIndex().find(PixelKey(p));
    if (it != tree.ExactIndex().end() && it->second < n &&
        state.Distance(state.Palette[static_cast<size_t>(it->second)], p) == 0)
        return it->second;
    return index;
}

TPixelRec NearestColor(EngineState& state, const TPixelRec& p, bool count) {
    if (state.Palette.empty()) throw ImagingError("No palette to map colours onto");
    const int32_t i = ColorTreeNearest(state, p);
    TPixelRec& e = state.Palette[static_cast<size_t>(i)];
    if (count) e.Weight = AddWeight(e.Weight, 1);
    return e;
}

int32_t NearestIndex(EngineState& state, const TPixelRec& p) { return ColorTreeNearest(state, p); }

uint64_t ColorFingerprint(const TGrid<TPixelRec>& image) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ ((uint64_t(uint32_t(image.Width())) << 32) | uint32_t(image.Height()));
    const TPixelRec* px = image.Data();
    // R, G, B, A are the record's first four bytes.
    auto rgba = [px](int64_t i) {
        uint32_t v;
        std::memcpy(&v, &px[i], sizeof v);
        return uint64_t{v};
    };
    auto step = [](uint64_t x, uint64_t v) {
        x = (x ^ v) * 0xFF51AFD7ED558CCDull;
        return x ^ (x >> 31);
    };
    const int64_t n = image.Count();
    // Four independent chains, so that the multiplications overlap and memory sets the pace.
    uint64_t lane[4] = {h, h ^ 0x632BE59BD9B4E019ull, h ^ 0x8CB92BA72F3D8DD7ull, h ^ 0xD6E8FEB86659FD93ull};
    int64_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (int k = 0; k < 4; ++k) lane[k] = step(lane[k], rgba(i + 2 * k) | (rgba(i + 2 * k + 1) << 32));
    for (; i < n; ++i) lane[0] = step(lane[0], rgba(i));
    for (int k = 0; k < 4; ++k) h = step(h, lane[k]);
    return h;
}

namespace {

// A colour's count and working values in one small record, whose fetch starts as soon as the
// probe has named it.
struct TSeen {
    int32_t count;
    uint8_t c1, c2, c3;
};

void ClearUniqueColors(EngineState& state) {
    state.UniqueColorCount = 0;
    ColorTreeReset(state);
    auto& found = state.UniqueColorIndex;
    found.Valid = false;
    found.First.clear();
    found.Count.clear();
    found.ByWeight.clear();
    found.TransparentBlack = true;
    state.Palette.clear();
}

// The colours are found through a flat table rather than the tree: one probe per pixel. A
// photograph's colours do not fit the processor caches, so the table slot of a pixel a few places
// ahead is fetched early.
class TColorFinder {
public:
    explicit TColorFinder(int64_t pixels)
        : direct_(DirectTable(pixels)),
          // A photograph has nearly as many colours as pixels: room for them from the start
          // spares the table its rehashes (untouched room costs no memory).
          index_(static_cast<size_t>(direct_ ? std::min<int64_t>(pixels, 1 << 16) : pixels)) {}

    void Prefetch(const TPixelRec& p) {
        if (direct_ && p.A == 255)
            direct_->Prefetch(p.R, p.G, p.B);
        else
            index_.Prefetch(PixelKey(p));
    }
    int32_t FindOrInsert(const TPixelRec& p, uint32_t key, int32_t value, bool& inserted) {
        if (direct_ && p.A == 255) {
            int32_t& slot = direct_->Slot(p.R, p.G, p.B);
            inserted = slot == 0;
            if (inserted) slot = value + 1;
            return slot - 1;
        }
        return index_.FindOrInsert(key, value, inserted);
    }

private:
    // A large image's opaque colours are found through a table of every colour instead (index
    // + 1, 0 for none): no probing, and the colours of one area share its pages.
    static std::unique_ptr<TOpaqueColorTable<int32_t>> DirectTable(int64_t pixels) {
        if (pixels < kDirectTablePixels) return nullptr;
        auto direct = std::make_unique<TOpaqueColorTable<int32_t>>();
        if (!direct->Usable()) direct.reset();
        return direct;
    }

    std::unique_ptr<TOpaqueColorTable<int32_t>> direct_;
    TColorMap index_;
};

// Room for as many colours as pixels spares the lists their copies.
void ReserveForColors(EngineState& state, std::vector<TSeen>& seen, int64_t pixels) {
    try {
        state.Palette.reserve(static_cast<size_t>(pixels));
        seen.reserve(static_cast<size_t>(pixels));
        state.UniqueColorIndex.First.reserve(static_cast<size_t>(pixels));
    } catch (const std::bad_alloc&) {
        // Growing as colours are found still works.
    }
}

// One pass over the pixels: each new colour joins the palette list, seen and the first-pixel
// list; each pixel's colour is counted (and its working values set when convert) a few pixels
// later, once its record has arrived. Returns the number of colours.
int32_t FindColors(EngineState& state, bool convert, TColorFinder& finder, std::vector<TSeen>& seen) {
    auto& found = state.UniqueColorIndex;
    TPixelRec* px = state.SourceImage.Data();
    const int64_t pixels = state.SourceImage.Count();
    std::vector<TPixelRec>& list = state.Palette;
    constexpr int64_t kProbeAhead = 16, kUseAhead = 8;
    std::array<int32_t, kUseAhead> pending{};
    int32_t count = 0;
    uint32_t lastKey = 0;
    int32_t lastAt = -1;
    for (int64_t i = 0; i < pixels + kUseAhead; ++i) {
        // The slot pixel i - kUseAhead left is read before pixel i takes it.
        if (i >= kUseAhead) {
            const int64_t j = i - kUseAhead;
            TSeen& s = seen[static_cast<size_t>(pending[static_cast<size_t>(j % kUseAhead)])];
            if (s.count < std::numeric_limits<int32_t>::max()) ++s.count;
            if (convert) {
                px[j].c1 = s.c1;
                px[j].c2 = s.c2;
                px[j].c3 = s.c3;
            }
        }
        if (i < pixels) {
            if (i + kProbeAhead < pixels) finder.Prefetch(px[i + kProbeAhead]);
            TPixelRec& p = px[i];
            if (p.A == 0 && (p.R | p.G | p.B) != 0) found.TransparentBlack = false;
            const uint32_t key = PixelKey(p);
            int32_t at = lastAt;
            // Runs of one colour (flat areas) need no lookup.
            if (key != lastKey || lastAt < 0) {
                bool inserted;
                at = finder.FindOrInsert(p, key, count, inserted);
                lastKey = key;
                lastAt = at;
                if (inserted) {
                    if (convert) state.Convert(p);
                    AppendChecked(list, p);
                    AppendChecked(seen, TSeen{0, p.c1, p.c2, p.c3});
                    AppendChecked(found.First, static_cast<int32_t>(i));
                    ++count;
                }
                __builtin_prefetch(&seen[static_cast<size_t>(at)]);
            }
            pending[static_cast<size_t>(i % kUseAhead)] = at;
        }
    }
    return count;
}

void StoreColorCounts(EngineState& state, int32_t count, std::vector<TSeen>& seen) {
    auto& found = state.UniqueColorIndex;
    std::vector<TPixelRec>& list = state.Palette;
    state.UniqueColorCount = count;
    ResizeChecked(found.Count, count);
    for (int32_t i = 0; i < count; ++i) {
        found.Count[static_cast<size_t>(i)] = seen[static_cast<size_t>(i)].count;
        list[static_cast<size_t>(i)].Weight = seen[static_cast<size_t>(i)].count;
    }
    std::vector<TSeen>().swap(seen);
    found.First.shrink_to_fit();
    found.Fingerprint = ColorFingerprint(state.SourceImage);
    found.Valid = true;
    GrowChecked(list, std::max<int64_t>(count, state.PaletteSize));
    list.shrink_to_fit();
}

}  // namespace

void BuildUniqueColors(EngineState& state, bool convert) {
    ClearUniqueColors(state);
    const int64_t pixels = state.SourceImage.Count();
    std::vector<TSeen> seen;
    TColorFinder finder(pixels);
    ReserveForColors(state, seen, pixels);
    const int32_t count = FindColors(state, convert, finder, seen);
    StoreColorCounts(state, count, seen);
}

}  // namespace jx
