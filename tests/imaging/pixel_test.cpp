#include <gtest/gtest.h>

#include "engine_test_util.h"
#include "imaging/engine_state.h"
#include "imaging/errors.h"
#include "imaging/pixel.h"

namespace jx {
namespace {

using test::Rgba;

TEST(PixelRecord, WeightSumsSaturate) {
    EXPECT_EQ(AddWeight(2147483000, 1000), 2147483647);
    EXPECT_EQ(AddWeight(10, 5), 15);
    EXPECT_EQ(AddWeight(2147483647, int64_t{255} * 100000000), 2147483647);
}

TPixelRec Working(uint8_t c1, uint8_t c2, uint8_t c3, uint8_t a = 255) {
    TPixelRec p = Rgba(0, 0, 0, a);
    p.c1 = c1;
    p.c2 = c2;
    p.c3 = c3;
    return p;
}

TEST(ColorDistance, UsesOnlyWorkingComponentsAndAlpha) {
    TPixelRec p = Working(10, 20, 30);
    TPixelRec q = p;
    q.R = 200;
    q.G = 100;
    EXPECT_EQ(ColorDistance(p, q, 3, true), 0);  // RGB takes no part

    q = p;
    q.A = 0;
    EXPECT_EQ(ColorDistance(p, q, 3, false), 0);
    EXPECT_EQ(ColorDistance(p, q, 3, true), 255 * 255);

    const TPixelRec a = Working(0, 0, 0, 0), b = Working(255, 255, 255, 255);
    EXPECT_EQ(ColorDistance(a, b, 5, true), 2405925);
}

TEST(ColorDistance, LumaShiftWeighsLightness) {
    const TPixelRec base = Working(100, 100, 100);
    const TPixelRec dl = Working(110, 100, 100);
    const TPixelRec dc = Working(100, 110, 100);
    // The chroma term weighs 2; lightness 2^shift.
    for (unsigned s = 0; s <= 5; ++s) EXPECT_EQ(ColorDistance(base, dl, s, false), 100 << s);
    EXPECT_EQ(ColorDistance(base, dc, 3, false), 200);

    EngineState state;
    state.LumaShift = 1;
    EXPECT_EQ(ColorDistance(state, base, dl), 200);
}

TEST(EngineStateTest, ClearPixelUsesConverter) {
    EngineState s;
    TPixelRec p = Rgba(10, 20, 30, 0);
    p.Weight = 9;
    ClearPixel(s, p);
    EXPECT_EQ(p, Working(0, 128, 128, 0));

    // With alpha and a chosen background the cleared colour takes the background's working values.
    s.HasAlpha = true;
    s.AlphaBackground.A = 255;
    ClearPixel(s, p);
    EXPECT_EQ(PixelKey(p), 0u);
    EXPECT_EQ(p.c1, 255);
}

TEST(ImageSize, CheckedIn64Bits) {
    EXPECT_NO_THROW(CheckImageSize(16384, 16384));
    EXPECT_THROW(CheckImageSize(16385, 16384), ImagingError);
    EXPECT_THROW(CheckImageSize(-1, 10), ImagingError);
    // 2^32 x 2^32 would wrap to 0 in 64-bit multiplication of 32-bit halves.
    EXPECT_THROW(CheckImageSize(int64_t{1} << 32, int64_t{1} << 32), ImagingError);
    EXPECT_THROW(CheckImageSize(int64_t{1} << 62, 4), ImagingError);
    TPixelImage img;
    EXPECT_THROW(img.Resize(100000, 100000), ImagingError);
    EXPECT_TRUE(img.Empty());
    try {
        CheckImageSize(70000, 70000);
        FAIL();
    } catch (const ImagingError& e) {
        EXPECT_NE(std::string(e.what()).find("70000 x 70000"), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace jx
