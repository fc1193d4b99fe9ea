#include <gtest/gtest.h>

#include <algorithm>

#include "engine_test_util.h"
#include "imaging/color_tree.h"
#include "imaging/edge_map.h"
#include "imaging/errors.h"
#include "imaging/quantize.h"
#include "imaging/settings.h"
#include "imaging/sort.h"

namespace jx {
namespace {

using test::RecordingObserver;
using test::Rgba;

TQuantizerSettings Settings(const std::string& count, TPaletteType type = TPaletteType::Adaptive) {
    TQuantizerSettings s;
    s.ColorCount = count;
    s.PaletteType = type;
    return s;
}

// A w x h image with (up to) w*h distinct opaque colours.
std::vector<TPixelRec> Gradient(int w, int h) {
    std::vector<TPixelRec> px;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px.push_back(Rgba(static_cast<uint8_t>(x * 7), static_cast<uint8_t>(y * 11), static_cast<uint8_t>(x + y)));
    return px;
}

class QuantizeTest : public ::testing::Test {
protected:
    void Load(int w, int h, const std::vector<TPixelRec>& px) {
        test::LoadImage(state, w, h, px);
        BuildUniqueColors(state);
    }
    void Run(const TQuantizerSettings& s) { Quantize(state, s, obs); }
    // The remap pass leaves the palette in the view order; these tests look at the build order.
    void RunInBuildOrder(const TQuantizerSettings& s) {
        Run(s);
        if (state.PaletteSize < 2) return;
        SortOrderMap(state.Palette.data(), state.PaletteOrder.data(), 0, state.PaletteSize - 1);
        std::reverse(state.Palette.begin(), state.Palette.begin() + state.PaletteSize);
        std::reverse(state.PaletteOrder.begin(), state.PaletteOrder.begin() + state.PaletteSize);
    }
    bool HasLine(const std::string& prefix) const {
        return std::any_of(obs.info.begin(), obs.info.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }
    EngineState state;
    RecordingObserver obs;
};

TEST(ColorCountText, LimitAndTrueColor) {
    EXPECT_EQ(ParseColorCount("65536"), 65536);
    EXPECT_EQ(ParseColorCount(" 16 "), 16);
    // One above the limit and a count too long for any integer are refused with the limit named.
    for (const char* text : {"65537", "99999999999999999999"}) {
        try {
            ParseColorCount(text);
            ADD_FAILURE() << text << " accepted";
        } catch (const ImagingError& e) {
            EXPECT_STREQ(e.what(), "The number of colors must not exceed 65536") << text;
        }
    }
    // Every count below 1 means true colour, however long its digits run.
    EXPECT_EQ(ParseColorCount("-99999999999999999999"), -1);
    // Text that is not a whole number is refused, even when it starts with digits.
    for (const char* text : {"12x", "", "1 6"}) EXPECT_THROW(ParseColorCount(text), ImagingError) << text;
}

TEST_F(QuantizeTest, RefusedCountChangesNothing) {
    Load(4, 4, Gradient(4, 4));
    Run(Settings("16"));
    const auto palette = state.Palette;
    const auto working = state.WorkingImage;
    const int32_t size = state.PaletteSize;
    obs.info.clear();
    EXPECT_THROW(Run(Settings("many")), ImagingError);
    EXPECT_THROW(Run(Settings("70000")), ImagingError);
    EXPECT_EQ(state.PaletteSize, size);
    EXPECT_EQ(state.WorkingImage, working);
    EXPECT_EQ(state.Palette.size(), palette.size());
    EXPECT_TRUE(std::equal(palette.begin(), palette.end(), state.Palette.begin(),
                           [](const TPixelRec& a, const TPixelRec& b) { return SameRgba(a, b) && a.Weight == b.Weight; }));
    EXPECT_TRUE(obs.info.empty());
    EXPECT_EQ(obs.busy, 0);
}

TEST_F(QuantizeTest, TrueColorCopiesSourceAndKeepsTransparentRgb) {
    std::vector<TPixelRec> px = Gradient(3, 3);
    px[4] = Rgba(50, 60, 70, 0);
    state.HasAlpha = true;
    TPixelImage img(3, 3);
    for (int i = 0; i < 9; ++i) img.Data()[i] = px[static_cast<size_t>(i)];
    state.SourceImage = img;  // as stored, without the load's clearing
    for (int i = 0; i < 9; ++i) state.Convert(state.SourceImage.Data()[i]);
    BuildUniqueColors(state);
    for (const char* text : {"TrueColor", "0", "-3"}) {
        Run(Settings(text));
        EXPECT_EQ(state.PaletteSize, -1);
        EXPECT_FALSE(HasLine("quantize: ")) << text;
        EXPECT_TRUE(HasLine("convert img: "));
        for (int i = 0; i < 9; ++i) EXPECT_TRUE(SameRgba(state.WorkingImage.Data()[i], px[static_cast<size_t>(i)]));
    }
    EXPECT_EQ(state.ColorListLength, 9);
}

TEST_F(QuantizeTest, ReportLinesAndObserverCalls) {
    Load(5, 2, Gradient(5, 2));
    Run(Settings("4"));
    ASSERT_GE(obs.info.size(), 4u);
    EXPECT_EQ(obs.info[0], "w=5 h=2");
    EXPECT_EQ(obs.info[1], "unique colors=10 (rgb)");
    EXPECT_EQ(obs.busy, 0);
    EXPECT_EQ(obs.refreshes.back(), TRefreshTarget::ShowImageView);

    state.HasAlpha = true;
    Run(Settings("4"));
    EXPECT_EQ(obs.info[1], "unique colors=10 (rgba)");
    // A grey image says so even with alpha.
    Load(2, 1, {Rgba(9, 9, 9), Rgba(200, 200, 200, 100)});
    Run(Settings("4"));
    EXPECT_EQ(obs.info[1], "unique colors=2 (grey)");
    EXPECT_TRUE(state.IsGrey);
}

TEST_F(QuantizeTest, CountBoxes) {
    Load(10, 10, Gradient(10, 10));
    ASSERT_EQ(state.UniqueColorCount, 100);
    // The box shows what was built (the image's count, at least 2, a fixed palette's size); an
    // adaptive count below the box is built as asked and leaves the box alone.
    struct Case {
        const char* n;
        TPaletteType type;
        const char* shown;
        int32_t size;
    };
    for (const Case& c : {Case{"256", TPaletteType::Adaptive, "100", 100}, {"1", TPaletteType::Adaptive, "2", 2},
                          {"7", TPaletteType::Windows16, "16", 16}, {"50", TPaletteType::Adaptive, nullptr, 50}}) {
        obs.counts.clear();
        Run(Settings(c.n, c.type));
        EXPECT_EQ(state.PaletteSize, c.size) << c.n;
        if (c.shown) EXPECT_EQ(obs.counts, std::vector<std::string>{c.shown}) << c.n;
        else EXPECT_TRUE(obs.counts.empty()) << c.n;
    }

    // In batch mode the boxes are left alone; N = 1 is not raised.
    state.BatchQuantize = true;
    obs.counts.clear();
    Run(Settings("1", TPaletteType::UniformGrayscale));
    EXPECT_TRUE(obs.counts.empty());
    EXPECT_EQ(state.PaletteSize, 1);
    EXPECT_EQ(state.Palette[0].R, 0);
    for (auto [type, size] : {std::pair{TPaletteType::Uniform332, 256}, {TPaletteType::Windows256, 256},
                              {TPaletteType::Windows16, 16}}) {
        Run(Settings("5", type));
        EXPECT_EQ(state.PaletteSize, size);
    }
    EXPECT_TRUE(obs.counts.empty());
}

TEST_F(QuantizeTest, GrayscaleRamp) {
    Load(2, 2, Gradient(2, 2));
    RunInBuildOrder(Settings("16", TPaletteType::UniformGrayscale));
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(state.Palette[static_cast<size_t>(i)].R, i * 17);
        EXPECT_EQ(state.Palette[static_cast<size_t>(i)].B, i * 17);
        EXPECT_EQ(state.Palette[static_cast<size_t>(i)].A, 255);
    }
    // Round half to even: 127.5 -> 128 for N = 3.
    RunInBuildOrder(Settings("3", TPaletteType::UniformGrayscale));
    EXPECT_EQ(state.Palette[1].R, 128);

    // A ramp longer than the image has pixels (or than 256) fits.
    RunInBuildOrder(Settings("1000", TPaletteType::UniformGrayscale));
    EXPECT_EQ(state.PaletteSize, 1000);
    ASSERT_GE(state.Palette.size(), 1000u);
    EXPECT_EQ(state.Palette[999].R, 255);
    EXPECT_EQ(state.Palette[500].R, 128);  // 500/999*255 = 127.63
    EXPECT_GE(state.PaletteOrder.size(), 1000u);
}

// Entry r*32 + g*4 + b holds the levels Round(r*32/224*255), Round(g*32/224*255), Round(b*64/192*255).
TEST_F(QuantizeTest, Uniform332LevelsAndOrder) {
    Load(2, 2, Gradient(2, 2));
    RunInBuildOrder(Settings("16", TPaletteType::Uniform332));
    ASSERT_EQ(state.PaletteSize, 256);
    const uint8_t rg[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    const uint8_t bl[4] = {0, 85, 170, 255};
    for (int r = 0; r < 8; ++r)
        for (int g = 0; g < 8; ++g)
            for (int b = 0; b < 4; ++b) {
                const TPixelRec& e = state.Palette[static_cast<size_t>(r * 32 + g * 4 + b)];
                ASSERT_EQ(PixelKey(e), PixelKey(Rgba(rg[r], rg[g], bl[b]))) << r << " " << g << " " << b;
            }
}

TEST_F(QuantizeTest, CustomPaletteGoesThroughTheHook) {
    Load(2, 2, Gradient(2, 2));
    EXPECT_THROW(Run(Settings("16", TPaletteType::Custom)), ImagingError);
    EXPECT_EQ(obs.busy, 0);
    state.LoadCustomPalette = [](EngineState& s) {
        s.Palette[0] = Rgba(1, 2, 3);
        s.Palette[1] = Rgba(4, 5, 6);
        for (int i = 0; i < 2; ++i) s.Convert(s.Palette[static_cast<size_t>(i)]);
        s.PaletteSize = 2;
    };
    obs.counts.clear();
    Run(Settings("16", TPaletteType::Custom));
    EXPECT_EQ(state.PaletteSize, 2);
    EXPECT_EQ(obs.counts, std::vector<std::string>{"2"});  // the boxes follow a smaller palette
    for (int i = 0; i < 4; ++i) {
        const uint32_t k = PixelKey(state.WorkingImage.Data()[i]);
        EXPECT_TRUE(k == PixelKey(Rgba(1, 2, 3)) || k == PixelKey(Rgba(4, 5, 6)));
    }
}

TEST_F(QuantizeTest, TransparentPixelsBecomeOneClearedColor) {
    state.HasAlpha = true;
    Load(3, 1, {Rgba(10, 20, 30), Rgba(10, 20, 30, 0), Rgba(90, 20, 30, 0)});
    // The stored transparent pixels kept their RGB: write them back to see Quantize clear them.
    state.SourceImage[0][1] = Rgba(10, 20, 30, 0);
    state.SourceImage[0][2] = Rgba(90, 20, 30, 0);
    Run(Settings("16"));
    EXPECT_EQ(state.ColorListLength, 2);
    EXPECT_EQ(PixelKey(state.Palette[1]), 0u);
    EXPECT_EQ(PixelKey(state.WorkingImage[0][2]), 0u);
}

TEST_F(QuantizeTest, MaskWeightsTheColorList) {
    Load(2, 1, {Rgba(1, 1, 1), Rgba(2, 2, 2)});
    state.QualityMask[0][1] = 200;
    // Watch the colour list as the adaptive build sees it.
    TQuantizerSettings s = Settings("16", TPaletteType::Custom);
    std::vector<int32_t> weights;
    state.LoadCustomPalette = [&](EngineState& st) {
        for (int i = 0; i < st.ColorListLength; ++i) weights.push_back(st.Palette[static_cast<size_t>(i)].Weight);
        st.PaletteSize = st.ColorListLength;
    };
    Run(s);
    EXPECT_EQ(weights, (std::vector<int32_t>{1, 200}));
}

// Colours that fit come out pixel-identical, even two that share their working values.
TEST_F(QuantizeTest, LosslessWhenColorsFit) {
    TPixelRec a, b;
    bool found = false;
    for (int g = 0; g < 256 && !found; ++g) {
        a = Rgba(10, static_cast<uint8_t>(g), 200);
        b = Rgba(11, static_cast<uint8_t>(g), 200);
        TPixelRec ca = a, cb = b;
        state.Convert(ca);
        state.Convert(cb);
        found = ca.c1 == cb.c1 && ca.c2 == cb.c2 && ca.c3 == cb.c3;
    }
    ASSERT_TRUE(found);
    std::vector<TPixelRec> px = Gradient(6, 5);
    px[3] = a;
    px[17] = b;
    px[20] = a;
    state.HasAlpha = true;
    px[8] = Rgba(40, 50, 60, 128);
    px[9] = Rgba(0, 0, 0, 0);
    Load(6, 5, px);
    for (const char* n : {"30", "256", "65536"}) {
        Run(Settings(n));
        for (int i = 0; i < 30; ++i)
            ASSERT_TRUE(SameRgba(state.WorkingImage.Data()[i], px[static_cast<size_t>(i)])) << n << " pixel " << i;
    }
    // A fixed palette that holds every colour of the image also maps it onto itself.
    Load(4, 1, {Rgba(0, 0, 0), Rgba(128, 0, 0), Rgba(192, 192, 192), Rgba(255, 255, 255)});
    Run(Settings("16", TPaletteType::Windows16));
    EXPECT_TRUE(SameRgba(state.WorkingImage[0][1], Rgba(128, 0, 0)));
    EXPECT_TRUE(SameRgba(state.WorkingImage[0][2], Rgba(192, 192, 192)));
}

// A large, heavily masked image: the colour-list weight passes 2^31 without overflowing.
TEST_F(QuantizeTest, HeavilyMaskedLargeImage) {
    const int w = 4100, h = 2100;  // 8.6 million pixels, weight 255 each
    TPixelRec c = Rgba(30, 60, 90);
    state.Convert(c);
    state.SourceImage.Resize(w, h, c);
    BuildEdgeMap(state);
    state.QualityMask.Resize(w, h, 255);
    state.UniqueColorCount = 1;
    int64_t listWeight = -1;
    state.LoadCustomPalette = [&](EngineState& st) {
        listWeight = st.Palette[0].Weight;
        st.PaletteSize = st.ColorListLength;
    };
    Run(Settings("16", TPaletteType::Custom));
    EXPECT_EQ(state.ColorListLength, 1);
    EXPECT_EQ(listWeight, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(state.Palette[0].Weight, w * h);  // use count of the remap
}

// An opaque third, a translucent ramp and a transparent third, in grainy dark browns: whatever
// the dithering, an opaque pixel never becomes fully transparent and a transparent one never
// opaque. (The ordered dither pushed alpha as far as colour, and opened holes next to the ramp.)
TEST_F(QuantizeTest, DitheringKeepsOpaqueAndTransparentPixels) {
    const int w = 80, h = 56, third = w / 3;
    std::vector<TPixelRec> px;
    uint32_t seed = 239;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int g = int(seed >> 28);
            const uint8_t a = x < third ? 255 : (x < 2 * third ? static_cast<uint8_t>(255 - (x - third) * 255 / third) : 0);
            px.push_back(Rgba(static_cast<uint8_t>(std::min(255, 40 + x * 150 / w + y + g)),
                              static_cast<uint8_t>(std::min(255, 50 + y * 3 + g)),
                              static_cast<uint8_t>(std::min(255, 10 + (x * y) % 60 + g)), a));
        }
    state.HasAlpha = true;
    Load(w, h, px);
    BuildEdgeMap(state);
    for (int mode = 0; mode <= 8; ++mode)
        for (int pattern = 0; pattern < (mode >= 7 ? 4 : 1); ++pattern)
            for (const float amount : {0.5f, 0.75f, 1.0f}) {
                TQuantizerSettings s = Settings("16");
                s.DitherMode = static_cast<TDitherMode>(mode);
                s.PatternSize = pattern;
                state.DitherAmount = amount;
                Run(s);
                int holes = 0, filled = 0;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x) {
                        const uint8_t in = state.SourceImage[y][x].A, out = state.WorkingImage[y][x].A;
                        holes += in == 255 && out == 0;
                        filled += in == 0 && out == 255;
                    }
                EXPECT_EQ(holes, 0) << "mode " << mode << " pattern " << pattern << " amount " << amount;
                EXPECT_EQ(filled, 0) << "mode " << mode << " pattern " << pattern << " amount " << amount;
            }
}

}  // namespace
}  // namespace jx
