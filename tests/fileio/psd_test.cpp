#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "fake_tools.h"
#include "fileio/psd_graphic.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, unsigned v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v >> 16);
    Put16(b, v & 0xFFFF);
}

// The header fields and image data of a PSD file as Build lays them out.
struct TPsdLayout {
    unsigned channels = 3, width = 2, height = 1, depth = 8, mode = 3;
    Bytes mode_data;
    unsigned compression = 0;
    // Raw: the planes; PackBits: the row-length table values and the packed bytes.
    Bytes data;
    std::vector<unsigned> row_lengths;
    const char* signature = "8BPS";
    unsigned version = 1;
};

Bytes Build(const TPsdLayout& s) {
    Bytes b(s.signature, s.signature + 4);
    Put16(b, s.version);
    b.insert(b.end(), 6, 0);
    Put16(b, s.channels);
    Put32(b, s.height);
    Put32(b, s.width);
    Put16(b, s.depth);
    Put16(b, s.mode);
    Put32(b, uint32_t(s.mode_data.size()));
    b.insert(b.end(), s.mode_data.begin(), s.mode_data.end());
    Put32(b, 4);  // image resources
    b.insert(b.end(), {1, 2, 3, 4});
    Put32(b, 0);  // layers
    Put16(b, s.compression);
    for (unsigned n : s.row_lengths) Put16(b, n);
    b.insert(b.end(), s.data.begin(), s.data.end());
    return b;
}

TPSDGraphic Load(const Bytes& file) {
    TPSDGraphic g;
    std::istringstream in(std::string(file.begin(), file.end()));
    g.LoadFromStream(in);
    return g;
}

std::string LoadError(const Bytes& file) { return test::MessageOf<FileIoError>([&] { Load(file); }); }

const char* const kBadPsd = "Cannot load image. Invalid or unexpected PSD or PDD image format.";

using C = TBitmap::TBgra;
C PixelOf(const TPsdLayout& s, int x, int y = 0) { return Load(Build(s)).Pixel(x, y); }

TEST(PSD, RawRGBAndRGBA) {
    TPsdLayout s;
    s.data = {10, 11, 20, 21, 30, 31};  // red plane, green plane, blue plane
    const TPSDGraphic g = Load(Build(s));
    ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(g.Pixel(0, 0), (C{30, 20, 10, 255}));
    EXPECT_EQ(g.Pixel(1, 0), (C{31, 21, 11, 255}));
    s.channels = 4;
    s.data = {10, 11, 20, 21, 30, 31, 40, 41};
    EXPECT_EQ(PixelOf(s, 1), (C{31, 21, 11, 41}));
    s.channels = 6;  // the extra channels are ignored
    s.data.insert(s.data.end(), {0, 0, 0, 0});
    EXPECT_EQ(PixelOf(s, 1), (C{31, 21, 11, 41}));
}

TEST(PSD, PackBitsRGBSixteenBit) {
    TPsdLayout s;
    s.depth = 16;
    s.compression = 1;
    // Each row of 4 bytes: red = 0xFFFF 0x0000; green = repeat 0x80 x4; blue = literal.
    s.row_lengths = {5, 2, 5};
    s.data = {0x03, 0xFF, 0xFF, 0x00, 0x00, 0xFD, 0x80, 0x03, 0x12, 0x34, 0x00, 0x00};
    EXPECT_EQ(PixelOf(s, 0), (C{0x12, 0x80, 0xFF, 255}));
    EXPECT_EQ(PixelOf(s, 1), (C{0x00, 0x80, 0x00, 255}));
}

// Rows the header's size does not fit: the file reads as before, with a word that the width or
// height may be damaged.
TEST(PSD, RowsTheHeaderDoesNotFitAreReported) {
    TPsdLayout raw;
    raw.height = 2;
    raw.data = {10, 11, 12, 13, 20, 21, 22, 23, 30, 31, 32, 33};  // 2 x 2, three planes
    EXPECT_TRUE(Load(Build(raw)).Warnings.empty());
    raw.channels = 5;  // RGBA and a fifth plane, which is no data past the image
    raw.data.insert(raw.data.end(), {40, 41, 42, 43, 1, 2, 3, 4});
    EXPECT_TRUE(Load(Build(raw)).Warnings.empty());
    raw.height = 1;
    const TPSDGraphic cut = Load(Build(raw));
    EXPECT_EQ(cut.Pixel(1, 0), (C{21, 13, 11, 23}));
    EXPECT_EQ(cut.Warnings, std::vector<std::string>{
                                "the file holds 10 bytes past the last row of the 2x1 image (the height may be damaged)"});

    TPsdLayout packed;
    packed.compression = 1;
    packed.row_lengths = {3, 3, 3};
    packed.data = {0x01, 10, 11, 0x01, 20, 21, 0x01, 30, 31};
    EXPECT_TRUE(Load(Build(packed)).Warnings.empty());
    packed.width = 3;  // rows of 2 bytes under a width of 3: padded as before
    const TPSDGraphic wide = Load(Build(packed));
    EXPECT_EQ(wide.Pixel(1, 0), (C{31, 21, 11, 255}));
    EXPECT_EQ(wide.Pixel(2, 0), (C{0, 0, 0, 255}));
    EXPECT_EQ(wide.Warnings, std::vector<std::string>{"3 of 3 run-length rows do not unpack to the 3 bytes of a 3x1 "
                                                      "image's row (the width or height may be damaged)"});
    packed.width = 1;
    EXPECT_EQ(Load(Build(packed)).Warnings.size(), 1u);
}

TEST(PSD, GreyBitmapIndexedCMYKAndLab) {
    TPsdLayout grey;  // grey with alpha
    grey.mode = 1;
    grey.channels = 2;
    grey.data = {0, 200, 255, 7};
    EXPECT_EQ(PixelOf(grey, 1), (C{200, 200, 200, 7}));
    grey.channels = 1;  // 16-bit grey, PackBits
    grey.depth = 16;
    grey.compression = 1;
    grey.row_lengths = {5};
    grey.data = {0x03, 0xFF, 0xFF, 0x40, 0x00};
    EXPECT_EQ(PixelOf(grey, 1).R, 63);

    // Bitmap mode: 10 pixels need 2 bytes a row, 1 is black.
    TPsdLayout b;
    b.mode = 0, b.channels = 1, b.depth = 1, b.width = 10, b.height = 2;
    b.data = {0x80, 0x40, 0x00, 0xFF};
    const TPSDGraphic g = Load(Build(b));
    ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(std::vector<int>({g.Pixel(0, 0).R, g.Pixel(1, 0).R, g.Pixel(9, 0).R, g.Pixel(0, 1).R}),
              std::vector<int>({0, 255, 0, 255}));

    TPsdLayout ix;
    ix.mode = 2, ix.channels = 1;
    ix.mode_data.assign(768, 0);
    ix.mode_data[5] = 50, ix.mode_data[256 + 5] = 60, ix.mode_data[512 + 5] = 70;
    ix.data = {5, 0};
    EXPECT_EQ(PixelOf(ix, 0), (C{70, 60, 50, 255}));
    ix.mode_data.resize(700);
    EXPECT_EQ(LoadError(Build(ix)), kBadPsd);

    TPsdLayout cmyk;  // stored inverted: 255 means no ink
    cmyk.mode = 4, cmyk.channels = 4, cmyk.width = 1;
    cmyk.data = {255, 255, 255, 0};
    EXPECT_EQ(PixelOf(cmyk, 0), (C{0, 0, 0, 255}));
    cmyk.channels = 3;
    EXPECT_EQ(LoadError(Build(cmyk)), kBadPsd);  // too few channels for CMYK

    TPsdLayout lab;
    lab.mode = 9, lab.width = 1, lab.depth = 16;
    lab.data = {0xFF, 0xFF, 0x80, 0x00, 0x80, 0x00};
    EXPECT_EQ(PixelOf(lab, 0), (C{255, 255, 255, 255}));
}

TEST(PSD, DamagedFiles) {
    const std::string kRead = "the file is cut short";
    const std::vector<std::pair<std::function<void(TPsdLayout&)>, std::string>> cases{
        {[](TPsdLayout& t) { t.signature = "8BPX"; }, kBadPsd},
        {[](TPsdLayout& t) { t.version = 2; }, kBadPsd},
        {[](TPsdLayout& t) { t.depth = 32; }, kBadPsd},
        {[](TPsdLayout& t) { t.depth = 1; }, kBadPsd},
        {[](TPsdLayout& t) { t.mode = 5; }, kBadPsd},
        {[](TPsdLayout& t) { t.channels = 2; }, kBadPsd},
        {[](TPsdLayout& t) { t.channels = 0; }, kBadPsd},
        {[](TPsdLayout& t) { t.width = 0; }, kBadPsd},
        {[](TPsdLayout& t) { t.compression = 2; }, kBadPsd},
        {[](TPsdLayout& t) { t.data.pop_back(); }, kRead},
        {[](TPsdLayout& t) { t.height = 0x7FFFFFFF; }, kBadPsd},
        {[](TPsdLayout& t) { t.width = 100000, t.height = 100000; }, kBadPsd},
        // PackBits: a short row table, packed data shorter than the table says, rows short of their width.
        {[](TPsdLayout& t) { t.compression = 1, t.data.clear(), t.row_lengths = {2}; }, kRead},
        {[](TPsdLayout& t) { t.compression = 1, t.row_lengths = {2, 2, 200}, t.data = {0xFF, 1, 0xFF, 2, 0x01, 3}; }, kRead},
        {[](TPsdLayout& t) { t.compression = 1, t.width = 1000, t.row_lengths = {2, 2, 2}, t.data = {0x81, 1, 0x81, 2, 0x81, 3}; },
         kBadPsd},
    };
    TPsdLayout s;
    s.data = {10, 11, 20, 21, 30, 31};
    for (size_t i = 0; i < cases.size(); ++i) {
        TPsdLayout t = s;
        cases[i].first(t);
        EXPECT_EQ(LoadError(Build(t)), cases[i].second) << i;
    }
    // A section length past the end of the file, and a file cut short.
    Bytes file = Build(s);
    file[26] = 0x7F;
    EXPECT_EQ(LoadError(file), kRead);
    EXPECT_EQ(LoadError(Bytes(file.begin(), file.begin() + 10)), kRead);
}

}  // namespace
}  // namespace jx
