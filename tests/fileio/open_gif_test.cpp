// GIF decoding: frames composited on the logical screen, transparency, clipping, bad indices.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/test_data.h"
#include "save_test_util.h"
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

// Written through the streaming calls, so the test owns every buffer it hands to giflib.
void WriteGif(const std::string& path, int sw, int sh, const std::vector<TFrame>& frames,
              int globalSize = 4, int localSize = 0) {
    int error = 0;
    GifFileType* g = EGifOpenFileName(path.c_str(), false, &error);
    ASSERT_NE(g, nullptr);
    std::vector<GifColorType> colors(static_cast<size_t>(std::max(globalSize, localSize)));
    for (size_t i = 0; i < colors.size(); ++i) colors[i] = kColors[i % 4];
    ColorMapObject* global = GifMakeMapObject(globalSize, colors.data());
    ColorMapObject* local = localSize ? GifMakeMapObject(localSize, colors.data()) : nullptr;
    EXPECT_EQ(EGifPutScreenDesc(g, sw, sh, 8, 0, global), GIF_OK);
    for (const TFrame& f : frames) {
        if (f.transparent != NO_TRANSPARENT_COLOR) {
            GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, f.transparent};
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            EXPECT_EQ(EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext), GIF_OK);
        }
        EXPECT_EQ(EGifPutImageDesc(g, f.left, f.top, f.width, f.height, false, local), GIF_OK);
        std::vector<GifByteType> line(f.indices.begin(), f.indices.end());
        EXPECT_EQ(EGifPutLine(g, line.data(), int(line.size())), GIF_OK);
    }
    EXPECT_EQ(EGifCloseFile(g, &error), GIF_OK);
    GifFreeMapObject(global);
    if (local) GifFreeMapObject(local);
}

using OpenGif = test::ScratchDir;

TEST_F(OpenGif, OpaqueFramesPaintInOrderAndAreClipped) {
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

    // Frames outside the screen are clipped.
    WriteGif(p, 2, 2, {{1, 1, 3, 3, std::vector<uint8_t>(9, 2)}, {5, 5, 2, 2, {1, 1, 1, 1}}});
    const TDecodedImage c = DecodeGifFile(p);
    ASSERT_EQ(c.Pixels.Count(), 4);
    EXPECT_EQ(c.Pixels[1][1].G, 255);
    EXPECT_EQ(c.Pixels[0][0].G, 0);
}

// A frame whose size or screen its data does not fit opens as before, with a word that a size
// may be damaged: data for more pixels than the frame, a frame of no area, one outside the screen.
TEST_F(OpenGif, FramesTheirDataOrScreenDoNotFitAreReported) {
    const std::string p = Path("whole.gif");
    std::vector<uint8_t> indices;
    for (int i = 0; i < 32 * 32; ++i) indices.push_back(uint8_t((i / 3 + i / 32) % 4));
    WriteGif(p, 32, 32, {{0, 0, 32, 32, indices}});
    const TDecodedImage whole = DecodeGifFile(p);
    EXPECT_TRUE(whole.Warnings.empty());
    const std::vector<uint8_t> bytes = test::ReadBytes(p);
    ASSERT_EQ(bytes[25], ',');  // the frame's descriptor follows the 4-entry colour table
    struct TCase {
        size_t at;
        uint8_t value;
        int sameRows;
        std::string warning;
    };
    const TCase cases[] = {
        {32, 4, 4, "frame 1 (32x4 at 0,0): its image data holds more pixels than its size (the width or height may be damaged)"},
        {30, 16, 0, "frame 1 (16x32 at 0,0): its image data holds more pixels than its size (the width or height may be damaged)"},
        {30, 0, 0, "frame 1 (0x32 at 0,0) has no area (its width or height may be damaged)"},
        {8, 4, 4, "frame 1 (32x32 at 0,0) lies outside the 32x4 screen (the frame's or the screen's size may be damaged)"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.warning);
        std::vector<uint8_t> damaged = bytes;
        damaged[c.at] = c.value;
        test::WriteBytes(Path("damaged.gif"), damaged);
        const TDecodedImage d = DecodeGifFile(Path("damaged.gif"));
        EXPECT_EQ(d.Warnings, std::vector<std::string>{c.warning});
        for (int y = 0; y < c.sameRows; ++y)
            for (int x = 0; x < 32; ++x) EXPECT_EQ(d.Pixels[y][x].G, whole.Pixels[y][x].G);
        if (c.at == 30 && c.value == 16) {
            EXPECT_EQ(d.Pixels[1][0].B, whole.Pixels[0][16].B);  // sheared as before
        }
    }
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

TEST_F(OpenGif, IndexPastTheColourMapPaintsBlack) {
    // Written with an 8-entry local map, then the local map is cut out so that the indices
    // refer to the 2-entry global map.
    const std::string p = Path("i.gif");
    WriteGif(p, 2, 1, {{0, 0, 2, 1, {1, 6}}}, 2, 8);
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
    // Cut inside the header, the image descriptor and the image data: told as cut short, not
    // as a failing disk.
    for (size_t cut : {size_t(9), size_t(30), b.size() - 4}) {
        test::WriteBytes(p, std::vector<uint8_t>(b.begin(), b.begin() + long(cut)));
        try {
            DecodeGifFile(p);
            ADD_FAILURE() << cut;
        } catch (const FileIoError& e) {
            EXPECT_NE(std::string(e.what()).find("cut short"), std::string::npos) << cut << ": " << e.what();
        }
    }
    test::WriteBytes(p, {'G', 'I', 'F'});
    EXPECT_THROW(DecodeGifFile(p), FileIoError);
    EXPECT_THROW(DecodeGifFile(Path("missing.gif")), FileIoError);
}

}  // namespace
}  // namespace jx
