#pragma once
// Sorting of pixel-record arrays (colour lists, candidate lists, the palette) by the ten sort types.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/image_impl.h"
#include "imaging/pixel.h"

namespace jx {

struct EngineState;

// data[i] = old data[from(i)] for i in 0..n-1, from a permutation. A gather at random: the
// entries a few places ahead are fetched while these are copied. A photograph's colour list is
// tens of megabytes per array, so callers rearranging several arrays do one at a time.
template <class T, class From>
void Rearrange(T* data, int64_t n, From from) {
    std::vector<T> moved;
    ResizeChecked(moved, n);
    constexpr int64_t kAhead = 16;
    for (int64_t i = 0; i < n; ++i) {
        if (i + kAhead < n) __builtin_prefetch(&data[from(i + kAhead)]);
        moved[static_cast<size_t>(i)] = data[from(i)];
    }
    std::copy(moved.begin(), moved.end(), data);
}

// The sort types: key and direction.
enum TSortType : int32_t {
    SortByWeight = 0,          // Weight, larger first
    SortByColor = 1,           // MortonCode3, larger first
    SortByLuminance = 2,       // c1, larger first
    SortByWeightAsc = 3,       // Weight, smaller first
    SortByColorAsc = 4,        // MortonCode3, smaller first
    SortByLuminanceAsc = 5,    // c1, smaller first
    SortByColorAlpha = 6,      // MortonCode4, larger first
    SortByLumaAlpha = 7,       // c1 * 256 + A, larger first
    SortByColorAlphaAsc = 8,   // MortonCode4, smaller first
    SortByLumaAlphaAsc = 9,    // c1 * 256 + A, smaller first
};
inline constexpr int32_t kSortTypeCount = 10;

// R, G, B bits interleaved from bit 7 down, R the most significant of each triple (24 bits).
uint32_t MortonCode3(const TPixelRec& p);
// A, R, G, B bits interleaved from bit 7 down, A the most significant of each group (32 bits).
uint32_t MortonCode4(const TPixelRec& p);

// Sorts array[0..count-1] in place by type with the engine's quicksort (not stable; the order of
// equal keys is fixed by the procedure and the starting order). With order (the palette's order
// map, at least count long) the palette is first put into reverse build order by SortOrderMap,
// and every exchange of two entries exchanges their order entries too, so that each sort type
// gives one arrangement whatever ran before. With weights (64-bit weights beside the records,
// count long) they travel with the records and the weight types key on them instead of the
// records' capped Weight. A type outside 0..9 raises ImagingError.
void SortPixels(TPixelRec* array, int32_t count, int32_t type, int32_t* order = nullptr,
                int64_t* weights = nullptr);

// The same quicksort over array[lo..hi] keyed by order[i], larger first.
void SortOrderMap(TPixelRec* array, int32_t* order, int32_t lo, int32_t hi, int64_t* weights = nullptr);

// Palette[0..count-1] with PaletteOrder travelling along (the order map is extended with the
// identity where it is shorter). count is clipped to the palette's length. The nearest-colour
// cache is dropped: its indices no longer name the same entries.
void SortPalette(EngineState& state, int32_t count, int32_t type, int64_t* weights = nullptr);

// Palette[0..count-1] into ascending PaletteOrder, the order its entries were built or added
// in, with the order map travelling along. Entries with equal order values keep their places
// relative to each other. The nearest-colour cache is dropped when anything moves.
void ArrangeByBuildOrder(EngineState& state, int32_t count);

}  // namespace jx
