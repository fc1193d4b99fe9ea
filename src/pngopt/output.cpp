#include "pngopt/output.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "pngopt/encoder.h"
#include "pngopt/lossy.h"
#include "pngopt/quantize.h"
#include "pngopt/trial_engine.h"

namespace jx::quillox {
namespace {

int ChannelsOf(PngColorType colorType) {
    switch (colorType) {
        case kPngGrey: return 1;
        case kPngRgb: return 3;
        case kPngPalette: return 1;
        case kPngGreyAlpha: return 2;
        default: return 4;
    }
}

OutputImage Blank(const WorkImage& image, PngColorType colorType, int depth) {
    OutputImage out;
    out.width = image.width;
    out.height = image.height;
    out.colorType = colorType;
    out.bitDepth = depth;
    uint64_t bitsPerPixel = uint64_t(ChannelsOf(colorType)) * depth;
    out.rowBytes = (uint64_t(out.width) * bitsPerPixel + 7) / 8;
    CheckImageSize(out.width, out.height);
    try {
        out.rows.assign(out.rowBytes * out.height, 0);
    } catch (const std::bad_alloc&) {
        throw InputError("Not enough memory for the output image");
    }
    return out;
}

// Stores one sample of `depth` bits (1..16) at sample position i of a row.
void PutSample(uint8_t* row, uint64_t i, int depth, uint32_t v) {
    if (depth == 16) {
        row[2 * i] = uint8_t(v >> 8);
        row[2 * i + 1] = uint8_t(v);
    } else if (depth == 8) {
        row[i] = uint8_t(v);
    } else {
        uint64_t bit = i * depth;
        row[bit / 8] |= uint8_t(v << (8 - depth - bit % 8));
    }
}

uint64_t Pack(const uint16_t* p) {
    return uint64_t(p[0]) << 48 | uint64_t(p[1]) << 32 | uint64_t(p[2]) << 16 | p[3];
}
uint8_t Hi(uint64_t rgba, int channel) { return uint8_t(rgba >> (56 - 16 * channel)); }  // 0 R .. 3 A
uint16_t Ch(uint64_t rgba, int channel) { return uint16_t(rgba >> (48 - 16 * channel)); }

uint32_t GreyDivisor(int depth) { return depth == 1 ? 0xFF : depth == 2 ? 0x55 : depth == 4 ? 0x11 : 1; }

// Grey or RGB sample value of working value v at the output depth; false when not exact.
bool FileValue(uint16_t v, int depth, bool wide, uint32_t& out) {
    if (depth == 16) {
        out = wide ? v : uint32_t(v >> 8) * 257;
        return true;
    }
    if (wide && (v >> 8) != (v & 0xFF)) return false;
    if (!wide && (v & 0xFF)) return false;
    uint32_t hi = v >> 8, d = GreyDivisor(depth);
    if (hi % d) return false;
    out = hi / d;
    return true;
}

Transparency KindOf(const Analysis& a) {
    if (a.partial) return Transparency::Alpha;
    return a.transparent ? Transparency::Binary : Transparency::None;
}

uint32_t Interleave24(uint8_t r, uint8_t g, uint8_t b) {
    uint32_t code = 0;
    for (int bit = 7; bit >= 0; --bit) code = code << 3 | ((r >> bit) & 1) << 2 | ((g >> bit) & 1) << 1 | ((b >> bit) & 1);
    return code;
}
void Deinterleave24(uint32_t code, uint8_t& r, uint8_t& g, uint8_t& b) {
    r = g = b = 0;
    for (int bit = 7; bit >= 0; --bit) {
        uint32_t t = code >> (3 * bit);
        r = uint8_t(r << 1 | ((t >> 2) & 1));
        g = uint8_t(g << 1 | ((t >> 1) & 1));
        b = uint8_t(b << 1 | (t & 1));
    }
}

// A tRNS key for a grey (channels 1) or RGB image at `depth`, in working units. The transparent
// pixels' own value serves when they share one that no visible pixel has; otherwise, when their
// colour may change, a free value is searched. None: the image needs an alpha channel.
std::optional<Rgb16> FindKey(const WorkImage& image, int channels, int depth, bool mayRecolour) {
    const bool wide = image.sampleDepth == 16;
    std::optional<Rgb16> shared;
    bool several = false;
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* p = &image.rgba[i];
        if (p[3] != 0) continue;
        Rgb16 v{p[0], p[1], p[2]};
        if (!shared) shared = v;
        else if (!(*shared == v)) several = true;
    }
    if (!shared) return std::nullopt;
    auto representable = [&](const Rgb16& k) {
        uint32_t f;
        if (channels == 1 && (k.r != k.g || k.g != k.b)) return false;
        return FileValue(k.r, depth, wide, f) && FileValue(k.g, depth, wide, f) && FileValue(k.b, depth, wide, f);
    };
    // Visible colours, as 48-bit values; grey images and 8-bit RGB use a bitmap.
    std::vector<bool> bitmap;
    std::unordered_set<uint64_t> used;
    const bool useBitmap = !wide;
    if (useBitmap) bitmap.assign(channels == 1 ? 256 : (1u << 24), false);
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* p = &image.rgba[i];
        if (p[3] == 0) continue;
        if (useBitmap) bitmap[channels == 1 ? p[0] >> 8 : uint32_t(p[0] >> 8) << 16 | (p[1] >> 8) << 8 | p[2] >> 8] = true;
        else used.insert(uint64_t(p[0]) << 32 | uint64_t(p[1]) << 16 | p[2]);
    }
    auto isUsed = [&](const Rgb16& k) {
        if (useBitmap) return bool(bitmap[channels == 1 ? k.r >> 8 : uint32_t(k.r >> 8) << 16 | (k.g >> 8) << 8 | k.b >> 8]);
        return used.count(uint64_t(k.r) << 32 | uint64_t(k.g) << 16 | k.b) > 0;
    };
    if (!several && representable(*shared) && !isUsed(*shared)) return shared;
    if (!mayRecolour) return std::nullopt;
    auto unit = [&](uint32_t hi) { return uint16_t(wide ? hi * 257 : hi << 8); };
    if (channels == 1) {
        const uint32_t d = GreyDivisor(depth);
        for (uint32_t level = 0; level * d <= 255; ++level) {
            uint16_t v = unit(level * d);
            Rgb16 k{v, v, v};
            if (!isUsed(k)) return k;
        }
        return std::nullopt;
    }
    // Walk the interleaved code away from the transparent colour, toward the emptier half.
    uint32_t code = Interleave24(uint8_t(shared->r >> 8), uint8_t(shared->g >> 8), uint8_t(shared->b >> 8));
    const int step = code <= 0x800000 ? 1 : -1;
    for (int64_t c = code; c >= 0 && c <= 0xFFFFFF; c += step) {
        uint8_t r, g, b;
        Deinterleave24(uint32_t(c), r, g, b);
        Rgb16 k{unit(r), unit(g), unit(b)};
        if (!isUsed(k)) return k;
    }
    return std::nullopt;
}

// Grey (0 or 4) or RGB (2 or 6) at `depth`; transparent pixels take the key when there is one.
std::optional<OutputImage> BuildDirect(const WorkImage& image, bool rgb, int depth, bool alphaChannel,
                                       const std::optional<Rgb16>& key) {
    const bool wide = image.sampleDepth == 16;
    const PngColorType colorType = rgb ? (alphaChannel ? kPngRgba : kPngRgb) : (alphaChannel ? kPngGreyAlpha : kPngGrey);
    OutputImage out = Blank(image, colorType, depth);
    const int colours = rgb ? 3 : 1;
    const int channels = ChannelsOf(colorType);
    if (key) {
        uint32_t k[3];
        const uint16_t src[3] = {key->r, key->g, key->b};
        for (int c = 0; c < 3; ++c)
            if (!FileValue(src[c], depth, wide, k[c])) return std::nullopt;
        out.hasKey = true;
        out.key = rgb ? Rgb16{uint16_t(k[0]), uint16_t(k[1]), uint16_t(k[2])} : Rgb16{uint16_t(k[0]), uint16_t(k[0]), uint16_t(k[0])};
    }
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint16_t* p = image.Pixel(x, y);
            uint16_t s[4] = {p[0], p[1], p[2], p[3]};
            if (key && p[3] == 0) s[0] = key->r, s[1] = key->g, s[2] = key->b;
            if (!rgb && (s[0] != s[1] || s[1] != s[2])) return std::nullopt;
            const uint64_t base = uint64_t(x) * channels;
            for (int c = 0; c < colours; ++c) {
                uint32_t v;
                if (!FileValue(s[c], depth, wide, v)) return std::nullopt;
                PutSample(row, base + c, depth, v);
            }
            if (alphaChannel) {
                // 8-bit alpha 0xFF00 and 0xFFxx both mean full.
                PutSample(row, base + colours, depth, depth == 16 ? (wide ? s[3] : uint32_t(s[3] >> 8) * 257) : s[3] >> 8);
            }
        }
    }
    return out;
}

int BitsFor(size_t entries) {
    if (entries <= 2) return 1;
    if (entries <= 4) return 2;
    if (entries <= 16) return 4;
    return 8;
}

// A palette image of the table's colours in the table's order.
OutputImage BuildPalette(const WorkImage& image, const std::vector<ColorUse>& table, int depth) {
    OutputImage out = Blank(image, kPngPalette, depth);
    std::unordered_map<uint64_t, uint8_t> index;
    index.reserve(table.size() * 2);
    for (size_t i = 0; i < table.size(); ++i) {
        index.emplace(table[i].rgba, uint8_t(i));
        out.palette.push_back({Hi(table[i].rgba, 0), Hi(table[i].rgba, 1), Hi(table[i].rgba, 2), Hi(table[i].rgba, 3)});
    }
    uint64_t last = ~uint64_t(0);
    uint8_t lastIndex = 0;
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint32_t x = 0; x < image.width; ++x) {
            uint64_t v = Pack(image.Pixel(x, y));
            if (v != last) {
                auto it = index.find(v);
                if (it == index.end()) throw PngError("Internal error: a colour is missing from the palette");
                last = v;
                lastIndex = it->second;
            }
            PutSample(row, x, depth, lastIndex);
        }
    }
    return out;
}

// The input's own palette and indices ("/np").
OutputImage BuildInputPalette(const WorkImage& image, int depth) {
    OutputImage out = Blank(image, kPngPalette, depth);
    out.palette = image.palette;
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint32_t x = 0; x < image.width; ++x) PutSample(row, x, depth, image.indices[uint64_t(y) * image.width + x]);
    }
    return out;
}

// A size limit read while a measurement runs: a file that reaches it cannot be chosen.
using SizeLimit = std::function<uint64_t()>;
// Told each size measured in full, as soon as it is known.
using SizeSeen = std::function<void(uint64_t)>;

class Measurer {
public:
    Measurer(const Options& o, ThreadPool* pool) : o_(o), pool_(pool) {}

    EncodeSettings Settings(const OutputImage& image, uint8_t filterSet, int strategy) const {
        EncodeSettings s;
        s.filterSet = filterSet;
        s.level = 6;
        s.memLevel = 8;
        s.strategy = strategy;
        s.windowBits = 15;
        s.heuristic = o_.heuristicByColorType ? ((image.colorType == kPngGrey || image.colorType == kPngPalette) ? 2 : 7) : o_.heuristic;
        return s;
    }
    // The smallest size under these (filter set, strategy) pairs, measured side by side.
    uint64_t Smallest(const OutputImage& image, const std::vector<std::pair<uint8_t, int>>& settings) const {
        return Winner({&image}, settings, nullptr, nullptr)->size;
    }

    struct Measured {
        size_t index;
        uint64_t size;
    };
    // Among images, each sized as the smallest of its encodings under settings, the smallest
    // (the earlier one on a tie); none when every image reached the limit. An encoding is given
    // up once it cannot decide the outcome: as large as an earlier image's encoding, larger than
    // a later one's, as large as another encoding of its own image, or at the limit.
    std::optional<Measured> Winner(const std::vector<const OutputImage*>& images,
                                   const std::vector<std::pair<uint8_t, int>>& settings, const SizeLimit& limit,
                                   const SizeSeen& seen) const {
        const size_t n = images.size(), k = settings.size();
        std::mutex mutex;
        std::vector<std::optional<uint64_t>> sizes(n * k);
        auto bound = [&](size_t image, size_t setting) {
            uint64_t b = limit ? limit() : UINT64_MAX;
            std::lock_guard lock(mutex);
            for (size_t j = 0; j < n; ++j)
                for (size_t t = 0; t < k; ++t) {
                    const std::optional<uint64_t>& v = sizes[j * k + t];
                    if (!v || (j == image && t == setting)) continue;
                    b = std::min(b, j > image ? *v + 1 : *v);
                }
            return b;
        };
        // Settings-major: each image's first encoding early, so the bounds tighten soon.
        ParallelFor(pool_, n * k, [&](size_t job) {
            const size_t image = job % n, setting = job / n;
            const OutputImage& out = *images[image];
            std::optional<uint64_t> size = MeasureEncodedSize(out, Settings(out, settings[setting].first, settings[setting].second),
                                                              [&] { return bound(image, setting); });
            if (size && seen) seen(*size);
            std::lock_guard lock(mutex);
            sizes[image * k + setting] = size;
        });
        std::optional<Measured> best;
        for (size_t i = 0; i < n; ++i) {
            std::optional<uint64_t> size;
            for (size_t t = 0; t < k; ++t)
                if (sizes[i * k + t] && (!size || *sizes[i * k + t] < *size)) size = sizes[i * k + t];
            if (size && (!best || *size < best->size)) best = Measured{i, *size};
        }
        return best;
    }
    // None and all five filters.
    static std::vector<std::pair<uint8_t, int>> NoneAndAll() { return {{0x01, 0}, {0x1F, 0}}; }
    ThreadPool* Pool() const { return pool_; }

private:
    const Options& o_;
    ThreadPool* pool_;
};

struct Candidate {
    OutputImage image;
    uint64_t size = 0;
};

bool Reorderable(const WorkImage& image, const Options& options) {
    return !(options.keepPalette && image.pngColorType == kPngPalette && !image.indices.empty() && image.kind == InputKind::Png);
}

// The image measured as a candidate layout; none when it reached the limit.
std::optional<Candidate> Measure(OutputImage image, const Measurer& m, const SizeLimit& limit, const SizeSeen& seen) {
    std::optional<Measurer::Measured> w = m.Winner({&image}, Measurer::NoneAndAll(), limit, seen);
    if (!w) return std::nullopt;
    return Candidate{std::move(image), w->size};
}

// None also when every order reached the limit.
std::optional<Candidate> ChoosePaletteOrder(const WorkImage& image, const Options& options, int depth,
                                            Transparency kind, const Measurer& m, const SizeLimit& limit = nullptr,
                                            const SizeSeen& seen = nullptr) {
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

// Whether the grey image holds exactly at `depth` (high bytes on its grid).
bool GreyFits(const WorkImage& image, int depth) {
    const uint32_t d = GreyDivisor(depth);
    for (const ColorUse& c : image.analysis.colorTable)
        if (Hi(c.rgba, 3) != 0 && Hi(c.rgba, 0) % d) return false;
    return true;
}

void To8Bit(WorkImage& image) {
    if (image.sampleDepth != 16) return;
    for (uint16_t& v : image.rgba) v = uint16_t(v & 0xFF00);
    if (image.hasTrns) image.key = {uint16_t(image.key.r & 0xFF00), uint16_t(image.key.g & 0xFF00), uint16_t(image.key.b & 0xFF00)};
    image.sampleDepth = 8;
    Analyze(image);
}

// Grey or RGB, with the alpha the transparency kind asks for (a key where one exists).
OutputImage BuildPlain(const WorkImage& image, bool rgb, int depth, Transparency kind, bool mayRecolour) {
    if (kind == Transparency::Binary) {
        std::optional<Rgb16> key = FindKey(image, rgb ? 3 : 1, depth, mayRecolour);
        if (key)
            if (auto out = BuildDirect(image, rgb, depth, false, key)) return std::move(*out);
    }
    const int wideDepth = depth == 16 ? 16 : 8;
    const bool alpha = kind != Transparency::None;
    if (!alpha || depth >= 8)
        if (auto out = BuildDirect(image, rgb, depth, alpha, std::nullopt)) return std::move(*out);
    if (auto out = BuildDirect(image, rgb, wideDepth, alpha, std::nullopt)) return std::move(*out);
    if (auto out = BuildDirect(image, true, wideDepth, alpha, std::nullopt)) return std::move(*out);
    if (auto out = BuildDirect(image, true, 16, true, std::nullopt)) return std::move(*out);
    throw PngError("Internal error: no output layout holds the image");
}

OutputImage KeepColorType(WorkImage& image, const Options& options, const Measurer& m) {
    const Analysis& a = image.analysis;
    const bool mayRecolour = options.cleanTransparent || options.optimizeTransparent;
    PngColorType type = image.kind == InputKind::Png ? image.pngColorType : kPngRgb;
    int depth = image.kind == InputKind::Png ? image.pngBitDepth : 8;
    Transparency kind = a.partial ? Transparency::Alpha : a.transparent ? Transparency::Binary : Transparency::None;
    if (options.quantize && a.colorCount <= 256 && depth <= 8) type = kPngPalette;
    if (type == kPngPalette) {
        if (a.colorCount <= 256 || !Reorderable(image, options)) {
            int bits = std::max(depth, Reorderable(image, options) ? BitsFor(a.colorTable.size()) : depth);
            if (auto c = ChoosePaletteOrder(image, options, std::min(bits, 8), kind, m)) return std::move(c->image);
        }
        type = a.grey ? kPngGrey : kPngRgb;
        depth = 8;
    }
    // An alpha channel stays one, even when the pixels would need none: callers rely on the layout.
    const bool alphaChannel = type == kPngGreyAlpha || type == kPngRgba;
    if (type == kPngRgba) type = kPngRgb;
    if (type == kPngGreyAlpha) type = kPngGrey;
    if (type == kPngGrey && !a.grey) type = kPngRgb;
    if (type == kPngRgb && depth < 8) depth = 8;
    if (depth == 16 && image.sampleDepth != 16) depth = 8;
    if (depth != 16 && image.sampleDepth == 16 && !a.eightBitEnough) depth = 16;
    if (alphaChannel)
        if (auto out = BuildDirect(image, type == kPngRgb, depth, true, std::nullopt)) return std::move(*out);
    return BuildPlain(image, type == kPngRgb, depth, kind, mayRecolour);
}

}  // namespace

namespace {

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

OutputImage ChooseOutputFormat(WorkImage& image, const Options& options, ThreadPool* pool) {
    const Measurer m(options, pool);
    const bool mayRecolour = options.cleanTransparent || options.optimizeTransparent;
    if (options.keepColorType) return KeepColorType(image, options, m);
    if (image.sampleDepth == 16 && image.analysis.eightBitEnough) To8Bit(image);
    const Analysis& a = image.analysis;
    Transparency kind = KindOf(a);
    const bool wide = image.sampleDepth == 16;
    if (wide || a.colorCount > 256) return BuildPlain(image, !a.grey, wide ? 16 : 8, kind, mayRecolour);

    // At most 256 colours: try every layout that holds them, in slot order.
    const size_t colours = a.colorTable.size();
    const int lowDepth = BitsFor(colours);
    using Slot = std::function<std::optional<Candidate>(const SizeLimit&, const SizeSeen&)>;
    std::vector<Slot> slots;
    auto direct = [&](bool rgb, int depth) -> Slot {
        return [&, rgb, depth](const SizeLimit& limit, const SizeSeen& seen) {
            return Measure(BuildPlain(image, rgb, depth, kind, mayRecolour), m, limit, seen);
        };
    };
    auto palette = [&](int depth) -> Slot {
        return [&, depth](const SizeLimit& limit, const SizeSeen& seen) {
            return ChoosePaletteOrder(image, options, depth, kind, m, limit, seen);
        };
    };
    bool greyOk = a.grey && kind != Transparency::Alpha && GreyFits(image, lowDepth);
    if (greyOk && kind == Transparency::Binary) greyOk = FindKey(image, 1, lowDepth, mayRecolour).has_value();
    if (greyOk) {
        if (lowDepth < 8) {
            slots.push_back(direct(false, lowDepth));
            slots.push_back(palette(lowDepth));
        }
        slots.push_back(direct(false, 8));
        slots.push_back(palette(8));
    } else {
        for (int depth = lowDepth; depth <= 8; depth *= 2) slots.push_back(palette(depth));
        if (kind != Transparency::Binary) slots.push_back(direct(true, 8));
        if (a.grey) slots.push_back(direct(false, 8));
    }
    // Walking the slots, a candidate replaces the choice unless it is at least 1 % larger, so
    // after a slot of size v the choice is at most v, and each later slot raises it by less than
    // 1 %. A slot d places after one of size v can thus win only below v * 1.01^d: from that size
    // on it is given up, which skips a layout that cannot win (true colour beside a palette, a
    // deeper palette beside a shallower one) once its partial file shows it. Any encoding a slot
    // has measured in full is at least its size, so it serves as v before the slot ends. The
    // slots run side by side and the limits tighten as sizes come in; the choice is the same.
    std::mutex mutex;
    std::vector<std::optional<uint64_t>> upper(slots.size());
    auto seenBy = [&](size_t slot) {
        return [&, slot](uint64_t size) {
            std::lock_guard lock(mutex);
            if (!upper[slot] || size < *upper[slot]) upper[slot] = size;
        };
    };
    auto limitOf = [&](size_t slot) {
        return [&, slot] {
            unsigned __int128 limit = UINT64_MAX;
            std::lock_guard lock(mutex);
            for (size_t j = 0; j < slot; ++j) {
                if (!upper[j]) continue;
                unsigned __int128 num = *upper[j], den = 1;
                for (size_t d = j; d < slot; ++d) num *= 101, den *= 100;
                limit = std::min(limit, (num + den - 1) / den);
            }
            return uint64_t(limit);
        };
    };
    std::vector<std::optional<Candidate>> candidates(slots.size());
    ParallelFor(pool, slots.size(), [&](size_t i) {
        candidates[i] = slots[i](limitOf(i), seenBy(i));
    });
    std::optional<Candidate> best;
    for (auto& c : candidates) {
        if (!c) continue;
        if (!best || c->size * 100 / std::max<uint64_t>(best->size, 1) <= 100) best = std::move(c);
    }
    if (!best) return BuildPlain(image, !a.grey, 8, kind, mayRecolour);
    return std::move(best->image);
}

namespace {

void FillColour(WorkImage& image, uint16_t value) {
    for (uint64_t i = 0; i < image.rgba.size(); i += 4)
        if (image.rgba[i + 3] == 0) image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = value;
}

void FillZero(WorkImage& image) { FillColour(image, 0); }
void FillWhite(WorkImage& image) { FillColour(image, image.sampleDepth == 16 ? 0xFFFF : 0xFF00); }

// Along one run of pixels, each transparent one takes the colour of the last visible one.
template <typename PixelAt>
void FillRun(uint32_t count, PixelAt pixelAt) {
    uint16_t last[3] = {0, 0, 0};
    for (uint32_t i = 0; i < count; ++i) {
        uint16_t* p = pixelAt(i);
        if (p[3] == 0) std::copy(last, last + 3, p);
        else std::copy(p, p + 3, last);
    }
}

void FillFromLeft(WorkImage& image) {
    for (uint32_t y = 0; y < image.height; ++y) FillRun(image.width, [&](uint32_t i) { return image.Pixel(i, y); });
}
void FillFromRight(WorkImage& image) {
    const uint32_t w = image.width;
    for (uint32_t y = 0; y < image.height; ++y) FillRun(w, [&](uint32_t i) { return image.Pixel(w - 1 - i, y); });
}
void FillFromTop(WorkImage& image) {
    for (uint32_t x = 0; x < image.width; ++x) FillRun(image.height, [&](uint32_t i) { return image.Pixel(x, i); });
}
void FillFromBottom(WorkImage& image) {
    const uint32_t h = image.height;
    for (uint32_t x = 0; x < image.width; ++x) FillRun(h, [&](uint32_t i) { return image.Pixel(x, h - 1 - i); });
}

// The colours of fully transparent pixels, set one way or another for compression's sake.
void FillTransparent(WorkImage& image, TransparentFill fill) {
    switch (fill) {
        case TransparentFill::AsIs: break;
        case TransparentFill::Zero: FillZero(image); break;
        case TransparentFill::White: FillWhite(image); break;
        case TransparentFill::FromLeft: FillFromLeft(image); break;
        case TransparentFill::FromRight: FillFromRight(image); break;
        case TransparentFill::FromTop: FillFromTop(image); break;
        case TransparentFill::FromBottom: FillFromBottom(image); break;
    }
}

uint64_t VariantSize(const OutputImage& out, const Measurer& m) {
    std::vector<std::pair<uint8_t, int>> settings;
    for (uint8_t set : {uint8_t(0x01), uint8_t(0x02), uint8_t(0x04), uint8_t(0x1F)})
        for (int strategy : {0, 1}) settings.emplace_back(set, strategy);
    return m.Smallest(out, settings);
}

}  // namespace

bool OutputInterlaced(const WorkImage& image, const Options& options) {
    return options.interlace < 0 ? image.interlaced : (options.interlace % 2 == 0);
}

OutputImage BuildOutputImage(WorkImage& image, const Options& options, std::ostream* progress, ThreadPool* pool) {
    ApplyLossyPrePass(image, options);
    if (options.quantize) {
        // More colours asked for than the image has: every colour stays as it is.
        if (CountDistinctColors8(image) > uint64_t(options.colorCount)) {
            QuantizeImage(image, options.colorCount, options.ditherAmount, progress);
            Analyze(image);
        }
    }
    const Analysis& a = image.analysis;
    OutputImage out;
    if (!options.optimizeTransparent || options.keepColorType || options.keepPalette ||
        (a.transparent == 0 && a.partial == 0) || a.colorCount < 3) {
        out = ChooseOutputFormat(image, options, pool);
    } else {
        const Measurer m(options, pool);
        // Each fill works on the image as the previous one left it; the run fills only pay
        // where partial pixels keep an alpha channel.
        static constexpr TransparentFill kFills[] = {TransparentFill::AsIs,     TransparentFill::Zero,
                                                     TransparentFill::White,    TransparentFill::FromLeft,
                                                     TransparentFill::FromRight, TransparentFill::FromTop,
                                                     TransparentFill::FromBottom};
        const size_t fills = a.partial ? 7 : 3;
        // Fills are measured side by side, as many at once as a bounded amount of copies allows.
        const uint64_t copyBytes = uint64_t(image.rgba.size()) * sizeof(uint16_t) + 1;
        const size_t batch = size_t(std::clamp<uint64_t>((uint64_t(256) << 20) / copyBytes, 1, fills));
        uint64_t bestSize = 0;
        WorkImage bestImage;
        for (size_t first = 0; first < fills; first += batch) {
            const size_t n = std::min(batch, fills - first);
            std::vector<WorkImage> trials(n);
            for (size_t k = 0; k < n; ++k) {
                FillTransparent(image, kFills[first + k]);
                trials[k] = image;
            }
            std::vector<OutputImage> candidates(n);
            std::vector<uint64_t> sizes(n);
            ParallelFor(pool, n, [&](size_t k) {
                Analyze(trials[k]);
                candidates[k] = ChooseOutputFormat(trials[k], options, pool);
                sizes[k] = VariantSize(candidates[k], m);
            });
            for (size_t k = 0; k < n; ++k) {
                if (first + k == 0 || sizes[k] < bestSize) {
                    bestSize = sizes[k];
                    out = std::move(candidates[k]);
                    bestImage = std::move(trials[k]);
                }
                if (progress) *progress << "." << std::flush;
            }
        }
        image = std::move(bestImage);
        if (progress) *progress << "\r" << std::string(80, ' ') << std::flush;
    }
    out.interlace = OutputInterlaced(image, options);
    if (image.hasGamma && options.gammaMode == GammaMode::Keep) {
        out.hasGamma = true;
        out.gamma = image.gamma;
    }
    return out;
}

int ReportedColorType(const OutputImage& image) {
    if (image.colorType != kPngPalette) return image.colorType;
    bool grey = std::all_of(image.palette.begin(), image.palette.end(),
                            [](const PaletteEntry& e) { return e.r == e.g && e.g == e.b; });
    bool trns = std::any_of(image.palette.begin(), image.palette.end(), [](const PaletteEntry& e) { return e.a != 255; });
    if (trns) return grey ? 5 : 7;
    return grey ? 1 : 3;
}

namespace {
uint32_t To16(uint16_t v, int depth) { return depth == 16 ? v : uint32_t(v >> 8) * 257; }
}  // namespace

bool DecodesToSamePixels(const std::vector<uint8_t>& encoded, const WorkImage& image, const Options& options,
                         std::string* why) {
    auto fail = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    WorkImage decoded;
    try {
        decoded = ReadPng(encoded, ReadSettings{GammaMode::Keep, false});
    } catch (const std::exception& e) {
        return fail(std::string("result does not decode: ") + e.what());
    }
    if (decoded.width != image.width || decoded.height != image.height) return fail("result has another size");
    const bool colorMayChange = options.cleanTransparent || options.optimizeTransparent;
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* a = &image.rgba[i];
        const uint16_t* b = &decoded.rgba[i];
        uint32_t alphaA = a[3] == image.OpaqueAlpha() ? 0xFFFF : To16(a[3], image.sampleDepth);
        uint32_t alphaB = b[3] == decoded.OpaqueAlpha() ? 0xFFFF : To16(b[3], decoded.sampleDepth);
        if (alphaA != alphaB) return fail("result differs in alpha at pixel " + std::to_string(i / 4));
        if (alphaA == 0 && colorMayChange) continue;
        for (int c = 0; c < 3; ++c)
            if (To16(a[c], image.sampleDepth) != To16(b[c], decoded.sampleDepth))
                return fail("result differs in colour at pixel " + std::to_string(i / 4));
    }
    return true;
}

}  // namespace jx::quillox
