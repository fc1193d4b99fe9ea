#include "imaging/sort.h"

#include <algorithm>
#include <string>
#include <utility>

#include "imaging/color_tree.h"
#include "imaging/engine_state.h"
#include "imaging/errors.h"

namespace jx {
namespace {

// Keys are compared in 64 bits: signed int32 keys and unsigned 32-bit keys both fit, and
// negating a key turns "larger first" into "smaller first" exactly.
int64_t KeyOf(const TPixelRec& p, int32_t type) {
    switch (type) {
        case SortByWeight: return p.Weight;
        case SortByColor: return MortonCode3(p);
        case SortByLuminance: return p.c1;
        case SortByWeightAsc: return -int64_t{p.Weight};
        case SortByColorAsc: return -int64_t{MortonCode3(p)};
        case SortByLuminanceAsc: return -int64_t{p.c1};
        case SortByColorAlpha: return MortonCode4(p);
        case SortByLumaAlpha: return int64_t{p.c1} * 256 + p.A;
        case SortByColorAlphaAsc: return -int64_t{MortonCode4(p)};
        case SortByLumaAlphaAsc: return -(int64_t{p.c1} * 256 + p.A);
        default: throw ImagingError("Unknown sort type " + std::to_string(type));
    }
}

struct TSortItem {
    int64_t key;
    int32_t index;
};

// Larger keys first. Entries with equal keys are never exchanged. The two parts left after a
// partition are disjoint, so sorting the smaller one first (by recursion) and the larger one in
// the loop gives the same result as the plain recursion, with a logarithmic depth.
void QuickSort(TSortItem* item, int32_t lo, int32_t hi) {
    while (lo < hi) {
        int32_t i = lo, j = hi;
        const int64_t pivot = item[lo + (hi - lo) / 2].key;
        do {
            while (item[i].key > pivot) ++i;
            while (pivot > item[j].key) --j;
            if (i <= j) {
                if (item[i].key < item[j].key) std::swap(item[i], item[j]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (j - lo < hi - i) {
            if (lo < j) QuickSort(item, lo, j);
            lo = i;
        } else {
            if (i < hi) QuickSort(item, i, hi);
            hi = j;
        }
    }
}

// Sorts keys and indices together, then moves the records (and the order entries) once: the
// exchanges depend on the keys alone, so the arrangement is the one of exchanging records.
// items is used up.
void SortByKeys(std::vector<TSortItem>& items, TPixelRec* rec, int32_t* order, int64_t* weights) {
    const int32_t count = static_cast<int32_t>(items.size());
    QuickSort(items.data(), 0, count - 1);
    // The sorted indices alone, the keys gone before the arrays are rearranged: a third of the
    // memory, at the peak of a photograph's first quantize.
    std::vector<int32_t> source;
    ResizeChecked(source, count);
    for (int32_t i = 0; i < count; ++i) source[static_cast<size_t>(i)] = items[static_cast<size_t>(i)].index;
    std::vector<TSortItem>().swap(items);
    auto from = [&source](int64_t i) { return source[static_cast<size_t>(i)]; };
    Rearrange(rec, count, from);
    if (order) Rearrange(order, count, from);
    if (weights) Rearrange(weights, count, from);
}

std::vector<TSortItem> ItemBuffer(int64_t count) {
    std::vector<TSortItem> items;
    ResizeChecked(items, count);
    return items;
}

}  // namespace

uint32_t MortonCode3(const TPixelRec& p) {
    uint32_t code = 0;
    for (int b = 7; b >= 0; --b)
        code = code * 8 + (((p.R >> b) & 1u) << 2) + (((p.G >> b) & 1u) << 1) + ((p.B >> b) & 1u);
    return code;
}

uint32_t MortonCode4(const TPixelRec& p) {
    uint32_t code = 0;
    for (int b = 7; b >= 0; --b)
        code = code * 16 + (((p.A >> b) & 1u) << 3) + (((p.R >> b) & 1u) << 2) + (((p.G >> b) & 1u) << 1) +
               ((p.B >> b) & 1u);
    return code;
}

void SortOrderMap(TPixelRec* array, int32_t* order, int32_t lo, int32_t hi, int64_t* weights) {
    if (lo >= hi) return;
    // Distinct keys have one sorted arrangement whatever the procedure, so a map that is
    // already strictly monotonic (the usual case) is settled without the quicksort.
    bool down = true, up = true;
    for (int32_t i = lo; i < hi && (down || up); ++i) {
        down = down && order[i] > order[i + 1];
        up = up && order[i] < order[i + 1];
    }
    if (down) return;
    if (up) {
        std::reverse(array + lo, array + hi + 1);
        std::reverse(order + lo, order + hi + 1);
        if (weights) std::reverse(weights + lo, weights + hi + 1);
        return;
    }
    std::vector<TSortItem> items = ItemBuffer(int64_t{hi} - lo + 1);
    for (int32_t i = lo; i <= hi; ++i) items[static_cast<size_t>(i - lo)] = {order[i], i - lo};
    SortByKeys(items, array + lo, order + lo, weights ? weights + lo : nullptr);
}

void SortPixels(TPixelRec* array, int32_t count, int32_t type, int32_t* order, int64_t* weights) {
    if (type < 0 || type >= kSortTypeCount) throw ImagingError("Unknown sort type " + std::to_string(type));
    if (count <= 1) return;
    if (order) SortOrderMap(array, order, 0, count - 1, weights);
    std::vector<TSortItem> items = ItemBuffer(count);
    const bool byWeight = weights && (type == SortByWeight || type == SortByWeightAsc);
    for (int32_t i = 0; i < count; ++i) {
        const int64_t key = byWeight ? (type == SortByWeight ? weights[i] : -weights[i]) : KeyOf(array[i], type);
        items[static_cast<size_t>(i)] = {key, i};
    }
    SortByKeys(items, array, order, weights);
}

void SortPalette(EngineState& state, int32_t count, int32_t type, int64_t* weights) {
    // The nearest-colour cache holds palette indices, which the sort moves.
    ColorTreeReset(state);
    count = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(state.Palette.size())));
    if (count <= 1) {
        if (type < 0 || type >= kSortTypeCount) throw ImagingError("Unknown sort type " + std::to_string(type));
        return;
    }
    if (state.PaletteOrder.size() < static_cast<size_t>(count)) {
        const size_t old = state.PaletteOrder.size();
        state.PaletteOrder.resize(static_cast<size_t>(count));
        for (size_t i = old; i < state.PaletteOrder.size(); ++i) state.PaletteOrder[i] = static_cast<int32_t>(i);
    }
    SortPixels(state.Palette.data(), count, type, state.PaletteOrder.data(), weights);
}

void ArrangeByBuildOrder(EngineState& state, int32_t count) {
    count = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(state.Palette.size())));
    if (count <= 1) return;
    if (state.PaletteOrder.size() < static_cast<size_t>(count)) {
        const size_t old = state.PaletteOrder.size();
        state.PaletteOrder.resize(static_cast<size_t>(count));
        for (size_t i = old; i < state.PaletteOrder.size(); ++i) state.PaletteOrder[i] = static_cast<int32_t>(i);
    }
    int32_t* order = state.PaletteOrder.data();
    if (std::is_sorted(order, order + count)) return;
    std::vector<int32_t> from(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) from[static_cast<size_t>(i)] = i;
    std::stable_sort(from.begin(), from.end(), [&](int32_t a, int32_t b) { return order[a] < order[b]; });
    auto at = [&](int64_t i) { return from[static_cast<size_t>(i)]; };
    Rearrange(state.Palette.data(), count, at);
    Rearrange(order, count, at);
    ColorTreeReset(state);
}

}  // namespace jx
