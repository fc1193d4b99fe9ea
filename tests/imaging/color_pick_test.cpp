#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "imaging/color_pick.h"

namespace jx {
namespace {

int32_t IndexOf(const char* name) {
    for (int32_t i = 0; i < kNamedColorCount; ++i)
        if (std::string(NamedColors()[static_cast<size_t>(i)].Name) == name) return i;
    return -1;
}

TRgbBytes RgbOf(const TPixelRec& p) { return {p.R, p.G, p.B}; }
TRgbBytes RgbAt(const TRgbPicture& pic, int32_t x, int32_t y) {
    const uint8_t* d = pic.Pixel(x, y);
    return {d[0], d[1], d[2]};
}

TEST(HexCode, AcceptsSixDigitsAfterOnePrefix) {
    const TRgbBytes want{255, 128, 0};
    for (const char* text : {"ff8000", "FF8000", "#ff8000", "$ff8000", "0xff8000", "  #FF8000\t\n", " ff8000 "})
        EXPECT_EQ(ParseHexCode(text), want) << text;
    for (const char* text : {"", "#", "0x", "ff800", "ff80000", "##ff8000", "#0xff8000", "$#ff8000", "0Xff8000",
                             "x0ff8000", "ff8000#", "ff 8000", "ff80g0", "-f8000", "+ff8000", "ff8000x"})
        EXPECT_FALSE(ParseHexCode(text).has_value()) << text;
    EXPECT_EQ(HexCode(1, 2, 171), "0102AB");

    // The picker keeps its colour on a refusal and its alpha on success.
    TColorPicker p;
    p.SetColor(1, 2, 3, 77);
    EXPECT_FALSE(p.ApplyHex("#12345g"));
    EXPECT_EQ(p.Hex(), "010203");
    EXPECT_TRUE(p.ApplyHex("$ff8000"));
    EXPECT_EQ(RgbOf(p.Color()), want);
    EXPECT_EQ(p.Color().A, 77);
    // Its own code applied again changes nothing, the hue included.
    const THsv before = p.Hsv();
    EXPECT_TRUE(p.ApplyHex(p.Hex()));
    EXPECT_EQ(p.Hsv().Hue, before.Hue);
}

TEST(PickerHsv, RoundTripsAndClamps) {
    TColorPicker p;
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17) {
                p.SetColor(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b), 255);
                const THsv h = p.Hsv();
                ASSERT_GE(h.Hue, 0);
                ASSERT_LE(h.Hue, 360);
                p.SetHsv(h.Hue, h.S, h.V);
                // Whole-degree hue: a channel may move by a few levels, never more.
                EXPECT_LE(std::abs(p.Color().R - r), 3);
                EXPECT_LE(std::abs(p.Color().G - g), 3);
                EXPECT_LE(std::abs(p.Color().B - b), 3);
            }
    p.SetHsv(400, 1.5, -0.25);
    EXPECT_EQ(p.Hsv().Hue, 360);
    EXPECT_EQ(p.Hsv().S, 1.0);
    EXPECT_EQ(p.Hsv().V, 0.0);
}

TEST(PickerFields, CapAndKeepTheHueThroughGrey) {
    TColorPicker p;
    p.SetColor(0, 255, 0, 255);
    EXPECT_TRUE(p.EditField(TPickerField::S, 0));
    EXPECT_EQ(RgbOf(p.Color()), (TRgbBytes{255, 255, 255}));
    EXPECT_TRUE(p.EditField(TPickerField::V, 0));
    EXPECT_EQ(p.Color().G, 0);
    EXPECT_EQ(p.FieldValue(TPickerField::H), 120);
    // The controls writing back what they show change nothing.
    EXPECT_FALSE(p.EditField(TPickerField::R, 0));
    EXPECT_FALSE(p.EditField(TPickerField::H, 120));

    EXPECT_TRUE(p.EditField(TPickerField::H, 400));
    EXPECT_EQ(p.FieldValue(TPickerField::H), 360);
    EXPECT_TRUE(p.EditField(TPickerField::S, 150));
    EXPECT_EQ(p.FieldValue(TPickerField::S), 100);
    EXPECT_TRUE(p.EditField(TPickerField::A, -4));
    EXPECT_EQ(p.Color().A, 0);
}

TEST(PickerMaps, PositionsOutsideClampToTheEdges) {
    EXPECT_EQ(SquareSaturationAt(-5, 256), 0.0);
    EXPECT_EQ(SquareSaturationAt(300, 256), 1.0);
    EXPECT_EQ(SquareValueAt(-9, 256), 1.0);
    EXPECT_EQ(SquareValueAt(999, 256), 0.0);
    EXPECT_EQ(HueAt(-1, kHueBarHeight), 360);
    EXPECT_EQ(HueAt(5000, kHueBarHeight), 0);
    EXPECT_EQ(AlphaAt(400, 256), 255);
    EXPECT_EQ(AlphaAt(-1, 256), 0);

    EXPECT_EQ(NamedGridIndexAt(9, 1), 1);
    EXPECT_EQ(NamedGridIndexAt(1, 9), 50);
    // Past the right edge a position would spill into the next row, below the grid past the
    // last cell.
    EXPECT_EQ(NamedGridIndexAt(410, 1), 49);
    EXPECT_EQ(NamedGridIndexAt(1000, 1000), 549);
    EXPECT_EQ(NamedGridIndexAt(-50, -50), 0);
}

TEST(PickerMaps, MarkersStandWhereThePickWas) {
    for (int32_t x = 0; x < 256; ++x) {
        const TIntPoint m = SquareMarker(SquareSaturationAt(x, 256), SquareValueAt(x, 256), 256, 256);
        EXPECT_EQ(m, (TIntPoint{x, x}));
        EXPECT_EQ(AlphaMarkerX(AlphaAt(x, 256), 256), x);
    }
    EXPECT_EQ(HueMarkerY(360, kHueBarHeight), 0);
    EXPECT_EQ(HueMarkerY(0, kHueBarHeight), kHueBarHeight - 1);
    // What the square shows is what a click there picks.
    const TRgbPicture square = DrawPickerSquare(200, 256, 256);
    TColorPicker p;
    p.SetHsv(200, 0.3, 0.3);
    for (auto [x, y] : {std::pair{0, 0}, {255, 0}, {255, 255}, {17, 200}, {128, 64}}) {
        p.PickSquare(x, y, 256, 256);
        EXPECT_EQ(RgbAt(square, x, y), RgbOf(p.Color()));
    }
    EXPECT_EQ(square.Pixel(255, 0)[2], 255);  // the top-right corner is the full hue
}

TEST(Eyedropper, PicksAboveTheHotSpotInsideTheScreen) {
    EXPECT_EQ(EyedropperPixel(10, 5, 1920, 1080), (TIntPoint{10, 4}));
    EXPECT_EQ(EyedropperPixel(10, 0, 1920, 1080), (TIntPoint{10, 0}));
    EXPECT_EQ(EyedropperPixel(-3, 5000, 1920, 1080), (TIntPoint{0, 1079}));
    // The pick frame surrounds the magnified picked pixel.
    const TIntPoint o = LoupeSourceOrigin(500, 400);
    const TIntPoint picked = EyedropperPixel(500, 400, 1920, 1080);
    const TIntRect f = LoupePickFrame();
    EXPECT_EQ(f.Left, (picked.X - o.X) * kLoupeZoom);
    EXPECT_EQ(f.Top, (picked.Y - o.Y) * kLoupeZoom);
    EXPECT_EQ(f.Right - f.Left, kLoupeZoom);
}

TEST(NamedColors, NearestAndARunnerUpOfAnotherColour) {
    const TNamedMatch red = NearestNamedColors(255, 0, 0);
    EXPECT_EQ(red.Nearest, IndexOf("Red"));  // the first of the entries of that value
    EXPECT_NE(NamedColorRgb(red.Second), NamedColorRgb(red.Nearest));
    // White's runner-up is the nearest other colour, not an earlier entry of the table.
    const TNamedMatch white = NearestNamedColors(255, 255, 255);
    EXPECT_EQ(white.Nearest, 0);
    EXPECT_EQ(white.Second, IndexOf("Grey99"));

    TColorPicker p;
    p.SetColor(1, 2, 3, 99);
    p.TakeNamed(IndexOf("Grey50"));
    EXPECT_EQ(p.Color().R, 0x7F);
    EXPECT_EQ(p.Color().A, 99);
    p.SetAlpha(5);
    p.RestoreOpenColor();
    EXPECT_EQ(p.Color().R, 1);
    EXPECT_EQ(p.Color().A, 99);
}

TEST(PickerPictures, SwatchesDivideBy255AndSwapCellsOnTheNewSwatch) {
    const TRgbPicture white = DrawAlphaSwatch(16, 16, 255, 255, 255, 255, false);
    for (uint8_t v : white.Bytes) ASSERT_EQ(v, 255);
    const TRgbPicture clear = DrawAlphaSwatch(16, 16, 0, 0, 0, 0, false);
    const TRgbPicture clearNew = DrawAlphaSwatch(16, 16, 0, 0, 0, 0, true);
    EXPECT_EQ(clear.Pixel(0, 8)[0], 0);   // row height div 2 is still the opaque half
    EXPECT_EQ(clear.Pixel(0, 9)[0], 192);  // cells (0, 2): same parity
    EXPECT_EQ(clear.Pixel(4, 9)[0], 255);
    EXPECT_EQ(clearNew.Pixel(0, 9)[0], 255);
    EXPECT_EQ(clearNew.Pixel(4, 9)[0], 192);
    const TRgbPicture half = DrawAlphaSwatch(8, 16, 200, 0, 0, 128, false);
    EXPECT_EQ(half.Pixel(0, 12)[0], 227);  // (25600 + 32385) / 255 = 227.4

    const TRgbPicture grid = DrawNamedGrid();
    ASSERT_EQ(grid.Width, 401);
    ASSERT_EQ(grid.Height, 89);
    EXPECT_EQ(grid.Pixel(8, 3)[0], 0);  // line between cells
    EXPECT_EQ(RgbAt(grid, 399, 87), NamedColorRgb(549));
    EXPECT_EQ(grid.Pixel(400, 87)[0], 0);  // frame
}

}  // namespace
}  // namespace jx
