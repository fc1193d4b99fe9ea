#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "fake_tools.h"
#include "fileio/graphic_color.h"

namespace jx {
namespace {

void Convert(TColorManager& cm, const std::vector<uint8_t>& src, std::vector<uint8_t>& dst,
             uint32_t count, uint8_t mask = 0xFF) {
    const uint8_t* planes[1] = {src.data()};
    cm.ConvertPixelRow(planes, 1, dst.data(), count, mask);
}

std::string MessageOf(const std::function<void()>& f) { return test::MessageOf<EColorConversionError>(f); }

TEST(ColorManager, SettersRejectBadValuesAndKeepTheOldOnes) {
    TColorManager cm;
    EXPECT_EQ(MessageOf([&] { cm.SetTargetSampleCount(5); }),
              "Sample count per pixel does not correspond to the given color scheme.");
    EXPECT_EQ(cm.TargetSampleCount(), 3);
    EXPECT_EQ(MessageOf([&] { cm.SetSourceSampleBits(17); }),
              "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.");
    EXPECT_EQ(cm.SourceSampleBits(), 8);
}

TEST(ColorManager, IndexedAgainstTrueColourAndReservedFail) {
    TColorManager cm;
    cm.SetSourceScheme(ssIndexed);
    std::vector<uint8_t> src(4), dst(12);
    EXPECT_EQ(MessageOf([&] { Convert(cm, src, dst, 1); }),
              "Conversion between indexed and non-indexed pixel formats is not supported.");
    EXPECT_TRUE(cm.Changed());
    cm.SetSourceScheme(ssReserved);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(MessageOf([&] { Convert(cm, src, dst, 1); }),
                  "Color conversion failed. Could not find a proper method.");
    EXPECT_FALSE(cm.Changed());
}

TEST(ColorManager, MaskSelectsPixelsAndSourceHoldsOnlySelectedOnes) {
    TColorManager cm;
    std::vector<uint8_t> src{1, 2, 3, 4, 5, 6}, dst(16 * 3, 0xEE);
    Convert(cm, src, dst, 16, 0x80);
    for (int i = 0; i < 16; ++i) {
        if (i == 0)
            EXPECT_EQ(dst[0], 3);
        else if (i == 8)
            EXPECT_EQ(dst[24], 6);
        else
            EXPECT_EQ(dst[size_t(3 * i)], 0xEE) << i;
    }
}

void Source(TColorManager& cm, TSampleScheme scheme, uint8_t count, uint8_t bits = 8, TConvertFlags flags = 0) {
    cm.SetSourceScheme(scheme);
    cm.SetSourceSampleCount(count);
    cm.SetSourceSampleBits(bits);
    cm.SourceFlags = flags;
}
void Target(TColorManager& cm, TSampleScheme scheme, uint8_t count, uint8_t bits = 8) {
    cm.SetTargetScheme(scheme);
    cm.SetTargetSampleCount(count);
    cm.SetTargetSampleBits(bits);
}

TEST(ColorManager, InterleavedRowsOfEveryScheme) {
    struct Case {
        const char* what;
        std::function<void(TColorManager&)> setup;
        std::vector<uint8_t> src;
        uint32_t count;
        std::vector<uint8_t> want;  // the target row, 0x55 where nothing may be written
    };
    const std::vector<Case> cases{
        {"swapped 16-bit RGB", [](auto& cm) { Source(cm, ssRGB, 3, 16, cfSwapBytes); },
         {0x12, 0x34, 0xFF, 0xFF, 0x00, 0x00}, 1, {0, 255, 18}},
        {"RGBA to BGRA", [](auto& cm) { Source(cm, ssRGBA, 4), Target(cm, ssBGRA, 4); }, {1, 2, 3, 77}, 1, {3, 2, 1, 77}},
        {"RGB to BGRA leaves alpha", [](auto& cm) { Target(cm, ssBGRA, 4); }, {1, 2, 3, 4, 5, 6}, 2,
         {3, 2, 1, 0x55, 6, 5, 4, 0x55}},
        {"CMYK ink amounts", [](auto& cm) { Source(cm, ssCMYK, 4); },
         {0, 0, 0, 0, 0, 0, 0, 255, 128, 0, 0, 0, 0, 0, 100, 100}, 4,
         {255, 255, 255, 0, 0, 0, 255, 255, 127, 94, 155, 155}},
        {"Lab extremes", [](auto& cm) { Source(cm, ssLab, 3, 8, cfLightnessByte | cfChromaBias); },
         {255, 128, 128, 0, 128, 128}, 2, {255, 255, 255, 0, 0, 0}},
        {"YCbCr neutral grey", [](auto& cm) { Source(cm, ssYCbCr, 3); }, {100, 128, 128}, 1, {100, 100, 100}},
        {"swapped 16-bit grey", [](auto& cm) { Source(cm, ssGray, 1, 16, cfSwapBytes), Target(cm, ssGray, 1); },
         {0xFF, 0xFF, 0x80, 0x00}, 2, {255, 127}},
        {"1-bit indices to 4 bits", [](auto& cm) { Source(cm, ssIndexed, 1, 1), Target(cm, ssIndexed, 1, 4); }, {0xA0}, 4,
         {0xF0, 0xF0}},
        {"grey alpha to grey", [](auto& cm) { Source(cm, ssGrayAlpha, 2), Target(cm, ssGray, 1); }, {10, 99, 20, 99}, 2,
         {10, 20}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        c.setup(cm);
        std::vector<uint8_t> dst(c.want.size(), 0x55);
        Convert(cm, c.src, dst, c.count);
        EXPECT_EQ(dst, c.want) << c.what;
    }
}

TEST(ColorManager, PlanarRowsAndMissingPlanes) {
    TColorManager cm;
    const uint8_t r[2] = {10, 11}, g[2] = {20, 21}, b[2] = {30, 31};
    const uint8_t* planes[3] = {r, g, b};
    uint8_t dst[6] = {};
    cm.ConvertPixelRow(planes, 3, dst, 2, 0xFF);
    EXPECT_EQ(std::vector<uint8_t>(dst, dst + 6), (std::vector<uint8_t>{30, 20, 10, 31, 21, 11}));
    uint8_t out[3] = {7, 7, 7};
    cm.ConvertPixelRow(planes, 2, out, 1, 0xFF);  // a plane short: nothing written
    EXPECT_EQ(out[0], 7);
}

TEST(ColorManager, PalettesClampedTo256Entries) {
    TColorManager cm;
    cm.SetTargetSampleCount(1);
    cm.SetTargetSampleBits(1);
    EXPECT_EQ(cm.MakeGrayPalette(true).Entries.at(0).Red, 255);  // min-is-white
    cm.SetTargetSampleBits(8);
    std::vector<uint8_t> table(300 * 3);
    for (size_t i = 0; i < table.size(); ++i) table[i] = uint8_t(i);
    const uint8_t* data[1] = {table.data()};
    TPalette bgr = cm.MakeColorPalette(data, 0, 300, true);
    ASSERT_EQ(bgr.Entries.size(), 256u);
    EXPECT_EQ(bgr.Entries[1], (TPaletteEntry{5, 4, 3, 0}));
    const uint8_t r[2] = {1, 2}, g[2] = {3, 4}, b[2] = {5, 6};
    const uint8_t* planes[3] = {r, g, b};
    EXPECT_EQ(cm.MakeColorPalette(planes, 2, 2, false).Entries[1], (TPaletteEntry{2, 4, 6, 0}));
}

}  // namespace
}  // namespace jx
