#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numbers>
#include <string>

#include "dib_test_util.h"
#include "imaging/errors.h"
#include "imaging/resample.h"

namespace jx {
namespace {

using test::BytesWithin;
using test::FillBytes;
using test::MakeDib;

constexpr int kPositiveKernels[] = {0, 1, 2, 3, 4, 5, 6, 8, 11};

struct Ratio {
    int from, to;
};
// x3, /4 and odd ratios both ways
constexpr Ratio kRatios[] = {{5, 15}, {24, 6}, {7, 5}, {5, 7}, {13, 4}, {3, 11}, {9, 1}};

// Kernel values worked out from each kernel's definition at points where it is easy by hand.
TEST(DibResample, KernelsAtKnownPoints) {
    const double pi = std::numbers::pi;
    struct Point {
        int filter;
        double x, k;
    };
    const Point points[] = {
        {1, 0.5, 1},  // Box keeps its end
        {1, 0.51, 0},
        {2, 0.25, 0.75},
        {2, 1, 0},
        {3, 0.5, 0.5},  // Hann: 0.5 + 0.5 cos(pi x)
        {3, 1.0 / 3, 0.75},
        {4, 0.5, 0.54},  // Hamming: 0.54 + 0.46 cos(pi x)
        {4, 1.0 / 3, 0.77},
        {5, 0.25, 27.0 / 32},  // Hermite
        {6, 0.25, 0.6875},  // Bell: 0.75 - x^2, then 0.5 (x - 1.5)^2
        {6, 1, 0.125},
        {6, 1.5, 0},
        {7, 0.5, 9.0 / 16},  // Catrom
        {7, 1.5, -1.0 / 16},
        {8, 0, 2.0 / 3},  // Bicubic
        {8, 0.5, 23.0 / 48},
        {8, 1, 1.0 / 6},
        {9, 0.5, 23.0 / 40},  // Spline2
        {9, 1.5, -3.0 / 40},
        {10, 0, 8.0 / 9},  // Mitchell
        {10, 0.5, 77.0 / 144},
        {10, 1.5, -5.0 / 144},
        {11, 0, 0.7978845608028654},  // Gaussian: the normal density of sigma 0.5
        {11, 1, 0.10798193302637613},
        {12, 0.5, 91.0 / 152},  // Spline3
        {12, 1, 0},
        {12, 1.5, -9.0 / 76},
        {12, 2.5, 3.0 / 152},
        {13, 0.5, 2 / pi},  // SinC3
        {14, 1.5, -4 / (3 * pi * pi)},  // Lanczos3: sinc(1.5) sinc(0.5)
        {15, 0, 1},  // Blackman3: 0.42 + 0.5 + 0.08 at 0; at 1.5 the cosines are 0 and -1
        {15, 1.5, -0.68 / (3 * pi)},
    };
    for (const Point& p : points)
        EXPECT_NEAR(ResampleKernel(p.filter, p.x), p.k, 1e-12) << ResampleFilterName(p.filter) << " at " << p.x;
    for (int f = 1; f < kResampleFilterCount; ++f) EXPECT_EQ(ResampleKernel(f, 3.0), 0) << ResampleFilterName(f);
}

TEST(DibResample, WeightsSumToOneAndPositiveKernelsStayPositive) {
    for (int f = 0; f < kResampleFilterCount; ++f) {
        for (const Ratio r : kRatios) {
            const TContributions c =
                BuildContributions(r.to, r.from, f, static_cast<float>(static_cast<double>(r.to) / r.from));
            for (int x = 0; x < r.to; ++x) {
                int32_t sum = 0;
                for (int j = 0; j < c.windowWidth; ++j) {
                    const int i = c.first[static_cast<size_t>(x)] + j;
                    if (i < 0 || i >= r.from) {
                        ASSERT_EQ(c.Weight(x, j), 0);
                    }
                    if (std::find(std::begin(kPositiveKernels), std::end(kPositiveKernels), f) !=
                        std::end(kPositiveKernels)) {
                        ASSERT_GE(c.Weight(x, j), 0) << ResampleFilterName(f);
                    }
                    sum += c.Weight(x, j);
                }
                EXPECT_EQ(sum, c.sums[static_cast<size_t>(x)]);
                EXPECT_EQ(sum, 16384) << ResampleFilterName(f);
            }
        }
    }
}

TEST(DibResample, FlatImagesStayFlatForEveryKernelAndRatio) {
    for (int f = 0; f < kResampleFilterCount; ++f)
        for (const Ratio r : kRatios)
            for (int bpp : {8, 24, 32})
                for (int v : {0, 1, 128, 255}) {
                    TDibBuffer src, dst;
                    src.SetSize(r.from, r.from + 1, bpp);
                    dst.SetSize(r.to, -(r.to + 2), bpp);
                    FillBytes(src, static_cast<uint8_t>(v));
                    FilteredResize(src, dst, f);
                    ASSERT_TRUE(BytesWithin(dst, v, v))
                        << ResampleFilterName(f) << " " << r.from << "->" << r.to << " " << bpp << " bpp";
                }
}

TEST(DibResample, StepEdgesUnderPositiveKernelsStayInRange) {
    for (int f : kPositiveKernels)
        for (const Ratio r : kRatios)
            for (bool vertical : {false, true}) {
                const int n = r.from * 2;
                TDibBuffer src, dst;
                src.SetSize(vertical ? 3 : n, vertical ? n : 3, 24);
                for (int y = 0; y < src.AbsHeight(); ++y)
                    for (int x = 0; x < src.Width(); ++x) {
                        const bool high = (vertical ? y : x) >= n / 2 - 1;
                        std::memset(src.Line(y) + 3 * x, high ? 200 : 50, 3);
                    }
                dst.SetSize(vertical ? 5 : r.to * 2, vertical ? r.to * 2 : 5, 24);
                FilteredResize(src, dst, f);
                ASSERT_TRUE(BytesWithin(dst, 50, 200)) << ResampleFilterName(f) << " " << r.from << "->" << r.to;
            }
}

// Horizontal pass of every channel of every row against the contribution lists.
void ExpectRule(TDibBuffer& src, int to, int filter) {
    const int bytes = src.BytesPerPixel(), from = src.Width();
    TDibBuffer dst;
    dst.SetSize(to, src.Height(), src.BitsPerPixel());
    FilteredResize(src, dst, filter);
    const TContributions c = BuildContributions(to, from, filter, static_cast<float>(static_cast<double>(to) / from));
    for (int y = 0; y < src.AbsHeight(); ++y)
        for (int x = 0; x < to; ++x)
            for (int ch = 0; ch < bytes; ++ch) {
                int64_t acc = 0;
                for (int j = 0; j < c.windowWidth; ++j) {
                    const int i = c.first[static_cast<size_t>(x)] + j;
                    if (i >= 0 && i < from) acc += int64_t{c.Weight(x, j)} * src.Line(y)[i * bytes + ch];
                }
                const int64_t want = std::clamp<int64_t>((acc + 8192) >> 14, 0, 255);
                ASSERT_EQ(dst.Line(y)[x * bytes + ch], want)
                    << ResampleFilterName(filter) << " to " << to << " row " << y << " x " << x;
            }
}

void FillPattern(TDibBuffer& b) {
    for (int y = 0; y < b.AbsHeight(); ++y)
        for (int i = 0; i < b.RowStride() - b.RowGap(); ++i)
            b.Line(y)[i] = static_cast<uint8_t>((i * 73 + y * 41 + 19 + ((i % 997) * (i % 997) >> 3)) % 256);
}

TEST(DibResample, PassMatchesTheContributionRule) {
    for (int bpp : {8, 24, 32}) {
        TDibBuffer src;
        src.SetSize(17, 11, bpp);
        FillPattern(src);
        for (int f = 0; f < kResampleFilterCount; ++f)
            for (int to : {5, 40}) ExpectRule(src, to, f);
    }
}

TEST(DibResample, VeryWideRowsTakeTheDirectPath) {
    TDibBuffer src;
    src.SetSize(700001, 1, 24);
    FillPattern(src);
    ExpectRule(src, 233333, 14);
}

TEST(DibResample, NearestDoublingRepeatsPixelsAndEqualSizesCopy) {
    TDibBuffer src, dst;
    src.SetSize(4, 1, 8);
    for (int x = 0; x < 4; ++x) src.Line(0)[x] = static_cast<uint8_t>(10 * (x + 1));
    dst.SetSize(8, 2, 8);
    FilteredResize(src, dst, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(dst.Line(y)[x], 10 * (x / 2 + 1));
    TDibBuffer same;
    same.SetSize(4, -1, 8);
    FilteredResize(src, same, 14);
    EXPECT_EQ(std::memcmp(same.Line(0), src.Line(0), 4), 0);
}

TEST(DibResample, UnsupportedOrEmptySidesLeaveTheDestination) {
    TDibBuffer src, dst, empty;
    src.SetSize(8, 8, 24);
    FillBytes(src, 200);
    for (int bpp : {1, 4}) {
        TDibBuffer packed;
        packed.SetSize(16, 16, bpp);
        FillBytes(packed, 0x5A);
        FilteredResize(src, packed, 2);
        EXPECT_TRUE(BytesWithin(packed, 0x5A, 0x5A));
        dst.SetSize(4, 4, 24);
        FillBytes(dst, 7);
        FilteredResize(packed, dst, 2);
        EXPECT_TRUE(BytesWithin(dst, 7, 7));
    }
    FilteredResize(src, empty, 2);
    FilteredResize(empty, dst, 2);
    EXPECT_TRUE(BytesWithin(dst, 7, 7));
    TDibBuffer zeroWidth;
    zeroWidth.SetSize(0, 4, 24);
    FilteredResize(src, zeroWidth, 14);
}

TEST(DibResample, AlphaIsResampledFromThirtyTwoBitsAndOpaqueFromTwentyFour) {
    TDibBuffer rgba, rgb, out;
    rgba.SetSize(6, 6, 32);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            uint8_t* p = rgba.Line(y) + 4 * x;
            p[0] = 10, p[1] = 20, p[2] = 30, p[3] = x < 3 ? 0 : 240;
        }
    out.SetSize(12, 3, 32);
    FilteredResize(rgba, out, 2);
    EXPECT_EQ(out.Line(1)[3], 0);
    EXPECT_EQ(out.Line(1)[4 * 11 + 3], 240);
    EXPECT_LT(out.Line(1)[4 * 5 + 3], 240);  // the edge is blended
    EXPECT_EQ(out.Line(1)[4 * 5 + 2], 30);

    rgb.SetSize(6, 6, 24);
    FillBytes(rgb, 99);
    for (int w : {6, 12}) {
        out.SetSize(w, 3, 32);
        FilteredResize(rgb, out, 14);
        for (int x = 0; x < w; ++x) {
            EXPECT_EQ(out.Line(2)[4 * x + 3], 255);
            EXPECT_EQ(out.Line(2)[4 * x], 99);
        }
    }
}

TEST(DibResample, ConvertedDepthsStayFlat) {
    for (int sbpp : {8, 16, 24, 32})
        for (int dbpp : {16, 24, 32}) {
            TDibBuffer src, dst;
            MakeDib(src, 9, 7, sbpp);
            for (int i = 0; i < 256; ++i) src.ColorTable()[static_cast<size_t>(i)] = {120, 120, 120, 0};
            if (sbpp == 16) {
                const uint16_t p = (12 << 11) | (40 << 5) | 7;
                for (int y = 0; y < 7; ++y)
                    for (int x = 0; x < 9; ++x) std::memcpy(src.Line(y) + 2 * x, &p, 2);
            } else {
                FillBytes(src, 120);
            }
            MakeDib(dst, 4, 15, dbpp);
            FilteredResize(src, dst, 14);
            TDibBuffer first, last;
            first.MakeSubView(dst, 0, 0, 1, 1);
            for (int y = 0; y < 15; ++y)
                for (int x = 0; x < 4; ++x)
                    ASSERT_EQ(std::memcmp(dst.Line(y) + x * dbpp / 8, first.Line(0), static_cast<size_t>(dbpp / 8)), 0)
                        << sbpp << " -> " << dbpp;
        }
}

TEST(DibResample, OrientationAndScratchDoNotChangeTheResult) {
    TDibBuffer up, down;
    up.SetSize(11, 9, 32);
    down.SetSize(11, -9, 32);
    FillPattern(up);
    FillPattern(down);
    TDibBuffer a, b, c, scratch;
    a.SetSize(5, 20, 32);
    b.SetSize(5, -20, 32);
    c.SetSize(5, 20, 32);
    scratch.SetSize(2, 2, 8);
    FilteredResize(up, a, 14);
    FilteredResize(down, b, 14);
    FilteredResize(up, c, 14, &scratch);
    EXPECT_GE(scratch.Width(), 5);
    for (int y = 0; y < 20; ++y) {
        EXPECT_EQ(std::memcmp(a.Line(y), b.Line(y), 20), 0);
        EXPECT_EQ(std::memcmp(a.Line(y), c.Line(y), 20), 0);
    }
}

TEST(DibResample, DestinationOverlappingTheSource) {
    TDibBuffer big, src, dst, copy, want;
    big.SetSize(20, 20, 24);
    FillPattern(big);
    src.MakeSubView(big, 0, 0, 16, 16);
    dst.MakeSubView(big, 4, 4, 10, 12);
    src.CloneTo(copy);
    want.SetSize(10, 12, 24);
    FilteredResize(copy, want, 7);
    FilteredResize(src, dst, 7);
    for (int y = 0; y < 12; ++y) EXPECT_EQ(std::memcmp(dst.Line(y), want.Line(y), 30), 0);
}

}  // namespace
}  // namespace jx
