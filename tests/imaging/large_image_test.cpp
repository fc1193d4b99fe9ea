// Large and heavily weighted images: weights that pass 2^31, the palette's independence of the
// image's scale, and a quality mask that does not fit the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine_test_util.h"
#include "imaging/adaptive_palette.h"
#include "imaging/color_tree.h"
#include "imaging/errors.h"
#include "imaging/quantize.h"

namespace jx {
namespace {

using test::Rgba;

// Shading with grain: a few thousand distinct colours, one heavy region.
std::vector<TPixelRec> Photo(int w, int h) {
    std::vector<TPixelRec> px;
    uint32_t seed = 3;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int g = int(seed >> 29) - 4;
            const double u = double(x) / w, v = double(y) / h;
            px.push_back(Rgba(uint8_t(std::clamp(int(130 + 90 * std::sin(5 * u + v)) + g, 0, 255)),
                              uint8_t(std::clamp(int(150 + 60 * std::cos(4 * v)) + g, 0, 255)),
                              uint8_t(std::clamp(int(220 - 50 * u * v) - g, 0, 255))));
        }
    return px;
}

std::vector<TPixelRec> Tiled(const std::vector<TPixelRec>& px, int w, int h, int times) {
    std::vector<TPixelRec> out;
    for (int y = 0; y < h * times; ++y)
        for (int x = 0; x < w * times; ++x) out.push_back(px[size_t((y % h) * w + x % w)]);
    return out;
}

// R, G, B, A and c1..c3 of the palette, in its final order.
std::vector<std::array<uint8_t, 7>> Colors(const EngineState& s) {
    std::vector<std::array<uint8_t, 7>> c;
    for (int32_t i = 0; i < s.PaletteSize; ++i) {
        const TPixelRec& p = s.Palette[size_t(i)];
        c.push_back({p.R, p.G, p.B, p.A, p.c1, p.c2, p.c3});
    }
    return c;
}

std::vector<std::array<uint8_t, 7>> QuantizedPalette(int w, int h, const std::vector<TPixelRec>& px, const char* count,
                                                     uint8_t mask = 0) {
    EngineState s;
    test::LoadImage(s, w, h, px);
    BuildUniqueColors(s);
    if (mask) s.QualityMask.Resize(w, h, mask);
    TQuantizerSettings set;
    set.ColorCount = count;
    set.DitherMode = TDitherMode::FloydSteinberg;
    EngineObserver quiet;
    Quantize(s, set, quiet);
    return Colors(s);
}

TEST(LargeImage, TilingOrMaskingTheImageKeepsItsPalette) {
    const int w = 48, h = 36;
    const auto px = Photo(w, h);
    for (const char* count : {"16", "32", "256"}) {
        const auto plain = QuantizedPalette(w, h, px, count);
        ASSERT_FALSE(plain.empty());
        EXPECT_EQ(QuantizedPalette(w * 4, h * 4, Tiled(px, w, h, 4), count), plain) << count;
        // A mask of 255 everywhere weighs every pixel alike: same proportions, same palette.
        EXPECT_EQ(QuantizedPalette(w * 4, h * 4, Tiled(px, w, h, 4), count, 255), plain) << count;
    }
}

// The colour list of a 16-megapixel photograph with a mask of 255 everywhere carries weights far
// past 2^31; scaling every weight alike must not move a single palette colour.
TEST(LargeImage, WeightsPastTheInt32RangeGiveTheUnscaledPalette) {
    const int w = 60, h = 40;
    const auto px = Photo(w, h);
    for (const bool mix : {true, false})
        for (const int32_t reserve : {0, 50}) {
            TQuantizerSettings set;
            set.DoNotMix = !mix;
            set.RareReserve = reserve;
            auto build = [&](int64_t scale) {
                EngineState s;
                test::LoadImage(s, w, h, px);
                BuildUniqueColors(s);
                s.ColorListLength = s.UniqueColorCount;
                s.ColorListWeights.assign(s.Palette.size(), 0);
                for (int32_t i = 0; i < s.ColorListLength; ++i) {
                    TPixelRec& p = s.Palette[size_t(i)];
                    s.ColorListWeights[size_t(i)] = p.Weight * scale;
                    p.Weight = CappedWeight(p.Weight * scale);
                }
                s.PaletteSize = 16;
                BuildAdaptivePalette(s, set);
                return s;
            };
            const EngineState small = build(1), huge = build(int64_t{255} << 24);
            ASSERT_EQ(Colors(huge), Colors(small)) << mix << " " << reserve;
            // The exact weights came through; the records keep capped copies.
            for (int32_t i = 0; i < huge.PaletteSize; ++i) {
                EXPECT_EQ(huge.ColorListWeights[size_t(i)], small.ColorListWeights[size_t(i)] * (int64_t{255} << 24));
                EXPECT_EQ(huge.Palette[size_t(i)].Weight, CappedWeight(huge.ColorListWeights[size_t(i)]));
            }
        }
}

// Quantize takes the counted unique colours as its list only while they still describe the
// image: an edit made without a recount, or a painted mask, is seen.
TEST(LargeImage, ColourListFollowsEditsMadeAfterTheCount) {
    const int w = 20, h = 10;
    EngineState s;
    test::LoadImage(s, w, h, Photo(w, h));
    BuildUniqueColors(s);
    TQuantizerSettings set;
    set.ColorCount = "TrueColor";
    EngineObserver quiet;
    Quantize(s, set, quiet);
    EXPECT_EQ(s.ColorListLength, s.UniqueColorCount);

    // One new colour painted straight into the source.
    TPixelRec odd = Rgba(1, 254, 3);
    s.Convert(odd);
    s.SourceImage[4][7] = odd;
    Quantize(s, set, quiet);
    const std::vector<TPixelRec> listed(s.Palette.begin(), s.Palette.begin() + s.ColorListLength);
    BuildUniqueColors(s);
    ASSERT_EQ(listed.size(), size_t(s.UniqueColorCount));
    for (size_t i = 0; i < listed.size(); ++i) ASSERT_EQ(listed[i], s.Palette[i]) << i;
    EXPECT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const TPixelRec& p) { return SameRgba(p, odd); }));

    // A painted mask weighs the pixels it covers.
    s.QualityMask[4][7] = 200;
    Quantize(s, set, quiet);
    for (int32_t i = 0; i < s.ColorListLength; ++i) {
        if (SameRgba(s.Palette[size_t(i)], odd)) {
            EXPECT_EQ(s.ColorListWeights[size_t(i)], 200);
        }
    }
}

TEST(LargeImage, MaskOfAnotherSizeIsRefused) {
    EngineState s;
    test::LoadImage(s, 8, 6, Photo(8, 6));
    BuildUniqueColors(s);
    s.QualityMask.Resize(6, 8, 200);
    TQuantizerSettings set;
    set.ColorCount = "4";
    EngineObserver quiet;
    try {
        Quantize(s, set, quiet);
        FAIL() << "a 6x8 mask on an 8x6 image was used";
    } catch (const ImagingError& e) {
        EXPECT_NE(std::string(e.what()).find("6x8"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("8x6"), std::string::npos) << e.what();
    }
    EXPECT_EQ(s.PaletteSize, -1);  // nothing quantized
    // An empty mask means unpainted.
    s.QualityMask.Clear();
    EXPECT_NO_THROW(Quantize(s, set, quiet));
    EXPECT_EQ(s.PaletteSize, 4);
}

}  // namespace
}  // namespace jx
