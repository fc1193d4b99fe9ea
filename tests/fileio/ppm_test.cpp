#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "fake_tools.h"
#include "fileio/ppm_graphic.h"

namespace jx {
namespace {

TPPMGraphic Load(const std::string& file) {
    TPPMGraphic g;
    std::istringstream in(file);
    g.LoadFromStream(in);
    return g;
}

std::string LoadError(const std::string& file) { return test::MessageOf<FileIoError>([&] { Load(file); }); }

std::vector<int> GreyRow(const TPPMGraphic& g, int y = 0) {
    std::vector<int> v;
    for (int x = 0; x < g.Width(); ++x) v.push_back(g.Pixel(x, y).R);
    return v;
}
using V = std::vector<int>;

const char* const kBadHeader = "Cannot load image. Invalid or unexpected PBM, PGM or PPM image format.";
const char* const kBadData = "Cannot load image. Invalid or unexpected PPM image format.";

TEST(PPM, BitmapsAndGreyMaps) {
    // ASCII bitmap: one digit per pixel, 1 is black, the size on the magic line.
    TPPMGraphic g = Load("P1 3 2\n# comment\n101\n0 1 0\n");
    ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf1bit);
    EXPECT_EQ(GreyRow(g, 0), (V{0, 255, 0}));
    EXPECT_EQ(GreyRow(g, 1), (V{255, 0, 255}));
    g = Load(std::string("P4\n10 1\n") + char(0x81) + char(0xFF));
    EXPECT_EQ(GreyRow(g), (V{0, 255, 255, 255, 255, 255, 255, 0, 0, 0}));
    EXPECT_EQ(g.ScanLine(0)[1], 0xC0);  // bits past the width are cleared
    // Grey maps scale by their maximum; samples above 255 are two big-endian bytes.
    g = Load("P2\n#c\n3 1 15\n0 15 7\n");
    ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(GreyRow(g), (V{0, 255, 119}));
    EXPECT_EQ(GreyRow(Load(std::string("P5 2 1 255\n") + char(9) + char(200))), (V{9, 200}));
    g = Load(std::string("P5 2 1 65535\n") + char(0xFF) + char(0xFF) + char(0x80) + char(0x00));
    EXPECT_EQ(GreyRow(g), (V{255, 128}));
}

TEST(PPM, PixelMapsStoreBGR) {
    TPPMGraphic g = Load("P3 2 1 255 1 2 3 4 5 6");
    ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(g.Pixel(0, 0), (TBitmap::TBgra{3, 2, 1, 255}));
    EXPECT_EQ(g.Pixel(1, 0), (TBitmap::TBgra{6, 5, 4, 255}));
    g = Load(std::string("P6\n1 1\n1023\n") + char(0x03) + char(0xFF) + char(0) + char(0) + char(0x02) +
             char(0x00));
    EXPECT_EQ(g.Pixel(0, 0), (TBitmap::TBgra{128, 0, 255, 255}));
    g = Load(std::string("P6 1 1 255\n") + "abc");
    EXPECT_EQ(g.Pixel(0, 0), (TBitmap::TBgra{'c', 'b', 'a', 255}));
}

TEST(PPM, DamagedFiles) {
    EXPECT_EQ(LoadError("Q6 1 1 255\nabc"), kBadHeader);
    EXPECT_EQ(LoadError("P7 1 1 255\nabc"), kBadHeader);
    EXPECT_EQ(LoadError("P6 1 1 0\nabc"), kBadHeader);       // maximum 0
    EXPECT_EQ(LoadError("P6 1 1 65536\nabcdef"), kBadHeader);  // maximum too large
    EXPECT_EQ(LoadError("P6 0 1 255\nabc"), kBadHeader);
    EXPECT_EQ(LoadError("P6 x 1 255\nabc"), kBadHeader);
    EXPECT_EQ(LoadError("P6 99999999999 1 255\n"), kBadHeader);
    EXPECT_EQ(LoadError("P6 1 1"), kBadData);                  // header cut short
    EXPECT_EQ(LoadError("P6 2 1 255\nabc"), kBadData);         // pixels missing
    EXPECT_EQ(LoadError("P5 2 1 1000\nabc"), kBadData);        // 16-bit samples missing
    EXPECT_EQ(LoadError("P4 9 2\nab"), kBadData);
    EXPECT_EQ(LoadError("P1 2 2\n1 0 1"), kBadData);
    EXPECT_EQ(LoadError("P1 2 1\n1 2"), kBadData);
    EXPECT_EQ(LoadError("P3 1 1 255\n1 2 x"), kBadData);
    EXPECT_EQ(LoadError("P5 1000000 1000000 255\n"), kBadData);  // more pixels than the file holds
}

}  // namespace
}  // namespace jx
