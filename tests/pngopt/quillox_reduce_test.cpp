#include <gtest/gtest.h>

#include <set>

#include "pngopt/output.h"
#include "pngopt/quantize.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
using test::MakeImage;
using test::Opts;
using test::Rgba8;

std::set<uint64_t> Colours(const WorkImage& image) {
    std::set<uint64_t> s;
    for (uint64_t i = 0; i < image.rgba.size(); i += 4)
        s.insert(uint64_t(image.rgba[i]) << 48 | uint64_t(image.rgba[i + 1]) << 32 | uint64_t(image.rgba[i + 2]) << 16 | image.rgba[i + 3]);
    return s;
}

WorkImage Gradient(uint32_t w, uint32_t h) {
    return MakeImage(w, h, [](uint32_t x, uint32_t y) { return Rgba8{uint8_t(x * 7), uint8_t(y * 5), uint8_t((x * y) & 0xFF), 255}; });
}

TEST(QuilloxReduce, ReducesOnlyWhenThereAreTooManyColours) {
    WorkImage many = Gradient(30, 30);
    ASSERT_GT(Colours(many).size(), 256u);
    BuildOutputImage(many, Opts({"/jx"}));
    EXPECT_LE(Colours(many).size(), 256u);

    WorkImage few = MakeImage(20, 10, [](uint32_t x, uint32_t y) { return Rgba8{uint8_t(x * 9), uint8_t(y * 20), 3, 255}; });
    const WorkImage before = few;
    BuildOutputImage(few, Opts({"/jx"}));
    EXPECT_EQ(few.rgba, before.rgba);
}

TEST(QuilloxReduce, TwoColoursAndCountsAboveTheImageHold) {
    for (int dither : {0, 100}) {
        WorkImage image = Gradient(40, 40);
        QuantizeImage(image, 2, dither, nullptr);
        EXPECT_LE(Colours(image).size(), 2u);
    }
    // More colours asked than the image has: nothing changes.
    WorkImage image = Gradient(30, 30);
    const WorkImage before = image;
    BuildOutputImage(image, Opts({"/jx", "c=5000"}));
    EXPECT_EQ(image.rgba, before.rgba);
}

TEST(QuilloxReduce, PlainMappingUsesOnlyTableColoursAndTransparentBecomesZero) {
    WorkImage image = MakeImage(300, 300, [](uint32_t x, uint32_t y) {
        if (x < 10) return Rgba8{uint8_t(y), 50, 60, 0};
        return Rgba8{uint8_t(x), uint8_t(y), uint8_t(x ^ y), 255};
    });
    QuantizeImage(image, 16, 0, nullptr);
    std::set<uint64_t> colours = Colours(image);
    EXPECT_LE(colours.size(), 16u);
    for (uint32_t y = 0; y < 300; ++y) {
        const uint16_t* p = image.Pixel(0, y);
        if (p[3] == 0) { EXPECT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 0); }
    }
}

TEST(QuilloxReduce, ReduceColorsKeepsCountAndMergesWeights) {
    std::vector<QuantEntry> table;
    for (uint32_t i = 0; i < 50; ++i) {
        QuantEntry e;
        e.color = 0xFF000000u | (i * 5) << 16 | (i * 3) << 8 | i;
        e.count = i + 1;
        e.sum[0] = 255ull * e.count;
        e.sum[1] = uint64_t(i * 5) * e.count;
        e.sum[2] = uint64_t(i * 3) * e.count;
        e.sum[3] = uint64_t(i) * e.count;
        table.push_back(e);
    }
    uint64_t total = 0;
    for (const QuantEntry& e : table) total += e.count;
    std::vector<QuantEntry> reduced = table;
    ReduceColors(reduced, 10, 128, 30, nullptr);
    EXPECT_EQ(reduced.size(), 10u);
    uint64_t after = 0;
    for (const QuantEntry& e : reduced) after += e.count;
    EXPECT_EQ(after, total);
    std::vector<QuantEntry> all = table;
    ReduceColors(all, 100, 128, 30, nullptr);
    EXPECT_EQ(all.size(), 50u);
}

TEST(QuilloxReduce, ResamplerKeepsEdgesAndAlpha) {
    PackedImage source{600, 600, std::vector<uint32_t>(600 * 600, 0x80C04020u)};
    PackedImage small{256, 256, {}};
    ResampleDIB(source, small, 1);
    ASSERT_EQ(small.pixels.size(), 256u * 256u);
    for (uint32_t v : small.pixels) ASSERT_EQ(v, 0x80C04020u);
    // Left half transparent, right half opaque: alpha averages across the seam only.
    PackedImage half{600, 600, {}};
    for (uint32_t y = 0; y < 600; ++y)
        for (uint32_t x = 0; x < 600; ++x) half.pixels.push_back(x < 300 ? 0u : 0xFFFFFFFFu);
    ResampleDIB(half, small, 1);
    EXPECT_EQ(small.pixels[0] >> 24, 0u);
    EXPECT_EQ(small.pixels[255] >> 24, 255u);
    EXPECT_GT(small.pixels[129] >> 24, 0u);
}

}  // namespace
}  // namespace jx::quillox
