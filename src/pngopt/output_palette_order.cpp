// Palette order: the orders of the colour table, and the choice of the one that encodes smallest.
#include <algorithm>

#include "pngopt/output_internal.h"
#include "pngopt/trial_engine.h"

namespace jx::quillox {
namespace {

using detail::Hi;

uint16_t Ch(uint64_t rgba, int channel) { return uint16_t(rgba >> (48 - 16 * channel)); }

using ColorTable = std::vector<ColorUse>;

// Quicksort-like callers compare the full key; ties keep their order.
template <typename Key>
void SortByKey(ColorTable& table, size_t start, Key key, bool descending) {
    std::stable_sort(table.begin() + std::ptrdiff_t(start), table.end(), [&](const ColorUse& x, const ColorUse& y) {
        return descending ? key(x) > key(y) : key(x) < key(y);
    });
}

// Each entry is followed by the nearest of those after it (first minimum).
template <typename Distance>
void NearestNeighbourChain(ColorTable& table, size_t start, Distance distance) {
    for (size_t p = start; p + 2 < table.size(); ++p) {
        size_t nearest = p + 1;
        int64_t best = distance(table[p].rgba, table[p + 1].rgba);
        for (size_t q = p + 2; q < table.size(); ++q) {
            int64_t d = distance(table[p].rgba, table[q].rgba);
            if (d < best) best = d, nearest = q;
        }
        std::swap(table[p + 1], table[nearest]);
    }
}

int64_t UseCount(const ColorUse& c) { return int64_t(c.count); }

int64_t ScaledLuma(uint64_t v, bool withAlpha) {
    double y = (0.299 * Hi(v, 0) + 0.587 * Hi(v, 1) + 0.114 * Hi(v, 2)) / 256;
    if (withAlpha) y += Hi(v, 3) / 256.0;
    return int64_t(y * 2147483647.0);
}

// Bit 7 of A, R, G, B, then bit 6 ...
int64_t InterleavedCode(uint64_t v) {
    uint32_t c = 0;
    for (int bit = 7; bit >= 0; --bit)
        for (int ch : {3, 0, 1, 2}) c = c << 1 | ((Hi(v, ch) >> bit) & 1);
    return int64_t(c);
}

int64_t SquaredDistance(uint64_t a, uint64_t b) {
    int64_t s = 0;
    for (int c = 0; c < 4; ++c) {
        int64_t d = int64_t(Hi(a, c)) - Hi(b, c);
        s += d * d;
    }
    return s;
}

void LumaChroma(uint64_t v, int64_t out[4]) {
    int64_t r = Ch(v, 0), g = Ch(v, 1), b = Ch(v, 2);
    int64_t y = (r + 2 * g + b) >> 2;
    out[0] = y / 256;
    out[1] = (((r - y) / 2 - 32768) & 0xFFFF) >> 8;
    out[2] = (((b - y) / 2 - 32768) & 0xFFFF) >> 8;
    out[3] = Ch(v, 3) / 256;
}

int64_t LumaChromaDistance(uint64_t a, uint64_t b) {
    int64_t p[4], q[4];
    LumaChroma(a, p);
    LumaChroma(b, q);
    int64_t s = 0;
    for (int i = 0; i < 4; ++i) s += (p[i] - q[i]) * (p[i] - q[i]);
    return s;
}

void OrderByUseCount(ColorTable& t, size_t start) { SortByKey(t, start, UseCount, true); }

void OrderByInterleavedCode(ColorTable& t, size_t start) {
    SortByKey(t, start, [](const ColorUse& c) { return InterleavedCode(c.rgba); }, true);
}

void OrderByLumaAlpha(ColorTable& t, size_t start) {
    SortByKey(t, start, [](const ColorUse& c) { return ScaledLuma(c.rgba, true); }, true);
}

void OrderByUseCountChain(ColorTable& t, size_t start) {
    SortByKey(t, start, UseCount, true);
    NearestNeighbourChain(t, start, SquaredDistance);
}

void OrderByRareFirstChain(ColorTable& t, size_t start) {
    SortByKey(t, start, UseCount, false);
    NearestNeighbourChain(t, start, SquaredDistance);
}

void OrderByLumaChromaChain(ColorTable& t, size_t start) {
    SortByKey(t, start, [](const ColorUse& c) { return ScaledLuma(c.rgba, false); }, false);
    NearestNeighbourChain(t, start, LumaChromaDistance);
}

}  // namespace

void OrderColorTable(std::vector<ColorUse>& table, PaletteOrder order, bool transparentFirst) {
    if (table.size() < 3) return;
    size_t start = 0;
    if (transparentFirst) {
        for (size_t i = 0; i < table.size(); ++i)
            if (Ch(table[i].rgba, 3) == 0) {
                std::swap(table[0], table[i]);
                start = 1;
                break;
            }
    }
    switch (order) {
        case PaletteOrder::UseCount: OrderByUseCount(table, start); break;
        case PaletteOrder::InterleavedCode: OrderByInterleavedCode(table, start); break;
        case PaletteOrder::LumaAlpha: OrderByLumaAlpha(table, start); break;
        case PaletteOrder::UseCountChain: OrderByUseCountChain(table, start); break;
        case PaletteOrder::RareFirstChain: OrderByRareFirstChain(table, start); break;
        case PaletteOrder::LumaChromaChain: OrderByLumaChromaChain(table, start); break;
    }
}

namespace detail {

std::optional<Candidate> ChoosePaletteOrder(const WorkImage& image, const Options& options, int depth,
                                            Transparency kind, const Measurer& m, const SizeLimit& limit,
                                            const SizeSeen& seen) {
    if (!Reorderable(image, options)) {
        if ((size_t(1) << depth) < image.palette.size()) return std::nullopt;
        return Measure(BuildInputPalette(image, depth), m, limit, seen);
    }
    const std::vector<ColorUse>& base = image.analysis.colorTable;
    if ((size_t(1) << depth) < base.size()) return std::nullopt;
    constexpr size_t kOrders = std::size(kChooserOrders);
    const size_t count = (kind == Transparency::Binary ? 2 : 1) * kOrders;
    std::vector<OutputImage> images(count);
    ParallelFor(m.Pool(), count, [&](size_t i) {
        std::vector<ColorUse> table = base;
        OrderColorTable(table, kChooserOrders[i % kOrders], i >= kOrders);
        images[i] = BuildPalette(image, table, depth);
    });
    std::vector<const OutputImage*> list;
    for (const OutputImage& out : images) list.push_back(&out);
    std::optional<Measurer::Measured> w = m.Winner(list, Measurer::NoneAndAll(), limit, seen);
    if (!w) return std::nullopt;
    return Candidate{std::move(images[w->index]), w->size};
}

}  // namespace detail
}  // namespace jx::quillox
