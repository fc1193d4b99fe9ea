// Preview rendering: inspection modes, alpha over the three backgrounds, wide rows, the palette
// grid and the histogram.
#include <gtest/gtest.h>

#include <cmath>

#include "engine_test_util.h"
#include "imaging/preview.h"
#include "imaging/sort.h"

namespace jx {
namespace {

using test::Rgba;

std::array<uint8_t, 3> At(const TDibBuffer& b, int32_t x, int32_t y) {
    const uint8_t* p = b.Line(y) + int64_t{x} * 3;
    return {p[2], p[1], p[0]};  // R, G, B
}
using Rgb = std::array<uint8_t, 3>;

// Source and working image set directly, without the converter.
void SetImages(EngineState& s, int32_t w, int32_t h, const std::vector<TPixelRec>& src,
               const std::vector<TPixelRec>& out) {
    s.SourceImage.Resize(w, h);
    s.WorkingImage.Resize(w, h);
    std::copy(src.begin(), src.end(), s.SourceImage.Data());
    std::copy(out.begin(), out.end(), s.WorkingImage.Data());
}

TEST(RenderPreview, AlphaOverColourGridAndPicture) {
    EngineState s;
    s.HasAlpha = true;
    std::vector<TPixelRec> px(5, Rgba(0, 0, 0, 0));
    px[1] = Rgba(200, 100, 0, 128);
    px[4] = Rgba(7, 8, 9);  // opaque pixels show as they are over every background
    SetImages(s, 5, 1, px, px);
    TDibBuffer view;

    s.BackgroundMode = TBackgroundMode::Color;
    s.BackgroundColor = 0xFF0000;  // blue, red in the low byte
    RenderImage(s, view);
    EXPECT_EQ(At(view, 0, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(At(view, 4, 0), (Rgb{7, 8, 9}));
    const double a = 128 / 255.0;
    EXPECT_EQ(At(view, 1, 0), (Rgb{uint8_t(std::nearbyint(200 * a)), uint8_t(std::nearbyint(100 * a)),
                                  uint8_t(std::nearbyint((1 - a) * 255))}));

    // Grid cells of 2: columns 0-1 take colour 0 on row 0, columns 2-3 colour 1.
    s.BackgroundMode = TBackgroundMode::Grid;
    s.GridCellSize = 2;
    s.GridColors = {Rgba(11, 22, 33), Rgba(44, 55, 66)};
    RenderImage(s, view);
    EXPECT_EQ(At(view, 0, 0), (Rgb{11, 22, 33}));
    EXPECT_EQ(At(view, 3, 0), (Rgb{44, 55, 66}));
    EXPECT_EQ(At(view, 4, 0), (Rgb{7, 8, 9}));

    // A 3x1 picture tiles: column 3 shows its column 0.
    s.BackgroundMode = TBackgroundMode::Picture;
    s.BackgroundPicture.Resize(3, 1);
    s.BackgroundPicture[0][0] = Rgba(9, 9, 9);
    s.BackgroundPicture[0][2] = Rgba(7, 7, 7);
    RenderImage(s, view);
    EXPECT_EQ(At(view, 3, 0), (Rgb{9, 9, 9}));
    EXPECT_EQ(At(view, 2, 0), (Rgb{7, 7, 7}));
    EXPECT_EQ(At(view, 4, 0), (Rgb{7, 8, 9}));

    // The source view composites the same way.
    ShowSource(s, view);
    EXPECT_EQ(At(view, 3, 0), (Rgb{9, 9, 9}));
}

TEST(RenderPreview, InspectionModes) {
    EngineState s;
    SetImages(s, 3, 1, {Rgba(0, 0, 0), Rgba(50, 60, 70, 90), Rgba(1, 1, 1)},
              {Rgba(255, 0, 0), Rgba(50, 60, 70, 90), Rgba(3, 1, 1)});
    TDibBuffer view;
    RenderImage(s, view, {.ShowErrorMap = true});
    EXPECT_EQ(At(view, 0, 0), (Rgb{255, 0, 0}));  // distance 255^2: entry 7
    EXPECT_EQ(At(view, 1, 0), (Rgb{0, 0, 0}));    // identical
    EXPECT_EQ(At(view, 2, 0), (Rgb{0, 0, 128}));  // error 2: entry 1
    RenderImage(s, view, {.ShowSourceOpaque = true});
    EXPECT_EQ(At(view, 1, 0), (Rgb{50, 60, 70}));
    RenderImage(s, view, {.ShowAlphaChannel = true});
    EXPECT_EQ(At(view, 1, 0), (Rgb{90, 90, 90}));
    EXPECT_EQ(At(view, 0, 0), (Rgb{255, 255, 255}));
}

TEST(RenderPreview, RowsWiderThan65535Bytes) {
    EngineState s;
    const int32_t w = 30000;
    std::vector<TPixelRec> px(size_t(w) * 2, Rgba(1, 2, 3));
    px.back() = Rgba(40, 50, 60);
    px[size_t(w) - 1] = Rgba(70, 80, 90);
    SetImages(s, w, 2, px, px);
    TDibBuffer view;
    RenderImage(s, view);
    EXPECT_EQ(At(view, w - 1, 1), (Rgb{40, 50, 60}));
    EXPECT_EQ(At(view, w - 1, 0), (Rgb{70, 80, 90}));
    EXPECT_EQ(At(view, 0, 1), (Rgb{1, 2, 3}));
}

TEST(RenderPreview, PaletteGridLayout) {
    EngineState s;
    TDibBuffer grid;
    s.PaletteSize = -1;
    EXPECT_FALSE(DrawPaletteGrid(s, false, grid));
    s.Palette.assign(17, Rgba(10, 20, 30));
    s.PaletteSize = 16;
    ASSERT_TRUE(DrawPaletteGrid(s, false, grid));
    EXPECT_EQ(grid.Width(), 257);
    EXPECT_EQ(grid.AbsHeight(), 17);
    EXPECT_EQ(At(grid, 0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(At(grid, 15, 15), (Rgb{10, 20, 30}));
    EXPECT_EQ(At(grid, 16, 1), (Rgb{0, 0, 0}));  // the line between cells
    EXPECT_EQ(At(grid, 256, 16), (Rgb{0, 0, 0}));

    s.Palette[16] = Rgba(1, 2, 3, 100);
    s.PaletteSize = 17;
    ASSERT_TRUE(DrawPaletteGrid(s, false, grid));
    EXPECT_EQ(grid.AbsHeight(), 33);
    // The translucent entry carries the 4x4 marker.
    EXPECT_EQ(At(grid, 1, 17), (Rgb{255, 255, 255}));
    EXPECT_EQ(At(grid, 3, 17), (Rgb{192, 192, 192}));
    EXPECT_EQ(At(grid, 4, 20), (Rgb{255, 255, 255}));
    EXPECT_EQ(At(grid, 5, 21), (Rgb{1, 2, 3}));

    // Resorting puts the palette in the view order and drops the stale nearest-colour cache.
    s.PaletteSortType = SortByLuminanceAsc;
    s.ColorTree.Cell(1, 2, 3, 4) = 5;
    DrawPaletteGrid(s, true, grid);
    for (int i = 1; i < 17; ++i) EXPECT_LE(s.Palette[size_t(i - 1)].c1, s.Palette[size_t(i)].c1);
    EXPECT_EQ(s.ColorTree.NodeCount(), 1u);
}

TEST(RenderPreview, HistogramBarsAreKeptUntilTheNextQuantize) {
    EngineState s;
    SetImages(s, 1, 1, {Rgba(0, 0, 0)}, {Rgba(0, 0, 0)});
    s.ChannelHistograms = {};
    s.ChannelHistograms[0][10] = 100;
    s.ChannelHistograms[0][20] = 25;
    s.ChannelHistograms[1][10] = 100;
    s.ChannelHistograms[2][10] = 100;
    s.HistogramDirty = true;
    TDibBuffer box, again;
    const TRgbQuad face{240, 240, 240, 0};
    DrawHistogram(s, 300, 50, face, box);
    EXPECT_FALSE(s.HistogramDirty);
    EXPECT_EQ(s.ChannelHistograms[0][10], 0);   // full height
    EXPECT_EQ(s.ChannelHistograms[0][20], 25);  // 50 - Round(sqrt(25)/10 * 50)
    EXPECT_EQ(s.ChannelHistograms[0][0], 50);   // empty bin: no bar
    EXPECT_EQ(s.ChannelHistograms[3][5], 0);    // an empty channel stays as it was
    const int32_t left = (300 - 256) / 2;
    EXPECT_EQ(At(box, 0, 0), (Rgb{240, 240, 240}));
    EXPECT_EQ(At(box, left, 0), (Rgb{0, 0, 0}));
    // The bars mix where they overlap.
    EXPECT_EQ(At(box, left + 10, 40), (Rgb{64, 64, 64}));
    EXPECT_EQ(At(box, left + 20, 40), (Rgb{64, 0, 0}));
    EXPECT_EQ(At(box, left + 20, 10), (Rgb{0, 0, 0}));
    DrawHistogram(s, 300, 50, face, again);
    for (int32_t y = 0; y < 50; ++y)
        for (int32_t x = 0; x < 300; ++x) ASSERT_EQ(At(box, x, y), At(again, x, y));
}

}  // namespace
}  // namespace jx
