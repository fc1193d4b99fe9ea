// Reads that keep no pixels: rows handed out one at a time, and the header with its image data
// size check alone.
#include <gtest/gtest.h>

#include "common/test_data.h"
#include "pngenc_test_util.h"

namespace jx {
namespace {

std::vector<uint8_t> Suite(const std::string& name) { return test::ReadBytes(test::PngSuiteDir() / (name + ".png")); }

class Collect : public PngRowReader {
public:
    void Start(uint32_t width, uint32_t height, bool interlaced) override {
        width_ = width;
        height_ = height;
        interlaced_ = interlaced;
    }
    void Row(uint32_t y, const uint8_t* bgra) override {
        EXPECT_EQ(y, rows_ / 4 / width_) << "rows out of order";
        bgra_.insert(bgra_.end(), bgra, bgra + size_t(width_) * 4);
        rows_ = bgra_.size();
    }
    uint32_t width_ = 0, height_ = 0;
    bool interlaced_ = false;
    size_t rows_ = 0;
    std::vector<uint8_t> bgra_;
};

// The stored samples of a whole decode, turned into 8-bit BGRA by hand.
std::vector<uint8_t> ExpectedBgra(const PngImage& img) {
    std::vector<uint8_t> out;
    const unsigned depth = img.BitDepth();
    auto to8 = [&](uint16_t v) { return uint8_t(depth == 16 ? v >> 8 : v * 255 / ((1u << depth) - 1)); };
    for (uint32_t y = 0; y < img.Height(); ++y)
        for (uint32_t x = 0; x < img.Width(); ++x) {
            uint16_t s[4] = {};
            for (unsigned c = 0; c < img.Channels(); ++c) s[c] = img.Sample(x, y, c);
            uint8_t r, g, b, a = 255;
            if (img.ColorType() == kPngPalette) {
                r = img.Palette[s[0]].R, g = img.Palette[s[0]].G, b = img.Palette[s[0]].B;
                if (s[0] < img.PaletteAlpha.size()) a = img.PaletteAlpha[s[0]];
            } else if (img.ColorType() == kPngGrey || img.ColorType() == kPngGreyAlpha) {
                r = g = b = to8(s[0]);
                if (img.ColorType() == kPngGreyAlpha) a = to8(s[1]);
                else if (img.Key && img.Key->Grey == s[0]) a = 0;
            } else {
                r = to8(s[0]), g = to8(s[1]), b = to8(s[2]);
                if (img.ColorType() == kPngRgba) a = to8(s[3]);
                else if (img.Key && *img.Key == PngKey{0, s[0], s[1], s[2]}) a = 0;
            }
            out.insert(out.end(), {b, g, r, a});
        }
    return out;
}

TEST(PngPartialRead, RowsAreEveryRowAsBgra) {
    for (const char* name : {"basn0g02", "basn0g16", "basn3p04", "tbbn3p08", "tbrn2c08", "basn4a08", "basn6a16"}) {
        const auto file = Suite(name);
        Collect rows;
        PngDecodeOptions options;
        options.Rows = &rows;
        const PngImage header = PngImage::Decode(file, options);
        const PngImage whole = PngImage::Decode(file);
        EXPECT_TRUE(header.Empty()) << name;
        EXPECT_EQ(header.Palette, whole.Palette) << name;
        EXPECT_EQ(rows.width_, whole.Width()) << name;
        EXPECT_EQ(rows.height_, whole.Height()) << name;
        EXPECT_EQ(rows.bgra_, ExpectedBgra(whole)) << name;
    }
}

TEST(PngPartialRead, RowsRefuseInterlaceAndDamageUpToTheImageDataEnd) {
    Collect rows;
    PngDecodeOptions options;
    options.Rows = &rows;
    EXPECT_THROW(PngImage::Decode(Suite("basi0g08"), options), PngError);
    EXPECT_TRUE(rows.interlaced_);
    EXPECT_TRUE(rows.bgra_.empty());

    // Nothing past the image data is read: a lost IEND spoils no row, a damaged IDAT does.
    const auto file = Suite("basn2c08");
    const std::vector<uint8_t> noEnd(file.begin(), file.end() - 12);
    EXPECT_THROW(PngImage::Decode(noEnd), PngError);
    Collect cut;
    options.Rows = &cut;
    PngImage::Decode(noEnd, options);
    EXPECT_EQ(cut.bgra_, ExpectedBgra(PngImage::Decode(file)));
    auto badCrc = file;
    badCrc[badCrc.size() - 13] ^= 1;  // the last byte of the IDAT chunk's CRC
    Collect damaged;
    options.Rows = &damaged;
    EXPECT_THROW(PngImage::Decode(badCrc, options), PngError);
}

TEST(PngPartialRead, HeaderOnlyChecksSizesWithoutTakingPixelMemory) {
    // 100000 x 100000 RGBA: past the storage limit of a whole decode, handed to the caller's check
    // here, then refused because a few bytes of image data cannot hold it.
    PngImage small = test::MakeImage(9, 7, kPngRgba, 8);
    auto file = small.Encode();
    for (int i = 0; i < 4; ++i) file[16 + i] = file[20 + i] = uint8_t(i == 1 ? 0x01 : i == 2 ? 0x86 : i == 3 ? 0xA0 : 0);
    PngDecodeOptions options;
    options.HeaderOnly = true;
    uint32_t seenWidth = 0;
    options.CheckSize = [&](uint32_t w, uint32_t) { seenWidth = w; };
    try {
        PngImage::Decode(file, options);
        ADD_FAILURE() << "a huge header over a few bytes was accepted";
    } catch (const PngError& e) {
        EXPECT_NE(std::string(e.what()).find("truncated"), std::string::npos) << e.what();
    }
    EXPECT_EQ(seenWidth, 100000u);

    // Good sizes pass with nothing kept; CRCs are not this read's to judge, a cut chunk is.
    auto good = small.Encode();
    good[good.size() - 13] ^= 1;
    EXPECT_TRUE(PngImage::Decode(good, options).Empty());
    EXPECT_EQ(seenWidth, 9u);
    EXPECT_THROW(PngImage::Decode(std::vector<uint8_t>(good.begin(), good.begin() + 40), options), PngError);
}

}  // namespace
}  // namespace jx
