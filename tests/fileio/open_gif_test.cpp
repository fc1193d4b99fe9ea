// GIF decoding: frames composited on the logical screen, transparency, clipping, bad indices.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/test_data.h"
#include "fileio/errors.h"
#include "fileio/open_decoders.h"

namespace jx {
namespace {

namespace fs = std::filesystem;

struct TFrame {
    int left, top, width, height;
    std::vector<uint8_t> indices;
    int transparent = NO_TRANSPARENT_COLOR;
};

const GifColorType kColors[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

void WriteGif(const std::string& path, int sw, int sh, const std::vector<TFrame>& frames,
              int mapSize = 4) {
    int error = 0;
    GifFileType* g = EGifOpenFileName(path.c_str(), false, &error);
    ASSERT_NE(g, nullptr);
    g->SWidth = sw;
    g->SHeight = sh;
    g->SColorResolution = 8;
    g->SBackGroundColor = 0;
    std::vector<GifColorType> colors(static_cast<size_t>(mapSize));
    for (int i = 0; i < mapSize; ++i) colors[size_t(i)] = kColors[i % 4];
    g->SColorMap = GifMakeMapObject(mapSize, colors.data());
    for (size_t i = 0; i < frames.size(); ++i) {
        const TFrame& f = frames[i];
        SavedImage* si = GifMakeSavedImage(g, nullptr);
        si->ImageDesc.Left = f.left;
        si->ImageDesc.Top = f.top;
        si->ImageDesc.Width = f.width;
        si->ImageDesc.Height = f.height;
        si->RasterBits = static_cast<GifByteType*>(malloc(f.indices.size()));
        std::memcpy(si->RasterBits, f.indices.data(), f.indices.size());
        if (f.transparent != NO_TRANSPARENT_COLOR) {
            GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, f.transparent};
            EGifGCBToSavedExtension(&gcb, g, int(i));
        }
    }
    ASSERT_EQ(EGifSpew(g), GIF_OK);
}

class OpenGif : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("jx_open_gif_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const std::string& name) { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(OpenGif, OpaqueFramesPaintInOrder) {
    const std::string p = Path("a.gif");
    WriteGif(p, 3, 2, {{0, 0, 3, 2, {1, 1, 1, 1, 1, 1}}, {1, 1, 2, 1, {2, 3}}});
    const TDecodedImage d = DecodeGifFile(p);
    EXPECT_FALSE(d.HasAlpha);
    ASSERT_EQ(d.Pixels.Width(), 3);
    ASSERT_EQ(d.Pixels.Height(), 2);
    EXPECT_EQ(d.Pixels[0][0].R, 255);
    EXPECT_EQ(d.Pixels[1][1].G, 255);
    EXPECT_EQ(d.Pixels[1][2].B, 255);
    for (const TPixelRec& px : d.Pixels.Vector()) EXPECT_EQ(px.A, 255);
}

TEST_F(OpenGif, TransparencyLeavesUnpaintedPixelsClear) {
    const std::string p = Path("t.gif");
    // The first frame covers the left half with a transparent pixel; the second paints over
    // part of it, its own transparent index leaving the first frame's colour visible.
    WriteGif(p, 4, 1, {{0, 0, 2, 1, {0, 1}, 0}, {1, 0, 2, 1, {3, 2}, 3}});
    const TDecodedImage d = DecodeGifFile(p);
    EXPECT_TRUE(d.HasAlpha);
    EXPECT_EQ(d.Pixels[0][0].A, 0);
    EXPECT_EQ(d.Pixels[0][1].A, 255);
    EXPECT_EQ(d.Pixels[0][1].R, 255);
    EXPECT_EQ(d.Pixels[0][2].A, 255);
    EXPECT_EQ(d.Pixels[0][2].G, 255);
    EXPECT_EQ(d.Pixels[0][3].A, 0);
}

TEST_F(OpenGif, FramesOutsideTheScreenAreClipped) {
    const std::string p = Path("c.gif");
    WriteGif(p, 2, 2, {{1, 1, 3, 3, std::vector<uint8_t>(9, 2)}, {5, 5, 2, 2, {1, 1, 1, 1}}});
    const TDecodedImage d = DecodeGifFile(p);
    ASSERT_EQ(d.Pixels.Count(), 4);
    EXPECT_EQ(d.Pixels[1][1].G, 255);
    EXPECT_EQ(d.Pixels[0][0].G, 0);
}

TEST_F(OpenGif, IndexPastTheColourMapPaintsBlack) {
    // Written with an 8-entry local map, then the local map is cut out so that the indices
    // refer to the 2-entry global map.
    int error = 0;
    const std::string p = Path("i.gif");
    {
        GifFileType* g = EGifOpenFileName(p.c_str(), false, &error);
        ASSERT_NE(g, nullptr);
        g->SWidth = 2;
        g->SHeight = 1;
        g->SColorResolution = 8;
        GifColorType two[2] = {{0, 0, 0}, {255, 0, 0}};
        g->SColorMap = GifMakeMapObject(2, two);
        SavedImage* si = GifMakeSavedImage(g, nullptr);
        si->ImageDesc = {0, 0, 2, 1, false, nullptr};
        GifColorType eight[8] = {};
        si->ImageDesc.ColorMap = GifMakeMapObject(8, eight);
        si->RasterBits = static_cast<GifByteType*>(malloc(2));
        si->RasterBits[0] = 1;
        si->RasterBits[1] = 6;
        ASSERT_EQ(EGifSpew(g), GIF_OK);
    }
    std::vector<uint8_t> b = test::ReadBytes(p);
    const size_t desc = 13 + 6;  // header, screen, 2-entry global map
    ASSERT_EQ(b[desc], 0x2C);
    ASSERT_EQ(b[desc + 9] & 0x87, 0x82);
    b[desc + 9] = 0;
    b.erase(b.begin() + desc + 10, b.begin() + desc + 10 + 24);
    test::WriteBytes(p, b);
    const TDecodedImage d = DecodeGifFile(p);
    EXPECT_EQ(d.Pixels[0][0].R, 255);
    EXPECT_EQ(d.Pixels[0][1].R, 0);
    EXPECT_EQ(d.Pixels[0][1].A, 255);
}

TEST_F(OpenGif, DamagedFilesFailWithAMessage) {
    const std::string p = Path("d.gif");
    WriteGif(p, 8, 8, {{0, 0, 8, 8, std::vector<uint8_t>(64, 1)}});
    std::vector<uint8_t> b = test::ReadBytes(p);
    test::WriteBytes(p, std::vector<uint8_t>(b.begin(), b.begin() + 30));
    EXPECT_THROW(DecodeGifFile(p), FileIoError);
    test::WriteBytes(p, {'G', 'I', 'F'});
    EXPECT_THROW(DecodeGifFile(p), FileIoError);
    EXPECT_THROW(DecodeGifFile(Path("missing.gif")), FileIoError);
}

}  // namespace
}  // namespace jx
