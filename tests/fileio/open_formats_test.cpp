// The formats with readers of their own, joined to OpenImage: TGA alpha, PSD un-blending, JPEG.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
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

TEST_F(OpenFormats, JpegIsOpaque) {
    const std::string p = Path("a.JPG");
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = c.image_height = 8;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row;
    for (int i = 0; i < 8; ++i) row.insert(row.end(), {200, 100, 50});
    for (JSAMPROW r = row.data(); c.next_scanline < c.image_height;) jpeg_write_scanlines(&c, &r, 1);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    const TDecodedImage d = DecodeJpegFile(p);
    EXPECT_FALSE(d.HasAlpha);
    ASSERT_EQ(d.Pixels.Count(), 64);
    EXPECT_NEAR(d.Pixels[4][4].R, 200, 6);
    EXPECT_NEAR(d.Pixels[4][4].G, 100, 6);
    EXPECT_NEAR(d.Pixels[4][4].B, 50, 6);
    EXPECT_EQ(d.Pixels[4][4].A, 255);
}

}  // namespace
}  // namespace jx
