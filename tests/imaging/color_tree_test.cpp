#include <gtest/gtest.h>

#include <limits>

#include "engine_test_util.h"
#include "imaging/color_tree.h"
#include "imaging/engine_state.h"
#include "imaging/edge_map.h"
#include "imaging/errors.h"
#include "imaging/quantize.h"

namespace jx {
namespace {

using test::Rgba;

TPixelRec Weighted(TPixelRec p, int32_t w) {
    p.Weight = w;
    return p;
}

TEST(ColorTreeTest, DeduplicatesByRgbaAndSumsWeights) {
    EngineState s;
    std::vector<TPixelRec> list(8);
    int32_t count = 0;
    ColorTreeReset(s);
    ColorTreeInsert(s, Weighted(Rgba(1, 2, 3), 4), list, count);
    ColorTreeInsert(s, Weighted(Rgba(1, 2, 3, 254), 1), list, count);  // differs in A only
    ColorTreeInsert(s, Weighted(Rgba(1, 2, 3), 6), list, count);
    ColorTreeInsert(s, Weighted(Rgba(3, 2, 1), 1), list, count);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(list[0].Weight, 10);
    EXPECT_EQ(list[1].A, 254);
    EXPECT_EQ(list[2].R, 3);

    // A weight sum past 2^31 saturates instead of wrapping.
    ColorTreeInsert(s, Weighted(Rgba(3, 2, 1), std::numeric_limits<int32_t>::max() - 5), list, count);
    ColorTreeInsert(s, Weighted(Rgba(3, 2, 1), 255), list, count);
    EXPECT_EQ(list[2].Weight, std::numeric_limits<int32_t>::max());

    // No room for a new colour is an error, not a write past the list.
    std::vector<TPixelRec> small(1);
    int32_t n = 0;
    ColorTreeReset(s);
    ColorTreeInsert(s, Rgba(9, 9, 9), small, n);
    EXPECT_THROW(ColorTreeInsert(s, Rgba(8, 8, 8), small, n), ImagingError);
    EXPECT_EQ(n, 1);
}

TEST(ColorTreeTest, KeysDifferingInAnyBitAreDistinct) {
    EngineState s;
    std::vector<TPixelRec> list(40);
    int32_t count = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const uint8_t v = static_cast<uint8_t>(1 << bit);
        ColorTreeInsert(s, Rgba(v, 0, 0, 0), list, count);
        ColorTreeInsert(s, Rgba(0, v, 0, 0), list, count);
        ColorTreeInsert(s, Rgba(0, 0, v, 0), list, count);
        ColorTreeInsert(s, Rgba(0, 0, 0, v), list, count);
    }
    EXPECT_EQ(count, 32);
    ColorTreeReset(s);
    EXPECT_EQ(s.ColorTree.NodeCount(), 1u);
}

class NearestTest : public ::testing::Test {
protected:
    void SetPalette(std::vector<TPixelRec> entries) {
        for (auto& e : entries) s.Convert(e);
        s.Palette = entries;
        s.PaletteSize = static_cast<int32_t>(entries.size());
        ColorTreeReset(s);
    }
    TPixelRec Converted(TPixelRec p) {
        s.Convert(p);
        return p;
    }
    EngineState s;
};

TEST_F(NearestTest, FirstMinimumWinsTies) {
    // Equal distance on either side in working values: the lower index wins.
    s.Palette.assign(3, TPixelRec{});
    s.Palette[0].c1 = 100;
    s.Palette[1].c1 = 90;
    s.Palette[2].c1 = 110;
    for (auto& e : s.Palette) e.A = 255;
    s.PaletteSize = 3;
    ColorTreeReset(s);
    TPixelRec p;
    p.A = 255;
    p.R = 1;  // no exact RGBA entry
    p.c1 = 95;
    p.c2 = p.c3 = 0;
    EXPECT_EQ(NearestIndex(s, p), 0);  // 0 and 1 both at 25 << 3
    p.c1 = 105;
    EXPECT_EQ(NearestIndex(s, p), 0);  // 0 and 2 tie
    s.Palette[0].c1 = 200;
    ColorTreeReset(s);
    p.c1 = 100;
    EXPECT_EQ(NearestIndex(s, p), 1);  // 1 and 2 tie: lower index
}

TEST_F(NearestTest, CacheNeverReadsPastAShrunkPalette) {
    const TPixelRec q = Converted(Rgba(200, 200, 200));
    SetPalette({Rgba(210, 210, 210), Rgba(200, 200, 200)});
    EXPECT_EQ(NearestIndex(s, q), 1);
    // The palette shrank below the cached index: searched again rather than read past its end.
    s.Palette.resize(1);
    s.PaletteSize = 1;
    EXPECT_EQ(NearestIndex(s, q), 0);
}

TEST_F(NearestTest, AlphaCountsOnlyWithHasAlpha) {
    SetPalette({Rgba(0, 0, 0, 255), Rgba(0, 0, 0, 0)});
    const TPixelRec t = Converted(Rgba(0, 0, 0, 10));
    EXPECT_EQ(NearestIndex(s, t), 0);  // without alpha both are at distance 0
    s.HasAlpha = true;
    ColorTreeReset(s);
    EXPECT_EQ(NearestIndex(s, t), 1);
}

TEST_F(NearestTest, ExactRgbaPreferredAmongEqualWorkingValues) {
    // Find two RGB colours whose LAB values coincide.
    TPixelRec a, b;
    bool found = false;
    for (int g = 0; g < 256 && !found; ++g) {
        a = Converted(Rgba(10, static_cast<uint8_t>(g), 200));
        b = Converted(Rgba(11, static_cast<uint8_t>(g), 200));
        found = a.c1 == b.c1 && a.c2 == b.c2 && a.c3 == b.c3;
    }
    ASSERT_TRUE(found);
    SetPalette({a, b});
    EXPECT_EQ(NearestIndex(s, b), 1);
    EXPECT_EQ(NearestIndex(s, a), 0);  // also after the other has been cached
    // A colour that matches neither exactly keeps the first minimum.
    TPixelRec c = b;
    c.B = 201;
    EXPECT_EQ(NearestIndex(s, c), 0);
}

TEST(UniqueColors, FirstAppearanceOrderWithCounts) {
    EngineState s;
    test::LoadImage(s, 3, 2,
                    {Rgba(5, 5, 5), Rgba(1, 1, 1), Rgba(5, 5, 5), Rgba(9, 9, 9, 0), Rgba(1, 1, 1), Rgba(8, 8, 8, 0)});
    BuildUniqueColors(s);
    ASSERT_EQ(s.UniqueColorCount, 3);
    EXPECT_EQ(s.Palette[0].R, 5);
    EXPECT_EQ(s.Palette[0].Weight, 2);
    EXPECT_EQ(s.Palette[1].R, 1);
    EXPECT_EQ(s.Palette[1].Weight, 2);
    EXPECT_EQ(PixelKey(s.Palette[2]), 0u);  // both transparent pixels: one cleared colour
    EXPECT_EQ(s.Palette[2].Weight, 2);
}

// The open road converts while it counts: the pixels, the colour list and the counts must be what
// a conversion of every pixel and a plain count give, also past the look-ahead at both ends and
// for runs of one colour. The quantize that follows takes its histograms from the counts.
TEST(UniqueColors, ConvertingWhileCountingMatchesConvertingEveryPixel) {
    for (int32_t w : {1, 5, 61}) {
        SCOPED_TRACE(w);
        std::vector<TPixelRec> px;
        uint32_t seed = 3;
        for (int32_t i = 0; i < w * 7; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const uint8_t v = static_cast<uint8_t>(seed >> 29);  // few values: repeats and runs
            px.push_back(Rgba(uint8_t(40 * v), uint8_t(255 - 30 * v), uint8_t(v * v), i % 11 == 0 ? 0 : 255));
        }
        EngineState want, got;
        want.HasAlpha = got.HasAlpha = true;
        ASSERT_TRUE(SelectColorSpace(want, 4) && SelectColorSpace(got, 4));  // LUV
        test::LoadImage(want, w, 7, px);
        BuildUniqueColors(want);
        TPixelImage raw(w, 7);
        for (int32_t i = 0; i < w * 7; ++i) raw.Data()[i] = px[static_cast<size_t>(i)];
        got.SetSourceImage(std::move(raw), TSourceConversion::Deferred);
        BuildUniqueColors(got, true);
        BuildEdgeMap(got);
        ASSERT_EQ(got.UniqueColorCount, want.UniqueColorCount);
        for (int64_t i = 0; i < got.SourceImage.Count(); ++i)
            ASSERT_EQ(got.SourceImage.Data()[i], want.SourceImage.Data()[i]) << i;
        for (int32_t i = 0; i < got.UniqueColorCount; ++i) {
            EXPECT_EQ(got.Palette[size_t(i)], want.Palette[size_t(i)]) << i;
            EXPECT_EQ(got.UniqueColorIndex.First[size_t(i)], want.UniqueColorIndex.First[size_t(i)]);
        }
        EXPECT_EQ(got.UniqueColorIndex.Count, want.UniqueColorIndex.Count);

        test::RecordingObserver obs;
        TQuantizerSettings settings;
        settings.ColorCount = "4";
        Quantize(got, settings, obs);
        std::array<std::array<int32_t, 256>, 4> counted{};
        for (int64_t i = 0; i < got.SourceImage.Count(); ++i) {
            const TPixelRec& p = got.SourceImage.Data()[i];
            ++counted[0][p.R], ++counted[1][p.G], ++counted[2][p.B], ++counted[3][p.A];
        }
        EXPECT_EQ(got.ChannelHistograms, counted);
    }
}

}  // namespace
}  // namespace jx
