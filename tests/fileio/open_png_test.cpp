// PNG decoding against the conformance suite's reference decodes.
#include <gtest/gtest.h>

#include "common/test_data.h"
#include "save_test_util.h"
#include "fileio/errors.h"
#include "fileio/open_decoders.h"
#include "pngopt/pngenc/png_image.h"

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

TEST(OpenPng, EveryDamagedSuiteImageFailsWithAMessage) {
    const auto names = test::PngSuiteNames(true);
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        try {
            DecodePngFile(SuiteFile(name));
            ADD_FAILURE() << "decoded a damaged file";
        } catch (const FileIoError& e) {
            EXPECT_GT(std::string(e.what()).size(), 4u);
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
}

}  // namespace
}  // namespace jx
