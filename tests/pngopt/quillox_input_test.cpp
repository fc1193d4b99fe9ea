#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

#include "common/memory_limit.h"
#include "common/test_data.h"
#include "pngopt/encoder.h"
#include "pngopt/image.h"
#include "pngenc/png_image.h"

namespace jx::quillox {
namespace {

const ReadSettings kRaw{GammaMode::Keep, false};

template <size_t N>
std::vector<uint8_t> Bytes(const char (&text)[N]) { return {text, text + N - 1}; }

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A bottom-up 32-bit BI_RGB bitmap of BGRA quads.
std::vector<uint8_t> Bmp32(uint32_t w, uint32_t h, const std::vector<uint8_t>& bgra) {
    std::vector<uint8_t> b(54 + bgra.size(), 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<uint32_t>(b.size()));
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, w);
    Put32(b, 22, h);
    b[26] = 1;
    b[28] = 32;
    std::memcpy(&b[54], bgra.data(), bgra.size());
    return b;
}

TEST(QuilloxInput, ConformanceImagesDecodeToReference) {
    for (const std::string& name : test::PngSuiteNames(false)) {
        SCOPED_TRACE(name);
        WorkImage image = ReadPng(test::ReadBytes(test::PngSuiteDir() / (name + ".png")), kRaw);
        std::vector<uint16_t> ref = test::PngSuiteReference16(name);
        ASSERT_EQ(ref.size(), image.rgba.size());
        for (size_t i = 0; i < ref.size(); ++i) {
            uint32_t got = image.sampleDepth == 16 ? image.rgba[i] : (image.rgba[i] >> 8) * 257u;
            if (got != ref[i]) {
                ADD_FAILURE() << "sample " << i << " is " << got << ", expected " << ref[i];
                break;
            }
        }
    }
}

TEST(QuilloxInput, DamagedImagesAreRefused) {
    for (const std::string& name : test::PngSuiteNames(true)) {
        SCOPED_TRACE(name);
        EXPECT_THROW(ReadPng(test::ReadBytes(test::PngSuiteDir() / (name + ".png")), kRaw), InputError);
    }
    auto good = test::ReadBytes(test::PngSuiteDir() / "basn0g08.png");
    for (size_t cut : {size_t(20), good.size() / 2, good.size() - 13}) {
        std::vector<uint8_t> truncated(good.begin(), good.begin() + cut);
        EXPECT_THROW(ReadPng(truncated, kRaw), InputError) << cut;
    }
    // A chunk length past the end is caught by the walker before any use.
    std::vector<uint8_t> huge = good;
    huge[33] = huge[34] = huge[35] = 0x7F;
    EXPECT_THROW(ReadPng(huge, kRaw), InputError);
}

TEST(QuilloxInput, ConformanceBitmapsMatchTheirPngs) {
    const auto dir = test::DataDir() / "pngsuite" / "bmp";
    int checked = 0;
    for (const std::string& name : test::PngSuiteNames(false)) {
        if (!std::filesystem::exists(dir / (name + ".bmp"))) continue;
        SCOPED_TRACE(name);
        WorkImage image = ReadBmp(test::ReadBytes(dir / (name + ".bmp")), kRaw);
        std::vector<uint8_t> ref = test::PngSuiteReference8(name);
        ASSERT_EQ(ref.size(), image.rgba.size());
        // The bitmaps of 16-bit images were rounded to 8 bits, not cut.
        const int slack = name.ends_with("16") ? 1 : 0;
        size_t bad = 0;
        for (size_t i = 0; i < ref.size(); i += 4) {
            if (ref[i + 3] == 0 && image.rgba[i + 3] == 0) continue;  // colour of hidden pixels is free
            for (int c = 0; c < 4; ++c) bad += std::abs((image.rgba[i + c] >> 8) - ref[i + c]) > slack;
        }
        EXPECT_EQ(bad, 0u);
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

// Input whose header the data does not fit: converted at the header's size, with a word for the
// report; run-length data that cannot belong to its header is refused.
TEST(QuilloxInput, SizesTheDataDoesNotFitAreReported) {
    std::vector<uint8_t> png = test::ReadBytes(test::PngSuiteDir() / "basn2c08.png");
    png[23] = 4;  // height 32 -> 4, CRC fixed
    const uLong crc = crc32(0, &png[12], 17);
    for (int i = 0; i < 4; ++i) png[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    const WorkImage shortPng = ReadPng(png, kRaw);
    EXPECT_EQ(shortPng.height, 4u);
    ASSERT_EQ(shortPng.warnings.size(), 1u);
    EXPECT_EQ(shortPng.warnings[0].rfind("the image data holds more than the header's size", 0), 0u) << shortPng.warnings[0];
    EXPECT_TRUE(ReadPng(test::ReadBytes(test::PngSuiteDir() / "basn2c08.png"), kRaw).warnings.empty());

    // RLE8, 8 x 4, each row a run of 8 and an end of line: whole, twice as wide, half as wide.
    std::vector<uint8_t> bmp{'B', 'M'};
    for (uint32_t v : {0u, 0u, 62u, 40u, 8u, 4u}) test::Put32(bmp, v);
    test::Put16(bmp, 1);
    test::Put16(bmp, 8);
    for (uint32_t v : {1u, 0u, 0u, 0u, 2u, 0u}) test::Put32(bmp, v);
    bmp.insert(bmp.end(), {0, 0, 0, 0, 0, 0, 255, 0});
    for (int y = 0; y < 4; ++y) bmp.insert(bmp.end(), {8, 1, 0, 0});
    bmp.insert(bmp.end(), {0, 1});
    EXPECT_TRUE(ReadBmp(bmp, kRaw).warnings.empty());
    auto wide = bmp;
    Put32(wide, 18, 16);
    EXPECT_EQ(ReadBmp(wide, kRaw).warnings,
              std::vector<std::string>{"every row of the run-length data ends at column 8 of 16 (the width may be damaged)"});
    auto narrow = bmp;
    Put32(narrow, 18, 4);
    EXPECT_THROW(ReadBmp(narrow, kRaw), InputError);
}

TEST(QuilloxInput, BitmapAlphaRules) {
    // Fourth bytes all zero: padding, the bitmap is opaque.
    WorkImage opaque = ReadBmp(Bmp32(2, 1, {10, 20, 30, 0, 40, 50, 60, 0}), kRaw);
    EXPECT_EQ(opaque.Pixel(0, 0)[0], 30 << 8);
    EXPECT_EQ(opaque.Pixel(0, 0)[3], 0xFF00);
    EXPECT_EQ(opaque.Pixel(1, 0)[3], 0xFF00);
    // Real alpha, with cleaning: transparent pixels become all zero.
    WorkImage alpha = ReadBmp(Bmp32(2, 1, {10, 20, 30, 0, 40, 50, 60, 128}), ReadSettings{GammaMode::Keep, true});
    EXPECT_EQ(alpha.Pixel(0, 0)[0], 0);
    EXPECT_EQ(alpha.Pixel(0, 0)[3], 0);
    EXPECT_EQ(alpha.Pixel(1, 0)[3], 128 << 8);
    EXPECT_EQ(alpha.Pixel(1, 0)[2], 40 << 8);

    auto bmp = Bmp32(2, 2, std::vector<uint8_t>(16, 1));
    bmp.resize(bmp.size() - 1);
    EXPECT_THROW(ReadBmp(bmp, kRaw), InputError);
    auto wide = Bmp32(2, 2, std::vector<uint8_t>(16, 1));
    Put32(wide, 18, 0x40000000);
    EXPECT_THROW(ReadBmp(wide, kRaw), InputError);
    EXPECT_THROW(ReadBmp(Bytes("BM"), kRaw), InputError);
}

TEST(QuilloxInput, PpmHeaderAndSamples) {
    WorkImage rgb = ReadPpm(Bytes("P6\n# made by hand\n2 1\t255\n\x01\x02\x03\xff\x80\x00"), kRaw);
    EXPECT_EQ(rgb.Pixel(1, 0)[0], 0xFF00);
    EXPECT_EQ(rgb.Pixel(1, 0)[1], 0x8000);
    EXPECT_EQ(rgb.Pixel(0, 0)[3], 0xFF00);

    WorkImage scaled = ReadPpm(Bytes("P6 1 1 15 \x0f\x00\x05"), kRaw);
    EXPECT_EQ(scaled.Pixel(0, 0)[0], 0xFF00);
    EXPECT_EQ(scaled.Pixel(0, 0)[2], 85 << 8);
    WorkImage w = ReadPpm(Bytes("P6 1 1 1000\n\x03\xe8\x01\xf4\x00\x00"), kRaw);
    EXPECT_EQ(w.sampleDepth, 16);
    EXPECT_EQ(w.Pixel(0, 0)[0], 0xFFFF);
    EXPECT_EQ(w.Pixel(0, 0)[1], 32768);
    EXPECT_EQ(w.Pixel(0, 0)[3], 0xFFFF);

    // Data past the image: a closing line feed is none; a row more, or a second image, is.
    const std::vector<uint8_t> two = Bytes("P6\n2 1\n255\n\x01\x02\x03\xff\x80\x00");
    auto joined = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    EXPECT_TRUE(ReadPpm(two, kRaw).warnings.empty());
    EXPECT_TRUE(ReadPpm(joined(two, {'\n'}), kRaw).warnings.empty());
    const WorkImage cut = ReadPpm(Bytes("P6\n1 1\n255\n\x01\x02\x03\xff\x80\x00"), kRaw);
    EXPECT_EQ(cut.warnings, std::vector<std::string>{"holds more data than one 1x1 image; only the first is read"});
    EXPECT_EQ(cut.Pixel(0, 0)[2], 0x0300);
    EXPECT_EQ(ReadPpm(joined(two, two), kRaw).warnings,
              std::vector<std::string>{"holds more data than one 2x1 image; only the first is read"});

    EXPECT_THROW(ReadPpm(Bytes("P3\n1 1\n255\n1 2 3\n"), kRaw), InputError);
    EXPECT_THROW(ReadPpm(Bytes("P6\n2 2\n255\n\x01\x02"), kRaw), InputError);
    EXPECT_THROW(ReadPpm(Bytes("P6\n-2 2\n255\n"), kRaw), InputError);
    EXPECT_THROW(ReadPpm(Bytes("P6\n99999999 99999999\n255\n"), kRaw), InputError);
    EXPECT_THROW(ReadPpm(Bytes("P6 1 1 10 \x0b\x00\x00"), kRaw), InputError);
}

TEST(QuilloxInput, PaletteInputIsNeverCleaned) {
    // The transparent entry keeps its colour, so a kept palette is written as it was.
    WorkImage trns = ReadPng(test::ReadBytes(test::PngSuiteDir() / "tbbn3p08.png"), ReadSettings{GammaMode::Keep, true});
    bool coloured = false;
    for (size_t i = 0; i < trns.rgba.size(); i += 4)
        if (trns.rgba[i + 3] == 0 && (trns.rgba[i] | trns.rgba[i + 1] | trns.rgba[i + 2])) coloured = true;
    EXPECT_TRUE(coloured);
}

TEST(QuilloxInput, PaletteIndexAndShortTrns) {
    OutputImage out;
    out.width = 4;
    out.height = 1;
    out.colorType = kPngPalette;
    out.bitDepth = 2;
    out.palette = {{1, 2, 3, 0}, {4, 5, 6, 255}, {7, 8, 9, 255}};
    out.rowBytes = 1;
    out.rows = {0x06};  // indices 0, 0, 1, 2
    WorkImage ok = ReadPng(EncodePngJx(out, EncodeSettings{}).bytes, kRaw);
    EXPECT_EQ(ok.Pixel(0, 0)[3], 0);
    EXPECT_EQ(ok.Pixel(0, 0)[2], 3 << 8);
    EXPECT_EQ(ok.Pixel(3, 0)[3], 0xFF00);  // past the tRNS entries: opaque
    EXPECT_EQ(ok.Pixel(3, 0)[0], 7 << 8);
    out.rows = {0x07};  // index 3 with three palette entries
    EXPECT_THROW(ReadPng(EncodePngJx(out, EncodeSettings{}).bytes, kRaw), InputError);
}

// Whether an image fits in memory is judged from the header, before anything is decoded.
TEST(QuilloxMemory, EstimateGrowsWithThreadsAndIsRefusedPastWhatIsAvailable) {
    EXPECT_LT(WorkingMemory(1000, 1000, 1), WorkingMemory(1000, 1000, 8));
    EXPECT_NO_THROW(CheckWorkingMemory(1000, 1000, 8, uint64_t(1) << 30));
    EXPECT_NO_THROW(CheckWorkingMemory(16384, 16384, 8, 0));  // nothing known: not refused
    try {
        CheckWorkingMemory(16384, 16384, 8, uint64_t(2) << 30);
        ADD_FAILURE() << "not refused";
    } catch (const InputError& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("16384x16384"), std::string::npos) << m;
        EXPECT_NE(m.find("2048 MB available"), std::string::npos) << m;
    }
}

TEST(QuilloxMemory, LargeValidPngIsRefusedBeforeDecodingUnderALimit) {
    if (!test::kCanLimitMemory) GTEST_SKIP() << "no memory limit under the address sanitizer";
    // 16384 x 16384 one-bit grey: a small file, 2 GB of working image.
    PngImage png(16384, 16384, kPngGrey, 1);
    png.CompressionLevel = 1;
    const std::vector<uint8_t> bytes = png.Encode();
    ASSERT_LT(bytes.size(), 1u << 20);
    const int result = test::RunWithMemoryLimit(96u << 20, [&] {
        try {
            ReadPng(bytes, ReadSettings{GammaMode::Keep, true, 4});
            return 1;
        } catch (const InputError& e) {
            return std::string(e.what()).find("Not enough memory for a 16384x16384 image") == 0 ? 0 : 3;
        }
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace jx::quillox
