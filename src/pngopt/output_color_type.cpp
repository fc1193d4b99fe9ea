// Colour type: grey or true colour, with an alpha channel or a tRNS key, and the choice among
// the palette, grey and true-colour layouts.
#include <algorithm>
#include <mutex>
#include <unordered_set>

#include "pngopt/output_internal.h"
#include "pngopt/trial_engine.h"

namespace jx::quillox::detail {
namespace {

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

}  // namespace

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

OutputImage ChooseSmallLayout(const WorkImage& image, const Options& options, Transparency kind, bool mayRecolour,
                              const Measurer& m, ThreadPool* pool) {
    const Analysis& a = image.analysis;
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

}  // namespace jx::quillox::detail
