// PNG decoding against the conformance suite's reference decodes.
#include <gtest/gtest.h>

#include "common/test_data.h"
#include "fake_tools.h"
#include "save_test_util.h"
#include "fileio/errors.h"
#include "fileio/open_decoders.h"
#include "pngenc/png_image.h"

#include <filesystem>

namespace jx {
namespace {

using test::PngSuiteDir;

std::string SuiteFile(const std::string& name) { return (PngSuiteDir() / (name + ".png")).string(); }

TEST(OpenPng, EverySuiteImageMatchesItsReferenceDecode) {
    const auto names = test::PngSuiteNames(false);
    ASSERT_GT(names.size(), 150u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const TDecodedImage d = DecodePngFile(SuiteFile(name));
        const std::vector<uint8_t> ref = test::PngSuiteReference8(name);
        ASSERT_EQ(ref.size(), size_t(d.Pixels.Count()) * 4);
        bool translucent = false;
        size_t bad = 0;
        for (int64_t i = 0; i < d.Pixels.Count(); ++i) {
            const TPixelRec& p = d.Pixels.Data()[i];
            const uint8_t* r = &ref[size_t(i) * 4];
            if (p.R != r[0] || p.G != r[1] || p.B != r[2] || p.A != r[3]) ++bad;
            translucent |= r[3] != 255;
        }
        EXPECT_EQ(bad, 0u);
        // Every image with a translucent pixel has alpha; keyed or palette images with tRNS do too.
        if (translucent) {
            EXPECT_TRUE(d.HasAlpha);
        }
    }
}

// Small files written through the encoder layer for the cases the suite does not hold.
class OpenPngMade : public test::ScratchDir {
protected:
    std::string Save(PngImage& png, const std::string& name) {
        png.SaveFile(dir_ / name);
        return (dir_ / name).string();
    }
};

TEST_F(OpenPngMade, OpaqueAlphaChannelIsNoAlpha) {
    PngImage png(2, 1, kPngRgba, 8);
    for (unsigned c = 0; c < 4; ++c) png.SetSample(0, 0, c, 255), png.SetSample(1, 0, c, 255);
    EXPECT_FALSE(DecodePngFile(Save(png, "a.png")).HasAlpha);
}

TEST_F(OpenPngMade, PaletteIndexPastPlteStaysInBounds) {
    PngImage png(3, 1, kPngPalette, 2);
    png.Palette = {{10, 20, 30}, {40, 50, 60}};
    png.PaletteAlpha = {128};
    png.SetSample(0, 0, 0, 0);
    png.SetSample(1, 0, 0, 1);
    png.SetSample(2, 0, 0, 3);
    const std::string f = Save(png, "p.png");
    TDecodedImage d;
    try {
        d = DecodePngFile(f);
    } catch (const FileIoError&) {
        return;  // refusing the file is sound too
    }
    EXPECT_TRUE(d.HasAlpha);
    EXPECT_EQ(d.Pixels[0][0].A, 128);
    EXPECT_EQ(d.Pixels[0][1].R, 40);
    EXPECT_EQ(d.Pixels[0][1].A, 255);
    EXPECT_EQ(d.Pixels[0][2].R, 0);
    EXPECT_EQ(d.Pixels[0][2].A, 255);
    EXPECT_EQ(d.Warnings,
              std::vector<std::string>{"pixels use palette index 3 but the palette holds 2 entries; those pixels show black"});
    png.SetSample(2, 0, 0, 1);
    EXPECT_TRUE(DecodePngFile(Save(png, "q.png")).Warnings.empty());
}

// A file of sound chunks whose image data holds fewer rows than its header promises, or a row
// with an unknown filter type: refused, never an image with made-up rows.
TEST_F(OpenPngMade, ShortOrDamagedImageDataIsRefused) {
    // 64 x 64 rows cycling through every filter type: whole, cut to 10 rows, cut inside the last
    // row, and with filter type 9 in row 20; RGB and RGBA.
    for (uint8_t colorType : {2, 6}) {
        const size_t rowBytes = colorType == 2 ? 193 : 257;
        std::vector<uint8_t> whole(64 * rowBytes, 7);
        for (size_t y = 0; y < 64; ++y) whole[y * rowBytes] = uint8_t(y % 5);
        const std::string f = (dir_ / "p.png").string();
        test::WriteBytes(f, test::PngBytes(64, 64, 8, colorType, whole));
        EXPECT_EQ(DecodePngFile(f).Pixels.Count(), 64 * 64);
        std::vector<uint8_t> bad = whole;
        bad[20 * rowBytes] = 9;
        const std::vector<std::vector<uint8_t>> damaged{{whole.begin(), whole.begin() + long(10 * rowBytes)},
                                                        {whole.begin(), whole.end() - long(rowBytes / 2)}, bad};
        for (const auto& raw : damaged) {
            test::WriteBytes(f, test::PngBytes(64, 64, 8, colorType, raw));
            EXPECT_THROW(DecodePngFile(f), FileIoError) << "colour type " << int(colorType) << ", " << raw.size() << " bytes";
        }
    }
}

}  // namespace
}  // namespace jx
