#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "engine_test_util.h"
#include "imaging/color_space.h"
#include "imaging/engine_state.h"
#include "imaging/errors.h"

namespace jx {
namespace {

using test::Rgba;

struct C3 {
    int c1, c2, c3;
    bool operator==(const C3&) const = default;
};
std::ostream& operator<<(std::ostream& o, const C3& c) { return o << "(" << c.c1 << ", " << c.c2 << ", " << c.c3 << ")"; }

C3 Conv(ColorConverterFn f, TPixelRec p, bool hasAlpha = false, TPixelRec bg = Rgba(255, 255, 255, 0)) {
    f(p, hasAlpha, bg);
    return {p.c1, p.c2, p.c3};
}

TEST(Converters, KnownValues) {
    EXPECT_EQ(Conv(ConvertLab, Rgba(0, 0, 0)), (C3{0, 128, 128}));
    EXPECT_EQ(Conv(ConvertLab, Rgba(255, 255, 255)), (C3{255, 128, 128}));
    EXPECT_EQ(Conv(ConvertLuv, Rgba(0, 0, 0)), (C3{0, 128, 128}));
    EXPECT_EQ(Conv(ConvertLuv, Rgba(255, 255, 255)).c1, 255);
    EXPECT_EQ(Conv(ConvertYuv, Rgba(0, 0, 0)), (C3{0, 128, 128}));
    EXPECT_EQ(Conv(ConvertYuv, Rgba(255, 255, 255)), (C3{255, 128, 128}));
    EXPECT_EQ(Conv(ConvertYCoCg, Rgba(255, 0, 0)), (C3{63, 255, 65}));
    EXPECT_EQ(Conv(ConvertYCoCg, Rgba(255, 255, 255)), (C3{255, 128, 128}));

    // Lab of the primaries with the six-digit matrix: red (53.24, 80.09, 67.20).
    EXPECT_EQ(Conv(ConvertLab, Rgba(255, 0, 0)), (C3{136, 208, 195}));
    // Green (87.73, -86.18, 83.18), blue (32.30, 79.19, -107.86).
    EXPECT_EQ(Conv(ConvertLab, Rgba(0, 255, 0)), (C3{224, 42, 211}));
    EXPECT_EQ(Conv(ConvertLab, Rgba(0, 0, 255)), (C3{82, 207, 20}));
    // YUV red: Y 0.299 -> 76; U -0.1471*207 -> -30; V 0.6149*207 -> 127.
    EXPECT_EQ(Conv(ConvertYuv, Rgba(255, 0, 0)), (C3{76, 98, 255}));

    // RGB space: a grey sits at the start of its fold row.
    EXPECT_EQ(Conv(ConvertRgb, Rgba(77, 77, 77)), (C3{77, 0, 0}));
}

// L*u*v* takes X, Y, Z from the D65 matrix but measures chroma from the D50 white
// (u'n = 3.85688 / 18.43985, v'n = 9 / 18.43985), so even white has chroma.
TEST(Converters, LuvAgainstTheD50White) {
    struct Case {
        int32_t packed;  // B * 65536 + G * 256 + R
        double l, u, v;
        C3 bytes;
    };
    const Case cases[] = {
        {0xFFFFFF, 100.00000387, -14.71631704, -25.65819373, {255, 117, 108}},
        {0x0000FF, 53.24079414, 167.17995688, 24.09579633, {136, 255, 146}},  // red
        {0xFF0000, 32.29701093, -14.15832559, -138.62918091, {82, 117, 23}},   // blue
        {0x808080, 53.58501577, -7.88574050, -13.74894662, {137, 122, 118}},
    };
    for (const Case& c : cases) {
        const TTriple luv = RgbToLuv(c.packed);
        EXPECT_NEAR(luv.v0, c.l, 1e-6) << std::hex << c.packed;
        EXPECT_NEAR(luv.v1, c.u, 1e-6) << std::hex << c.packed;
        EXPECT_NEAR(luv.v2, c.v, 1e-6) << std::hex << c.packed;
        const TPixelRec p = Rgba(uint8_t(c.packed), uint8_t(c.packed >> 8), uint8_t(c.packed >> 16));
        EXPECT_EQ(Conv(ConvertLuv, p), c.bytes) << std::hex << c.packed;
    }
}

TEST(Converters, RoundHalfToEven) {
    // YCoCg truncates: (1, 0, 0) gives Co/2 = 0.5 -> 0, Cg/2 = -0.25 -> 0, Y = 0.25 -> 0.
    EXPECT_EQ(Conv(ConvertYCoCg, Rgba(1, 0, 0)), (C3{0, 128, 128}));
    // Compositing a half-transparent 1 over black: 1 * 128/255 = 0.502 -> 1; A = 0 -> exactly the background.
    const TPixelRec black = Rgba(0, 0, 0, 255);
    EXPECT_EQ(Conv(ConvertYCoCg, Rgba(255, 0, 0, 0), true, black), Conv(ConvertYCoCg, Rgba(0, 0, 0)));
}

TEST(Converters, TranslucentOverBackground) {
    const TPixelRec none = Rgba(255, 255, 255, 0);
    const TPixelRec white = Rgba(255, 255, 255, 255);
    const TPixelRec black = Rgba(0, 0, 0, 255);
    for (ColorConverterFn f : {ConvertLab, ConvertYuv, ConvertRgb, ConvertYCoCg, ConvertLuv}) {
        // Background "None": a transparent red converts like an opaque red.
        EXPECT_EQ(Conv(f, Rgba(255, 0, 0, 0), true, none), Conv(f, Rgba(255, 0, 0)));
        // White background and A = 0: like white; A = 255: unchanged.
        EXPECT_EQ(Conv(f, Rgba(255, 0, 0, 0), true, white), Conv(f, Rgba(255, 255, 255)));
        EXPECT_EQ(Conv(f, Rgba(255, 0, 0, 255), true, white), Conv(f, Rgba(255, 0, 0)));
        // Without the image's alpha flag nothing is composited.
        EXPECT_EQ(Conv(f, Rgba(255, 0, 0, 0), false, white), Conv(f, Rgba(255, 0, 0)));
        // Half-transparent red over black: 255 * 0.502 = 128.0 -> 128.
        EXPECT_EQ(Conv(f, Rgba(255, 0, 0, 128), true, black), Conv(f, Rgba(128, 0, 0)));
        // Over white: (255, 127, 127) since 255 * (1 - 128/255) = 127.
        EXPECT_EQ(Conv(f, Rgba(255, 0, 0, 128), true, white), Conv(f, Rgba(255, 127, 127)));
    }
    // The record's own RGB stays as it was.
    TPixelRec p = Rgba(255, 0, 0, 0);
    ConvertLab(p, true, white);
    EXPECT_EQ(p.R, 255);
    EXPECT_EQ(p.G, 0);
}

// Every converter stays in 0..255 (it would raise otherwise) and ChromaMax from the cube's corners
// is the largest c2 and c3 over the whole cube.
TEST(Converters, SweepStaysInRangeAndCornersGiveChromaMax) {
    const int step = std::getenv("JX_SANITIZER_BUILD") ? 9 : 3;
    std::vector<int> levels;
    for (int v = 0; v < 255; v += step) levels.push_back(v);
    levels.push_back(255);
    for (int cs = 0; cs < kColorSpaceCount; ++cs) {
        const ColorConverterFn f = ConverterFor(cs);
        int max2 = 0, max3 = 0;
        for (int r : levels)
            for (int g : levels)
                for (int b : levels) {
                    TPixelRec p = Rgba(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
                    ASSERT_NO_THROW(f(p, false, p)) << cs << " " << r << "," << g << "," << b;
                    max2 = std::max<int>(max2, p.c2);
                    max3 = std::max<int>(max3, p.c3);
                }
        const auto cm = ComputeChromaMax(f);
        EXPECT_EQ(cm[0], max2) << "space " << cs;
        EXPECT_EQ(cm[1], max3) << "space " << cs;
    }
}

// The lightness conversion's own cube root must give every colour the bytes the library's
// cube root gives: all 2^24 of them, against the formula written out here.
TEST(Converters, LabBytesOfEveryColourMatchTheLibraryCubeRoot) {
    auto f = [](double t) { return t <= 0.008856 ? 7.787 * t + 16.0 / 116.0 : std::cbrt(t); };
    auto lin = [](int c) {
        const double v = c / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    double linear[256];
    for (int c = 0; c < 256; ++c) linear[c] = lin(c);
    int64_t mismatches = 0;
    // Every colour where it runs at full speed; a fifth of the blues under the sanitizers.
    const int step = std::getenv("JX_SANITIZER_BUILD") ? 5 : 1;
    for (int b = 0; b < 256; b += step)
        for (int g = 0; g < 256; ++g)
            for (int r = 0; r < 256; ++r) {
                const double R = linear[r], G = linear[g], B = linear[b];
                const double x = 0.412453 * R + 0.35758 * G + 0.180423 * B;
                const double y = 0.212671 * R + 0.71516 * G + 0.072169 * B;
                const double z = 0.019334 * R + 0.119193 * G + 0.950227 * B;
                const double fy = f(y);
                const double l = y <= 0.008856 ? 903.3 * y : 116.0 * fy - 16.0;
                const C3 want{int(std::nearbyint(l / 100.0 * 255.0)), int(std::nearbyint(500.0 * (f(x / 0.95047) - fy))) + 128,
                              int(std::nearbyint(200.0 * (fy - f(z / 1.08883)))) + 128};
                const C3 got = Conv(ConvertLab, Rgba(uint8_t(r), uint8_t(g), uint8_t(b)));
                if (got != want && ++mismatches <= 5) ADD_FAILURE() << r << "," << g << "," << b << ": " << got << " " << want;
            }
    EXPECT_EQ(mismatches, 0);
}

TEST(FoldTableTest, RowsListValuesByDistance) {
    const auto& t = FoldTable();
    for (int g = 0; g < 256; ++g) {
        const auto& row = t[static_cast<size_t>(g)];
        std::set<int> seen(row.begin(), row.end());
        ASSERT_EQ(seen.size(), 256u);
        EXPECT_EQ(row[0], g);
        for (int i = 1; i < 256; ++i) ASSERT_LE(std::abs(g - row[i - 1]), std::abs(g - row[i])) << g << " " << i;
        for (int v = 0; v < 256; ++v) ASSERT_EQ(row[static_cast<size_t>(FindInFoldRow(uint8_t(g), uint8_t(v)))], v);
    }
    EXPECT_EQ(FindInFoldRow(0, 255), 255);
    EXPECT_EQ(FindInFoldRow(255, 0), 255);
    // Equal distances keep the exchange sort's order: row 10 holds 9 before 11.
    EXPECT_EQ(t[10][1], 9);
    EXPECT_EQ(t[10][2], 11);
}

TEST(ColorLibrary, HsvRoundTripsEverySector) {
    EXPECT_EQ(RgbToHsv(0x0000FF).Hue, 360);  // red with G = B
    EXPECT_EQ(RgbToHsv(0x808080).Hue, 0);
    EXPECT_EQ(HsvToRgb(77, 0.0, 0.5), (TRgbBytes{128, 128, 128}));
    for (int32_t c : {0x0000FF, 0x00FFFF, 0x00FF00, 0xFFFF00, 0xFF0000, 0xFF00FF, 0x3366CC}) {
        const THsv v = RgbToHsv(c);
        const TRgbBytes back = HsvToRgb(v.Hue, v.S, v.V);
        EXPECT_EQ(back, ColorValueToBytes(c)) << std::hex << c;
    }
}

TEST(ApplyColorSpaceTest, ReconvertsImageChromaMaxAndEdgeMap) {
    EngineState s;
    test::LoadImage(s, 2, 1, {Rgba(255, 0, 0), Rgba(0, 0, 0, 0)});
    EXPECT_EQ(s.SourceImage[0][0].c1, 136);  // LAB
    ApplyColorSpace(s, 3);                   // YCoCg
    EXPECT_EQ(s.ColorConverter, &ConvertYCoCg);
    EXPECT_EQ(s.SourceImage[0][0].c1, 63);
    EXPECT_EQ(s.SourceImage[0][0].c2, 255);
    EXPECT_EQ(s.ChromaMax, ComputeChromaMax(ConvertYCoCg));
    EXPECT_EQ(s.EdgeMap.Width(), 2);
    EXPECT_EQ(s.EdgeMap.Height(), 1);

    // The corner sweep ignores alpha compositing even with a background chosen.
    s.HasAlpha = true;
    s.AlphaBackground = Rgba(0, 0, 0, 255);
    ApplyColorSpace(s, 0);
    EXPECT_TRUE(s.HasAlpha);
    EXPECT_EQ(s.ChromaMax, ComputeChromaMax(ConvertLab));

    ApplyColorSpace(s, 7);  // unknown index: nothing changes
    EXPECT_EQ(s.ColorConverter, &ConvertLab);
}

}  // namespace
}  // namespace jx
