// Error metrics against hand computation, the pixel sets they average over, and their texts.
#include <gtest/gtest.h>

#include <cmath>

#include "engine_test_util.h"
#include "imaging/metrics.h"

namespace jx {
namespace {

TPixelRec C(uint8_t c1, uint8_t c2, uint8_t c3, uint8_t a = 255) {
    TPixelRec p;
    p.c1 = c1, p.c2 = c2, p.c3 = c3, p.A = a;
    return p;
}

void SetImages(EngineState& s, const std::vector<TPixelRec>& src, const std::vector<TPixelRec>& out) {
    s.SourceImage.Resize(int32_t(src.size()), 1);
    s.WorkingImage.Resize(int32_t(out.size()), 1);
    std::copy(src.begin(), src.end(), s.SourceImage.Data());
    std::copy(out.begin(), out.end(), s.WorkingImage.Data());
}

TEST(MetricsError, KnownPairMatchesHandComputation) {
    EngineState s;
    // Differences per pixel: (3, 0, -4) and (1, 2, 0); alpha equal.
    SetImages(s, {C(10, 128, 128), C(50, 60, 70)}, {C(13, 128, 124), C(51, 62, 70)});
    const TErrorMetrics mse = ShowErrorMetrics(s, TErrorMetric::Mse, 0, false);
    EXPECT_DOUBLE_EQ(mse.Value[0], 5.0);  // (9 + 1) / 2
    EXPECT_DOUBLE_EQ(mse.Value[1], 2.0);  // (0 + 4) / 2
    EXPECT_DOUBLE_EQ(mse.Value[2], 8.0);  // (16 + 0) / 2
    EXPECT_EQ(mse.Labels[0], "y:\t5.00");
    EXPECT_EQ(mse.Labels[1], "cr:\t2.00");
    EXPECT_EQ(mse.Labels[2], "cb:\t8.00");
    EXPECT_EQ(mse.Labels[3], "-");  // no alpha
    const TErrorMetrics msad = ShowErrorMetrics(s, TErrorMetric::Msad, 0, false);
    EXPECT_DOUBLE_EQ(msad.Value[0], 2.0);
    EXPECT_DOUBLE_EQ(msad.Value[2], 2.0);
    const TErrorMetrics psnr = ShowErrorMetrics(s, TErrorMetric::Psnr, 0, false);
    EXPECT_EQ(psnr.Labels[0], "y:\t41.14 dB");  // 10 log10(65025 / 5)
    const TErrorMetrics rmse = ShowErrorMetrics(s, TErrorMetric::Rmse, 0, true);
    EXPECT_DOUBLE_EQ(rmse.Rmse, std::sqrt(15.0));
    EXPECT_EQ(rmse.Labels[0], "3.87");
    EXPECT_EQ(rmse.Labels[1], "-");
    EXPECT_EQ(rmse.BatchRmse, "3.87");
    // Batch always measures rmse, whatever metric is asked.
    EXPECT_EQ(ShowErrorMetrics(s, TErrorMetric::Mse, 0, true).Labels[0], "3.87");
}

TEST(MetricsError, MeansDivideOverThePixelsTheySum) {
    EngineState s;
    s.HasAlpha = true;
    // An opaque pixel with error 6 in c1, a translucent one with error 2 in c1 and 10 in alpha,
    // and a translucent one that became fully transparent (alpha error 4, colour not counted).
    SetImages(s, {C(10, 128, 128), C(10, 128, 128, 100), C(90, 10, 10, 4)},
              {C(16, 128, 128), C(12, 128, 128, 110), C(0, 0, 0, 0)});
    const TErrorMetrics all = ShowErrorMetrics(s, TErrorMetric::Mse, 0, false);
    EXPECT_EQ(all.ColorPixels, 2);
    EXPECT_EQ(all.AlphaPixels, 3);
    EXPECT_DOUBLE_EQ(all.Value[0], (36 + 4) / 2.0);
    EXPECT_DOUBLE_EQ(all.Value[3], (0 + 100 + 16) / 3.0);
    const TErrorMetrics opaque = ShowErrorMetrics(s, TErrorMetric::Mse, 1, false);
    EXPECT_DOUBLE_EQ(opaque.Value[0], 36.0);
    EXPECT_EQ(opaque.Labels[3], "a:\t0.00");
    const TErrorMetrics translucent = ShowErrorMetrics(s, TErrorMetric::Mse, 2, false);
    EXPECT_DOUBLE_EQ(translucent.Value[0], 4.0);
    EXPECT_DOUBLE_EQ(translucent.Value[3], 58.0);

    // A tab that leaves no pixel shows "-" rather than a division by zero.
    SetImages(s, {C(10, 128, 128)}, {C(16, 128, 128)});
    const TErrorMetrics none = ShowErrorMetrics(s, TErrorMetric::Psnr, 2, false);
    for (const std::string& l : none.Labels) EXPECT_EQ(l, "-");
    EXPECT_EQ(ShowErrorMetrics(s, TErrorMetric::Rmse, 2, true).BatchRmse, "-");

    // No error at all: the signal-to-noise ratio is infinite, not a division by zero.
    SetImages(s, {C(10, 128, 128), C(200, 100, 50, 7)}, {C(10, 128, 128), C(200, 100, 50, 7)});
    const TErrorMetrics psnr = ShowErrorMetrics(s, TErrorMetric::Psnr, 0, false);
    EXPECT_EQ(psnr.Labels[0], "y:\tinf dB");
    EXPECT_EQ(psnr.Labels[3], "a:\tinf dB");
    EXPECT_EQ(ShowErrorMetrics(s, TErrorMetric::Rmse, 0, true).BatchRmse, "0.00");
}

}  // namespace
}  // namespace jx
