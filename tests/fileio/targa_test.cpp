#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fake_tools.h"
#include "fileio/targa_graphic.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint8_t map_type, uint8_t type, uint16_t map_first, uint16_t map_length,
             uint8_t map_bits, uint16_t w, uint16_t h, uint8_t depth, uint8_t descriptor,
             uint8_t id_length = 0) {
    return {id_length, map_type, type, uint8_t(map_first), uint8_t(map_first >> 8),
            uint8_t(map_length), uint8_t(map_length >> 8), map_bits, 0, 0, 0, 0,
            uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), depth, descriptor};
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void Load(TTargaGraphic& g, const Bytes& file) {
    std::istringstream in(std::string(file.begin(), file.end()));
    g.LoadFromStream(in);
}

std::string LoadError(const Bytes& file) {
    TTargaGraphic g;
    return test::MessageOf<FileIoError>([&] { Load(g, file); });
}

Bytes Save(TTargaGraphic& g) {
    std::ostringstream out;
    g.SaveToStream(out);
    const std::string s = out.str();
    return Bytes(s.begin(), s.end());
}

const char* const kBadTga = "Cannot load image. Invalid or unexpected TGA image format.";

TEST(Targa, RowOrderDepthsAndGrey) {
    TTargaGraphic g;
    Load(g, Cat(Header(0, 2, 0, 0, 0, 1, 2, 24, 0), {1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(g.Pixel(0, 1), (TBitmap::TBgra{1, 2, 3, 255}));
    EXPECT_EQ(g.Pixel(0, 0), (TBitmap::TBgra{4, 5, 6, 255}));
    Load(g, Cat(Header(0, 2, 0, 0, 0, 1, 2, 24, 0x20), {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(g.Pixel(0, 0), (TBitmap::TBgra{1, 2, 3, 255}));
    // Pure red and pure blue as 5-5-5 words, then an ID field skipped before them.
    Load(g, Cat(Header(0, 2, 0, 0, 0, 2, 1, 15, 0x20, 3), {9, 9, 9, 0x00, 0x7C, 0x1F, 0x00}));
    ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf15bit);
    EXPECT_EQ(g.Pixel(0, 0), (TBitmap::TBgra{0, 0, 255, 255}));
    EXPECT_EQ(g.Pixel(1, 0), (TBitmap::TBgra{255, 0, 0, 255}));
    // Grey images take a grey palette.
    Load(g, Cat(Header(0, 3, 0, 0, 0, 2, 1, 8, 0x20), {0, 200}));
    EXPECT_EQ(g.Pixel(1, 0), (TBitmap::TBgra{200, 200, 200, 255}));
}

TEST(Targa, ColourMapHonoursItsFirstEntryAndIsAlwaysConsumed) {
    TTargaGraphic g;
    // Map entries stand for indices 10 and 11.
    Load(g, Cat(Header(1, 1, 10, 2, 24, 2, 1, 8, 0x20), {1, 2, 3, 4, 5, 6, 10, 11}));
    ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(g.Pixel(0, 0), (TBitmap::TBgra{1, 2, 3, 255}));
    EXPECT_EQ(g.Pixel(1, 0), (TBitmap::TBgra{4, 5, 6, 255}));
    // 15-bit map entries.
    Load(g, Cat(Header(1, 1, 0, 1, 16, 1, 1, 8, 0x20), {0xE0, 0x03, 0}));
    EXPECT_EQ(g.Palette().Entries[0], (TPaletteEntry{0, 248, 0, 0}));
    // A true-colour file with a map still finds its pixels after the map.
    Load(g, Cat(Header(1, 2, 0, 2, 32, 1, 1, 24, 0x20), {0, 0, 0, 0, 0, 0, 0, 0, 7, 8, 9}));
    EXPECT_EQ(g.Pixel(0, 0), (TBitmap::TBgra{7, 8, 9, 255}));
}

TEST(Targa, ThirtyTwoBitAlphaAndRunLengthPacketsCrossingRows) {
    TTargaGraphic g;
    Load(g, Cat(Header(0, 2, 0, 0, 0, 2, 1, 32, 0x28), {1, 2, 3, 0, 4, 5, 6, 0}));
    EXPECT_EQ(g.Pixel(0, 0).A, 255);  // all alpha zero: opaque
    EXPECT_EQ(g.Pixel(1, 0).A, 255);
    Load(g, Cat(Header(0, 2, 0, 0, 0, 2, 1, 32, 0x28), {1, 2, 3, 0, 4, 5, 6, 9}));
    EXPECT_EQ(g.Pixel(0, 0).A, 0);
    EXPECT_EQ(g.Pixel(1, 0).A, 9);
    // 3 x 2 grey image: one run of 4 crossing the row end, then a raw packet of 2.
    Load(g, Cat(Header(0, 11, 0, 0, 0, 3, 2, 8, 0x20), {0x83, 50, 0x01, 60, 70}));
    EXPECT_EQ(g.Pixel(2, 0).R, 50);
    EXPECT_EQ(g.Pixel(0, 1).R, 50);
    EXPECT_EQ(g.Pixel(1, 1).R, 60);
    EXPECT_EQ(g.Pixel(2, 1).R, 70);
    // The last packet claims more pixels than the image has: no overrun.
    Load(g, Cat(Header(0, 11, 0, 0, 0, 2, 1, 8, 0x20), {0xFF, 5}));
    EXPECT_EQ(g.Pixel(1, 0).R, 5);
}

// Pixel data past what the header's size holds: the file reads as before, with a word that the
// width or height may be damaged. Padding, and a version 2 file's extension area and footer, are
// no such data.
TEST(Targa, DataPastTheHeadersSizeIsReported) {
    Bytes pixels, packed;
    for (int i = 0; i < 4 * 4 * 3; ++i) pixels.push_back(uint8_t(i * 5));
    for (int r = 0; r < 4; ++r) {
        packed.push_back(0x03);  // a raw packet of the row's 4 pixels
        packed.insert(packed.end(), pixels.begin() + r * 12, pixels.begin() + r * 12 + 12);
    }
    Bytes version2(495, 0);  // extension area, then the footer pointing to it
    version2[0] = 0xEF;
    version2[1] = 0x01;
    const std::string signature = "TRUEVISION-XFILE.";
    for (const auto& [type, data] : {std::pair<uint8_t, Bytes>{2, pixels}, {10, packed}}) {
        SCOPED_TRACE(int(type));
        const Bytes whole = Cat(Header(0, type, 0, 0, 0, 4, 4, 24, 0x20), data);
        Bytes footer(8, 0);
        footer[0] = uint8_t(whole.size());
        footer.insert(footer.end(), signature.begin(), signature.end());
        footer.push_back(0);
        TTargaGraphic reference, g;
        for (const Bytes& sound : {whole, Cat(whole, {0, 0}), Cat(Cat(whole, version2), footer)}) {
            Load(reference, sound);
            EXPECT_TRUE(reference.Warnings.empty());
        }
        Bytes cut = whole;
        cut[14] = 2;  // height 4 -> 2
        Load(g, cut);
        ASSERT_EQ(g.Height(), 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(g.Pixel(x, y), reference.Pixel(x, y));
        EXPECT_EQ(g.Warnings, std::vector<std::string>{
                                  type == 2 ? "the file holds 24 bytes of pixel data past the 4x2 image (the width or height may be damaged)"
                                            : "the run-length data goes on past the last row of the 4x2 image (the width or height may be damaged)"});
        Load(g, whole);
        EXPECT_TRUE(g.Warnings.empty());
    }
}

TEST(Targa, DamagedFilesFailWithTheirMessage) {
    const Bytes pixels{1, 2, 3};
    EXPECT_EQ(LoadError(Cat(Header(0, 2, 0, 0, 0, 1, 1, 24, 0), {1, 2})), "the file is cut short");
    EXPECT_EQ(LoadError({0, 0, 2}), "the file is cut short");
    EXPECT_EQ(LoadError(Cat(Header(0, 4, 0, 0, 0, 1, 1, 24, 0), pixels)), kBadTga);   // image type
    EXPECT_EQ(LoadError(Cat(Header(0, 2, 0, 0, 0, 1, 1, 12, 0), pixels)), kBadTga);   // depth
    EXPECT_EQ(LoadError(Cat(Header(2, 2, 0, 0, 0, 1, 1, 24, 0), pixels)), kBadTga);   // map type
    EXPECT_EQ(LoadError(Cat(Header(1, 1, 0, 1, 20, 1, 1, 8, 0), pixels)), kBadTga);   // map bits
    EXPECT_EQ(LoadError(Cat(Header(0, 1, 0, 0, 0, 1, 1, 8, 0), pixels)), kBadTga);    // no map
    EXPECT_EQ(LoadError(Cat(Header(0, 2, 0, 0, 0, 0, 1, 24, 0), pixels)), kBadTga);   // no width
    EXPECT_EQ(LoadError(Cat(Header(1, 1, 0, 300, 24, 1, 1, 8, 0), pixels)), "the file is cut short");
    EXPECT_EQ(LoadError(Cat(Header(0, 2, 0, 0, 0, 1, 1, 24, 0, 200), pixels)), "the file is cut short");
    // Huge size claimed by a tiny file, raw and run-length.
    EXPECT_EQ(LoadError(Cat(Header(0, 2, 0, 0, 0, 65535, 65535, 32, 0), pixels)), "the file is cut short");
    EXPECT_EQ(LoadError(Cat(Header(0, 10, 0, 0, 0, 65535, 65535, 32, 0), {0xFF, 1, 2, 3, 4})),
              "the file is cut short");
    EXPECT_EQ(LoadError(Cat(Header(0, 10, 0, 0, 0, 2, 1, 24, 0), {0x80, 1, 2, 3})), "the file is cut short");
}

TEST(Targa, WriteThenReadEveryDepthWithAndWithoutRunLength) {
    for (TPixelFormat format : {TPixelFormat::pf1bit, TPixelFormat::pf8bit, TPixelFormat::pf15bit,
                                TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        for (bool rle : {false, true}) {
            TTargaGraphic g;
            g.SetPixelFormat(format);
            g.SetSize(5, 3);
            TPalette palette;
            for (int i = 0; i < 256; ++i)
                palette.Entries.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
            g.SetPalette(palette);
            const int rowBytes = (5 * BitsPerPixel(format) + 7) / 8;
            for (int y = 0; y < 3; ++y)
                for (int i = 0; i < rowBytes; ++i) g.ScanLine(y)[i] = uint8_t(i * 37 + y * 11 + (i == y ? 200 : 0));
            g.Compressed = rle;
            const Bytes file = Save(g);
            ASSERT_GE(file.size(), 18u);
            EXPECT_EQ(file[2], (format <= TPixelFormat::pf8bit ? 1 : 2) + (rle ? 8 : 0));
            EXPECT_EQ(file[17], 0x28);
            TTargaGraphic back;
            Load(back, file);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 5; ++x)
                    ASSERT_EQ(back.Pixel(x, y), g.Pixel(x, y))
                        << int(format) << " rle " << rle << " at " << x << "," << y;
        }
    }
}

TEST(Targa, WriterOutputAndLimits) {
    TTargaGraphic g;
    EXPECT_TRUE(Save(g).empty());
    g.SetPixelFormat(TPixelFormat::pf24bit);
    g.SetSize(2, 1);
    const Bytes file = Save(g);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), Header(0, 2, 0, 0, 0, 2, 1, 24, 0x28));
    EXPECT_EQ(file.size(), 18u + 6u);
    g.SetSize(65536, 1);
    EXPECT_THROW(Save(g), ERangeError);

    // The header check looks without moving the stream; a header alone, or another type, fails it.
    auto check = [&](const Bytes& b) {
        std::istringstream in(std::string(b.begin(), b.end()));
        const bool ok = g.CheckStreamHeader(in);
        EXPECT_EQ(in.tellg(), 0);
        return ok;
    };
    EXPECT_TRUE(check(file));
    EXPECT_FALSE(check(Cat(Header(0, 5, 0, 0, 0, 1, 1, 24, 0), {1, 2, 3})));
    EXPECT_FALSE(check(Header(0, 2, 0, 0, 0, 1, 1, 24, 0)));
}

}  // namespace
}  // namespace jx
