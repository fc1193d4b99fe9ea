// The formats with readers of their own, joined to OpenImage: TGA alpha, PSD un-blending.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/test_data.h"
#include "save_test_util.h"
#include "fileio/open_image.h"
#include "fileio/targa_graphic.h"

namespace jx {
namespace {

namespace fs = std::filesystem;

using OpenFormats = test::ScratchDir;

TEST_F(OpenFormats, TargaKeepsThirtyTwoBitAlpha) {
    TTargaGraphic g;
    g.SetPixelFormat(TPixelFormat::pf32bit);
    g.SetSize(2, 1);
    const uint8_t px[8] = {1, 2, 3, 40, 5, 6, 7, 255};
    std::copy(px, px + 8, g.ScanLine(0));
    g.SaveToFile(Path("a.tga"));
    const TDecodedImage d = DecodeTgaFile(Path("a.tga"));
    EXPECT_TRUE(d.HasAlpha);
    EXPECT_EQ(d.Pixels[0][0].R, 3);
    EXPECT_EQ(d.Pixels[0][0].B, 1);
    EXPECT_EQ(d.Pixels[0][0].A, 40);
    EXPECT_EQ(d.Pixels[0][1].A, 255);

    TTargaGraphic rgb;
    rgb.SetPixelFormat(TPixelFormat::pf24bit);
    rgb.SetSize(1, 1);
    rgb.ScanLine(0)[2] = 200;
    rgb.SaveToFile(Path("b.tga"));
    // Through the whole road, with an upper-case extension of the TGA family.
    fs::rename(Path("b.tga"), Path("b.VST"));
    EngineState state;
    TQuantizerSettings settings;
    OpenImageObserver host;
    TOpenedFile current;
    TOpenTarget target{state, settings, host, current};
    ASSERT_TRUE(OpenImage(target, Path("b.VST")));
    EXPECT_FALSE(state.HasAlpha);
    EXPECT_EQ(state.SourceImage[0][0].R, 200);
    EXPECT_EQ(state.SourceImage[0][0].A, 255);
}

TEST_F(OpenFormats, PsdColoursAreUnblendedFromWhite) {
    // (191 - 255) * 255/128 + 255 = 127.5, which rounds to the even 128.
    EXPECT_EQ(UnblendFromWhite(191, 128), 128);
    EXPECT_EQ(UnblendFromWhite(255, 1), 255);
    EXPECT_EQ(UnblendFromWhite(100, 255), 100);
    EXPECT_EQ(UnblendFromWhite(0, 10), 0);  // inconsistent data is clamped

    // A 2x1 RGB + alpha PSD, raw planes.
    std::vector<uint8_t> b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 2, 0, 8, 0, 3};
    b.insert(b.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // mode data, resources, layers, raw
    b.insert(b.end(), {191, 9, 255, 9, 100, 9, 128, 0});           // R, G, B, A planes
    test::WriteBytes(Path("a.psd"), b);
    const TDecodedImage d = DecodePsdFile(Path("a.psd"));
    ASSERT_EQ(d.Pixels.Width(), 2);
    EXPECT_TRUE(d.HasAlpha);
    EXPECT_EQ(d.Pixels[0][0].A, 128);
    EXPECT_EQ(d.Pixels[0][0].R, 128);
    EXPECT_EQ(d.Pixels[0][0].G, 255);
    EXPECT_EQ(d.Pixels[0][0].B, UnblendFromWhite(100, 128));
    EXPECT_EQ(d.Pixels[0][1].A, 0);
    EXPECT_EQ(d.Pixels[0][1].R, 0);
}

}  // namespace
}  // namespace jx
