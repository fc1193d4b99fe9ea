#include <gtest/gtest.h>

#include "fileio/preview_resample.h"

namespace jx {
namespace {

TBitmap Make(int w, int h, auto colour) {
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const TBitmap::TBgra c = colour(x, y);
            uint8_t* p = b.ScanLine(y) + 3 * x;
            p[0] = c.B, p[1] = c.G, p[2] = c.R;
        }
    return b;
}

const TResamplingFilter kAll[] = {sfBox, sfTriangle, sfHermite, sfBell, sfSpline, sfLanczos3, sfMitchell};

TEST(PreviewResample, FlatImagesKeepTheirValueWithEveryKernel) {
    for (TResamplingFilter f : kAll)
        for (auto [w, h] : {std::pair{7, 5}, {1, 1}, {3, 1}, {20, 9}}) {
            TBitmap src = Make(5, 4, [](int, int) { return TBitmap::TBgra{10, 128, 250, 255}; });
            TBitmap dst;
            ResampleBitmap(w, h, f, dst, src);
            ASSERT_EQ(dst.Width(), w);
            ASSERT_EQ(dst.Height(), h);
            ASSERT_EQ(dst.PixelFormat(), TPixelFormat::pf24bit);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(dst.Pixel(x, y), (TBitmap::TBgra{10, 128, 250, 255})) << f << " " << w;
        }
}

TEST(PreviewResample, NarrowSourcesAndTargetsAndWideKernels) {
    // One pixel wide source, a one pixel wide target, and a Lanczos kernel
    // much wider than a two-pixel source.
    TBitmap one = Make(1, 3, [](int, int y) { return TBitmap::TBgra{uint8_t(y * 100), 0, 0, 255}; });
    TBitmap dst;
    ResampleBitmap(4, 3, sfTriangle, dst, one);
    EXPECT_EQ(dst.Pixel(3, 2).B, 200);
    TBitmap row = Make(9, 2, [](int x, int) { return TBitmap::TBgra{uint8_t(x * 20), 0, 0, 255}; });
    ResampleBitmap(1, 1, sfLanczos3, dst, row);
    EXPECT_EQ(dst.Width(), 1);
    TBitmap two = Make(2, 2, [](int x, int) { return TBitmap::TBgra{uint8_t(x * 255), 9, 9, 255}; });
    ResampleBitmap(5, 40, sfLanczos3, dst, two, 30.0f);
    EXPECT_EQ(dst.Height(), 40);
    ResampleBitmap(1, 1, sfMitchell, dst, two, 30.0f);
    EXPECT_EQ(dst.Pixel(0, 0).G, 9);
}

TEST(PreviewResample, ZeroSizesDoNothing) {
    TBitmap src = Make(2, 2, [](int, int) { return TBitmap::TBgra{1, 2, 3, 255}; });
    TBitmap dst;
    ResampleBitmap(0, 3, sfBox, dst, src);
    EXPECT_TRUE(dst.Empty());
}

}  // namespace
}  // namespace jx
