#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "engine_test_util.h"
#include "imaging/bayer.h"
#include "imaging/color_tree.h"
#include "imaging/edge_map.h"
#include "imaging/errors.h"
#include "imaging/nearest_search.h"
#include "imaging/remap.h"
#include "imaging/sort.h"

namespace jx {
namespace {

using test::RecordingObserver;
using test::Rgba;

TQuantizerSettings Mode(int m, int pattern = 0) {
    TQuantizerSettings s;
    s.DitherMode = static_cast<TDitherMode>(m);
    s.PatternSize = pattern;
    return s;
}

class RemapTest : public ::testing::Test {
protected:
    // The palette entries as given, A 255 unless set, converted; PaletteOrder identity.
    void SetPalette(const std::vector<TPixelRec>& entries) {
        state.Palette = entries;
        for (auto& e : state.Palette) state.Convert(e);
        state.PaletteSize = int32_t(entries.size());
        state.PaletteOrder.resize(entries.size());
        std::iota(state.PaletteOrder.begin(), state.PaletteOrder.end(), 0);
        state.PaletteSortType = SortByWeight;
    }
    void Load(int w, int h, const std::vector<TPixelRec>& px) {
        test::LoadImage(state, w, h, px);
        BuildEdgeMap(state);
    }
    void Run(const TQuantizerSettings& s) { ConvertImage(state, s, obs); }
    int32_t CountOf(uint32_t key) const {
        for (int i = 0; i < state.PaletteSize; ++i)
            if (PixelKey(state.Palette[size_t(i)]) == key) return state.Palette[size_t(i)].Weight;
        return -1;
    }
    int64_t TotalCount() const {
        int64_t total = 0;
        for (int i = 0; i < state.PaletteSize; ++i) total += state.Palette[size_t(i)].Weight;
        return total;
    }
    uint32_t KeyAt(int x, int y) const { return PixelKey(state.WorkingImage[y][x]); }
    EngineState state;
    RecordingObserver obs;
};

std::vector<TPixelRec> Noise(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<TPixelRec> px;
    for (int i = 0; i < count; ++i) px.push_back(Rgba(uint8_t(rng()), uint8_t(rng()), uint8_t(rng())));
    return px;
}

TEST(NearestSearchTest, MatchesLinearScanWithTies) {
    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        std::vector<TPixelRec> pal;
        // Every fourth palette is past the size the cell search takes.
        const int n = round % 4 == 3 ? 513 + int(rng() % 300) : 1 + int(rng() % 300);
        for (int i = 0; i < n; ++i) {
            TPixelRec p = Rgba(0, 0, 0, uint8_t(rng() % 3 * 127));
            // Few distinct values so that ties are common.
            p.c1 = uint8_t(rng() % 8 * 30);
            p.c2 = uint8_t(rng() % 8 * 30);
            p.c3 = uint8_t(rng() % 8 * 30);
            pal.push_back(p);
        }
        const unsigned shift = unsigned(round % 6);
        const bool alpha = round % 2;
        TNearestSearch s;
        s.Build(pal.data(), n, shift, alpha);
        for (int q = 0; q < 500; ++q) {
            TPixelRec p = Rgba(0, 0, 0, uint8_t(rng()));
            p.c1 = uint8_t(rng());
            p.c2 = uint8_t(rng());
            p.c3 = uint8_t(rng());
            int32_t distance = -1;
            const int32_t found = s.Find(p, distance);
            ASSERT_EQ(found, NearestLinear(pal.data(), n, p, shift, alpha));
            // The remap trusts this distance to tell exact matches.
            ASSERT_EQ(distance, ColorDistance(p, pal[size_t(found)], shift, alpha));
        }
    }
}

TEST_F(RemapTest, ColoursSharingWorkingValuesKeepTheirOwnEntry) {
    // Two colours the converter maps to the same c1, c2, c3: both in the palette, each pixel must
    // still get its own entry, also when the second meets the first one's cached match.
    TPixelRec a, b;
    bool found = false;
    for (int v = 0; v < 256 && !found; ++v)
        for (int d = 1; d < 4 && v + d < 256 && !found; ++d) {
            a = Rgba(uint8_t(v), 40, 200);
            b = Rgba(uint8_t(v + d), 40, 200);
            state.Convert(a);
            state.Convert(b);
            found = a.c1 == b.c1 && a.c2 == b.c2 && a.c3 == b.c3;
        }
    ASSERT_TRUE(found);
    Load(4, 1, {a, b, b, a});
    SetPalette({a, b});
    Run(Mode(0));
    for (int x = 0; x < 4; ++x) EXPECT_TRUE(SameRgba(state.WorkingImage[0][x], state.SourceImage[0][x])) << x;
    EXPECT_EQ(CountOf(PixelKey(a)), 2);
    EXPECT_EQ(CountOf(PixelKey(b)), 2);
}

TEST_F(RemapTest, NoneMapsAndCounts) {
    Load(2, 2, {Rgba(10, 10, 10), Rgba(250, 250, 250), Rgba(20, 20, 20), Rgba(0, 0, 0, 0)});
    SetPalette({Rgba(255, 255, 255), Rgba(0, 0, 0)});
    Run(Mode(0));
    EXPECT_EQ(KeyAt(0, 0), PixelKey(Rgba(0, 0, 0)));
    EXPECT_EQ(KeyAt(1, 0), PixelKey(Rgba(255, 255, 255)));
    EXPECT_EQ(CountOf(PixelKey(Rgba(0, 0, 0))), 3);  // the transparent pixel maps from black
    EXPECT_EQ(CountOf(PixelKey(Rgba(255, 255, 255))), 1);
    // Closing sorts the palette by popularity for the view and records where entries went.
    EXPECT_EQ(PixelKey(state.Palette[0]), PixelKey(Rgba(0, 0, 0)));
    EXPECT_EQ(state.PaletteOrder[0], 1);
    EXPECT_EQ(obs.refreshes, (std::vector<TRefreshTarget>{TRefreshTarget::ErrorMetrics, TRefreshTarget::ImageView,
                                                          TRefreshTarget::PaletteGrid}));
    EXPECT_EQ(obs.busy, 0);

    // Without a palette nothing changes, but the views still refresh.
    state.PaletteSize = -1;
    const TPixelImage before = state.WorkingImage;
    Run(Mode(2));
    EXPECT_EQ(state.WorkingImage, before);
    EXPECT_EQ(obs.refreshes.size(), 6u);
}

TEST_F(RemapTest, FloydSteinbergHandComputed) {
    // 2 x 2 of grey 100 on black and white: 7/16 of the first pixel's error lifts its right
    // neighbour past the midpoint.
    Load(2, 2, std::vector<TPixelRec>(4, Rgba(100, 100, 100)));
    SetPalette({Rgba(0, 0, 0), Rgba(255, 255, 255)});
    state.DitherAmount = 1.0f;
    Run(Mode(2));
    EXPECT_EQ(KeyAt(0, 0), PixelKey(Rgba(0, 0, 0)));
    EXPECT_EQ(KeyAt(1, 0), PixelKey(Rgba(255, 255, 255)));
}

TEST_F(RemapTest, KernelsDiffuseAndAtAmountZeroEqualNone) {
    Load(32, 8, Noise(256, 1));
    SetPalette({Rgba(0, 0, 0), Rgba(255, 0, 0), Rgba(0, 0, 255), Rgba(255, 255, 255), Rgba(128, 128, 128)});
    Run(Mode(0));
    const TPixelImage none = state.WorkingImage;
    for (int m = 1; m <= 8; ++m) {
        if (m == 7) continue;  // the pattern dither has its own test
        TQuantizerSettings s = Mode(m, m == 8 ? 2 : 0);
        s.Delicate = m % 2;
        state.DitherAmount = 0.0f;
        Run(s);
        EXPECT_EQ(state.WorkingImage, none) << m;
        state.DitherAmount = 1.0f;
        Run(s);
        EXPECT_NE(state.WorkingImage, none) << m;
        EXPECT_EQ(TotalCount(), 256);
    }
}

TEST_F(RemapTest, BypassEdgesThreshold) {
    Load(4, 1, std::vector<TPixelRec>(4, Rgba(100, 100, 100)));
    SetPalette({Rgba(0, 0, 0), Rgba(255, 255, 255)});
    state.DitherAmount = 1.0f;
    for (int mode : {2, 8}) {
        TQuantizerSettings s = Mode(mode);
        s.BypassEdges = true;
        std::fill(state.EdgeMap.Vector().begin(), state.EdgeMap.Vector().end(), uint8_t(193));
        Run(s);
        for (int x = 0; x < 4; ++x) EXPECT_EQ(KeyAt(x, 0), PixelKey(Rgba(0, 0, 0))) << mode;
        std::fill(state.EdgeMap.Vector().begin(), state.EdgeMap.Vector().end(), uint8_t(192));
        Run(s);
        bool anyWhite = false;
        for (int x = 0; x < 4; ++x) anyWhite |= KeyAt(x, 0) == PixelKey(Rgba(255, 255, 255));
        EXPECT_TRUE(anyWhite) << mode;
    }
}

TEST_F(RemapTest, ShapesAreChecked) {
    Load(3, 3, Noise(9, 4));
    SetPalette({Rgba(0, 0, 0), Rgba(255, 255, 255)});
    state.WorkingImage.Resize(2, 3);
    EXPECT_THROW(Run(Mode(0)), ImagingError);
    state.WorkingImage.Resize(3, 3);
    state.EdgeMap.Resize(3, 2);
    TQuantizerSettings s = Mode(2);
    s.BypassEdges = true;
    EXPECT_THROW(Run(s), ImagingError);
    EXPECT_THROW(Run(Mode(9)), ImagingError);
    EXPECT_THROW(Run(Mode(7, 4)), ImagingError);
}

TEST_F(RemapTest, QuickAddWindowKeepsErrorInside) {
    Load(80, 80, Noise(6400, 5));
    SetPalette({Rgba(0, 0, 0), Rgba(255, 255, 255), Rgba(0, 0, 160, 0)});
    Run(Mode(0));
    const TPixelImage before = state.WorkingImage;
    state.QuickAddPreview = true;
    state.QuickAddPointX = 5;
    state.QuickAddPointY = 5;
    for (int m : {0, 6}) {
        state.WorkingImage = before;
        Run(Mode(m));
        EXPECT_EQ(TotalCount(), 37 * 37);
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x)
                if (x > 36 || y > 36) {
                    ASSERT_EQ(state.WorkingImage[y][x], before[y][x]) << x << "," << y;
                }
    }
    EXPECT_TRUE(state.QuickAddPreview);
}

TEST_F(RemapTest, PatternListsTileTheImage) {
    SetPalette({Rgba(0, 0, 0), Rgba(255, 255, 255)});
    state.DitherAmount = 1.0f;
    // Grey c1 halfway: the list holds black and white; sorted by c1 white comes first, so t = 0
    // (top left) takes white and t = 3 (x = 1, y = 0) black.
    Load(2, 2, std::vector<TPixelRec>(4, Rgba(119, 119, 119)));
    Run(Mode(7));
    EXPECT_EQ(KeyAt(0, 0), PixelKey(Rgba(255, 255, 255)));
    EXPECT_EQ(KeyAt(1, 0), PixelKey(Rgba(0, 0, 0)));

    // A uniform image builds one list, counted once, and repeats it.
    Load(4, 4, std::vector<TPixelRec>(16, Rgba(100, 100, 100)));
    Run(Mode(7));
    EXPECT_EQ(TotalCount(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(KeyAt(x, y), KeyAt(x % 2, y % 2));
    // Amount 0: n copies of the nearest entry, each list counting n.
    state.DitherAmount = 0.0f;
    Run(Mode(7, 1));
    EXPECT_EQ(CountOf(PixelKey(Rgba(0, 0, 0))), 16);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(KeyAt(x, y), PixelKey(Rgba(0, 0, 0)));
}

TEST_F(RemapTest, BayerKeepsAnExactColour) {
    std::vector<TPixelRec> px = Noise(64, 8);
    px[0] = Rgba(255, 0, 0);
    Load(8, 8, px);
    SetPalette({Rgba(0, 0, 0), Rgba(255, 0, 0), Rgba(255, 255, 255), Rgba(0, 128, 0)});
    state.DitherAmount = 1.0f;
    Run(Mode(8, 3));
    EXPECT_EQ(KeyAt(0, 0), PixelKey(Rgba(255, 0, 0)));
    EXPECT_EQ(TotalCount(), 64);
}


// The threshold methods push alpha with the other channels: next to a transparent entry an opaque
// pixel could land on it (a hole), and a transparent pixel on an opaque entry. Such a pixel takes
// its own nearest entry instead.
TEST_F(RemapTest, ThresholdMethodsKeepOpaqueAndTransparentPixels) {
    state.HasAlpha = true;
    std::vector<TPixelRec> px = Noise(64, 5);
    for (int i = 0; i < 64; ++i) {
        if (i % 4 == 0) px[size_t(i)] = Rgba(100, 100, 100);  // nearest the light grey, far from it
        if (i % 4 == 1) px[size_t(i)].A = 0;
    }
    // Light opaque entries with a transparent black; dark opaque ones with a transparent blue.
    const std::vector<std::vector<TPixelRec>> palettes = {
        {Rgba(220, 220, 220), Rgba(255, 255, 255), Rgba(0, 0, 0, 0)},
        {Rgba(0, 0, 0), Rgba(255, 255, 255), Rgba(0, 0, 160, 0)},
    };
    int opaqueSeen = 0, transparentSeen = 0;
    for (size_t k = 0; k < palettes.size(); ++k)
        for (int mode : {7, 8})
            for (int pattern = 0; pattern < 4; ++pattern)
                for (const float amount : {0.5f, 1.0f}) {
                    SCOPED_TRACE(testing::Message() << "palette " << k << " mode " << mode << " pattern " << pattern
                                                    << " amount " << amount);
                    Load(8, 8, px);
                    SetPalette(palettes[k]);
                    state.DitherAmount = amount;
                    Run(Mode(mode, pattern));
                    // The nearest entry of each pixel, as "None" gives it.
                    TPixelImage dithered = state.WorkingImage;
                    Run(Mode(0));
                    for (int y = 0; y < 8; ++y)
                        for (int x = 0; x < 8; ++x) {
                            const uint8_t in = state.SourceImage[y][x].A, out = dithered[y][x].A;
                            const uint8_t nearest = state.WorkingImage[y][x].A;
                            if (in == 255 && nearest != 0) {
                                ++opaqueSeen;
                                EXPECT_NE(out, 0) << x << "," << y;
                            }
                            if (in == 0 && nearest != 255) {
                                ++transparentSeen;
                                EXPECT_NE(out, 255) << x << "," << y;
                            }
                        }
                }
    EXPECT_GT(opaqueSeen, 0);
    EXPECT_GT(transparentSeen, 0);
}

}  // namespace
}  // namespace jx
