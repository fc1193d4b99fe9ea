// Large and heavily weighted images: weights that pass 2^31, the palette's independence of the
// image's scale, the pre-merge of a camera-sized photograph's millions of colours, and a quality
// mask that does not fit the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

// A list longer than the pre-merge bound sets its threshold as a list of the bound's length would;
// Priority still scales that base, and a shorter list keeps the threshold its length gives.
TEST(LargeImage, PreMergeThresholdStopsGrowingAtTheBound) {
    // One distinct colour per pixel: R and G walk the grid, B counts the 256 x 256 tiles.
    auto distinct = [](int w, int h) {
        std::vector<TPixelRec> px;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) px.push_back(Rgba(uint8_t(x), uint8_t(y), uint8_t(y / 256 * 2 + x / 256)));
        return px;
    };
    struct TCase {
        int h;
        int32_t n, priority, threshold;
    };
    // 512 x 520 colours, past the bound: c = 262144 / 64 = 4096; with Priority -3 and +3,
    // 0.25 c and 1.75 c. 512 x 256 colours, within it: c = 131072 / 64 = 2048. N = 2048: c = U / (2N).
    for (const TCase& c : {TCase{520, 16, 0, 4096}, {520, 16, -3, 1024}, {520, 16, 3, 7168}, {256, 16, 0, 2048},
                           {256, 16, 3, 3584}, {520, 2048, 0, 64}}) {
        EngineState s;
        test::LoadImage(s, 512, c.h, distinct(512, c.h));
        BuildUniqueColors(s);
        ASSERT_EQ(s.UniqueColorCount, 512 * c.h);
        s.ColorListLength = s.UniqueColorCount;
        s.PaletteSize = c.n;
        TQuantizerSettings set;
        set.Priority = c.priority;
        BuildAdaptivePalette(s, set);
        EXPECT_EQ(s.MergeThreshold, c.threshold) << c.h << " rows, N " << c.n << ", priority " << c.priority;
        EXPECT_EQ(s.PaletteSize, c.n);
    }
}

// A 16-megapixel photograph with grain in every channel has more than a million colours; at 16
// colours its three main hues (sky, foliage, skin) must keep entries of their own instead of
// having their darker halves folded into shared greys by the pre-merge.
TEST(LargeImage, GrainyPhotographKeepsItsMainHuesAt16Colours) {
    if (std::getenv("JX_SANITIZER_BUILD")) GTEST_SKIP() << "16 megapixels are too slow under the sanitizers";
    const int side = 4096;
    struct THue {
        int r, g, b;
    };
    // Rows 0..40 % sky, ..75 % foliage, the rest skin; each lightens from left to right and swings
    // between warmer and cooler in bands down the rows.
    const THue hues[3] = {{70, 120, 200}, {60, 130, 45}, {215, 150, 115}};
    auto region = [&](int y) { return y < side * 40 / 100 ? 0 : y < side * 75 / 100 ? 1 : 2; };
    TPixelImage img(side, side);
    uint32_t seed = 1;
    auto grain = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return int(seed >> 27) - 16;
    };
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const THue& h = hues[region(y)];
            const int shade = x * 80 / side - 40, warm = (y * 256 / side) % 32 - 16;
            img[y][x] = Rgba(uint8_t(std::clamp(h.r + shade + warm + grain(), 0, 255)),
                             uint8_t(std::clamp(h.g + shade + grain(), 0, 255)),
                             uint8_t(std::clamp(h.b + shade - warm + grain(), 0, 255)));
        }
    EngineState s;
    s.SetSourceImage(std::move(img));
    BuildUniqueColors(s);
    ASSERT_GT(s.UniqueColorCount, 1000000);
    TQuantizerSettings set;
    set.ColorCount = "16";
    set.DitherMode = TDitherMode::None;
    EngineObserver quiet;
    Quantize(s, set, quiet);
    ASSERT_EQ(s.PaletteSize, 16);

    // Each region's pixels land on entries of its own hue (nearer its middle than the others'),
    // and close to what they were.
    auto d2 = [](const TPixelRec& p, int r, int g, int b) {
        return (p.R - r) * (p.R - r) + (p.G - g) * (p.G - g) + (p.B - b) * (p.B - b);
    };
    for (int k = 0; k < 3; ++k) {
        int64_t strays = 0, total = 0;
        double error = 0;
        for (int y = 0; y < side; ++y) {
            if (region(y) != k) continue;
            for (int x = 0; x < side; ++x) {
                const TPixelRec &out = s.WorkingImage[y][x], &in = s.SourceImage[y][x];
                int nearest = 0;
                for (int q = 1; q < 3; ++q)
                    if (d2(out, hues[q].r, hues[q].g, hues[q].b) < d2(out, hues[nearest].r, hues[nearest].g, hues[nearest].b))
                        nearest = q;
                strays += nearest != k;
                error += std::sqrt(double(d2(out, in.R, in.G, in.B)));
                ++total;
            }
        }
        EXPECT_LT(double(strays) / double(total), 0.01) << "hue " << k;
        // The grain alone is about 16 away on average.
        EXPECT_LT(error / double(total), 30) << "hue " << k;
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
