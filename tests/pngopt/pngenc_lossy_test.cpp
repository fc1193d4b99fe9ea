// Lossy residual quantizers: what they change, and what they must leave alone.
#include <gtest/gtest.h>

#include <cstdlib>

#include "pngenc_test_util.h"
#include "pngopt/pngenc/row_filter.h"

namespace jx {
namespace {

using pngenc::ResidualQuantizer;

PngImage Decoded(PngImage& img) { return PngImage::Decode(img.Encode()); }

constexpr uint8_t kEachFilter[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x1F};

int MaxDifference(const PngImage& a, const PngImage& b) {
    int worst = 0;
    for (size_t i = 0; i < a.Pixels().size(); ++i) worst = std::max(worst, std::abs(int(a.Pixels()[i]) - int(b.Pixels()[i])));
    return worst;
}

TEST(LossyQuantizer, LevelListKeepsTheResidualSign) {
    ResidualQuantizer q(4, 1, {-5, 2, 6});
    EXPECT_EQ(q(5), 2);
    EXPECT_EQ(q(6), 6);
    EXPECT_EQ(q(200), 6);
    EXPECT_EQ(q(-7), uint8_t(-5));
    EXPECT_EQ(q(1), 0);
    // A level of the other sign would reconstruct past the prediction and wrap.
    ResidualQuantizer neg(4, 1, {-4});
    EXPECT_EQ(neg(5), 0);
    EXPECT_EQ(neg(-4), uint8_t(-4));
    ResidualQuantizer none(4, 1, {});
    for (int d = -255; d <= 255; ++d) ASSERT_EQ(none(d), 0);
}

TEST(LossyEncode, ErrorsStayWithinOneStepAndExtremesSurvive) {
    PngImage img = test::MakeImage(61, 47, kPngRgba, 8, 3);
    for (uint32_t x = 0; x < 61; ++x) {
        img.SetSample(x, 10, 0, 0);
        img.SetSample(x, 11, 1, 255);
    }
    PngImage original = img;
    img.LossyQuality = 9;  // step 6
    for (uint8_t set : kEachFilter) {
        img.FilterSet = set;
        PngImage back = Decoded(img);
        EXPECT_LE(MaxDifference(original, back), 6) << int(set);
        EXPECT_GT(MaxDifference(original, back), 0) << int(set);
        for (uint32_t x = 0; x < 61; ++x) {
            EXPECT_EQ(back.Sample(x, 10, 0), 0);
            EXPECT_EQ(back.Sample(x, 11, 1), 255);
        }
        EXPECT_EQ(back.RowFilters, img.RowFilters);
    }
    PngImage bw(33, 9, kPngGrey, 8);
    for (uint32_t y = 0; y < 9; ++y)
        for (uint32_t x = 0; x < 33; ++x) bw.SetSample(x, y, 0, ((x * y + x / 3) % 2) ? 255 : 0);
    PngImage bwOriginal = bw;
    bw.LossyQuality = 4;
    EXPECT_EQ(MaxDifference(bwOriginal, Decoded(bw)), 0);
}

TEST(LossyEncode, LevelListDecodesWithoutWrapping) {
    // Reconstructions lie between prediction and sample, so dark samples stay dark; a level of
    // the other sign would step below 0 and wrap to bright values.
    PngImage img(40, 30, kPngRgb, 8);
    for (size_t i = 0; i < img.Pixels().size(); ++i) img.Pixels()[i] = uint8_t(i * 7919 % 11);
    img.LossyQuality = 16;
    img.LossyMethod = 1;
    img.LossyLevels = {-3, 5};
    for (uint8_t set : kEachFilter) {
        img.FilterSet = set;
        PngImage back = Decoded(img);
        for (uint8_t b : back.Pixels()) ASSERT_LE(b, 10) << int(set);
    }
}

TEST(LossyEncode, NoneFallbackCarriesItsOwnResidual) {
    // Two-byte rows score the maximum under heuristic 9, so None is taken though not allowed.
    PngImage img = test::MakeImage(2, 25, kPngGrey, 8);
    PngImage original = img;
    img.Heuristic = 9;
    img.FilterSet = FilterBit(kFilterSub) | FilterBit(kFilterUp);
    img.LossyQuality = 4;
    PngImage back = Decoded(img);
    EXPECT_EQ(img.RowFilters, std::vector<uint8_t>(25, 0));
    EXPECT_LE(MaxDifference(original, back), 4);
}

TEST(LossyEncode, OnlyEightBitNonPaletteRowsAreQuantized) {
    for (PngImage img : {test::MakeImage(30, 20, kPngPalette, 8), test::MakeImage(30, 20, kPngRgb, 16),
                         test::MakeImage(30, 20, kPngGrey, 4)}) {
        PngImage original = img;
        std::vector<uint8_t> lossless = img.Encode();
        img.LossyQuality = 50;
        EXPECT_EQ(img.Encode(), lossless);
        EXPECT_EQ(img.LossyQuality, 50);
        EXPECT_EQ(MaxDifference(original, Decoded(img)), 0);
    }
}

TEST(LossyEncode, InterlacedIsWrittenLosslessly) {
    PngImage img = test::MakeImage(30, 20, kPngRgb, 8);
    PngImage original = img;
    img.Interlace = 1;
    img.LossyQuality = 20;
    PngImage back = Decoded(img);
    EXPECT_EQ(img.LossyQuality, 0);
    EXPECT_EQ(MaxDifference(original, back), 0);
    img.Interlace = 0;
    std::vector<uint8_t> again = img.Encode();
    EXPECT_EQ(MaxDifference(original, PngImage::Decode(again)), 0);
}

}  // namespace
}  // namespace jx
