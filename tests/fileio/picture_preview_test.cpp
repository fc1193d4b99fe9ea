#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <jpeglib.h>

#include "fileio/errors.h"
#include "fileio/icon_file.h"
#include "fileio/file_bytes.h"
#include "fileio/open_decoders.h"
#include "fileio/picture_preview.h"
#include "fileio/png_probe.h"
#include "fileio/tool_bitmaps.h"
#include "common/test_data.h"
#include "save_test_util.h"

namespace jx {
namespace {

using test::Put16;
using test::Put32;

bool HaveTool(const char* name) {
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
        if (std::filesystem::exists(std::string(dir) + name)) return true;
    return false;
}

using PicturePreviewTest = test::ScratchDir;

// A 4096 x 4096 PNG is read as every fourth row and column: the preview stays small and its
// pixels are the file's pixels at those places.
TEST_F(PicturePreviewTest, LargePngDecodesCappedAndKeepsItsPixels) {
    const uint32_t side = 4096;
    std::vector<uint8_t> rgba(size_t(side) * side * 4);
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x) {
            uint8_t* p = &rgba[(size_t(y) * side + x) * 4];
            p[0] = uint8_t(x / 16);
            p[1] = uint8_t(y / 16);
            p[2] = 7;
            p[3] = 255;
        }
    WriteFileBytes(Path("big.png"), EncodePngRgba(side, side, true, rgba));
    const TPreviewImage p = LoadPreview(Path("big.png"));
    EXPECT_EQ(p.FileWidth, 4096);
    EXPECT_EQ(p.FileHeight, 4096);
    ASSERT_EQ(p.Width, 1024);
    ASSERT_EQ(p.Height, 1024);
    for (auto [x, y] : {std::pair{0, 0}, {1023, 5}, {300, 700}}) {
        const uint8_t* q = &p.Bgra[(size_t(y) * 1024 + size_t(x)) * 4];
        EXPECT_EQ(q[2], uint8_t(x * 4 / 16));
        EXPECT_EQ(q[1], uint8_t(y * 4 / 16));
        EXPECT_EQ(q[0], 7);
        EXPECT_EQ(q[3], 255);
    }
}

// Read row by row: an interlaced file has no complete row before its last pass and gets the
// preview's own message; a file cut after its image data still shows its rows.
TEST_F(PicturePreviewTest, LargePngRowByRowLimits) {
    TPreviewLimits limits;
    limits.MaxSide = 8;
    WriteFileBytes(Path("i.png"), test::ReadBytes(test::PngSuiteDir() / "basi0g08.png"));
    try {
        LoadPreview(Path("i.png"), limits);
        ADD_FAILURE() << "interlaced preview decoded";
    } catch (const FileIoError& e) {
        EXPECT_STREQ(e.what(), "an interlaced PNG this large has no preview");
    }
    const auto file = test::ReadBytes(test::PngSuiteDir() / "basn2c08.png");
    WriteFileBytes(Path("a.png"), file);
    WriteFileBytes(Path("cut.png"), std::vector<uint8_t>(file.begin(), file.end() - 12));
    const TPreviewImage whole = LoadPreview(Path("a.png"), limits), cut = LoadPreview(Path("cut.png"), limits);
    EXPECT_EQ(whole.Width, 8);
    EXPECT_EQ(cut.Bgra, whole.Bgra);
}

TEST_F(PicturePreviewTest, HugeHeadersAreRefusedBeforeDecodingAndSizesAreProbed) {
    // A BMP header claiming 40000 x 40000 pixels: refused from the header, nothing decoded.
    std::vector<uint8_t> bmp{'B', 'M'};
    Put32(bmp, 60);
    Put32(bmp, 0);
    Put32(bmp, 54);
    Put32(bmp, 40);
    Put32(bmp, 40000);
    Put32(bmp, 40000);
    Put16(bmp, 1);
    Put16(bmp, 24);
    bmp.resize(60, 0);
    WriteFileBytes(Path("huge.bmp"), bmp);
    int32_t w = 0, h = 0;
    ASSERT_TRUE(ProbePictureSize(Path("huge.bmp"), w, h));
    EXPECT_EQ(w, 40000);
    EXPECT_THROW(LoadPreview(Path("huge.bmp")), FileIoError);
    // Top-down heights: -40000 is 40000 rows; the lowest 32-bit value has no positive counterpart
    // and is refused (its negation overflowed before).
    auto top = bmp;
    for (uint32_t height : {uint32_t(-40000), 0x80000000u}) {
        for (int i = 0; i < 4; ++i) top[22 + size_t(i)] = uint8_t(height >> (8 * i));
        WriteFileBytes(Path("top.bmp"), top);
        const bool known = ProbePictureSize(Path("top.bmp"), w, h);
        EXPECT_EQ(known, height != 0x80000000u) << height;
        if (known) EXPECT_EQ(h, 40000);
        EXPECT_THROW(LoadPreview(Path("top.bmp")), FileIoError);
    }

    std::vector<uint8_t> gif{'G', 'I', 'F', '8', '9', 'a'};
    Put16(gif, 321);
    Put16(gif, 123);
    gif.resize(20, 0);
    WriteFileBytes(Path("a.GIF"), gif);
    ASSERT_TRUE(ProbePictureSize(Path("a.GIF"), w, h));
    EXPECT_EQ(w, 321);
    EXPECT_EQ(h, 123);

    WriteFileBytes(Path("x.dib"), bmp);
    EXPECT_TRUE(LoadPreview(Path("x.dib")).Empty());
    WriteFileBytes(Path("x.txt"), bmp);
    EXPECT_TRUE(LoadPreview(Path("x.txt")).Empty());
}

TEST_F(PicturePreviewTest, JpegAndWebpAreDecodedScaledDown) {
    if (!HaveTool("cjpeg") || !HaveTool("cwebp") || !HaveTool("dwebp")) GTEST_SKIP() << "cjpeg/cwebp/dwebp missing";
    TJPEGBitmap jpeg;
    TWEBPBitmap webp;
    for (auto [b, value, name] : {std::tuple<TBitmap*, int, const char*>{&jpeg, 200, "a.JPG"}, {&webp, 90, "a.webp"}}) {
        b->SetPixelFormat(TPixelFormat::pf24bit);
        b->SetSize(800, 400);
        for (int y = 0; y < 400; ++y) std::memset(b->ScanLine(y), value, size_t(800) * 3);
        b->SaveToFile(Path(name));
    }

    TPreviewLimits limits;
    limits.MaxSide = 100;
    const TPreviewImage j = LoadPreview(Path("a.JPG"), limits);
    EXPECT_EQ(j.FileWidth, 800);
    EXPECT_LE(j.Width, 100);
    EXPECT_EQ(j.Width, 2 * j.Height);
    EXPECT_NEAR(j.Bgra[0], 200, 3);
    const TPreviewImage w = LoadPreview(Path("a.webp"), limits);
    EXPECT_EQ(w.FileWidth, 800);
    EXPECT_EQ(w.FileHeight, 400);
    EXPECT_LE(w.Width, 100);
    EXPECT_NEAR(w.Bgra[1], 90, 3);
    EXPECT_EQ(w.Bgra[3], 255);
}

// A flat CMYK JPEG as Adobe writes it (every channel inverted): C, M, Y, K stored as given.
std::vector<uint8_t> CmykJpeg(uint32_t w, uint32_t h, const uint8_t cmyk[4]) {
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(w) * 4);
    for (size_t x = 0; x < w; ++x) std::memcpy(&row[x * 4], cmyk, 4);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    jpeg_destroy_compress(&c);
    return out;
}

// The editor's reader and the preview (scaled past 1/8) give CMYK files the same colours: each
// stored channel times K.
TEST_F(PicturePreviewTest, CmykJpegIsColouredAlikeByReaderAndPreview) {
    const uint8_t cmyk[4] = {200, 100, 50, 128};
    WriteFileBytes(Path("cmyk.jpg"), CmykJpeg(1700, 900, cmyk));
    const int expected[3] = {50 * 128 / 255, 100 * 128 / 255, 200 * 128 / 255};  // B, G, R

    const TDecodedImage full = DecodeJpegFile(Path("cmyk.jpg"));
    ASSERT_EQ(full.Pixels.Width(), 1700);
    const TPixelRec& p = full.Pixels[450][850];
    EXPECT_NEAR(p.B, expected[0], 2);
    EXPECT_NEAR(p.G, expected[1], 2);
    EXPECT_NEAR(p.R, expected[2], 2);

    TPreviewLimits limits;
    limits.MaxSide = 60;  // 1/8 gives 213 x 113, then every fourth pixel
    const TPreviewImage preview = LoadPreview(Path("cmyk.jpg"), limits);
    EXPECT_EQ(preview.FileWidth, 1700);
    EXPECT_EQ(preview.Width, 54);
    EXPECT_EQ(preview.Height, 29);
    for (size_t i = 0; i < preview.Bgra.size(); i += 4)
        for (int c = 0; c < 3; ++c) ASSERT_NEAR(preview.Bgra[i + size_t(c)], expected[c], 2) << i;
}

// Of a 16x16 32-bit frame and a 32x32 24-bit one, the larger is previewed, its mask as alpha.
TEST(IconPreviewTest, TheLargestFrameIsShownWithItsMaskAsAlpha) {
    std::vector<uint8_t> ico = test::IconFile(1, {{16, 16, 32, test::DibFrame(16, 16, 32, 10)},
                                                  {32, 32, 24, test::DibFrame(32, 32, 24, 50)}});
    const TPreviewImage p = DecodeIconPreview(ico);
    ASSERT_EQ(p.Width, 32);
    ASSERT_EQ(p.Height, 32);
    EXPECT_EQ(p.Bgra[0], uint8_t(96 * 31 * 13 + 50));  // the top row is the last one stored
    EXPECT_EQ(p.Bgra[3], 255);                           // top row: mask bit clear
    EXPECT_EQ(p.Bgra[(31 * 32) * 4 + 3], 0);             // bottom row: mask bit set
    ico[2] = 3;
    EXPECT_THROW(DecodeIconPreview(ico), FileIoError);
}

// The preview takes icon frames as opening does: a 24-bit frame whose header lists a 4-entry
// colour table shows its red pixels, not the table's bytes, and both show the same pixels. A
// file that opening refuses (a frame without a row) has no preview.
TEST_F(PicturePreviewTest, IconFramesPreviewAsTheyOpen) {
    std::vector<uint8_t> dib;
    for (uint32_t v : {40u, 2u, 4u}) Put32(dib, v);
    Put16(dib, 1);
    Put16(dib, 24);
    for (uint32_t v : {0u, 0u, 0u, 0u, 4u, 0u}) Put32(dib, v);
    for (int i = 0; i < 4; ++i) dib.insert(dib.end(), {17, 34, 51, 0});
    for (int row = 0; row < 2; ++row) dib.insert(dib.end(), {0, 0, 255, 0, 0, 255, 0, 0});
    dib.insert(dib.end(), 8, 0);  // mask: all opaque
    const std::vector<uint8_t> ico = test::IconFile(1, {{2, 2, 24, dib}});
    const TPreviewImage p = DecodeIconPreview(ico);
    ASSERT_EQ(p.Width, 2);
    ASSERT_EQ(p.Height, 2);
    for (size_t i = 0; i < p.Bgra.size(); i += 4) {
        EXPECT_EQ(p.Bgra[i], 0) << i;
        EXPECT_EQ(p.Bgra[i + 1], 0) << i;
        EXPECT_EQ(p.Bgra[i + 2], 255) << i;
        EXPECT_EQ(p.Bgra[i + 3], 255) << i;
    }
    WriteFileBytes(Path("table.ico"), ico);
    std::filesystem::create_directory(Path("session"));
    TIconFile icon(Path("session"));
    icon.ReadIconFile(Path("table.ico"));
    const TDecodedImage opened = DecodeBmpFile(icon.Frames()[0].FrameFile);
    ASSERT_EQ(opened.Pixels.Width(), 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) {
            const TPixelRec& o = opened.Pixels[y][x];
            const uint8_t* q = &p.Bgra[size_t(y * 2 + x) * 4];
            EXPECT_EQ(std::vector<int>({o.B, o.G, o.R, o.A}), std::vector<int>({q[0], q[1], q[2], q[3]}));
        }
    EXPECT_EQ(LoadPreview(Path("table.ico")).Bgra, p.Bgra);

    std::vector<uint8_t> rowless = ico;
    rowless[6 + 16 + 8] = 1;  // the stored height
    EXPECT_THROW(DecodeIconPreview(rowless), FileIoError);
}

TEST(RenderPreviewTest, ScalesByWidthOnlyAndComposesOverTheGrid) {
    TPixelRec grid[2];
    grid[0].R = grid[0].G = grid[0].B = 255;
    grid[1].R = grid[1].G = grid[1].B = 0;
    TPreviewImage p;
    p.Width = 10;
    p.Height = 4;
    p.Bgra.assign(40 * 4, 0);
    for (size_t i = 0; i < p.Bgra.size(); i += 4) p.Bgra[i + 2] = 100;  // red 100, alpha 0 everywhere
    // All-clear alpha is taken as none: opaque, at its own size in a wider box.
    TPreviewImage r = RenderPreview(p, 200, 2, grid);
    ASSERT_EQ(r.Width, 10);
    ASSERT_EQ(r.Height, 4);
    EXPECT_EQ(r.Bgra[2], 100);
    EXPECT_EQ(r.Bgra[0], 0);
    // Half alpha over white and black cells.
    for (size_t i = 0; i < p.Bgra.size(); i += 4) p.Bgra[i + 3] = 128;
    r = RenderPreview(p, 200, 2, grid);
    EXPECT_EQ(r.Bgra[2], uint8_t(std::nearbyint(100 * 128 / 255.0 + 127 / 255.0 * 255)));  // cell (0,0) white
    EXPECT_EQ(r.Bgra[2 * 4 + 2], uint8_t(std::nearbyint(100 * 128 / 255.0)));               // cell (1,0) black
    EXPECT_EQ(r.Bgra[3], 255);

    int32_t w = 0, h = 0;
    PreviewScaledSize(400, 3000, 200, w, h);  // tall and narrow: width decides
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 1500);
    TPreviewImage big;
    big.Width = 400;
    big.Height = 100;
    big.Bgra.assign(size_t(400) * 100 * 4, 255);
    r = RenderPreview(big, 200, 8, grid);
    EXPECT_EQ(r.Width, 200);
    EXPECT_EQ(r.Height, 50);
    EXPECT_EQ(r.Bgra[(25 * 200 + 100) * 4], 255);
}

}  // namespace
}  // namespace jx
