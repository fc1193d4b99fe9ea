// The JPEG-artefact filter, the size linker, the colour bleed, resampling and the canvas.
#include <gtest/gtest.h>

#include <random>

#include "imaging/errors.h"
#include "imaging/jpeg_filter.h"
#include "imaging/resize_image.h"

namespace {

using namespace jx;

// A grey pixel whose working-space lightness equals its value, chroma neutral.
TPixelRec Grey(int v) { return {uint8_t(v), uint8_t(v), uint8_t(v), 255, uint8_t(v), 128, 128, 1}; }

TPixelImage GreyRow(std::initializer_list<int> values) {
    TPixelImage img(static_cast<int>(values.size()), 1);
    int x = 0;
    for (int v : values) img[0][x++] = Grey(v);
    return img;
}

TEST(JpegFilter, StrengthsByHand) {
    // Around the pixel of 100 (luma shift 1: d = 2 * dc1^2): 102 at 8, 110 at 200, 140 at 3200,
    // 190 at 16200, 250 at 45000; the window of radius 3 holds the whole row.
    const TPixelImage img = GreyRow({190, 250, 140, 100, 102, 110});
    const int strengths[5] = {1, 8, 16, 24, 32};
    const int aggressive[5] = {101, 104, 113, 128, 149};  // 642 / 5 = 128.4, 892 / 6 = 148.7
    const int halved[5] = {100, 101, 104, 113, 128};      // only within half the largest accepted
    for (int i = 0; i < 5; ++i) {
        TJpegFilterSettings s;
        s.MaxError = strengths[i];
        TPixelImage out;
        s.Aggressive = true;
        ASSERT_TRUE(JpegFilter(img, out, s));
        EXPECT_EQ(out[0][3], Grey(aggressive[i])) << strengths[i];
        s.Aggressive = false;
        ASSERT_TRUE(JpegFilter(img, out, s));
        EXPECT_EQ(out[0][3].G, halved[i]) << strengths[i];
    }
    // The luma shift is the caller's: at 3 the 102 lies at 32, beyond the limit of strength 1.
    TJpegFilterSettings s;
    s.MaxError = 1;
    s.Aggressive = true;
    s.LumaShift = 3;
    TPixelImage out;
    ASSERT_TRUE(JpegFilter(img, out, s));
    EXPECT_EQ(out[0][3].R, 100);
}

TEST(JpegFilter, TiesToEvenCornersAndFlatAreas) {
    TJpegFilterSettings s;
    s.BlockSize = 1;
    s.MaxError = 8;
    s.Aggressive = true;
    TPixelImage out;
    ASSERT_TRUE(JpegFilter(GreyRow({100, 101}), out, s));
    EXPECT_EQ(out[0][0].R, 100);  // 100.5
    ASSERT_TRUE(JpegFilter(GreyRow({101, 102}), out, s));
    EXPECT_EQ(out[0][1].R, 102);  // 101.5

    // A corner sees only (B + 1) x (B + 1) pixels: 100, 100, 100, 112 -> 103.
    TPixelImage corner(5, 5, Grey(100));
    corner[1][1] = Grey(112);
    corner[2][2] = Grey(160);
    s.MaxError = 32;
    ASSERT_TRUE(JpegFilter(corner, out, s));
    EXPECT_EQ(out[0][0].R, 103);

    std::mt19937 rng(1);
    TPixelRec flat{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 200, 17, 99, 140, 5};
    const TPixelImage flatImage(13, 9, flat);
    for (int m : {1, 16, 32}) {
        s.MaxError = m;
        s.HasAlpha = true;
        s.BlockSize = 8;
        ASSERT_TRUE(JpegFilter(flatImage, out, s));
        EXPECT_EQ(out, flatImage);
    }
}

TEST(JpegFilter, CancelsBetweenRowsAndRefusesBadSettings) {
    const TPixelImage img(4, 6, Grey(50));
    TPixelImage out;
    std::vector<int> rows;
    EXPECT_FALSE(JpegFilter(img, out, {}, [&](int32_t row) {
        rows.push_back(row);
        return row < 2;
    }));
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 2}));
    TJpegFilterSettings s;
    s.BlockSize = 9;
    EXPECT_THROW(JpegFilter(img, out, s), ImagingError);
    s.BlockSize = 3;
    s.MaxError = 0;
    EXPECT_THROW(JpegFilter(img, out, s), ImagingError);
}

TEST(SizeLinker, ProportionsAreExactWithTiesToEven) {
    TSizeLinker l(2, 7);
    ASSERT_TRUE(l.Edit(TSizeField::Width, 3));
    EXPECT_EQ(l.Values(), (TSizeValues{3, 10, 150, 150}));
    ASSERT_TRUE(l.Edit(TSizeField::Width, 1));
    EXPECT_EQ(l.Values(), (TSizeValues{1, 4, 50, 50}));  // 3.5 -> 4
    // A typed 0 is refused and changes nothing.
    EXPECT_FALSE(l.Edit(TSizeField::Width, 0));
    EXPECT_FALSE(l.Edit(TSizeField::HeightPercent, 0));
    EXPECT_EQ(l.Values(), (TSizeValues{1, 4, 50, 50}));
    // More than ten times the start is set back to ten times.
    ASSERT_TRUE(l.Edit(TSizeField::Height, 71));
    EXPECT_EQ(l.Values(), (TSizeValues{20, 70, 1000, 1000}));
    EXPECT_THROW(TSizeLinker(0, 5), ImagingError);

    TSizeLinker free(10, 7);
    free.Constrained = false;
    ASSERT_TRUE(free.Edit(TSizeField::Width, 5));
    EXPECT_EQ(free.Values(), (TSizeValues{5, 7, 50, 100}));
    ASSERT_TRUE(free.Edit(TSizeField::HeightPercent, 150));
    EXPECT_EQ(free.Values(), (TSizeValues{5, 10, 50, 150}));  // 10.5 -> 10
    free.FastSize(3);
    EXPECT_EQ(free.Values(), (TSizeValues{3, 2, 30, 29}));
    // A side that would round to nothing keeps one pixel.
    TSizeLinker thin(100, 1);
    ASSERT_TRUE(thin.Edit(TSizeField::Width, 10));
    EXPECT_EQ(thin.Values().Height, 1);
}

TEST(SizeLinker, CapOnlyOnSidesThatGrowPastIt) {
    // With proportions constrained the side past the cap scales the other with it; the edits show
    // the size that is produced.
    TSizeLinker l(1000, 500);
    ASSERT_TRUE(l.Edit(TSizeField::Width, 9000));
    EXPECT_EQ(l.Values(), (TSizeValues{4096, 2048, 410, 410}));
    EXPECT_EQ(l.Target(), l.Values());
    TSizeLinker photo(3000, 2000);
    ASSERT_TRUE(photo.Edit(TSizeField::Width, 8000));
    EXPECT_EQ(photo.Values(), (TSizeValues{4096, 2731, 137, 137}));
    TSizeLinker tall(500, 1000);
    ASSERT_TRUE(tall.Edit(TSizeField::HeightPercent, 900));
    EXPECT_EQ(tall.Values(), (TSizeValues{2048, 4096, 410, 410}));
    // Unconstrained each side is held on its own.
    tall.Constrained = false;
    ASSERT_TRUE(tall.Edit(TSizeField::Width, 5000));
    EXPECT_EQ(tall.Values(), (TSizeValues{4096, 4096, 819, 410}));
    TSizeLinker freePhoto(3000, 2000);
    freePhoto.Constrained = false;
    ASSERT_TRUE(freePhoto.Edit(TSizeField::Width, 8000));
    EXPECT_EQ(freePhoto.Values(), (TSizeValues{4096, 2000, 137, 100}));
    // A one-pixel column: constrained it cannot widen (its height would pass the edit's limit and
    // the cap); unconstrained the typed width stays and the height is capped.
    TSizeLinker column(1, 4000);
    ASSERT_TRUE(column.Edit(TSizeField::Width, 10));
    EXPECT_EQ(column.Values(), (TSizeValues{1, 4096, 102, 102}));
    TSizeLinker freeColumn(1, 4000);
    freeColumn.Constrained = false;
    ASSERT_TRUE(freeColumn.Edit(TSizeField::Width, 10));
    ASSERT_TRUE(freeColumn.Edit(TSizeField::Height, 5000));
    EXPECT_EQ(freeColumn.Values(), (TSizeValues{10, 4096, 1000, 102}));
    // Already past the cap: shrinking is free, growing stops at the starting side.
    TSizeLinker big(5000, 100);
    ASSERT_TRUE(big.Edit(TSizeField::Width, 4500));
    EXPECT_EQ(big.TargetWidth(), 4500);
    EXPECT_EQ(big.TargetHeight(), 90);
    ASSERT_TRUE(big.Edit(TSizeField::Height, 200));
    EXPECT_EQ(big.TargetWidth(), 5000);
    EXPECT_EQ(big.TargetHeight(), 100);
    big.Constrained = false;
    ASSERT_TRUE(big.Edit(TSizeField::Height, 200));
    EXPECT_EQ(big.Values(), (TSizeValues{5000, 200, 100, 200}));
}

TPixelRec Px(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { return {r, g, b, a}; }

TEST(Bleed, NearestVisibleColourWithinTheImage) {
    // One pixel, visible or not, and a fully transparent image: nothing to take.
    TPixelImage one(1, 1, Px(1, 2, 3, 0));
    BleedTransparentColors(one);
    EXPECT_EQ(one[0][0], Px(1, 2, 3, 0));
    TPixelImage clear(7, 5, Px(0, 0, 0, 0));
    BleedTransparentColors(clear);
    EXPECT_EQ(clear, TPixelImage(7, 5, Px(0, 0, 0, 0)));

    TPixelImage row(6, 1, Px(0, 0, 0, 0));
    row[0][0] = Px(255, 0, 0, 255);
    row[0][4] = Px(0, 0, 255, 16);
    row[0][2] = Px(9, 9, 9, 15);  // below visible: keeps its colour
    BleedTransparentColors(row);
    EXPECT_EQ(row[0][1], Px(255, 0, 0, 0));
    EXPECT_EQ(row[0][2], Px(9, 9, 9, 15));
    EXPECT_EQ(row[0][3], Px(0, 0, 255, 0));
    EXPECT_EQ(row[0][5], Px(0, 0, 255, 0));

    // Transparent pixels before the first visible one, and more than 255 away from it.
    TPixelImage wide(300, 1, Px(0, 0, 0, 0));
    wide[0][299] = Px(0, 200, 0, 255);
    BleedTransparentColors(wide);
    EXPECT_EQ(wide[0][298], Px(0, 200, 0, 0));
    EXPECT_EQ(wide[0][45], Px(0, 200, 0, 0));  // 254 pixels to the left
    EXPECT_EQ(wide[0][44], Px(0, 0, 0, 0));

    // Columns both ways.
    TPixelImage column(1, 5, Px(0, 0, 0, 0));
    column[2][0] = Px(7, 8, 9, 255);
    BleedTransparentColors(column);
    for (int y = 0; y < 5; ++y) EXPECT_EQ(column[y][0].G, 8) << y;
}

TPixelImage Pattern(int w, int h, uint32_t seed, bool alpha) {
    std::mt19937 rng(seed);
    TPixelImage img(w, h);
    for (int64_t i = 0; i < img.Count(); ++i) {
        const uint32_t v = rng();
        img.Data()[i] = Px(uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), alpha ? uint8_t(v >> 24) : 255);
    }
    return img;
}

TEST(ResizeImage, FiltersAlphaPlaneAndSubpixel) {
    const TPixelImage img = Pattern(6, 5, 11, true);
    TResizeOptions o;
    o.Filter = 0;
    const TPixelImage twice = ResizeImage(img, 12, 10, o);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) ASSERT_EQ(twice[y][x], img[y / 2][x / 2]) << x << "," << y;
    for (int f = 0; f < 16; ++f) {
        o.Filter = f;
        EXPECT_EQ(ResizeImage(img, 6, 5, o), img) << f;  // equal sizes copy
        EXPECT_EQ(ResizeImage(img, 9, 3, o).Width(), 9) << f;
    }

    // Alpha goes through "Bilinear" whatever the colour filter: an image whose colours equal its
    // alpha shows, resized bilinearly, the alpha the Lanczos resize gives.
    TPixelImage grey = img;
    for (int64_t i = 0; i < grey.Count(); ++i) {
        TPixelRec& p = grey.Data()[i];
        p.R = p.G = p.B = p.A;
    }
    o = {};
    const TPixelImage lanczos = ResizeImage(grey, 14, 11, o);
    o.Filter = 2;
    const TPixelImage bilinear = ResizeImage(grey, 14, 11, o);
    for (int64_t i = 0; i < lanczos.Count(); ++i) ASSERT_EQ(lanczos.Data()[i].A, bilinear.Data()[i].R) << i;

    o = {};
    o.HasAlpha = false;
    const TPixelImage opaque = ResizeImage(img, 4, 4, o);
    for (const TPixelRec& p : opaque.Vector()) ASSERT_EQ(p.A, 255);

    // Sub-pixel and sharpening change nothing at 0 and something above it.
    o = {};
    const TPixelImage plain = ResizeImage(img, 10, 7, o);
    o.SubpixelAmount = 255;
    EXPECT_NE(ResizeImage(img, 10, 7, o), plain);
    o.SubpixelAmount = 0;
    o.SharpenOutAmount = 200;
    o.SharpenOutMore = true;
    const TPixelImage sharp = ResizeImage(img, 10, 7, o);
    EXPECT_NE(sharp, plain);
    for (int64_t i = 0; i < sharp.Count(); ++i) ASSERT_EQ(sharp.Data()[i].A, plain.Data()[i].A);
    o.SharpenInAmount = 255;
    const TPixelImage flat(5, 5, Px(90, 120, 30, 255));
    EXPECT_EQ(ResizeImage(flat, 8, 8, o), TPixelImage(8, 8, Px(90, 120, 30, 255)));

    EXPECT_THROW(ResizeImage(img, 0, 5, {}), ImagingError);
    o = {};
    o.Filter = 16;
    EXPECT_THROW(ResizeImage(img, 3, 5, o), ImagingError);
}

TEST(Canvas, NineAnchorsAndFill) {
    const int dx[3] = {0, 3, 5}, dy[3] = {0, 2, 5};  // 5x4 on 10x9: 10/2 - 5/2 = 3, 9/2 - 4/2 = 2
    for (int a = 1; a <= 9; ++a)
        EXPECT_EQ(CanvasOffset(a, 5, 4, 10, 9), (TCanvasOffset{dx[(a - 1) % 3], dy[(a - 1) / 3]})) << a;
    EXPECT_EQ(CanvasOffset(5, 5, 5, 2, 2), (TCanvasOffset{-1, -1}));
    EXPECT_EQ(CanvasOffset(9, 5, 5, 2, 3), (TCanvasOffset{-3, -2}));
    EXPECT_THROW(CanvasOffset(0, 1, 1, 1, 1), ImagingError);

    const TPixelImage img = Pattern(3, 2, 5, false);
    const TPixelRec fill = Px(0, 0, 0, 0);
    const TPixelImage grown = PlaceOnCanvas(img, 6, 4, 9, fill);
    EXPECT_EQ(grown[2][3], img[0][0]);
    EXPECT_EQ(grown[3][5], img[1][2]);
    EXPECT_EQ(grown[1][5], fill);
    EXPECT_EQ(grown[3][2], fill);
    const TPixelImage cropped = PlaceOnCanvas(img, 1, 1, 5, fill);  // 1/2 - 3/2 = -1, 0 - 1 = -1
    EXPECT_EQ(cropped[0][0], img[1][1]);
    EXPECT_THROW(PlaceOnCanvas(img, 0, 1, 5, fill), ImagingError);

    EXPECT_TRUE(CanvasHasAlpha(3, 2, 3, 3, false));
    EXPECT_FALSE(CanvasHasAlpha(3, 2, 2, 2, false));
    EXPECT_TRUE(CanvasHasAlpha(3, 2, 2, 2, true));
}

}  // namespace
