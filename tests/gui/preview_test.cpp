#include <gtest/gtest.h>

#include "gui/preview.h"
#include "gui_app.h"
#include "imaging/color_tree.h"

namespace {

jx::TPixelRec Rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    jx::TPixelRec p;
    p.R = r;
    p.G = g;
    p.B = b;
    p.A = a;
    return p;
}

jx::EngineState TwoPixelState(const jx::TPixelRec& src, const jx::TPixelRec& out) {
    jx::EngineState s;
    jx::TPixelImage img(2, 1, src);
    s.SetSourceImage(img);
    s.WorkingImage[0][0] = out;
    s.WorkingImage[0][1] = out;
    return s;
}

TEST(Preview, PaletteGridSizeAndEmptyCells) {
    GuiApp();
    jx::EngineState s;
    s.Palette.assign(32, Rgba(10, 20, 30, 255));
    s.PaletteSize = 16;
    QImage g = jx::DrawPaletteGrid(s);
    EXPECT_EQ(g.size(), QSize(257, 17));
    EXPECT_EQ(g.pixel(1, 1), qRgb(10, 20, 30));
    s.PaletteSize = 17;
    g = jx::DrawPaletteGrid(s);
    EXPECT_EQ(g.size(), QSize(257, 33));
    // The cell after the last entry is black with a white cross; the corner stays black.
    EXPECT_EQ(g.pixel(1 + 16 + 1, 17 + 1), qRgb(0, 0, 0));
    bool white = false;
    for (int y = 17; y < 33; ++y)
        for (int x = 17; x < 33; ++x) white |= g.pixel(x, y) == qRgb(255, 255, 255);
    EXPECT_TRUE(white);
    s.PaletteSize = -1;
    EXPECT_TRUE(jx::DrawPaletteGrid(s).isNull());
}

TEST(Preview, TranslucentEntryMarkerInTheGrid) {
    GuiApp();
    jx::EngineState s;
    s.Palette.assign(1, Rgba(0, 0, 200, 100));
    s.PaletteSize = 1;
    const QImage g = jx::DrawPaletteGrid(s);
    EXPECT_EQ(g.pixel(1, 1), qRgb(255, 255, 255));
    EXPECT_EQ(g.pixel(3, 1), qRgb(192, 192, 192));
    EXPECT_EQ(g.pixel(3, 3), qRgb(255, 255, 255));
    EXPECT_EQ(g.pixel(6, 6), qRgb(0, 0, 200));
}

TEST(Preview, TransparentPixelShowsTheGridExactly) {
    GuiApp();
    jx::EngineState s = TwoPixelState(Rgba(0, 0, 0, 0), Rgba(0, 0, 0, 0));
    s.HasAlpha = true;
    s.BackgroundMode = jx::TBackgroundMode::Grid;
    s.GridCellSize = 1;
    s.GridColors[0] = Rgba(255, 255, 255, 255);
    s.GridColors[1] = Rgba(204, 204, 204, 255);
    const QImage v = jx::RenderImage(s);
    EXPECT_EQ(v.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(v.pixel(1, 0), qRgb(204, 204, 204));

    // An opaque image ignores the background entirely.
    jx::EngineState o = TwoPixelState(Rgba(1, 2, 3, 255), Rgba(1, 2, 3, 255));
    o.BackgroundMode = jx::TBackgroundMode::Color;
    o.BackgroundColor = 0x0000FF;
    EXPECT_EQ(jx::RenderImage(o).pixel(0, 0), qRgb(1, 2, 3));
}

TEST(Preview, HalfAlphaBlendsRoundingHalfToEven) {
    GuiApp();
    jx::EngineState s = TwoPixelState(Rgba(0, 0, 0, 255), Rgba(255, 0, 1, 128));
    s.HasAlpha = true;
    s.BackgroundMode = jx::TBackgroundMode::Color;
    s.BackgroundColor = 0x000000;
    const QImage v = jx::RenderImage(s);
    // 255 * 128/255 = 128; 1 * 128/255 = 0.502 -> 1.
    EXPECT_EQ(v.pixel(0, 0), qRgb(128, 0, 1));
}

TEST(Preview, ErrorMapColours) {
    GuiApp();
    jx::EngineState same = TwoPixelState(Rgba(9, 9, 9, 255), Rgba(9, 9, 9, 255));
    const jx::TViewOptions errors{.ShowErrorMap = true};
    EXPECT_EQ(jx::RenderImage(same, errors).pixel(0, 0), qRgb(0, 0, 0));
    jx::EngineState far = TwoPixelState(Rgba(255, 0, 0, 255), Rgba(0, 0, 0, 255));
    EXPECT_EQ(jx::PremultipliedDistance(far.WorkingImage[0][0], far.SourceImage[0][0]), 65025u);
    EXPECT_EQ(jx::RenderImage(far, errors).pixel(0, 0), qRgb(255, 0, 0));
}

TEST(Preview, ViewModesShowTheSource) {
    GuiApp();
    jx::EngineState s = TwoPixelState(Rgba(10, 20, 30, 40), Rgba(0, 0, 0, 255));
    s.HasAlpha = true;
    EXPECT_EQ(jx::RenderImage(s, {.ShowSourceOpaque = true}).pixel(0, 0), qRgb(10, 20, 30));
    EXPECT_EQ(jx::RenderImage(s, {.ShowAlphaChannel = true}).pixel(0, 0), qRgb(40, 40, 40));
}

TEST(Preview, PerfectResultShowsInfinitePsnr) {
    GuiApp();
    jx::EngineState s = TwoPixelState(Rgba(10, 20, 30, 255), Rgba(10, 20, 30, 255));
    s.WorkingImage = s.SourceImage;
    const auto t = jx::ErrorMetricTexts(s, jx::TErrorMetric::Psnr);
    EXPECT_EQ(t[0], "y:\tinf dB");
    EXPECT_EQ(t[1], "cr:\tinf dB");
    EXPECT_EQ(t[2], "cb:\tinf dB");
    EXPECT_EQ(t[3], "-");
}

TEST(Preview, HistogramRedrawKeepsTheBars) {
    GuiApp();
    jx::EngineState s = TwoPixelState(Rgba(10, 20, 30, 255), Rgba(10, 20, 30, 255));
    s.ChannelHistograms[0][10] = 2;
    s.ChannelHistograms[1][20] = 2;
    s.ChannelHistograms[2][30] = 2;
    s.HistogramDirty = true;
    const QImage first = jx::DrawHistogram(s, QSize(264, 100), Qt::gray);
    EXPECT_FALSE(s.HistogramDirty);
    const QImage second = jx::DrawHistogram(s, QSize(264, 100), Qt::gray);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first.pixel(4 + 100, 50), qRgb(0, 0, 0));  // no counts: nothing drawn
    EXPECT_EQ(first.pixel(1, 50), QColor(Qt::gray).rgb());  // outside the 256-wide box
    EXPECT_NE(qRed(first.pixel(4 + 10, 50)), 0);         // the red bar
}

}  // namespace
