// Alpha conversion, colour correction and smoothing on small hand-made images.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "imaging/alpha_convert.h"
#include "imaging/bayer.h"
#include "imaging/color_correct.h"
#include "imaging/errors.h"
#include "imaging/smooth.h"

namespace {

using namespace jx;

TPixelImage AlphaRow(std::initializer_list<int> alphas, int width = 0) {
    if (width == 0) width = static_cast<int>(alphas.size());
    TPixelImage img(width, static_cast<int>(alphas.size()) / width);
    int i = 0;
    for (int a : alphas) {
        TPixelRec& p = img.Data()[i++];
        p.R = 10, p.G = 20, p.B = 30, p.A = static_cast<uint8_t>(a);
    }
    return img;
}

std::vector<int> Alphas(const TPixelImage& img) {
    std::vector<int> v;
    for (int64_t i = 0; i < img.Count(); ++i) v.push_back(img.Data()[i].A);
    return v;
}

const std::vector<int32_t>& Bayer16() {
    static const auto m = MakeBayerMatrices();
    return m[3];
}

TEST(AlphaConvert, ThresholdBounds) {
    const TPixelImage img = AlphaRow({0, 1, 126, 127, 128, 254, 255});
    TAlphaConvertSettings s;
    s.Threshold = 127;  // equal to the threshold stays opaque
    EXPECT_EQ(Alphas(ConvertAlpha(img, s, Bayer16())), (std::vector<int>{0, 0, 0, 255, 255, 255, 255}));
    s.Threshold = 0;  // every pixel opaque, alpha 0 included
    EXPECT_EQ(Alphas(ConvertAlpha(img, s, Bayer16())), (std::vector<int>(7, 255)));
    // Colours pass unchanged without the matte.
    EXPECT_EQ(ConvertAlpha(img, s, Bayer16())[0][3].B, 30);
    s.Threshold = 256;
    EXPECT_THROW(ConvertAlpha(img, s, Bayer16()), ImagingError);
    s.Threshold = 0;
    s.Method = 8;
    EXPECT_THROW(ConvertAlpha(img, s, Bayer16()), ImagingError);
}

TEST(AlphaConvert, FloydSteinbergByHand) {
    TAlphaConvertSettings s;
    s.Method = 2;
    // 2 x 2 of alpha 100: +44 right, +31 below, +6 diagonal; then -111 from the opaque pixel.
    EXPECT_EQ(Alphas(ConvertAlpha(AlphaRow({100, 100, 100, 100}, 2), s, Bayer16())), (std::vector<int>{0, 255, 0, 0}));
    // The neighbour is clamped at 255 after its share, so the overflow is not carried on:
    // 250 + 56 -> 255 passes no error, and 110 stays below the midpoint.
    EXPECT_EQ(Alphas(ConvertAlpha(AlphaRow({127, 250, 110}), s, Bayer16())), (std::vector<int>{0, 255, 0}));
    // Half the error: 100 -> 0 passes round(21.875) = 22, so 110 + 22 = 132 becomes opaque.
    s.Amount = 0.5;
    EXPECT_EQ(Alphas(ConvertAlpha(AlphaRow({100, 110}), s, Bayer16())), (std::vector<int>{0, 255}));
}

TEST(AlphaConvert, EveryKernelAtZeroAmountIsThe128Threshold) {
    std::mt19937 rng(7);
    TPixelImage img(9, 7);
    for (int64_t i = 0; i < img.Count(); ++i) img.Data()[i].A = static_cast<uint8_t>(rng() & 255);
    for (int method = 1; method <= 6; ++method) {
        TAlphaConvertSettings s;
        s.Method = method;
        s.Amount = 0;
        s.Threshold = 3;  // ignored by the dithering methods
        const TPixelImage out = ConvertAlpha(img, s, Bayer16());
        for (int64_t i = 0; i < img.Count(); ++i)
            ASSERT_EQ(out.Data()[i].A, img.Data()[i].A >= 128 ? 255 : 0) << "method " << method << " pixel " << i;
    }
    // With the full amount the kernel spreads error: a flat 64 becomes about a quarter opaque.
    TPixelImage flat(32, 32);
    for (int64_t i = 0; i < flat.Count(); ++i) flat.Data()[i].A = 64;
    for (int method = 1; method <= 6; ++method) {
        TAlphaConvertSettings s;
        s.Method = method;
        int opaque = 0;
        for (int a : Alphas(ConvertAlpha(flat, s, Bayer16()))) opaque += a == 255;
        EXPECT_GT(opaque, 150) << method;
        EXPECT_LT(opaque, 350) << method;
    }
}

TEST(AlphaConvert, BayerTileCounts) {
    TAlphaConvertSettings s;
    s.Method = 7;
    for (int a : {0, 1, 100, 255}) {
        TPixelImage tile(16, 16);
        for (int64_t i = 0; i < tile.Count(); ++i) tile.Data()[i].A = static_cast<uint8_t>(a);
        int opaque = 0;
        for (int v : Alphas(ConvertAlpha(tile, s, Bayer16()))) opaque += v == 255;
        EXPECT_EQ(opaque, a == 0 ? 0 : a + 1) << a;
    }
    // The first matrix index is the column: find a spot where M[x][y] and M[y][x] straddle a level.
    const auto& m = Bayer16();
    int fx = -1, fy = -1;
    for (int x = 0; x < 16 && fx < 0; ++x)
        for (int y = 0; y < 16; ++y)
            if (m[static_cast<size_t>(x * 16 + y)] < m[static_cast<size_t>(y * 16 + x)]) {
                fx = x, fy = y;
                break;
            }
    ASSERT_GE(fx, 0);
    TPixelImage tile(16, 16);
    for (int64_t i = 0; i < tile.Count(); ++i) tile.Data()[i].A = static_cast<uint8_t>(std::max(1, m[static_cast<size_t>(fx * 16 + fy)]));
    const TPixelImage out = ConvertAlpha(tile, s, Bayer16());
    EXPECT_EQ(out[fy][fx].A, 255);
    EXPECT_EQ(out[fx][fy].A, 0);
    // At 0 % every visible pixel is opaque.
    s.Amount = 0;
    EXPECT_EQ(Alphas(ConvertAlpha(AlphaRow({0, 1, 2, 255}), s, Bayer16())), (std::vector<int>{0, 255, 255, 255}));
}

TEST(AlphaConvert, MatteBlendsOver255) {
    TPixelImage img(3, 1);
    img[0][0] = {200, 100, 7, 255};  // opaque: unchanged
    img[0][1] = {0, 0, 0, 51};       // a fifth: 0.8 of the matte
    img[0][2] = {90, 90, 90, 0};     // transparent: the matte itself
    TAlphaConvertSettings s;
    s.Matte = true;
    s.MatteColor = 0x0000FF | (255 << 8) | (0 << 16);  // R 255, G 255, B 0
    s.Threshold = 0;
    const TPixelImage out = ConvertAlpha(img, s, Bayer16());
    const auto rgb = [&](int x) { return std::array<int, 3>{out[0][x].R, out[0][x].G, out[0][x].B}; };
    EXPECT_EQ(rgb(0), (std::array<int, 3>{200, 100, 7}));
    EXPECT_EQ(rgb(1), (std::array<int, 3>{204, 204, 0}));
    EXPECT_EQ(rgb(2), (std::array<int, 3>{255, 255, 0}));
}

TEST(AlphaConvert, RefreshClearsTransparentPixels) {
    EngineState state;
    TPixelImage img(2, 1);
    img[0][0] = {50, 60, 70, 0};
    img[0][1] = {50, 60, 70, 255};
    RefreshSourcePixels(state, img);
    EXPECT_EQ(img[0][0].R, 0);
    EXPECT_EQ(img[0][0].A, 0);
    TPixelRec expect{50, 60, 70, 255};
    state.Convert(expect);
    EXPECT_EQ(img[0][1].c1, expect.c1);
    EXPECT_EQ(img[0][1].c3, expect.c3);
}

TEST(ColorCorrect, DefaultsAreTheIdentityAndComparisonsStrict) {
    std::mt19937 rng(3);
    TPixelImage img(16, 16);
    for (int64_t i = 0; i < img.Count(); ++i) {
        const uint32_t v = rng();
        img.Data()[i] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24), 1, 2, 3, 9};
    }
    EXPECT_EQ(ColorCorrected(img, {}), img);

    TPixelImage row(5, 1);
    const uint8_t values[5] = {126, 127, 128, 129, 40};
    for (int x = 0; x < 5; ++x) row[0][x] = {values[x], values[x], values[x], values[x]};
    TChannelThresholds t;
    t.Lo = {127, 0, 127, 127};
    t.Hi = {255, 128, 128, 128};
    const TPixelImage out = ColorCorrected(row, t);
    const int r[5] = {0, 127, 128, 129, 0}, g[5] = {126, 127, 128, 255, 40}, a[5] = {0, 127, 128, 255, 0};
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(out[0][x].R, r[x]) << x;
        EXPECT_EQ(out[0][x].G, g[x]) << x;
        EXPECT_EQ(out[0][x].A, a[x]) << x;
    }
    t.Hi[1] = 127;
    EXPECT_THROW(ColorCorrected(row, t), ImagingError);
}

TPixelImage Row(std::initializer_list<int> reds) {
    TPixelImage img(static_cast<int>(reds.size()), 1);
    int x = 0;
    for (int r : reds) img[0][x++] = {uint8_t(r), 50, 50, 255};
    return img;
}

std::vector<int> Reds(const TPixelImage& img) {
    std::vector<int> v;
    for (int64_t i = 0; i < img.Count(); ++i) v.push_back(img.Data()[i].R);
    return v;
}

TEST(Smoothing, HorizontalRows) {
    // Strict: a difference equal to the strength changes nothing.
    TPixelImage line = Row({100, 100, 100, 120, 100, 100, 100});
    SmoothHorizontal(line, 10, false);
    EXPECT_EQ(Reds(line), (std::vector<int>{100, 100, 100, 120, 100, 100, 100}));
    TPixelImage soft = line;
    SmoothHorizontal(line, 20, false);
    EXPECT_EQ(Reds(line), (std::vector<int>{100, 100, 110, 105, 102, 101, 100}));
    SmoothHorizontal(soft, 20, true);
    EXPECT_EQ(Reds(soft), (std::vector<int>{100, 100, 105, 111, 102, 100, 100}));
    // In place: the pixel at 2 sees its left neighbour already smoothed to 0.
    TPixelImage inPlace = Row({0, 4, 0, 4});
    SmoothHorizontal(inPlace, 10, false);
    EXPECT_EQ(Reds(inPlace), (std::vector<int>{0, 0, 2, 4}));
    TPixelImage untouched = Row({0, 4, 0, 4});
    Smooth(untouched, 1, 0, false);
    EXPECT_EQ(Reds(untouched), (std::vector<int>{0, 4, 0, 4}));
    EXPECT_THROW(Smooth(untouched, 5, 8, false), ImagingError);
}

TEST(Smoothing, VerticalColumnsAndModeOrder) {
    TPixelImage column(1, 4);
    const int reds[4] = {0, 4, 0, 4};
    for (int y = 0; y < 4; ++y) column[y][0] = {uint8_t(reds[y]), 50, 50, 255};
    TPixelImage copy = column;
    SmoothVertical(column, 10, false);
    EXPECT_EQ(Reds(column), (std::vector<int>{0, 0, 2, 4}));
    SmoothHorizontal(copy, 32, false);  // a one-pixel-wide column has no horizontal neighbours
    EXPECT_EQ(Reds(copy), (std::vector<int>{0, 4, 0, 4}));

    // The two orders of a combined mode differ at the centre.
    TPixelImage img(3, 3);
    const int v[9] = {200, 110, 200, 100, 130, 140, 200, 120, 200};
    for (int i = 0; i < 9; ++i) img.Data()[i] = {uint8_t(v[i]), 50, 50, 255};
    TPixelImage hv = img, vh = img;
    Smooth(hv, 3, 32, false);
    Smooth(vh, 4, 32, false);
    TPixelImage h = img;
    SmoothHorizontal(h, 32, false);
    SmoothVertical(h, 32, false);
    EXPECT_EQ(hv, h);
    EXPECT_EQ(hv[1][1].R, 115);
    EXPECT_EQ(vh[1][1].R, 120);
}

}  // namespace
