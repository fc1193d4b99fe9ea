#include "imaging/quantize.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

#include "imaging/adaptive_palette.h"
#include "imaging/color_map.h"
#include "imaging/color_tree.h"
#include "imaging/errors.h"
#include "imaging/remap.h"

namespace jx {
namespace {

constexpr std::array<TRgbBytes, 16> kWindows16 = {{{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                                    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {128, 128, 128},
                                                    {192, 192, 192}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                                    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}}};

// A fixed 256-colour halftone palette: the 20 reserved system colours at both ends (10 each),
// the 6 x 6 x 6 colour cube and 20 greys between.
constexpr std::array<TRgbBytes, 256> MakeWindows256() {
    std::array<TRgbBytes, 256> p{};
    constexpr TRgbBytes low[10] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
                                   {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
    constexpr TRgbBytes high[10] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                                    {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                                    {0, 255, 255},   {255, 255, 255}};
    size_t i = 0;
    for (const TRgbBytes& c : low) p[i++] = c;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p[i++] = {static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51)};
    for (int k = 1; k <= 20; ++k) {
        const uint8_t v = static_cast<uint8_t>((k * 255 * 2 + 21) / 42);  // k * 255 / 21 rounded
        p[i++] = {v, v, v};
    }
    for (const TRgbBytes& c : high) p[i++] = c;
    return p;
}
constexpr std::array<TRgbBytes, 256> kWindows256 = MakeWindows256();

inline uint8_t RoundByte(double v) { return ClampByte(static_cast<int32_t>(std::nearbyint(v))); }

void SetEntry(EngineState& state, int32_t i, uint8_t r, uint8_t g, uint8_t b) {
    TPixelRec& e = state.Palette[static_cast<size_t>(i)];
    e.R = r;
    e.G = g;
    e.B = b;
    e.A = 255;
    state.Convert(e);
}

void EnsurePaletteLength(EngineState& state, int64_t n) {
    if (static_cast<int64_t>(state.Palette.size()) < n) {
        TPixelRec cleared;
        ClearPixel(state, cleared);
        try {
            state.Palette.resize(static_cast<size_t>(n), cleared);
        } catch (const std::bad_alloc&) {
            throw ImagingError("Out of memory for a palette of " + std::to_string(n) + " colours");
        }
    }
}

// Whole number shown in a colour-count box, or -1 when the text is not one.
int64_t BoxNumber(const std::string& text) {
    int64_t v = -1;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return (ec == std::errc() && ptr == text.data() + text.size()) ? v : -1;
}

int64_t MillisecondsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

// The histograms and the grey test take every pixel of the colour-list pass.
inline void CountColor(EngineState& state, const TPixelRec& p, int32_t pixels) {
    state.ChannelHistograms[0][p.R] += pixels;
    state.ChannelHistograms[1][p.G] += pixels;
    state.ChannelHistograms[2][p.B] += pixels;
    state.ChannelHistograms[3][p.A] += pixels;
    if (p.R != p.G || p.R != p.B) state.IsGrey = false;
}
inline void CountPixel(EngineState& state, const TPixelRec& p) { CountColor(state, p, 1); }

}  // namespace

void BuildGrayscalePalette(EngineState& state, int32_t n) {
    EnsurePaletteLength(state, n);
    for (int32_t i = 0; i < n; ++i) {
        // A one-entry ramp has no step; it holds black.
        const uint8_t v = n == 1 ? 0 : RoundByte(static_cast<double>(i) / (n - 1) * 255.0);
        SetEntry(state, i, v, v, v);
    }
}

void BuildUniform332Palette(EngineState& state) {
    EnsurePaletteLength(state, 256);
    int32_t i = 0;
    for (int r = 0; r < 8; ++r)
        for (int g = 0; g < 8; ++g)
            for (int b = 0; b < 4; ++b)
                SetEntry(state, i++, RoundByte(r * 32 / 224.0 * 255.0), RoundByte(g * 32 / 224.0 * 255.0),
                         RoundByte(b * 64 / 192.0 * 255.0));
}

void BuildWindows256Palette(EngineState& state) {
    EnsurePaletteLength(state, 256);
    for (int32_t i = 0; i < 256; ++i) {
        const TRgbBytes& c = kWindows256[static_cast<size_t>(i)];
        SetEntry(state, i, c.R, c.G, c.B);
    }
}

void BuildWindows16Palette(EngineState& state) {
    EnsurePaletteLength(state, 16);
    for (int32_t i = 0; i < 16; ++i) {
        const TRgbBytes& c = kWindows16[static_cast<size_t>(i)];
        SetEntry(state, i, c.R, c.G, c.B);
    }
}

namespace {

// A mask of another size would weight the wrong pixels.
void CheckMaskFits(const EngineState& state) {
    if (!state.QualityMask.Empty() &&
        (state.QualityMask.Width() != state.ImageWidth() || state.QualityMask.Height() != state.ImageHeight()))
        throw ImagingError("The quality mask is " + std::to_string(state.QualityMask.Width()) + "x" +
                           std::to_string(state.QualityMask.Height()) + " but the image is " +
                           std::to_string(state.ImageWidth()) + "x" + std::to_string(state.ImageHeight()) +
                           "; repaint or clear the mask.");
}

// The colour-count boxes: what they show now, kept to compare with the palette's final size.
struct TCountBox {
    std::string Text;
    EngineObserver& Observer;
    void Show(const std::string& text) {
        Text = text;
        Observer.ShowColorCount(text);
    }
};

// The count the palette type allows: the image's own colours at most for an adaptive palette,
// never 1, and the fixed palettes' sizes. Outside batch the boxes follow.
int32_t CountForType(const EngineState& state, TPaletteType type, int32_t n, TCountBox& box) {
    if (!state.BatchQuantize) {
        if (n > 0 && n > state.UniqueColorCount && type == TPaletteType::Adaptive)
            box.Show(std::to_string(state.UniqueColorCount));
        if (n == 1) {
            n = 2;
            box.Show("2");
        }
    }
    if (type == TPaletteType::Uniform332 || type == TPaletteType::Windows256) {
        n = 256;
        if (!state.BatchQuantize) box.Show("256");
    } else if (type == TPaletteType::Windows16) {
        n = 16;
        if (!state.BatchQuantize) box.Show("16");
    }
    return n;
}

// With no painted mask every pixel weighs 1, and the colour list is the unique colours already
// counted. Returns the list's length.
int32_t ListFromUniqueColors(EngineState& state, int32_t n, bool remapCovers, const TPixelRec& cleared) {
    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    const auto& unique = state.UniqueColorIndex;
    std::vector<TPixelRec>& list = state.Palette;
    std::vector<int64_t>& weights = state.ColorListWeights;
    // The true-colour view is the image itself; a palette's remap rewrites every pixel.
    if (!remapCovers)
        for (int32_t y = 0; y < h; ++y) {
            TPixelRec* out = state.WorkingImage[y];
            std::memcpy(out, state.SourceImage[y], static_cast<size_t>(w) * sizeof(TPixelRec));
            for (int32_t x = 0; x < w; ++x) {
                if (n > 0 && out[x].A == 0) out[x] = cleared;
                out[x].Weight = 1;
            }
        }
    const int32_t count = static_cast<int32_t>(unique.First.size());
    ResizeChecked(list, count);
    ResizeChecked(weights, count);
    const TPixelRec* src = state.SourceImage.Data();
    for (int32_t i = 0; i < count; ++i) {
        TPixelRec p = src[unique.First[static_cast<size_t>(i)]];
        if (n > 0 && p.A == 0) p = cleared;
        p.Weight = unique.Count[static_cast<size_t>(i)];
        // The histograms count pixels: each colour once, by its pixel count.
        CountColor(state, p, p.Weight);
        list[static_cast<size_t>(i)] = p;
        weights[static_cast<size_t>(i)] = p.Weight;
    }
    return count;
}

// Every pixel weighed by the painted mask (1 where unpainted) and gathered into the colour list.
// Returns the list's length.
int32_t ListFromPixels(EngineState& state, int32_t n, bool remapCovers, bool painted, const TPixelRec& cleared) {
    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    const TByteImage& qm = state.QualityMask;
    std::vector<TPixelRec>& list = state.Palette;
    std::vector<int64_t>& weights = state.ColorListWeights;
    // The colour list grows as colours are found (a photograph has far fewer colours than
    // pixels); a flat table finds each pixel's entry with one probe.
    list.clear();
    weights.clear();
    const int64_t expected = std::min<int64_t>(state.SourceImage.Count(), std::max(state.UniqueColorCount, 256));
    TColorMap index(static_cast<size_t>(expected));
    try {
        list.reserve(static_cast<size_t>(expected));
        weights.reserve(static_cast<size_t>(expected));
    } catch (const std::bad_alloc&) {
        throw ImagingError("Out of memory for a colour list of " + std::to_string(expected) + " colours");
    }
    int32_t count = 0;
    for (int32_t y = 0; y < h; ++y) {
        const TPixelRec* src = state.SourceImage[y];
        const uint8_t* mask = painted ? qm[y] : nullptr;
        TPixelRec* out = state.WorkingImage[y];
        for (int32_t x = 0; x < w; ++x) {
            TPixelRec p = src[x];
            if (n > 0 && p.A == 0) p = cleared;
            CountPixel(state, p);
            const int32_t weight = (mask && mask[x] != 0) ? mask[x] : 1;
            p.Weight = weight;
            bool inserted;
            const int32_t at = index.FindOrInsert(PixelKey(p), count, inserted);
            if (inserted) {
                AppendChecked(list, p);
                AppendChecked(weights, int64_t{weight});
                ++count;
            } else {
                weights[static_cast<size_t>(at)] += weight;
            }
            if (!remapCovers) out[x] = p;
        }
    }
    for (int32_t i = 0; i < count; ++i)
        list[static_cast<size_t>(i)].Weight = CappedWeight(weights[static_cast<size_t>(i)]);
    return count;
}

// The weighted colour list (in Palette and ColorListWeights), the channel histograms, the grey
// test and an identity palette order. Returns whether the list is the image's unique colours.
bool BuildColorList(EngineState& state, int32_t n) {
    for (auto& h : state.ChannelHistograms) h.fill(0);

    // Every pixel of the working image is written below, by the colour-list pass or by the
    // remap over the whole image, so a working image of the right shape is not cleared first.
    if (!state.WorkingImage.SameShape(state.SourceImage)) state.WorkingImage.Resize(state.ImageWidth(), state.ImageHeight());
    const bool remapCovers = n > 0 && !state.QuickAddPreview;
    ColorTreeReset(state);
    TPixelRec cleared;
    ClearPixel(state, cleared);

    // The unique colours serve only if the image is still the one they were counted on.
    const TByteImage& qm = state.QualityMask;
    const bool painted = !qm.Empty() && std::any_of(qm.Data(), qm.Data() + qm.Count(), [](uint8_t v) { return v != 0; });
    const auto& unique = state.UniqueColorIndex;
    const bool reuse = !painted && unique.Valid && (n <= 0 || unique.TransparentBlack) &&
                       unique.Fingerprint == ColorFingerprint(state.SourceImage);

    state.IsGrey = true;
    const int32_t count = reuse ? ListFromUniqueColors(state, n, remapCovers, cleared)
                                : ListFromPixels(state, n, remapCovers, painted, cleared);
    state.ColorListLength = count;
    // Room for every palette type's entries; entries past the list are cleared records.
    GrowChecked(state.Palette, std::max<int64_t>({count, 256, n}), cleared);
    GrowChecked(state.ColorListWeights, static_cast<int64_t>(state.Palette.size()));

    ResizeChecked(state.PaletteOrder, std::max<int64_t>(n, state.ColorListLength));
    for (size_t i = 0; i < state.PaletteOrder.size(); ++i) state.PaletteOrder[i] = static_cast<int32_t>(i);
    return reuse;
}

// The palette of the chosen type from the colour list; returns its size.
int32_t BuildPaletteOfType(EngineState& state, const TQuantizerSettings& settings, int32_t n, bool listIsUnique) {
    switch (settings.PaletteType) {
        case TPaletteType::Adaptive:
            state.ColorListIsUnique = listIsUnique;
            BuildAdaptivePalette(state, settings);
            return state.PaletteSize;
        case TPaletteType::UniformGrayscale:
            BuildGrayscalePalette(state, n);
            return n;
        case TPaletteType::Uniform332:
            BuildUniform332Palette(state);
            return n;
        case TPaletteType::Windows256:
            BuildWindows256Palette(state);
            return n;
        case TPaletteType::Windows16:
            BuildWindows16Palette(state);
            return n;
        case TPaletteType::Custom:
            if (!state.LoadCustomPalette) throw ImagingError("No palette file has been chosen");
            state.LoadCustomPalette(state);
            return state.PaletteSize;
        default:
            throw ImagingError("Unknown palette type " + std::to_string(static_cast<int32_t>(settings.PaletteType)));
    }
}

}  // namespace

void CountChannelHistograms(EngineState& state, int32_t n) {
    for (auto& h : state.ChannelHistograms) h.fill(0);
    TPixelRec cleared;
    ClearPixel(state, cleared);
    state.IsGrey = true;
    const TPixelRec* px = state.SourceImage.Data();
    for (int64_t i = 0, count = state.SourceImage.Count(); i < count; ++i)
        CountPixel(state, n > 0 && px[i].A == 0 ? cleared : px[i]);
    state.HistogramDirty = true;
}

void Quantize(EngineState& state, const TQuantizerSettings& settings, EngineObserver& observer) {
    // A refused count changes nothing.
    int32_t n = ParseColorCount(settings.ColorCount);
    if (!state.HasImage()) return;
    CheckMaskFits(state);

    BusyGuard busy(observer);
    state.HistogramDirty = true;
    state.PaletteSize = n;
    TCountBox box{settings.ColorCount, observer};
    n = CountForType(state, settings.PaletteType, n, box);
    state.PaletteSize = n;

    const bool listIsUnique = BuildColorList(state, n);
    observer.Refresh(TRefreshTarget::Histogram);

    observer.InfoClear();
    observer.InfoLine("w=" + std::to_string(state.ImageWidth()) + " h=" + std::to_string(state.ImageHeight()));
    observer.InfoLine("unique colors=" + std::to_string(state.UniqueColorCount) +
                      (state.IsGrey ? " (grey)" : state.HasAlpha ? " (rgba)" : " (rgb)"));

    if (n > 0) {
        const auto t0 = std::chrono::steady_clock::now();
        n = BuildPaletteOfType(state, settings, n, listIsUnique);
        state.PaletteSize = n;
        observer.InfoLine("quantize: " + std::to_string(MillisecondsSince(t0)) + "ms");
    }

    state.PaletteType = settings.PaletteType;
    if (!state.BatchQuantize && n > 0 && BoxNumber(box.Text) > n) box.Show(std::to_string(n));

    const auto t1 = std::chrono::steady_clock::now();
    ConvertImage(state, settings, observer);
    if (!state.Palette.empty()) observer.SelectColorKey(PixelKey(state.Palette[0]));
    observer.Refresh(TRefreshTarget::SelectedColor);
    observer.InfoLine("convert img: " + std::to_string(MillisecondsSince(t1)) + "ms");
    observer.Refresh(TRefreshTarget::ShowImageView);
}

}  // namespace jx
