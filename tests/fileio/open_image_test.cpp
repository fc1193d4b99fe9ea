// OpenImage: dispatch by extension, commit only after a successful decode, the reset of the
// editing state, colour count, undo flags and status texts; clipboard paste.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/test_data.h"
#include "save_test_util.h"
#include "fileio/errors.h"
#include "fileio/open_image.h"
#include "pngenc/png_image.h"

namespace jx {
namespace {

namespace fs = std::filesystem;

class FakeHost : public OpenImageObserver {
public:
    bool toolbar = true;
    bool maskEditing = false;
    int leaves = 0, maskPasted = 0, tabsCleared = 0;
    std::vector<std::string> icons;
    std::vector<std::array<bool, 3>> undo;
    std::array<std::string, 4> status;
    std::vector<std::string> counts;
    bool ToolBarEnabled() override { return toolbar; }
    void LeaveEditingModes() override { ++leaves; }
    void ShowIconDialog(const std::string& f) override { icons.push_back(f); }
    void SaveUndoState(bool i, bool m, bool p) override { undo.push_back({i, m, p}); }
    void StatusText(int32_t panel, const std::string& t) override { status[size_t(panel)] = t; }
    void ShowColorCount(const std::string& t) override { counts.push_back(t); }
    bool MaskEditing() override { return maskEditing; }
    void MaskPasted() override { ++maskPasted; }
    void ClearFileTabs() override { ++tabsCleared; }
    std::vector<std::string> warnings;
    void OpenWarning(const std::string& t) override { warnings.push_back(t); }
};

// A baseline JPEG of w x h pixels of a gradient.
std::vector<uint8_t> JpegBytes(int w, int h) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) row[size_t(x) * 3] = uint8_t(x * 3), row[size_t(x) * 3 + 1] = uint8_t(y * 5), row[size_t(x) * 3 + 2] = uint8_t(x ^ y);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

class OpenImageTest : public test::ScratchDir {
protected:
    std::string Suite(const std::string& name) { return (test::PngSuiteDir() / (name + ".png")).string(); }
    std::string Copy(const std::string& from, const std::string& name) {
        fs::copy_file(from, dir_ / name, fs::copy_options::overwrite_existing);
        return (dir_ / name).string();
    }
    // An RGB PNG of n distinct colours in one row.
    std::string Colors(int n, const std::string& name) {
        PngImage png(uint32_t(n), 1, kPngRgb, 8);
        for (int x = 0; x < n; ++x) {
            png.SetSample(uint32_t(x), 0, 0, uint16_t(x & 255));
            png.SetSample(uint32_t(x), 0, 1, uint16_t(x >> 8));
            png.SetSample(uint32_t(x), 0, 2, 7);
        }
        png.SaveFile(dir_ / name);
        return (dir_ / name).string();
    }

    EngineState state;
    TQuantizerSettings settings;
    FakeHost host;
    TOpenedFile current;
    TOpenTarget target{state, settings, host, current};
};

TEST_F(OpenImageTest, OpensAndReportsTheNewImage) {
    const std::string f = Suite("basn3p04");
    ASSERT_TRUE(OpenImage(target, f));
    EXPECT_EQ(host.leaves, 1);
    EXPECT_TRUE(state.ReconvertPending);
    EXPECT_EQ(state.QualityMask.Count(), 32 * 32);
    EXPECT_EQ(settings.ColorCount, std::to_string(state.UniqueColorCount));
    EXPECT_EQ(current.Size, int64_t(fs::file_size(f)));
    const std::string unique = std::to_string(state.UniqueColorCount);
    EXPECT_EQ(host.status, (std::array<std::string, 4>{"basn3p04.png", "Dimension: 32x32", "Unique colors: " + unique,
                                                       "File size: " + std::to_string(fs::file_size(f)) + " bytes"}));
}

TEST_F(OpenImageTest, DamagedFilesLeaveEverythingAsItWas) {
    ASSERT_TRUE(OpenImage(target, Suite("basn6a08")));
    state.QualityMask[3][4] = 77;
    const TPixelImage source = state.SourceImage, working = state.WorkingImage;
    const TByteImage mask = state.QualityMask;
    const auto palette = state.Palette;
    const auto status = host.status;
    const TOpenedFile before = current;
    for (const std::string& name : test::PngSuiteNames(true))
        EXPECT_THROW(OpenImage(target, Suite(name)), FileIoError) << name;
    EXPECT_EQ(host.leaves, 1);  // the undo store was not cleared
    EXPECT_EQ(host.undo.size(), 1u);
    EXPECT_TRUE(state.SourceImage == source && state.WorkingImage == working && state.QualityMask == mask);
    EXPECT_TRUE(state.Palette == palette);
    EXPECT_EQ(host.status, status);
    EXPECT_EQ(current.Name, before.Name);
}

// Damage a viewer reads past opens the file, and the window is told what was wrong with it.
TEST_F(OpenImageTest, DamageReadPastOpensAndIsReported) {
    PngImage png(4, 4, kPngRgb, 8);
    png.AddText("Title", "x", false);
    std::vector<uint8_t> bytes = png.Encode();
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin("tEXt"), std::end("tEXt") - 1);
    ASSERT_NE(at, bytes.end());
    at[6] ^= 1;  // a text byte: the chunk's CRC no longer matches
    test::WriteBytes(dir_ / "crc.png", bytes);
    ASSERT_TRUE(OpenImage(target, (dir_ / "crc.png").string()));
    EXPECT_EQ(host.warnings, (std::vector<std::string>{"crc.png: chunk tEXt has a bad CRC and was left out"}));
    EXPECT_EQ(host.status[0], "crc.png");
    // A critical chunk with a bad CRC is still refused.
    const auto idat = std::search(bytes.begin(), bytes.end(), std::begin("IDAT"), std::end("IDAT") - 1);
    idat[6] ^= 1;
    test::WriteBytes(dir_ / "idat.png", bytes);
    EXPECT_THROW(OpenImage(target, (dir_ / "idat.png").string()), FileIoError);

    // A JPEG cut to 60 %: the rows it lacks are grey, and the user hears of it; whole, nothing.
    const std::vector<uint8_t> jpeg = JpegBytes(64, 64);
    test::WriteBytes(dir_ / "whole.jpg", jpeg);
    host.warnings.clear();
    ASSERT_TRUE(OpenImage(target, (dir_ / "whole.jpg").string()));
    EXPECT_TRUE(host.warnings.empty());
    test::WriteBytes(dir_ / "cut.jpg", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + long(jpeg.size() * 6 / 10)));
    ASSERT_TRUE(OpenImage(target, (dir_ / "cut.jpg").string()));
    ASSERT_EQ(host.warnings.size(), 1u);
    EXPECT_EQ(host.warnings[0].rfind("cut.jpg: the file is cut short", 0), 0u) << host.warnings[0];
    EXPECT_EQ(state.ImageHeight(), 64);
}

// A header whose size the image data does not fit: the file opens at the header's size, and the
// window hears that the size may be damaged.
TEST_F(OpenImageTest, ASizeTheDataDoesNotFitIsReported) {
    std::vector<uint8_t> png = test::ReadBytes(test::PngSuiteDir() / "basn2c08.png");
    png[23] = 4;  // height 32 -> 4, CRC fixed
    const uLong crc = crc32(0, &png[12], 17);
    for (int i = 0; i < 4; ++i) png[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    test::WriteBytes(dir_ / "short.png", png);
    ASSERT_TRUE(OpenImage(target, (dir_ / "short.png").string()));
    EXPECT_EQ(state.ImageHeight(), 4);
    ASSERT_EQ(host.warnings.size(), 1u);
    EXPECT_EQ(host.warnings[0].rfind("short.png: the image data holds more than the header's size", 0), 0u) << host.warnings[0];

    // An RLE8 bitmap of 8 x 4 whose height was doubled: half of the rows are never reached.
    std::vector<uint8_t> bmp{'B', 'M'};
    for (uint32_t v : {0u, 0u, 62u, 40u, 8u, 8u}) test::Put32(bmp, v);
    test::Put16(bmp, 1);
    test::Put16(bmp, 8);
    for (uint32_t v : {1u, 0u, 0u, 0u, 2u, 0u}) test::Put32(bmp, v);
    bmp.insert(bmp.end(), {0, 0, 0, 0, 0, 0, 255, 0});
    for (int y = 0; y < 4; ++y) bmp.insert(bmp.end(), {8, 1, 0, 0});
    bmp.insert(bmp.end(), {0, 1});
    test::WriteBytes(dir_ / "tall.bmp", bmp);
    host.warnings.clear();
    ASSERT_TRUE(OpenImage(target, (dir_ / "tall.bmp").string()));
    EXPECT_EQ(host.warnings,
              std::vector<std::string>{"tall.bmp: the run-length data reaches only 4 of 8 rows (the height may be damaged)"});
    EXPECT_EQ(host.status[0], "tall.bmp");

    // A Targa file of 2 x 2 whose height was cut to 1: its second row is left unread.
    const std::vector<uint8_t> tga{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0x20,
                                   1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    test::WriteBytes(dir_ / "cut.tga", tga);
    host.warnings.clear();
    ASSERT_TRUE(OpenImage(target, (dir_ / "cut.tga").string()));
    EXPECT_EQ(host.warnings, std::vector<std::string>{"cut.tga: the file holds 6 bytes of pixel data past the 2x1 image "
                                                      "(the width or height may be damaged)"});
    EXPECT_EQ(state.ImageHeight(), 1);
}

TEST_F(OpenImageTest, ExtensionsMatchExactlyInAnyCase) {
    const std::string png = Suite("basn0g08");
    EXPECT_TRUE(OpenImage(target, Copy(png, "UPPER.PNG")));
    EXPECT_EQ(current.Name, "UPPER.PNG");
    for (const char* name : {"a.pngx", "a.pn", "noext", "a.", "a.txt"})
        EXPECT_FALSE(OpenImage(target, Copy(png, name))) << name;
    EXPECT_FALSE(OpenImage(target, (dir_ / "missing.png").string()));
    EXPECT_EQ(host.leaves, 1);
    host.toolbar = false;
    EXPECT_FALSE(OpenImage(target, png));
    host.toolbar = true;
    // Icons go to the frame dialog and leave the image alone.
    const TPixelImage before = state.SourceImage;
    EXPECT_FALSE(OpenImage(target, Copy(png, "x.ICO")));
    ASSERT_EQ(host.icons.size(), 1u);
    EXPECT_TRUE(state.SourceImage == before);
    EXPECT_EQ(host.leaves, 1);
}

TEST_F(OpenImageTest, AlphaBmpKeepsTheShownFileNameAndSize) {
    ASSERT_TRUE(OpenImage(target, Suite("basn2c08")));
    const TOpenedFile before = current;
    ASSERT_TRUE(OpenImage(target, Copy((test::DataDir() / "pngsuite" / "bmp" / "basn6a08.bmp").string(), "Alpha.bmp")));
    EXPECT_EQ(current.Name, before.Name);
    EXPECT_EQ(current.Size, before.Size);
    EXPECT_TRUE(state.HasAlpha);
    EXPECT_EQ(host.status[0], "basn2c08.png");
}

TEST_F(OpenImageTest, ColourCountFollowsTheUniqueColours) {
    ASSERT_TRUE(OpenImage(target, Colors(257, "c257.png")));
    EXPECT_EQ(state.UniqueColorCount, 257);
    EXPECT_EQ(state.PaletteSize, -1);
    EXPECT_EQ(host.counts.back(), "TrueColor");
    EXPECT_EQ(host.undo.back(), (std::array<bool, 3>{true, true, false}));
    ASSERT_TRUE(OpenImage(target, Colors(256, "c256.png")));
    EXPECT_EQ(state.PaletteSize, 256);
    EXPECT_EQ(host.counts.back(), "256");
    EXPECT_EQ(host.undo.back(), (std::array<bool, 3>{true, true, true}));
    // The batch window keeps its chosen colour count; batch mode records no undo state.
    state.BatchQuantize = true;
    settings.ColorCount = "16";
    target.BatchMode = true;
    const size_t undoCount = host.undo.size();
    ASSERT_TRUE(OpenImage(target, Colors(100, "c100.png")));
    EXPECT_EQ(settings.ColorCount, "16");
    EXPECT_EQ(host.undo.size(), undoCount);
}

TEST_F(OpenImageTest, PasteOpensTheClipboardOrFillsTheMask) {
    TClipboardBitmap bmp;
    bmp.Width = 2;
    bmp.Height = 2;
    bmp.Bgr = {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3};
    ASSERT_TRUE(PasteClick(target, bmp, dir_.string()));
    EXPECT_TRUE(fs::exists(dir_ / "Clipboard.bmp"));
    EXPECT_EQ(host.tabsCleared, 1);
    EXPECT_EQ(current.Name, "Clipboard.bmp");
    EXPECT_EQ(state.SourceImage[0][1].R, 60);
    EXPECT_EQ(state.SourceImage[1][0].B, 70);
    EXPECT_EQ(state.SourceImage[1][1].A, 255);
    host.maskEditing = true;
    bmp.Bgr[9] = 99;
    ASSERT_TRUE(PasteClick(target, bmp, dir_.string()));
    EXPECT_EQ(state.QualityMask[1][1], 99);
    EXPECT_EQ(state.QualityMask[0][0], 10);
    EXPECT_EQ(host.maskPasted, 1);
    // A bitmap smaller than the image, or no bitmap, changes nothing.
    TClipboardBitmap small;
    small.Width = 1;
    small.Height = 1;
    small.Bgr = {5, 5, 5};
    EXPECT_FALSE(PasteClick(target, small, dir_.string()));
    EXPECT_FALSE(PasteClick(target, TClipboardBitmap{}, dir_.string()));
    EXPECT_EQ(state.QualityMask[0][0], 10);
}

}  // namespace
}  // namespace jx
