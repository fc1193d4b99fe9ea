// Choosing the output layout, and reducing colours to fit one: the pixels written are the
// pixels read, or the reduced ones.
#include <gtest/gtest.h>

#include <set>

#include "common/test_data.h"
#include "pngopt/encoder.h"
#include "pngopt/output.h"
#include "pngopt/quantize.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
using test::MakeImage;
using test::Opts;
using test::Rgba8;

WorkImage Suite(const std::string& name, bool clean = true) {
    return ReadInputFile((jx::test::PngSuiteDir() / (name + ".png")).string(), ReadSettings{GammaMode::Keep, clean});
}

// Same alpha everywhere, same colour where visible (or everywhere when strict).
void ExpectSamePixels(const WorkImage& want, const std::vector<uint8_t>& png, bool strict) {
    WorkImage got = ReadPng(png, ReadSettings{GammaMode::Keep, false});
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    auto to16 = [](uint16_t v, int depth) { return depth == 16 ? uint32_t(v) : uint32_t(v >> 8) * 257; };
    for (uint64_t i = 0; i < want.rgba.size(); i += 4) {
        uint32_t a = to16(want.rgba[i + 3], want.sampleDepth), b = to16(got.rgba[i + 3], got.sampleDepth);
        ASSERT_EQ(a, b) << "alpha at pixel " << i / 4;
        if (a == 0 && !strict) continue;
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(to16(want.rgba[i + c], want.sampleDepth), to16(got.rgba[i + c], got.sampleDepth))
                << "channel " << c << " at pixel " << i / 4;
    }
}

OutputImage Convert(WorkImage image, const std::vector<std::string>& args) {
    return BuildOutputImage(image, Opts(args));
}

// Every layout the format choice may pick decodes to the original pixels; hidden colours too
// when nothing may touch them.
TEST(QuilloxConvert, SuiteKeepsPixelsUnderEveryLayoutOption) {
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{}, true}, {{"/nc"}, true}, {{"/np"}, true}, {{"/a1"}, false}, {{"/na", "/nc"}, false}};
    for (const std::string& name : jx::test::PngSuiteNames(false)) {
        SCOPED_TRACE(name);
        const WorkImage original = Suite(name, false);
        for (const auto& [args, clean] : cases) {
            WorkImage image = Suite(name, clean);
            const Options o = Opts(args);
            OutputImage out = BuildOutputImage(image, o);
            const bool strict = !o.cleanTransparent && !o.optimizeTransparent;
            ExpectSamePixels(original, EncodePngJx(out, EncodeSettings{}).bytes, strict);
        }
    }
}

TEST(QuilloxConvert, SmallestLayoutWins) {
    // Black and white: grey 1-bit.
    OutputImage bw = Convert(MakeImage(64, 64, [](uint32_t x, uint32_t y) {
        uint8_t v = ((x / 3 + y / 5) % 2) ? 255 : 0;
        return Rgba8{v, v, v, 255};
    }), {});
    EXPECT_EQ(bw.bitDepth, 1);
    EXPECT_TRUE(bw.colorType == 0 || bw.colorType == 3);
    // 16 colours in RGB: a 4-bit palette.
    OutputImage pal = Convert(MakeImage(64, 64, [](uint32_t x, uint32_t y) {
        return Rgba8{uint8_t((x % 4) * 60), uint8_t((y % 4) * 70), 40, 255};
    }), {});
    EXPECT_EQ(pal.colorType, 3);
    EXPECT_EQ(pal.bitDepth, 4);
    EXPECT_EQ(pal.palette.size(), 16u);
}

TEST(QuilloxConvert, SixteenBitThatHoldsEightBitsBecomesEightBit) {
    WorkImage image = MakeImage(40, 40, [](uint32_t x, uint32_t y) { return Rgba8{uint8_t(x * 6), uint8_t(y * 6), uint8_t(x ^ y), 255}; });
    image.sampleDepth = 16;
    for (size_t i = 0; i < image.rgba.size(); ++i) image.rgba[i] = uint16_t((image.rgba[i] >> 8) * 257);
    Analyze(image);
    WorkImage original = image;
    OutputImage out = BuildOutputImage(image, Opts({}));
    EXPECT_EQ(out.bitDepth, 8);
    ExpectSamePixels(original, EncodePngJx(out, EncodeSettings{}).bytes, true);
}

// More than 256 colours, one transparent colour: an RGB key, never a colour an opaque pixel has.
TEST(QuilloxConvert, TransparentKeyNeverHitsAnOpaqueColour) {
    auto pixel = [](uint32_t x, uint32_t y) {
        if (x == 3 && y < 4) return Rgba8{0, 0, 0, 0};
        return Rgba8{uint8_t(x * 13), uint8_t(y * 17), uint8_t(x + y), 255};  // includes opaque black
    };
    WorkImage image = MakeImage(20, 20, pixel);
    ASSERT_GT(image.analysis.colorCount, 256);
    WorkImage original = image;
    OutputImage out = BuildOutputImage(image, Opts({}));
    EXPECT_EQ(out.colorType, 2);
    ASSERT_TRUE(out.hasKey);
    EXPECT_FALSE(out.key.r == 0 && out.key.g == 0 && out.key.b == 0);
    ExpectSamePixels(original, EncodePngJx(out, EncodeSettings{}).bytes, false);

    // Transparent pixels of several colours that must be kept: an alpha channel.
    WorkImage mixed = MakeImage(20, 20, [&](uint32_t x, uint32_t y) {
        Rgba8 c = pixel(x, y);
        if (c.a == 0) c.r = uint8_t(y);
        return c;
    });
    Options keep = Opts({});
    keep.cleanTransparent = false;
    WorkImage mixedOriginal = mixed;
    OutputImage alpha = BuildOutputImage(mixed, keep);
    EXPECT_EQ(alpha.colorType, 6);
    ExpectSamePixels(mixedOriginal, EncodePngJx(alpha, EncodeSettings{}).bytes, true);
}

TEST(QuilloxConvert, KeepPaletteUsesTheInputPaletteAtAFittingDepth) {
    WorkImage image = Suite("basn3p08");
    OutputImage out = BuildOutputImage(image, Opts({"/np"}));
    if (out.colorType == 3) {  // true colour may still win on size
        ASSERT_EQ(out.palette.size(), image.palette.size());
        for (size_t i = 0; i < out.palette.size(); ++i) EXPECT_EQ(out.palette[i].r, image.palette[i].r) << i;
        EXPECT_EQ(out.bitDepth, 8);
    }

    // A 200-entry palette that uses two colours cannot go to 1 bit with its own order.
    WorkImage two = image;
    for (uint64_t i = 0; i < two.indices.size(); ++i) {
        uint8_t index = uint8_t(i % 7 == 0 ? 199 : 0);
        two.indices[i] = index;
        const PaletteEntry& e = two.palette[index];
        uint16_t* p = &two.rgba[i * 4];
        p[0] = uint16_t(e.r << 8), p[1] = uint16_t(e.g << 8), p[2] = uint16_t(e.b << 8), p[3] = uint16_t(e.a << 8);
    }
    two.palette.resize(200);
    Analyze(two);
    WorkImage twoCopy = two;
    OutputImage any = BuildOutputImage(twoCopy, Opts({"/np"}));
    if (any.colorType == 3) { EXPECT_EQ(any.bitDepth, 8); }
    ExpectSamePixels(two, EncodePngJx(any, EncodeSettings{}).bytes, true);
    OutputImage kept = BuildOutputImage(two, Opts({"/nc", "/np"}));
    ASSERT_EQ(kept.colorType, 3);
    EXPECT_EQ(kept.bitDepth, 8);
    EXPECT_EQ(kept.palette.size(), 200u);
}

TEST(QuilloxConvert, KeepColorTypeWithReductionForcesPaletteOnlyWhenItFits) {
    auto rgbPng = [] {
        WorkImage w = MakeImage(30, 30, [](uint32_t x, uint32_t y) { return Rgba8{uint8_t(x % 5 * 50), uint8_t(y % 3 * 90), 7, 255}; });
        w.kind = InputKind::Png;
        w.pngColorType = kPngRgb;
        w.pngBitDepth = 8;
        return w;
    };
    WorkImage rgb = rgbPng(), plain = rgbPng();
    EXPECT_EQ(BuildOutputImage(rgb, Opts({"/nc", "/jx"})).colorType, 3);
    EXPECT_EQ(BuildOutputImage(plain, Opts({"/nc"})).colorType, 2);

    WorkImage wide = Suite("basn2c16");
    OutputImage out = BuildOutputImage(wide, Opts({"/nc", "/jx", "c=256"}));
    EXPECT_NE(out.colorType, 3);
}

// The transparent-pixel variants keep alpha and visible colours and never lose to variant 1.
TEST(QuilloxConvert, TransparentFillsKeepVisiblePixels) {
    auto pixel = [](uint32_t x, uint32_t y) {
        if ((x + y) % 5 == 0) return Rgba8{uint8_t(x * 40), 9, uint8_t(y * 3), 0};
        return Rgba8{uint8_t(x * 4), uint8_t(y * 4), uint8_t(x * y), uint8_t(x % 3 ? 255 : 128)};
    };
    WorkImage image = MakeImage(48, 48, pixel);
    const WorkImage original = image;
    std::ostringstream dots;
    OutputImage out = BuildOutputImage(image, Opts({"/a1"}), &dots);
    EXPECT_EQ(dots.str().substr(0, 7), ".......");
    ExpectSamePixels(original, EncodePngJx(out, EncodeSettings{}).bytes, false);
}

std::set<uint64_t> Colours(const WorkImage& image) {
    std::set<uint64_t> s;
    for (uint64_t i = 0; i < image.rgba.size(); i += 4)
        s.insert(uint64_t(image.rgba[i]) << 48 | uint64_t(image.rgba[i + 1]) << 32 | uint64_t(image.rgba[i + 2]) << 16 | image.rgba[i + 3]);
    return s;
}

WorkImage Gradient(uint32_t w, uint32_t h) {
    return MakeImage(w, h, [](uint32_t x, uint32_t y) { return Rgba8{uint8_t(x * 7), uint8_t(y * 5), uint8_t((x * y) & 0xFF), 255}; });
}

// Reduction only when there are more colours than asked for.
TEST(QuilloxReduce, ReducesOnlyWhenThereAreTooManyColours) {
    WorkImage many = Gradient(30, 30);
    ASSERT_GT(Colours(many).size(), 256u);
    const WorkImage before = many;
    BuildOutputImage(many, Opts({"/jx"}));
    EXPECT_LE(Colours(many).size(), 256u);
    WorkImage same = before;
    BuildOutputImage(same, Opts({"/jx", "c=5000"}));
    EXPECT_EQ(same.rgba, before.rgba);
    for (int dither : {0, 100}) {
        WorkImage two = Gradient(40, 40);
        QuantizeImage(two, 2, dither, nullptr);
        EXPECT_LE(Colours(two).size(), 2u);
    }
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
