#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "common/test_data.h"
#include "pngopt/encoder.h"
#include "pngopt/lossy.h"
#include "pngopt/output.h"
#include "pngenc/png_image.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
using test::MakeImage;
using test::Opts;
using test::Rgba8;

// More than 256 colours over a partial alpha ramp; one blue sample is 0.
WorkImage Gradient() {
    return MakeImage(40, 30, [](uint32_t x, uint32_t y) {
        return Rgba8{uint8_t(x * 6 + 3), uint8_t(y * 8 + 1), uint8_t((x * 7 + y * 5) % 256), uint8_t(128 + x * 3)};
    });
}

int MaxSampleError(const WorkImage& a, const WorkImage& b) {
    int worst = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i) worst = std::max(worst, std::abs((a.rgba[i] >> 8) - (b.rgba[i] >> 8)));
    return worst;
}

// Encodes the conversion the way the program does and checks it holds the working pixels.
void ExpectWrittenAsIs(WorkImage& image, const Options& options) {
    OutputImage out = BuildOutputImage(image, options);
    std::vector<uint8_t> png = EncodePngJx(out, EncodeSettings{}).bytes;
    std::string why;
    EXPECT_TRUE(DecodesToSamePixels(png, image, options, &why)) << why;
}

TEST(QuilloxLossy, QualityZeroAndInterlacedOutputStayLossless) {
    const WorkImage original = Gradient();
    WorkImage image = original;
    EXPECT_FALSE(ApplyLossyPrePass(image, Opts({"/l", "q=0"})));
    EXPECT_EQ(image.rgba, original.rgba);
    // Adam7 asked for, or kept from the input: the encoder writes those losslessly.
    EXPECT_FALSE(ApplyLossyPrePass(image, Opts({"/l", "q=40", "/i1"})));
    image.interlaced = true;
    EXPECT_FALSE(ApplyLossyPrePass(image, Opts({"/l", "q=40"})));
    EXPECT_EQ(image.rgba, original.rgba);
    ExpectWrittenAsIs(image, Opts({"/l", "q=40"}));
    EXPECT_EQ(image.rgba, original.rgba);
    // A 16-bit interlaced input keeps its low bytes too.
    WorkImage wide = ReadInputFile((jx::test::PngSuiteDir() / "basi2c16.png").string(), ReadSettings{});
    const WorkImage wideOriginal = wide;
    ExpectWrittenAsIs(wide, Opts({"/l", "q=40"}));
    EXPECT_EQ(wide.rgba, wideOriginal.rgba);
    EXPECT_EQ(wide.sampleDepth, 16);
}

TEST(QuilloxLossy, UniformMethodErrorStaysWithinItsStep) {
    const WorkImage original = Gradient();
    for (int q : {4, 9, 30}) {
        for (const char* filters : {"/f0", "/f1", "/f4", "/f0-5"}) {
            WorkImage image = original;
            Options o = Opts({"/l", "q=" + std::to_string(q), filters});
            ASSERT_TRUE(ApplyLossyPrePass(image, o));
            const double step = 2 * std::sqrt(double(q));
            const int worst = MaxSampleError(original, image);
            EXPECT_LE(worst, int(step + 0.5)) << "q=" << q << " " << filters;
            EXPECT_GT(worst, 0) << "q=" << q << " " << filters;
            // Black and white samples come back exactly.
            for (size_t i = 0; i < image.rgba.size(); ++i) {
                if (original.rgba[i] == 0 || original.rgba[i] == 0xFF00) {
                    EXPECT_EQ(image.rgba[i], original.rgba[i]);
                }
            }
            EXPECT_EQ(image.analysis.colorCount, 257);  // analysed again
            ExpectWrittenAsIs(image, o);
        }
    }
}

TEST(QuilloxLossy, FilterOfThePass) {
    WorkImage colourful = Gradient();
    WorkImage few = MakeImage(8, 8, [](uint32_t x, uint32_t) { return Rgba8{uint8_t(x * 30), 0, 200, 255}; });
    WorkImage grey = MakeImage(8, 8, [](uint32_t x, uint32_t) { return Rgba8{uint8_t(x), uint8_t(x), uint8_t(x), 255}; });
    EXPECT_EQ(LossyFilterSet(colourful, Opts({"/l", "/f3"})), FilterBit(kFilterAverage));
    EXPECT_EQ(LossyFilterSet(colourful, Opts({"/l", "/f2"})), FilterBit(kFilterUp));
    EXPECT_EQ(LossyFilterSet(few, Opts({"/l"})), FilterBit(kFilterNone));  // the default set {0, 5}
    EXPECT_EQ(LossyFilterSet(colourful, Opts({"/l", "/f0-5"})), FilterBit(kFilterAverage));
    EXPECT_EQ(LossyFilterSet(grey, Opts({"/l", "/o2"})), FilterBit(kFilterAverage));
    EXPECT_EQ(LossyFilterSet(few, Opts({"/l", "/fe"})), FilterBit(kFilterPaeth));
}

TEST(QuilloxLossy, LevelListFromResidualHistograms) {
    // Two equal pixels under None: residuals 10 (six samples) and 255 (both alphas). Bin 10 merges
    // into bin 5 and keeps its own count; bin 255 into bin 128.
    WorkImage two = MakeImage(2, 1, [](uint32_t, uint32_t) { return Rgba8{10, 10, 10, 255}; });
    EXPECT_EQ(PrepareLossyLevels(two, FilterBit(kFilterNone), 1), (std::vector<int32_t>{10, 10, 255, 255}));
    // Under Sub the second pixel predicts exactly: residual 0 joins the list.
    EXPECT_EQ(PrepareLossyLevels(two, FilterBit(kFilterSub), 1), (std::vector<int32_t>{0, 10, 10, 255, 255}));
    // Residuals 1 and 3 (s = 2): 1 rounds to bin 0 (half to even), 3 to bin 2; both keep their own.
    WorkImage odd = MakeImage(1, 1, [](uint32_t, uint32_t) { return Rgba8{1, 3, 3, 0}; });
    EXPECT_EQ(PrepareLossyLevels(odd, FilterBit(kFilterNone), 1), (std::vector<int32_t>{0, 1, 3, 3}));
}

TEST(QuilloxLossy, LevelListMethodDecodesWithinItsLevels) {
    const WorkImage original = Gradient();
    WorkImage image = original;
    Options o = Opts({"/l", "q=16", "m=1", "/f4"});
    ASSERT_TRUE(ApplyLossyPrePass(image, o));
    // No residual moves farther than from itself to the nearest level toward 0.
    std::vector<int32_t> levels = PrepareLossyLevels(original, FilterBit(kFilterPaeth), 16);
    int bound = 0;
    for (int d = -255; d <= 255; ++d) {
        int best = d;  // no level: the residual becomes 0
        for (int32_t c : levels)
            if ((d >= 0 ? (c >= 0 && c <= d) : (c <= 0 && c >= d)) && std::abs(d - c) < std::abs(best)) best = d - c;
        bound = std::max(bound, std::abs(best));
    }
    EXPECT_LE(MaxSampleError(original, image), bound);
    ExpectWrittenAsIs(image, o);
}

TEST(QuilloxLossy, FewColoursKeepTheirPalette) {
    const Rgba8 colours[5] = {{200, 30, 40, 255}, {20, 180, 60, 255}, {90, 90, 250, 255}, {250, 240, 10, 128}, {0, 0, 0, 0}};
    const WorkImage original =
        MakeImage(48, 32, [&](uint32_t x, uint32_t y) { return colours[(x / 3 + y / 5 + x * y % 3) % 5]; });
    std::set<uint64_t> palette;
    for (const ColorUse& c : original.analysis.colorTable) palette.insert(c.rgba);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"/l", "q=200", "/f4"},
                                                 std::vector<std::string>{"/l", "q=120", "m=1", "/f1"}}) {
        WorkImage image = original;
        ASSERT_TRUE(ApplyLossyPrePass(image, Opts(args)));
        for (size_t i = 0; i < image.rgba.size(); i += 4) {
            const uint16_t* p = &image.rgba[i];
            uint64_t v = uint64_t(p[0]) << 48 | uint64_t(p[1]) << 32 | uint64_t(p[2]) << 16 | p[3];
            ASSERT_TRUE(palette.count(v)) << "pixel " << i / 4 << " with " << args[1];
        }
        EXPECT_LE(image.analysis.colorCount, 5);
        ExpectWrittenAsIs(image, Opts(args));
    }
}

TEST(QuilloxLossy, GreyFewColoursAndWideImages) {
    // A grey image of few levels takes the decoded values as they are.
    const WorkImage grey =
        MakeImage(32, 32, [](uint32_t x, uint32_t y) { uint8_t v = uint8_t((x + y) % 8 * 33); return Rgba8{v, v, v, 255}; });
    WorkImage image = grey;
    ASSERT_TRUE(ApplyLossyPrePass(image, Opts({"/l", "q=100"})));
    EXPECT_TRUE(image.analysis.grey);
    EXPECT_NE(image.rgba, grey.rgba);
    EXPECT_LE(MaxSampleError(grey, image), 20);  // step 2 * sqrt(100)
    // A 16-bit image of many colours comes back at 8 bits; the written file holds that.
    WorkImage wide = ReadInputFile((jx::test::PngSuiteDir() / "basn2c16.png").string(), ReadSettings{});
    Options o = Opts({"/l", "q=9"});
    ASSERT_TRUE(ApplyLossyPrePass(wide, o));
    EXPECT_EQ(wide.sampleDepth, 8);
    ExpectWrittenAsIs(wide, o);
}

TEST(QuilloxLossy, KeptInputPaletteFollowsThePixels) {
    // A grey palette input of close levels with "/np": its palette is written as it is, so every
    // pixel must return to one of its entries and the indices must follow.
    PngImage png(32, 16, kPngPalette, 8);
    for (int i = 0; i < 16; ++i) png.Palette.push_back({uint8_t(60 - 4 * i), uint8_t(60 - 4 * i), uint8_t(60 - 4 * i)});
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 32; ++x) png.Row(y)[x] = uint8_t((x + y) % 16);
    WorkImage image = ReadPng(png.Encode(), ReadSettings{});
    Analyze(image);
    std::set<uint64_t> palette;
    for (const PaletteEntry& e : image.palette)
        palette.insert(uint64_t(e.r) << 56 | uint64_t(e.g) << 40 | uint64_t(e.b) << 24 | uint64_t(e.a) << 8);
    const WorkImage original = image;
    Options o = Opts({"/l", "q=150", "/np"});
    ASSERT_TRUE(ApplyLossyPrePass(image, o));
    EXPECT_NE(image.rgba, original.rgba);
    ASSERT_EQ(image.indices.size(), uint64_t(image.width) * image.height);
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* p = &image.rgba[i];
        ASSERT_TRUE(palette.count(uint64_t(p[0]) << 48 | uint64_t(p[1]) << 32 | uint64_t(p[2]) << 16 | p[3]));
    }
    ExpectWrittenAsIs(image, o);
}

class QuilloxLossyProgram : public test::TempDir {};

TEST_F(QuilloxLossyProgram, LossyRunWritesADecodableNearbyImage) {
    WorkImage source = Gradient();
    OutputImage loose = BuildOutputImage(source, Opts({}));
    const auto path = dir_ / "g.png";
    jx::test::WriteBytes(path, EncodePngJx(loose, EncodeSettings{}).bytes);
    const WorkImage before = ReadInputFile(path.string(), ReadSettings{});
    ASSERT_EQ(Run({"/quiet", "/force", "/l", "q=9", path.string()}), 0) << out_.str();
    const WorkImage after = ReadInputFile(path.string(), ReadSettings{});
    const int worst = MaxSampleError(before, after);
    EXPECT_GT(worst, 0);
    EXPECT_LE(worst, 6);
    // Without "/l" the next run changes no pixel.
    ASSERT_EQ(Run({"/quiet", "/force", path.string()}), 0) << out_.str();
    EXPECT_EQ(ReadInputFile(path.string(), ReadSettings{}).rgba, after.rgba);
}

}  // namespace
}  // namespace jx::quillox
