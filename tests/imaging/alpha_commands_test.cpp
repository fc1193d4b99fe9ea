#include <gtest/gtest.h>

#include <cstdlib>

#include "engine_test_util.h"
#include "imaging/alpha_commands.h"
#include "imaging/color_pick.h"
#include "imaging/quantize.h"

namespace jx {
namespace {

using test::LoadImage;
using test::Rgba;

TPixelRec Rgb(TPixelRec p) { return Rgba(p.R, p.G, p.B, p.A); }

// Every derived field agrees with the pixel's R, G, B, A as the state converts them now.
void ExpectDerivedFresh(const EngineState& s) {
    ASSERT_TRUE(s.EdgeMap.Width() == s.ImageWidth() && s.EdgeMap.Height() == s.ImageHeight());
    for (int32_t y = 0; y < s.ImageHeight(); ++y)
        for (int32_t x = 0; x < s.ImageWidth(); ++x) {
            const TPixelRec& p = s.SourceImage[y][x];
            TPixelRec q = Rgb(p);
            if (q.A == 0) q = TPixelRec{};
            s.Convert(q);
            EXPECT_EQ(p.c1, q.c1);
            EXPECT_EQ(p.c2, q.c2);
            EXPECT_EQ(p.c3, q.c3);
            if (p.A == 0) {
                EXPECT_EQ(p.R + p.G + p.B, 0);
            }
        }
}

TEST(ColorToAlpha, KnownValuesAndOverWhiteGivesThePixelBack) {
    for (auto [in, out] : {std::pair{Rgba(255, 255, 255), Rgba(0, 0, 0, 0)},
                           {Rgba(0, 0, 0), Rgba(0, 0, 0, 255)}, {Rgba(255, 128, 128), Rgba(255, 0, 0, 127)}}) {
        ColorToAlphaPixel(in);
        EXPECT_EQ(Rgb(in), out);
    }
    for (int r = 0; r < 256; r += 15)
        for (int g = 0; g < 256; g += 15)
            for (int b = 0; b < 256; b += 15) {
                TPixelRec q = Rgba(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
                ColorToAlphaPixel(q);
                EXPECT_LE(std::abs(BlendOver(q.R, q.A, 255) - r), 1);
                EXPECT_LE(std::abs(BlendOver(q.G, q.A, 255) - g), 1);
                EXPECT_LE(std::abs(BlendOver(q.B, q.A, 255) - b), 1);
            }
}

TEST(AlphaCommand, ImageToAlphaOnGreyAfterFlatteningOverWhite) {
    EngineState s;
    s.HasAlpha = true;
    // black, white, black at half alpha, a transparent pixel
    LoadImage(s, 4, 1, {Rgba(0, 0, 0), Rgba(255, 255, 255), Rgba(0, 0, 0, 128), Rgba(9, 9, 9, 0)});
    AlphaCommandImage(s, TAlphaMode::ImageToAlpha);
    EXPECT_TRUE(s.HasAlpha);
    EXPECT_EQ(Rgb(s.SourceImage[0][0]), Rgba(0, 0, 0, 255));
    EXPECT_EQ(Rgb(s.SourceImage[0][1]), Rgba(0, 0, 0, 0));
    // Flattened with a / 255: 127 over white, so alpha 128.
    EXPECT_EQ(Rgb(s.SourceImage[0][2]), Rgba(0, 0, 0, 128));
    EXPECT_EQ(Rgb(s.SourceImage[0][3]), Rgba(0, 0, 0, 0));
    ExpectDerivedFresh(s);
    EXPECT_EQ(s.UniqueColorCount, 3);
}

TEST(AlphaCommand, ColourImagesUseTheLightnessOfTheCurrentColour) {
    EngineState s;
    LoadImage(s, 2, 1, {Rgba(255, 0, 0), Rgba(0, 0, 0)});
    // A stale lightness left in the record must not matter.
    s.SourceImage[0][0].c1 = 3;
    AlphaCommandImage(s, TAlphaMode::ImageToAlpha);
    TPixelRec red = Rgba(255, 0, 0);
    ConvertLab(red, false, red);
    EXPECT_EQ(s.SourceImage[0][0].A, 255 - red.c1);
    EXPECT_EQ(s.SourceImage[0][1].A, 255);
    ExpectDerivedFresh(s);

    EngineState t;
    LoadImage(t, 2, 1, {Rgba(255, 128, 128), Rgba(0, 0, 0, 255)});
    AlphaCommandImage(t, TAlphaMode::ColorToAlpha);
    EXPECT_EQ(Rgb(t.SourceImage[0][0]), Rgba(255, 0, 0, 127));  // the known value above
    EXPECT_TRUE(t.HasAlpha);
    ExpectDerivedFresh(t);
}

TEST(FakeColor, SplitsTheLiftedChannelsOverOddAndEvenRows) {
    struct Case {
        TFakeColor tag;
        TPixelRec even, odd;
    };
    const Case cases[] = {
        {TFakeColor::RplusGB, Rgba(255, 255, 0, 77), Rgba(0, 0, 255, 77)},
        {TFakeColor::GplusRB, Rgba(255, 0, 255, 77), Rgba(0, 255, 0, 77)},
        {TFakeColor::BplusRG, Rgba(0, 255, 255, 77), Rgba(255, 0, 0, 77)},
    };
    for (const Case& c : cases) {
        EngineState s;
        s.HasAlpha = true;
        LoadImage(s, 1, 2, {Rgba(255, 255, 255, 77), Rgba(255, 255, 255, 77)});
        FakeColorImage(s, c.tag);
        EXPECT_EQ(Rgb(s.SourceImage[0][0]), c.even);
        EXPECT_EQ(Rgb(s.SourceImage[1][0]), c.odd);
        ExpectDerivedFresh(s);
    }
    // The lift brightens the middle: (128 / 255)^(5/7) * 255 = 155.9.
    EngineState s;
    LoadImage(s, 1, 1, {Rgba(128, 128, 0)});
    FakeColorImage(s, TFakeColor::RplusGB);
    EXPECT_EQ(Rgb(s.SourceImage[0][0]), Rgba(156, 156, 0));
}

TEST(Grayscale, LabLightnessWithNeutralChromaOfTheConverter) {
    for (int32_t space : {0, 3}) {
        EngineState s;
        s.ColorConverter = ConverterFor(space);
        LoadImage(s, 3, 1, {Rgba(255, 0, 0), Rgba(255, 255, 255), Rgba(10, 200, 30, 90)});
        GrayscaleImage(s);
        for (int32_t x = 0; x < 3; ++x) {
            const TPixelRec& p = s.SourceImage[0][x];
            EXPECT_TRUE(p.R == p.G && p.G == p.B && p.c2 == 128 && p.c3 == 128) << x;
        }
        EXPECT_EQ(s.SourceImage[0][0].R, 136);  // L 53.24 of red
        EXPECT_EQ(s.SourceImage[0][1].R, 255);
        EXPECT_EQ(s.SourceImage[0][2].A, 90);
        ExpectDerivedFresh(s);
    }
}

TEST(ColorCommands, QuantizeInTrueColour) {
    EngineState s;
    LoadImage(s, 2, 2, {Rgba(255, 0, 0), Rgba(0, 255, 0), Rgba(0, 0, 255), Rgba(255, 128, 128)});
    AlphaCommandImage(s, TAlphaMode::ColorToAlpha);
    test::RecordingObserver obs;
    TQuantizerSettings settings;
    settings.ColorCount = "2";
    QuantizeTrueColor(s, settings, obs);
    EXPECT_EQ(s.PaletteSize, -1);
    ASSERT_FALSE(obs.counts.empty());
    EXPECT_EQ(obs.counts.front(), "TrueColor");
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) EXPECT_TRUE(SameRgba(s.WorkingImage[y][x], s.SourceImage[y][x]));
}

TEST(Background, PictureFallsBackToTheGridAndPresetsWriteOnlyRgb) {
    EngineState s;
    ChooseBackgroundColor(s, 1, 2, 3);
    EXPECT_EQ(s.BackgroundMode, TBackgroundMode::Color);
    EXPECT_EQ(s.BackgroundColor, 0x030201);
    EXPECT_FALSE(ChooseBackgroundPicture(s, TPixelImage{}));
    EXPECT_EQ(s.BackgroundMode, TBackgroundMode::Grid);
    TPixelImage pic(2, 1);
    pic[0][0] = Rgba(5, 6, 7, 0);
    EXPECT_TRUE(ChooseBackgroundPicture(s, pic));
    EXPECT_EQ(s.BackgroundMode, TBackgroundMode::Picture);
    EXPECT_EQ(Rgb(s.BackgroundPicture[0][0]), Rgba(5, 6, 7, 255));

    s.GridColors[0] = Rgba(1, 2, 3, 100);
    ApplyGridPreset(s, kGridPresetCount);  // "Custom" keeps them
    EXPECT_EQ(Rgb(s.GridColors[0]), Rgba(1, 2, 3, 100));
    ApplyGridPreset(s, 4);
    EXPECT_EQ(Rgb(s.GridColors[0]), Rgba(255, 255, 255, 100));
}

TEST(SplitView, PartsRecombineAndEditsSurviveTabSwitches) {
    EngineState s;
    s.HasAlpha = true;
    LoadImage(s, 3, 1, {Rgba(10, 20, 30, 255), Rgba(40, 50, 60, 128), Rgba(70, 80, 90, 0)});
    const TAlphaSplit parts = SplitByAlpha(s.SourceImage);
    EXPECT_EQ(Rgb(parts.Opaque[0][0]), Rgba(10, 20, 30, 255));
    EXPECT_EQ(Rgb(parts.Opaque[0][1]), Rgba(0, 0, 0, 0));
    EXPECT_EQ(Rgb(parts.Translucent[0][0]), Rgba(0, 0, 0, 0));
    EXPECT_EQ(Rgb(parts.Translucent[0][1]), Rgba(40, 50, 60, 128));

    TSplitView view;
    view.Split(s);
    EXPECT_TRUE(view.Active());
    EXPECT_FALSE(view.Select(s, TSplitView::kOriginal));
    EXPECT_FALSE(view.Select(s, 3));
    ASSERT_TRUE(view.Select(s, TSplitView::kTranslucent));
    EXPECT_EQ(Rgb(s.SourceImage[0][1]), Rgba(40, 50, 60, 128));
    ExpectDerivedFresh(s);
    s.SourceImage[0][1].R = 99;  // an edit on this tab
    ASSERT_TRUE(view.Select(s, TSplitView::kOriginal));
    EXPECT_EQ(Rgb(s.SourceImage[0][0]), Rgba(10, 20, 30, 255));
    ASSERT_TRUE(view.Select(s, TSplitView::kTranslucent));
    EXPECT_EQ(s.SourceImage[0][1].R, 99);
    EXPECT_TRUE(s.HasAlpha);
    view.Reset();
    EXPECT_FALSE(view.Active());
}

}  // namespace
}  // namespace jx
