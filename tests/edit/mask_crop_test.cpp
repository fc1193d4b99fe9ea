#include <gtest/gtest.h>

#include "edit/commit.h"
#include "edit/crop.h"
#include "edit/errors.h"
#include "edit/mask_brush.h"
#include "edit_test_util.h"

namespace jx {
namespace {

constexpr int k3x3 = 9;

TEST(MaskBrush, StrengthRoundsHalfToEvenAndPaintNeverLowers) {
    EXPECT_EQ(BrushWeight(227, 32), 28);  // 28.375
    EXPECT_EQ(BrushWeight(84, 32), 10);   // 10.5 -> even
    EXPECT_EQ(BrushWeight(28, 32), 4);    // 3.5 -> even
    EXPECT_EQ(BrushWeight(255, 255), 254);
    EXPECT_EQ(BrushWeight(255, 0), 0);

    TByteImage mask(40, 30);
    PaintMaskBrush(mask, 20, 15, BrushTable(k3x3), 32, false);
    // The spot's centre (brush row and column 7) lands one pixel up and left of the point.
    EXPECT_EQ(mask[14][19], 28);
    EXPECT_EQ(mask[13][18], 4);
    EXPECT_EQ(mask[15][20], 5);
    EXPECT_EQ(mask[15][15], 0);

    mask[14][19] = 100;
    mask[13][18] = 1;
    PaintMaskBrush(mask, 20, 15, BrushTable(k3x3), 32, false);
    EXPECT_EQ(mask[14][19], 100);
    EXPECT_EQ(mask[13][18], 4);

    PaintMaskBrush(mask, 20, 15, BrushTable(k3x3), 32, true);
    EXPECT_EQ(mask[14][19], 72);
    for (int i = 0; i < 4; ++i) PaintMaskBrush(mask, 20, 15, BrushTable(k3x3), 32, true);
    EXPECT_EQ(mask[14][19], 0);
    EXPECT_EQ(mask[13][18], 0);
}

TEST(MaskBrush, PositionsBeyondTheEdgePileOntoIt) {
    TByteImage mask(4, 4);
    mask[0][0] = 255;
    const TMaskArea area = PaintMaskBrush(mask, 0, 0, BrushTable(k3x3), 32, true);
    // All nine weights (4+10+3+10+28+10+6+15+5) come off the corner pixel.
    EXPECT_EQ(mask[0][0], 255 - 91);
    EXPECT_EQ(area.Left, 0);
    EXPECT_EQ(area.Right, 1);
    EXPECT_EQ(area.Bottom, 1);
    // A point far outside still lands on the edge, without wrapping; an unknown brush is the default.
    PaintMaskBrush(mask, INT32_MAX, INT32_MIN, BrushTable(12), 255, false);
    EXPECT_EQ(mask[0][3], 254);
    EXPECT_EQ(&BrushTable(99), &BrushTable(kDefaultBrushImage));
}

TEST(MaskBrush, OverlayCapsAndStrengthTextClamps) {
    EXPECT_EQ(MaskOverlayPixel(0xFF'FF'64'FAu, 0), 0xFF'7F'32'7Du);
    EXPECT_EQ(MaskOverlayPixel(0xFF'FF'64'FAu, 200), 0xFF'48'32'FFu);  // R 127+200-255, B capped
    EXPECT_EQ(StrengthText("1a2-3"), "123");
    EXPECT_EQ(StrengthText("256"), "255");
    EXPECT_EQ(StrengthText("99999999999999999999"), "255");
    EXPECT_EQ(StrengthText("x"), "");
}

TEST(CropHit, NinePartsInOrder) {
    const TCropRect r{10, 10, 50, 40};
    using P = TCropPart;
    const struct { int x, y; P part; } cases[] = {
        {14, 6, P::TopLeft},     {50, 10, P::TopRight}, {10, 40, P::BottomLeft}, {54, 44, P::BottomRight},
        {8, 25, P::LeftEdge},    {52, 25, P::RightEdge}, {30, 13, P::TopEdge},  {30, 37, P::BottomEdge},
        {15, 15, P::Inside},     {5, 25, P::None},       {30, 5, P::None},      {-100, -100, P::None},
    };
    for (const auto& c : cases) EXPECT_EQ(CropHitTest(r, c.x, c.y), c.part) << c.x << "," << c.y;
    // The same parts for a rectangle given the other way round.
    EXPECT_EQ(CropHitTest(TCropRect{50, 40, 10, 10}, 10, 10), P::TopLeft);
}

TEST(CropHit, ReversedDragsKeepTheSelectionTheRightWayRound) {
    TCropSelection a, b;
    a.Arm();
    a.Press(50, 40, 100, 80);
    a.Move(10, 10, 100, 80);
    EXPECT_TRUE(a.Release());
    b.Arm();
    b.Press(10, 10, 100, 80);
    b.Move(50, 40, 100, 80);
    b.Release();
    EXPECT_EQ(a.Rect(), (TCropRect{10, 10, 50, 40}));
    EXPECT_EQ(a.Rect(), b.Rect());
    EXPECT_FALSE(a.Armed());

    // The left edge dragged past the right one becomes the right edge and follows on.
    ASSERT_TRUE(a.Press(10, 25, 100, 80));
    a.Move(70, 25, 100, 80);
    EXPECT_EQ(a.Rect(), (TCropRect{50, 10, 70, 40}));
    a.Move(60, 25, 100, 80);
    EXPECT_EQ(a.Rect(), (TCropRect{50, 10, 60, 40}));
    a.Release();
    // A corner across both sides.
    ASSERT_EQ(a.Hover(50, 10), TCropPart::TopLeft);
    a.Press(50, 10, 100, 80);
    a.Move(80, 60, 100, 80);
    EXPECT_EQ(a.Rect(), (TCropRect{60, 40, 80, 60}));
    a.Release();

    // Moving the whole keeps its size inside the image; band points stay inside too.
    a.Press(70, 50, 100, 80);
    a.Move(1000, -1000, 100, 80);
    EXPECT_EQ(a.Rect(), (TCropRect{80, 0, 100, 20}));
    a.Release();
    b.Arm();
    b.Press(-5, 300, 100, 80);
    b.Move(300, -5, 100, 80);
    b.Release();
    EXPECT_EQ(b.Rect(), (TCropRect{0, 0, 100, 80}));
}

TPixelImage Filled(int32_t w, int32_t h, uint8_t r, uint8_t g = 0) {
    TPixelImage img(w, h);
    for (TPixelRec& p : img.Vector()) p.R = r, p.G = g, p.A = 255;
    return img;
}

TEST(AutoCrop, FindsBordersAndStaysBounded) {
    EXPECT_FALSE(AutoCropRect(Filled(1, 1, 7)));
    EXPECT_FALSE(AutoCropRect(Filled(9, 6, 7)));

    TPixelImage framed = Filled(30, 20, 200);
    for (int y = 5; y < 15; ++y)
        for (int x = 5; x < 25; ++x) framed[y][x] = test::Pixels(1, 1, uint32_t(x + y))[0][0];
    EXPECT_EQ(AutoCropRect(framed), (TCropRect{5, 5, 25, 15}));

    // Differing colours per side; a one-pixel border stays.
    TPixelImage sides = test::Pixels(12, 10, 1);
    for (int x = 0; x < 12; ++x) sides[0][x] = sides[1][x] = Filled(1, 1, 1)[0][0];
    for (int x = 0; x < 12; ++x) sides[9][x] = Filled(1, 1, 2)[0][0];
    for (int y = 2; y < 10; ++y) sides[y][11] = sides[y][10] = sides[y][9] = Filled(1, 1, 3)[0][0];
    EXPECT_EQ(AutoCropRect(sides), (TCropRect{0, 2, 9, 10}));

    // The outermost row is tested too: a ragged top row is not border.
    TPixelImage ragged = test::Pixels(8, 8, 2);
    for (int y = 1; y < 4; ++y)
        for (int x = 0; x < 8; ++x) ragged[y][x] = ragged[0][0];
    ragged[0][5] = Filled(1, 1, 9, 9)[0][0];
    EXPECT_FALSE(AutoCropRect(ragged));

    // A border over a uniform rest keeps at least one row and one column.
    TPixelImage banded = Filled(6, 8, 50);
    for (int x = 0; x < 6; ++x) banded[0][x] = banded[1][x] = Filled(1, 1, 1)[0][0];
    const auto r = AutoCropRect(banded);
    ASSERT_TRUE(r);
    EXPECT_GT(r->Width(), 0);
    EXPECT_GT(r->Height(), 0);
    EXPECT_EQ(r->Top, 2);
}

// Brushing and cropping an opened image with its undo history.
class MaskCropEditTest : public test::EditTest {
protected:
    void SetUp() override {
        EditTest::SetUp();
        Open(test::Pixels(24, 20, 3));
        ASSERT_GT(state_.PaletteSize, 0);
    }
    test::Snapshot Take() const { return test::Take(state_); }
};

TEST_F(MaskCropEditTest, StrokeCropUndoRedoComeBackExactly) {
    std::vector<test::Snapshot> steps{Take()};
    TMaskStroke stroke;
    stroke.Begin(state_, 6, 6, 11, 120, false);
    for (int x = 7; x < 18; x += 2) stroke.Move(state_, x, 9);
    EXPECT_EQ(undo_->Count(), 1) << "a move saves nothing";
    ASSERT_TRUE(stroke.End(state_, window_, *undo_));
    EXPECT_FALSE(stroke.End(state_, window_, *undo_));
    EXPECT_EQ(undo_->Count(), 2);
    EXPECT_GT(state_.QualityMask[8][10], 0);
    steps.push_back(Take());

    CropImage(state_, TCropRect{20, 16, 3, 2}, settings_, window_, *undo_);  // drawn the other way
    EXPECT_EQ(undo_->Count(), 3) << "one state for image, mask and palette";
    ASSERT_EQ(state_.ImageWidth(), 17);
    ASSERT_EQ(state_.ImageHeight(), 14);
    EXPECT_EQ(state_.QualityMask[8 - 2][10 - 3], steps[1].mask[8 * 24 + 10]);
    EXPECT_EQ(test::Pack(state_.SourceImage[0][0]), steps[1].source[2 * 24 + 3]);
    EXPECT_EQ(window_.status[1], "Dimension: 17x14");
    steps.push_back(Take());

    ASSERT_TRUE(ClearMaskCommand(state_, window_, *undo_));
    EXPECT_EQ(undo_->Count(), 4);
    steps.push_back(Take());

    for (int i = 2; i >= 0; --i) {
        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
        EXPECT_EQ(Take(), steps[size_t(i)]) << "undo to step " << i;
    }
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
        EXPECT_EQ(Take(), steps[size_t(i)]) << "redo to step " << i;
    }
}

TEST_F(MaskCropEditTest, EmptyCropIsRefusedAndAutoCropWithoutBorderDoesNothing) {
    const test::Snapshot before = Take();
    EXPECT_THROW(CropImage(state_, TCropRect{5, 5, 5, 12}, settings_, window_, *undo_), EditError);
    EXPECT_THROW(CropImage(state_, TCropRect{30, 0, 40, 10}, settings_, window_, *undo_), EditError);  // off the image
    EXPECT_FALSE(AutoCropCommand(state_, settings_, window_, *undo_));
    EXPECT_EQ(Take(), before);
    EXPECT_EQ(undo_->Count(), 1);
}

}  // namespace
}  // namespace jx
