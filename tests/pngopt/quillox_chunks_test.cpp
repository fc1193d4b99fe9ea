#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "common/test_data.h"
#include "pngopt/chunks.h"
#include "pngopt/encoder.h"
#include "pngopt/output.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
using test::Opts;

std::vector<uint8_t> Profile(const char* space) {
    std::vector<uint8_t> profile(128, 0);
    std::copy(space, space + 4, profile.begin() + 16);
    uLongf size = compressBound(profile.size());
    std::vector<uint8_t> z(size);
    compress(z.data(), &size, profile.data(), profile.size());
    std::vector<uint8_t> data(3 + size, 0);
    data[0] = 'p';
    std::copy(z.begin(), z.begin() + long(size), data.begin() + 3);
    return data;
}

// A 64 x 64 RGB PNG of four colours with a set of ancillary chunks.
std::vector<uint8_t> SamplePng(bool withProfile = false) {
    PngImage png(64, 64, kPngRgb, 8);
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            png.SetSample(x, y, 0, uint16_t((x * 7 + y) % 5 < 2 ? 200 : 10));
            png.SetSample(x, y, 1, uint16_t((y * 3 + x) % 7 < 3 ? 100 : 20));
            png.SetSample(x, y, 2, 30);
        }
    png.SetGamma(45455);
    png.AddChunk("sBIT", {5, 6, 5});
    if (withProfile) png.AddChunk("iCCP", Profile("RGB "));
    png.AddChunk("bKGD", {0, 10, 0, 20, 0, 30});
    png.AddChunk("pHYs", {0, 0, 11, 19, 0, 0, 11, 19, 1});
    png.AddText("Title", "hello", false);
    png.AddText("Author", "me", false);
    png.AddChunk("tIME", {7, 234, 1, 2, 3, 4, 5});
    return png.Encode();
}

std::vector<std::string> Names(const OutputImage& out) {
    std::vector<std::string> n;
    for (const PngChunk& c : out.chunks) n.push_back(c.Name);
    return n;
}

OutputImage Convert(const std::vector<std::string>& args, const std::vector<uint8_t>& file) {
    WorkImage image = ReadPng(file, ReadSettings{});
    Analyze(image);
    Options o = Opts(args);
    OutputImage out = BuildOutputImage(image, o);
    CopyMetadataChunks(image, out, o);
    return out;
}

TEST(QuilloxChunks, OrdinaryRoadKeepsAndRemovesByList) {
    const std::vector<uint8_t> file = SamplePng();
    OutputImage all = Convert({}, file);
    EXPECT_EQ(all.chunks.size(), 6u);
    EXPECT_TRUE(all.hasGamma);
    OutputImage none = Convert({"/md", "remove", "all"}, file);
    EXPECT_TRUE(none.chunks.empty());
    EXPECT_TRUE(none.hasGamma);  // gAMA follows "/g", not the list
    OutputImage three = Convert({"/md", "keep", "tEXt,bKGD,pHYs"}, file);
    std::vector<std::string> names = Names(three);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bKGD", "pHYs", "tEXt", "tEXt"}));
    OutputImage late = Convert({"/md", "remove", "pHYs,all"}, file);
    EXPECT_TRUE(late.chunks.empty());
    OutputImage z = Convert({"/tz"}, file);
    auto it = std::find_if(z.chunks.begin(), z.chunks.end(), [](const PngChunk& c) { return c.Name == "zTXt"; });
    ASSERT_NE(it, z.chunks.end());
    EXPECT_EQ(PngImage::ReadText(*it), (std::pair<std::string, std::string>{"Title", "hello"}));
    const std::vector<std::string> zNames = Names(z);
    EXPECT_EQ(std::count(zNames.begin(), zNames.end(), std::string("tEXt")), 0);
}

// The sample becomes a 2-bit palette: sBIT, bKGD follow, an RGB profile still fits, and the
// written file is one the decoder accepts.
TEST(QuilloxChunks, ChunksFollowAChangeOfLayout) {
    OutputImage out = Convert({}, SamplePng(true));
    ASSERT_EQ(out.colorType, 3);
    for (const PngChunk& c : out.chunks) {
        if (c.Name == "sBIT") { EXPECT_EQ(c.Data, (std::vector<uint8_t>{5, 6, 5})); }
        if (c.Name == "bKGD") {
            ASSERT_EQ(c.Data.size(), 1u);
            EXPECT_LT(c.Data[0], out.palette.size());
            EXPECT_EQ(out.palette[c.Data[0]].r, 10);
        }
    }
    const std::vector<std::string> names = Names(out);
    EXPECT_EQ(std::count(names.begin(), names.end(), std::string("iCCP")), 1);
    std::vector<uint8_t> bytes = EncodePngJx(out, EncodeSettings{}).bytes;
    PngImage decoded = PngImage::Decode(bytes);
    EXPECT_NE(decoded.FindChunk("bKGD"), nullptr);

    // A grey image: RGB sBIT shrinks to one value, the RGB profile goes, hIST is not kept.
    PngImage grey(8, 8, kPngRgb, 8);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x)
            for (unsigned c = 0; c < 3; ++c) grey.SetSample(x, y, c, uint16_t(x < 4 ? 0 : 255));
    grey.AddChunk("sBIT", {3, 4, 2});
    grey.AddChunk("iCCP", Profile("RGB "));
    grey.AddChunk("bKGD", {0, 255, 0, 255, 0, 255});
    OutputImage g = Convert({}, grey.Encode());
    ASSERT_EQ(g.colorType, 0);
    ASSERT_EQ(g.bitDepth, 1);
    for (const PngChunk& c : g.chunks) {
        EXPECT_NE(c.Name, "iCCP");
        if (c.Name == "sBIT") { EXPECT_EQ(c.Data, (std::vector<uint8_t>{1})); }
        if (c.Name == "bKGD") { EXPECT_EQ(c.Data, (std::vector<uint8_t>{0, 1})); }
    }
    EXPECT_NO_THROW(PngImage::Decode(EncodePngJx(g, EncodeSettings{}).bytes));
}

TEST(QuilloxChunks, HistogramRebuiltForTheNewPalette) {
    PngImage png(4, 4, kPngPalette, 8);
    png.Palette = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) png.SetSample(x, y, 0, uint16_t(x == 0 ? 1 : 2));
    png.AddChunk("hIST", {0, 1, 0, 2, 0, 3});
    OutputImage out = Convert({"/nc"}, png.Encode());
    ASSERT_EQ(out.colorType, 3);
    auto it = std::find_if(out.chunks.begin(), out.chunks.end(), [](const PngChunk& c) { return c.Name == "hIST"; });
    ASSERT_NE(it, out.chunks.end());
    EXPECT_EQ(it->Data.size(), out.palette.size() * 2);
    EXPECT_NO_THROW(PngImage::Decode(EncodePngJx(out, EncodeSettings{}).bytes));
}

TEST(QuilloxChunks, ChunkOnlyCopy) {
    const std::vector<uint8_t> file = SamplePng();
    bool write = false;
    std::vector<uint8_t> noText = CopyChunksOnly(file, Opts({"/nz", "/md", "remove", "text"}), &write);
    ASSERT_TRUE(write);
    std::vector<std::string> names = PngImage::ListChunks(noText);
    std::vector<std::string> expected = PngImage::ListChunks(file);
    expected.erase(std::remove(expected.begin(), expected.end(), std::string("tEXt")), expected.end());
    EXPECT_EQ(names, expected);
    EXPECT_EQ(noText.size(), file.size() - 2 * 12 - (6 + 5) - (7 + 2));

    CopyChunksOnly(file, Opts({"/nz", "/md", "keep", "all"}), &write);
    EXPECT_FALSE(write);
    std::vector<uint8_t> bare = CopyChunksOnly(file, Opts({"/o0"}), &write);
    EXPECT_TRUE(write);
    EXPECT_EQ(PngImage::ListChunks(bare), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    std::vector<uint8_t> late = CopyChunksOnly(file, Opts({"/nz", "/md", "remove", "bKGD,all"}), &write);
    EXPECT_EQ(PngImage::ListChunks(late), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    EXPECT_THROW(CopyChunksOnly({1, 2, 3}, Opts({"/o0"}), &write), InputError);
    std::vector<uint8_t> cut(file.begin(), file.end() - 5);
    EXPECT_THROW(CopyChunksOnly(cut, Opts({"/o0"}), &write), InputError);
}

}  // namespace
}  // namespace jx::quillox
