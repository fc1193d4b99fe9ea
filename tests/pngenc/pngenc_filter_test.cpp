// Row filter choice, fingerprints, IDAT splitting, the writer's settings, and the lossy residual
// quantizers: what they change, and what they must leave alone.
#include <gtest/gtest.h>

#include <cstdlib>

#include "pngenc_test_util.h"
#include "pngenc/row_filter.h"

namespace jx {
namespace {

using pngenc::ChooserSettings;
using pngenc::RowFilterChooser;

uint32_t CostOf(uint8_t heuristic, uint8_t filter, const std::vector<uint8_t>& row, bool jx = false) {
    ChooserSettings s;
    s.Heuristic = heuristic;
    s.JxHeuristic = jx;
    RowFilterChooser c(s, row.size(), 1);
    return c.Cost(filter, row.data(), row.size());
}

// Costs worked out by hand. Row {0, 1, 255, 128}: signed 0, 1, -1, -128; zigzag 0, 2, 1, 255.
// Filter 0 (None) scores the raw bytes, filter 1 (Sub) stands for every other filter.
TEST(RowCost, ByteHeuristicsScoreAsDefined) {
    const std::vector<uint8_t> row = {0, 1, 255, 128};
    struct Case {
        uint8_t heuristic, filter;
        std::vector<uint8_t> row;
        uint32_t cost;
        bool jx = false;
    };
    const Case cases[] = {
        {1, 0, row, 1 + 3 + 3 + 15},  // 2*L(|s| + 1) + 1 with |s| = 0, 1, 1, 128, None alike
        {1, 1, row, 1 + 3 + 3 + 15},
        {2, 0, row, 1 + 3 + 17 + 15},  // raw bytes 0, 1, 255, 128
        {2, 1, row, 1 + 3 + 3 + 17},   // zigzag 0, 2, 1, 255
        {6, 0, row, 1 + 3 + 3 + 17},   // the zigzag code on None's bytes too
        {2, 0, row, 1 + 2 + 9 + 8, true},  // jx: L(v + 1) + 1 on the raw byte
        {2, 1, row, 1 + 2 + 3 + 9, true},  // jx: L(|s| + 1) + 1, one more when negative
        // round(z / 2) + 2 with halves to even: 0.5 -> 0, 1.5 -> 2, 2.5 -> 2, 127.5 -> 128.
        {3, 0, row, 2 + 2 + 130 + 66},
        {3, 1, row, 2 + 3 + 2 + 130},
        {3, 0, {3, 5}, 4 + 4},
        {3, 1, {254, 253}, 4 + 4},  // zigzag 3, 5
        {0, 1, row, 2147483647u - 4},  // four distinct values
        {200, 1, row, 2147483647u - 4},
        {0, 1, {7, 7, 7}, 2147483647u - 1},
        {4, 1, {1, 1, 1, 2}, 5 + 3},  // counts 3 and 1: 2*L(4) + 1, 2*L(2) + 1
        {5, 1, {1, 1, 1, 2}, 4 + 3},  // round(1.0) + 3, round(0.5) + 3
        {5, 1, std::vector<uint8_t>(5, 9), 2 + 3},  // round(1.5) + 3
        {9, 1, {5, 5, 6, 5, 7}, 0xFFFFFFFFu - 1},  // only position 3 repeats a byte at i - 2
        {9, 1, {5, 5}, 0xFFFFFFFFu},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CostOf(c.heuristic, c.filter, c.row, c.jx), c.cost)
            << "heuristic " << int(c.heuristic) << " filter " << int(c.filter) << (c.jx ? " jx" : "") << " row of "
            << c.row.size();
}

TEST(RowChoice, FilterSetRules) {
    PngImage img = test::MakeImage(40, 30, kPngRgb, 8);
    img.FilterSet = FilterBit(kFilterUp);
    PngFilterChoice up = img.ChooseFilters();
    EXPECT_EQ(up.RowFilters, std::vector<uint8_t>(30, kFilterUp));
    for (uint8_t set : {uint8_t(0), uint8_t(1)}) {
        img.FilterSet = set;
        EXPECT_EQ(img.ChooseFilters().RowFilters, std::vector<uint8_t>(30, 0));
    }
    // Rows of 2 bytes: heuristic 9 scores every filter at the maximum, so None wins even unset.
    PngImage thin = test::MakeImage(2, 20, kPngGrey, 8);
    thin.Heuristic = 9;
    thin.FilterSet = 0x1E;
    EXPECT_EQ(thin.ChooseFilters().RowFilters, std::vector<uint8_t>(20, 0));
}

TEST(RowChoice, FingerprintOnlyIsASeparateCallThatMatchesEncode) {
    PngImage img = test::MakeImage(64, 48, kPngRgba, 8);
    img.FingerprintOnly = 1;
    EXPECT_THROW(img.Encode(), PngError);
    PngFilterChoice c = img.ChooseFilters();
    img.FingerprintOnly = 0;
    img.Encode();
    EXPECT_EQ(c.RowFilters, img.RowFilters);
    EXPECT_EQ(c.Fingerprint, img.Fingerprint);
    EXPECT_EQ(c.PassRowFilters, img.PassRowFilters);
}

TEST(IdatSplit, FullChunksThenRemainder) {
    PngImage img = test::MakeImage(300, 300, kPngRgb, 8, 7);
    for (uint8_t& b : img.Pixels()) b = uint8_t(std::rand());  // incompressible
    img.CompressionLevel = 1;
    std::vector<uint8_t> file = img.Encode();
    std::vector<uint32_t> idat = test::ChunkLengths(file, "IDAT");
    ASSERT_EQ(idat.size(), 5u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(idat[i], 65535u);
    EXPECT_EQ(img.IdatTotalSize, 4 * 65535ull + idat[4]);
    EXPECT_EQ(img.IdatSize, 65535u);
    img.SetMaxIdatSize(10);
    EXPECT_EQ(img.MaxIdatSize, 65535);
    img.SetMaxIdatSize(0xFFFFF);
    EXPECT_EQ(img.MaxIdatSize, 0xFFFFF);
    img.Encode();
    EXPECT_EQ(img.IdatSize, std::min<uint64_t>(img.IdatTotalSize, 0xFFFFF));
}

TEST(Writer, TwoBitOutputPacksEveryRowAndPass) {
    PngImage img = test::MakeImage(13, 11, kPngPalette, 4);
    for (uint32_t y = 0; y < 11; ++y) {
        for (uint32_t x = 0; x < 13; ++x) img.SetSample(x, y, 0, uint16_t((x + 2 * y) % 4));
    }
    img.Palette.resize(4);
    img.OutputBitDepth = 2;
    for (uint8_t interlace = 0; interlace < 2; ++interlace) {
        img.Interlace = interlace;
        std::vector<uint8_t> file = img.Encode();
        EXPECT_EQ(file.at(24), 2);  // IHDR bit depth
        PngImage back = PngImage::Decode(file);
        ASSERT_EQ(back.BitDepth(), 2);
        for (uint32_t y = 0; y < 11; ++y) {
            for (uint32_t x = 0; x < 13; ++x) ASSERT_EQ(back.Sample(x, y, 0), img.Sample(x, y, 0)) << x << "," << y;
        }
    }
    // Stored rows of 7 bytes become 4 in the stream: 11 rows of 1 + 4 bytes inflate to 55.
    img.Interlace = 0;
    img.CompressionLevel = 0;
    std::vector<uint8_t> file = img.Encode();
    EXPECT_EQ(test::ChunkLengths(file, "IDAT").front(), 55u + 11);  // stored block overhead
}

TEST(Writer, RefusesSettingsOutOfRange) {
    PngImage img = test::MakeImage(8, 8, kPngRgb, 8);
    auto refused = [&](auto change) {
        PngImage copy = img;
        change(copy);
        EXPECT_THROW(copy.Encode(), PngError);
    };
    refused([](PngImage& p) { p.Interlace = 2; });
    refused([](PngImage& p) { p.CompressionLevel = 10; });
    refused([](PngImage& p) { p.UseDeflateInit2 = 1; p.WindowBits = 16; });
    refused([](PngImage& p) { p.UseDeflateInit2 = 1; p.MemoryLevel = 0; });
    refused([](PngImage& p) { p.UseDeflateInit2 = 1; p.Strategy = 5; });
    refused([](PngImage& p) { p.MaxIdatSize = 0; });
    refused([](PngImage& p) { p.LossyMethod = 2; });
    refused([](PngImage& p) { p.OutputBitDepth = 2; });
    refused([](PngImage& p) { p.PaletteAlpha = {1}; });
    refused([](PngImage& p) { p.Key = PngKey{0, 300, 0, 0}; });
    EXPECT_THROW(PngImage().Encode(), PngError);
    EXPECT_THROW(PngImage(0, 1, kPngRgb, 8), PngError);
    EXPECT_THROW(PngImage(1, 1, kPngRgb, 4), PngError);
    EXPECT_THROW(PngImage(100000, 100000, kPngRgba, 16), PngError);
    PngImage pal = test::MakeImage(8, 8, kPngPalette, 2);
    pal.Palette.resize(5);
    EXPECT_THROW(pal.Encode(), PngError);
    EXPECT_THROW(img.AddChunk("IDAT", {}), PngError);
    EXPECT_THROW(img.AddChunk("ab1d", {}), PngError);
}

TEST(Writer, SaveFileReplacesInPlace) {
    auto path = std::filesystem::path(JX_BINARY_DIR) / "pngenc_save_test.png";
    PngImage img = test::MakeImage(20, 10, kPngGreyAlpha, 16);
    img.SaveFile(path);
    img.SaveFile(path);
    PngImage back = PngImage::DecodeFile(path);
    EXPECT_TRUE(std::equal(img.Pixels().begin(), img.Pixels().end(), back.Pixels().begin(), back.Pixels().end()));
    std::filesystem::remove(path);
    EXPECT_THROW(img.SaveFile("/nonexistent-dir/x.png"), PngError);
}


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
