// Every file the encoder writes decodes back to the pixels given, over the conformance images.
// (That the decoder matches the reference pixels is checked through quillox's reader.)
#include <gtest/gtest.h>

#include "common/test_data.h"
#include "pngenc_test_util.h"

namespace jx {
namespace {

PngImage LoadSuite(const std::string& name) {
    return PngImage::DecodeFile(test::PngSuiteDir() / (name + ".png"));
}

void ExpectSamePixels(const PngImage& want, const PngImage& got, const std::string& what) {
    ASSERT_EQ(got.Width(), want.Width()) << what;
    ASSERT_EQ(got.Height(), want.Height()) << what;
    ASSERT_EQ(got.ColorType(), want.ColorType()) << what;
    ASSERT_EQ(got.BitDepth(), want.BitDepth()) << what;
    ASSERT_TRUE(std::equal(want.Pixels().begin(), want.Pixels().end(), got.Pixels().begin(), got.Pixels().end()))
        << what;
    EXPECT_EQ(got.Palette, want.Palette) << what;
    EXPECT_EQ(got.PaletteAlpha, want.PaletteAlpha) << what;
    EXPECT_EQ(got.Key, want.Key) << what;
}

// Encodes, decodes, and checks the pixels and the filters read back from the stream.
void RoundTrip(PngImage& img, const std::string& what) {
    std::vector<uint8_t> file = img.Encode();
    PngImage back = PngImage::Decode(file);
    ExpectSamePixels(img, back, what);
    EXPECT_EQ(back.Interlace, img.Interlace) << what;
    EXPECT_EQ(back.PassRowFilters, img.PassRowFilters) << what;
    EXPECT_EQ(back.RowFilters, img.RowFilters) << what;
    EXPECT_EQ(back.Fingerprint, img.Fingerprint) << what;
    EXPECT_EQ(img.RowFilters.size(), img.Height()) << what;
}

TEST(PngSuiteRoundTrip, EveryHeuristicAndFilterSetBothInterlaces) {
    const uint8_t sets[] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F, 0x06, 0x19, 0x1E};
    for (const std::string& name : test::PngSuiteNames(false)) {
        PngImage img = LoadSuite(name);
        for (uint8_t interlace = 0; interlace < 2; ++interlace) {
            img.Interlace = interlace;
            for (uint8_t h = 0; h <= 10; ++h) {
                img.FilterSet = 0x1F;
                img.Heuristic = h;
                RoundTrip(img, name + " heuristic " + std::to_string(h) + " interlace " + std::to_string(interlace));
            }
            img.Heuristic = 2;
            for (uint8_t set : sets) {
                img.FilterSet = set;
                RoundTrip(img, name + " set " + std::to_string(set) + " interlace " + std::to_string(interlace));
            }
        }
        img.JxHeuristic = 1;
        img.FilterSet = 0x1F;
        RoundTrip(img, name + " jx heuristic");
    }
}

TEST(PngSuiteRoundTrip, DeflateParametersAndIdatSizes) {
    const int32_t sizes[] = {1, 2, 3, 7, 100, 65535, 1048575};
    for (const std::string& name : test::PngSuiteNames(false)) {
        PngImage img = LoadSuite(name);
        img.UseDeflateInit2 = 1;
        int k = 0;
        for (int32_t size : sizes) {
            img.MaxIdatSize = size;
            img.Strategy = uint8_t(k % 5);
            img.CompressionLevel = uint8_t((k * 4) % 10);
            img.WindowBits = uint8_t(8 + k % 8);
            img.MemoryLevel = uint8_t(1 + (k * 3) % 9);
            img.Interlace = uint8_t(k % 2);
            ++k;
            std::vector<uint8_t> file = img.Encode();
            std::vector<uint32_t> idat = test::ChunkLengths(file, "IDAT");
            ASSERT_FALSE(idat.empty());
            for (size_t i = 0; i + 1 < idat.size(); ++i) ASSERT_EQ(idat[i], uint32_t(size)) << name;
            EXPECT_LE(idat.back(), uint32_t(size)) << name;
            EXPECT_GE(idat.back(), 1u) << name;
            EXPECT_EQ(img.IdatSize, idat.front()) << name;
            PngImage back = PngImage::Decode(file);
            ExpectSamePixels(img, back, name + " idat " + std::to_string(size));
        }
    }
}

TEST(PngSuiteRoundTrip, AncillaryChunksSurviveInTheirPlaces) {
    PngImage img = LoadSuite("ccwn3p08");  // palette image with gAMA and cHRM
    ASSERT_TRUE(img.FindChunk("gAMA"));
    img.AddText("Title", "Encoder test", false);
    img.AddText("Comment", std::string(500, 'x'), true);
    img.Chunks.push_back(PngChunk{"tIME", {0x07, 0xEA, 12, 8, 21, 0, 0}, PngChunkPlace::AfterIdat});
    std::vector<uint8_t> file = img.Encode();
    std::vector<std::string> names = PngImage::ListChunks(file);
    auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(at("gAMA"), at("PLTE"));
    EXPECT_LT(at("cHRM"), at("PLTE"));
    EXPECT_LT(at("tEXt"), at("IDAT"));
    EXPECT_GT(at("tIME"), at("IDAT"));
    EXPECT_EQ(names.back(), "IEND");
    PngImage back = PngImage::Decode(file);
    EXPECT_EQ(back.Gamma(), img.Gamma());
    EXPECT_EQ(PngImage::ReadText(*back.FindChunk("zTXt")).second, std::string(500, 'x'));
    EXPECT_EQ(PngImage::ReadText(*back.FindChunk("tEXt")).first, "Title");
    EXPECT_EQ(back.FileChunkNames, names);
}

}  // namespace
}  // namespace jx
