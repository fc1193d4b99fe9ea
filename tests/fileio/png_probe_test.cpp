#include <gtest/gtest.h>

#include "common/test_data.h"
#include "fileio/errors.h"
#include "fileio/png_probe.h"

using namespace jx;

TEST(PngProbe, DecodesValidFilesAndRefusesDamagedOnes) {
    for (const auto& name : jx::test::PngSuiteNames(false)) {
        auto bytes = jx::test::ReadBytes(jx::test::PngSuiteDir() / (name + ".png"));
        auto image = DecodePngRgba(bytes);
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(image->rgba.size(), std::size_t{image->width} * image->height * 4);
        // Cut short anywhere past the signature, a file is no longer valid.
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2));
        EXPECT_FALSE(DecodePngRgba(cut)) << name;
    }
    for (const auto& name : jx::test::PngSuiteNames(true)) {
        EXPECT_FALSE(DecodePngRgba(jx::test::ReadBytes(jx::test::PngSuiteDir() / (name + ".png")))) << name;
    }
    EXPECT_FALSE(DecodePngRgba({}));
    EXPECT_FALSE(DecodePngFileRgba("/nonexistent.png"));
}

TEST(PngProbe, EncodeRoundTripAndComparison) {
    std::vector<uint8_t> rgba(5 * 3 * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 37);
    auto withAlpha = DecodePngRgba(EncodePngRgba(5, 3, true, rgba));
    ASSERT_TRUE(withAlpha);
    EXPECT_TRUE(withAlpha->hasAlpha);
    EXPECT_EQ(withAlpha->rgba, rgba);

    auto opaque = DecodePngRgba(EncodePngRgba(5, 3, false, rgba));
    ASSERT_TRUE(opaque);
    EXPECT_FALSE(opaque->hasAlpha);
    EXPECT_EQ(opaque->rgba[0], rgba[0]);
    EXPECT_EQ(opaque->rgba[3], 255);
    EXPECT_FALSE(SameImage(*opaque, *withAlpha));

    // Hidden colour under full transparency does not make another image.
    RgbaImage a = *withAlpha, b = *withAlpha;
    a.rgba[3] = b.rgba[3] = 0;
    b.rgba[0] ^= 1;
    EXPECT_TRUE(SameImage(a, b));
    b.rgba[3] = 1;
    EXPECT_FALSE(SameImage(a, b));

    EXPECT_THROW(EncodePngRgba(5, 3, true, std::span<const uint8_t>(rgba).subspan(1)), FileIoError);
    EXPECT_THROW(EncodePngRgba(0, 3, true, {}), FileIoError);
}
