#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "edit/commit.h"
#include "edit/errors.h"
#include "edit/palette_edit.h"
#include "edit/undo_store.h"
#include "edit_test_util.h"
#include "imaging/remap.h"
#include "imaging/sort.h"

namespace jx {
namespace {

TPixelRec Colour(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    TPixelRec p;
    p.R = r, p.G = g, p.B = b, p.A = a;
    return p;
}
uint32_t Rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) { return PixelKey(Colour(r, g, b, a)); }

// A 4 x 2 image of three colours (red on the top row, green and blue below) and a hand-made
// palette, remapped once and saved as the first undo state.
class PaletteEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        undo_ = std::make_unique<TURClass>(session_.Path());
        TPixelImage img(4, 2);
        for (int x = 0; x < 4; ++x) {
            img[0][x] = Colour(250, 0, 0);
            img[1][x] = x < 2 ? Colour(0, 250, 0) : Colour(0, 0, 250);
        }
        PutSourceImage(state_, std::move(img), window_);
        RebuildImageDependants(state_, window_);
    }

    void UsePalette(std::initializer_list<TPixelRec> colours) {
        state_.Palette.assign(colours);
        for (TPixelRec& p : state_.Palette) state_.Convert(p);
        state_.PaletteSize = static_cast<int32_t>(state_.Palette.size());
        state_.PaletteOrder.resize(state_.Palette.size());
        for (size_t i = 0; i < state_.PaletteOrder.size(); ++i) state_.PaletteOrder[i] = static_cast<int32_t>(i);
        ConvertImage(state_, settings_, window_);
        undo_->ImageChanged = true;
        CommitPalette(state_, window_, *undo_);
    }

    TPaletteEditTarget Target() { return {state_, settings_, window_, *undo_, selection_}; }

    std::vector<uint32_t> Keys() const {
        std::vector<uint32_t> k;
        for (int32_t i = 0; i < state_.PaletteSize; ++i) k.push_back(PixelKey(state_.Palette[size_t(i)]));
        return k;
    }
    std::vector<uint32_t> SortedKeys() const {
        std::vector<uint32_t> k = Keys();
        std::sort(k.begin(), k.end());
        return k;
    }
    uint32_t OutputKey(int x, int y) const { return PixelKey(state_.WorkingImage[y][x]); }
    uint32_t SelectedKey() const { return PixelKey(state_.Palette[size_t(selection_.Index)]); }

    // Undo brings back exactly the palette it had before the edit.
    void ExpectUndoRestores(const std::vector<uint32_t>& before) {
        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
        EXPECT_EQ(Keys(), before);
    }

    test::ScratchFolder session_;
    EngineState state_;
    TQuantizerSettings settings_;
    test::FakeWindow window_;
    std::unique_ptr<TURClass> undo_;
    TPaletteSelection selection_;
};

TEST_F(PaletteEditTest, SelectionByCellAndImageRefusesWhatIsNotThere) {
    UsePalette({Colour(250, 0, 0), Colour(0, 250, 0), Colour(0, 0, 250)});
    EXPECT_EQ(PaletteCellAt(state_, 20, 5), 1);
    // An empty cell past the palette, the second row (no entry 16), past the grid, before it.
    for (const auto& [x, y] : {std::pair{48, 0}, {5, 16}, {256, 0}, {-1, 0}}) EXPECT_EQ(PaletteCellAt(state_, x, y), -1);

    ASSERT_TRUE(selection_.Select(state_, 2));
    EXPECT_FALSE(selection_.Select(state_, 3));
    EXPECT_FALSE(selection_.Select(state_, -1));
    EXPECT_EQ(selection_.Index, 2);

    ASSERT_TRUE(selection_.SelectAt(state_, 0, 0));
    EXPECT_EQ(SelectedKey(), Rgba(250, 0, 0));
    EXPECT_FALSE(selection_.SelectAt(state_, 4, 0));
    EXPECT_FALSE(selection_.SelectKey(state_, Rgba(1, 2, 3)));
    EXPECT_EQ(SelectedKey(), Rgba(250, 0, 0));
}

TEST_F(PaletteEditTest, ReplaceRecoloursOnlyTheExactColourAndUndoes) {
    // Without an alpha channel red and half-transparent red are at distance 0: only the
    // selected one's pixels may change.
    TPixelImage img = state_.SourceImage;
    img[0][3] = Colour(250, 0, 0, 128);
    PutSourceImage(state_, img, window_);
    UsePalette({Colour(250, 0, 0), Colour(250, 0, 0, 128), Colour(0, 250, 0), Colour(0, 0, 250)});
    ASSERT_EQ(OutputKey(3, 0), Rgba(250, 0, 0, 128));
    const auto before = Keys();
    ASSERT_TRUE(selection_.SelectKey(state_, Rgba(250, 0, 0)));
    PaletteEditColor(Target(), Colour(10, 20, 30), true);
    EXPECT_EQ(OutputKey(0, 0), Rgba(10, 20, 30));
    EXPECT_EQ(OutputKey(3, 0), Rgba(250, 0, 0, 128));
    EXPECT_EQ(OutputKey(0, 1), Rgba(0, 250, 0));
    EXPECT_EQ(SelectedKey(), Rgba(10, 20, 30));
    EXPECT_EQ(FindColorKey(state_, Rgba(250, 0, 0)), -1);
    ExpectUndoRestores(before);

    selection_.Index = 7;
    EXPECT_THROW(PaletteEditColor(Target(), Colour(1, 1, 1), true), EditError);
    EXPECT_EQ(Keys(), before);

    // A cancelled picker still saves a state.
    ASSERT_TRUE(selection_.Select(state_, 0));
    const int32_t at = undo_->CurrentState();
    PaletteEditColor(Target(), std::nullopt, true);
    EXPECT_EQ(undo_->CurrentState(), at + 1);
    EXPECT_EQ(Keys(), before);
}

TEST_F(PaletteEditTest, AddGrowsThePaletteAlsoFromTrueColour) {
    UsePalette({Colour(250, 0, 0), Colour(0, 250, 0)});
    const auto before = Keys();
    PaletteEditColor(Target(), Colour(0, 0, 250), false);
    EXPECT_EQ(state_.PaletteSize, 3);
    EXPECT_EQ(window_.colorCount, "3");
    EXPECT_EQ(OutputKey(3, 1), Rgba(0, 0, 250));  // remapped onto the new colour
    EXPECT_EQ(SelectedKey(), Rgba(0, 0, 250));
    ExpectUndoRestores(before);

    // True colour: the added colour starts a palette instead of landing before it.
    state_.PaletteSize = -1;
    PaletteEditColor(Target(), Colour(9, 9, 9), false);
    EXPECT_EQ(state_.PaletteSize, 1);
    EXPECT_EQ(Keys(), std::vector<uint32_t>{Rgba(9, 9, 9)});
}

TEST_F(PaletteEditTest, DeleteRemapsAndRefusesTheLastEntry) {
    UsePalette({Colour(250, 0, 0), Colour(0, 250, 0), Colour(0, 0, 250)});
    const auto before = Keys();
    ASSERT_TRUE(selection_.SelectKey(state_, Rgba(0, 0, 250)));
    DeletePaletteEntry(Target());
    EXPECT_EQ(state_.PaletteSize, 2);
    EXPECT_EQ(window_.colorCount, "2");
    EXPECT_NE(OutputKey(3, 1), Rgba(0, 0, 250));
    for (uint32_t k : Keys()) EXPECT_NE(k, Rgba(0, 0, 250));
    EXPECT_TRUE(selection_.Valid(state_));
    ExpectUndoRestores(before);

    UsePalette({Colour(250, 0, 0)});
    ASSERT_TRUE(selection_.Select(state_, 0));
    EXPECT_THROW(DeletePaletteEntry(Target()), EditError);
    EXPECT_EQ(state_.PaletteSize, 1);
    EXPECT_EQ(OutputKey(0, 1), Rgba(250, 0, 0));
}

TEST_F(PaletteEditTest, DuplicatesAndUnusedEntriesGo) {
    UsePalette({Colour(250, 0, 0), Colour(0, 250, 0), Colour(250, 0, 0), Colour(0, 0, 250)});
    const auto before = Keys();
    ASSERT_TRUE(RemoveDuplicateColors(Target()));
    EXPECT_EQ(SortedKeys(), (std::vector<uint32_t>{Rgba(250, 0, 0), Rgba(0, 250, 0), Rgba(0, 0, 250)}));
    EXPECT_FALSE(RemoveDuplicateColors(Target()));
    ExpectUndoRestores(before);

    // White and an alpha twin of red are nearest to no pixel.
    state_.HasAlpha = true;
    UsePalette({Colour(250, 0, 0), Colour(255, 255, 255), Colour(0, 250, 0), Colour(250, 0, 0, 0), Colour(0, 0, 250)});
    const auto full = Keys();
    const int32_t states = undo_->Count();
    ASSERT_TRUE(RemoveUnusedColors(Target()));
    EXPECT_EQ(SortedKeys(), (std::vector<uint32_t>{Rgba(250, 0, 0), Rgba(0, 250, 0), Rgba(0, 0, 250)}));
    EXPECT_EQ(window_.colorCount, "3");
    EXPECT_EQ(undo_->Count(), states + 1);
    EXPECT_FALSE(RemoveUnusedColors(Target()));
    EXPECT_EQ(undo_->Count(), states + 1);
    ExpectUndoRestores(full);
}

TEST_F(PaletteEditTest, AlphaToggleMatchesRgbaAndUndoGivesTheSourceBack) {
    // Red and half-transparent red: toggling the opaque one leaves the other's pixels alone.
    TPixelImage img = state_.SourceImage;
    img[0][3] = Colour(250, 0, 0, 128);
    state_.HasAlpha = true;
    PutSourceImage(state_, img, window_);
    UsePalette({Colour(250, 0, 0), Colour(250, 0, 0, 128), Colour(0, 250, 0), Colour(0, 0, 250)});
    const int32_t red = FindColorKey(state_, Rgba(250, 0, 0));
    ASSERT_GE(red, 0);
    ASSERT_TRUE(TogglePaletteAlpha(Target(), red));
    EXPECT_EQ(OutputKey(0, 0), Rgba(250, 0, 0, 0));
    EXPECT_EQ(OutputKey(3, 0), Rgba(250, 0, 0, 128));
    EXPECT_EQ(state_.SourceImage[0][0].A, 0);
    EXPECT_EQ(state_.SourceImage[0][3].A, 128);
    TPixelRec cleared = state_.SourceImage[0][0];
    TPixelRec expect = cleared;
    state_.Convert(expect);
    EXPECT_EQ(cleared.c1, expect.c1);  // recomputed, not left from the opaque colour
    EXPECT_TRUE(state_.HasAlpha);

    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    EXPECT_EQ(state_.SourceImage[0][0].A, 255);
    EXPECT_EQ(state_.SourceImage[0][0].R, 250);
    EXPECT_EQ(OutputKey(0, 0), Rgba(250, 0, 0));
    EXPECT_FALSE(TogglePaletteAlpha(Target(), 4));

    // Twice makes the colour opaque again.
    UsePalette({Colour(250, 0, 0), Colour(0, 250, 0), Colour(0, 0, 250)});
    state_.HasAlpha = false;
    const int32_t green = FindColorKey(state_, Rgba(0, 250, 0));
    ASSERT_TRUE(TogglePaletteAlpha(Target(), green));
    EXPECT_TRUE(state_.HasAlpha);
    ASSERT_TRUE(TogglePaletteAlpha(Target(), green));
    EXPECT_FALSE(state_.HasAlpha);
    EXPECT_EQ(state_.WorkingImage[1][0].A, 255);
}

TEST_F(PaletteEditTest, QuickAddAddsOrReplacesTheNearest) {
    UsePalette({Colour(250, 0, 0), Colour(0, 250, 0)});
    const auto before = Keys();
    ASSERT_TRUE(QuickAddColor(Target(), 3, 1, TQuickAddMode::AddNew, false));
    EXPECT_EQ(state_.PaletteSize, 3);
    EXPECT_EQ(OutputKey(3, 1), Rgba(0, 0, 250));
    EXPECT_EQ(SelectedKey(), Rgba(0, 0, 250));
    ExpectUndoRestores(before);

    UsePalette({Colour(240, 10, 10), Colour(0, 250, 0), Colour(0, 0, 250)});
    ASSERT_TRUE(QuickAddColor(Target(), 0, 0, TQuickAddMode::ReplaceNearest, false));
    EXPECT_EQ(SortedKeys(), (std::vector<uint32_t>{Rgba(250, 0, 0), Rgba(0, 250, 0), Rgba(0, 0, 250)}));
    EXPECT_FALSE(QuickAddColor(Target(), 4, 0, TQuickAddMode::AddNew, false));

    state_.PaletteSize = 0;
    EXPECT_THROW(QuickAddColor(Target(), 0, 0, TQuickAddMode::ReplaceNearest, false), EditError);
    EXPECT_EQ(state_.PaletteSize, 0);
}

TEST_F(PaletteEditTest, QuickAddOnATransparentPixelAddsTransparentBlack) {
    TPixelImage img = state_.SourceImage;
    img[0][1] = Colour(90, 90, 90, 0);
    state_.HasAlpha = true;
    PutSourceImage(state_, img, window_);
    UsePalette({Colour(250, 0, 0), Colour(0, 250, 0), Colour(0, 0, 250)});
    ASSERT_TRUE(QuickAddColor(Target(), 1, 0, TQuickAddMode::AddNew, true));
    EXPECT_GE(FindColorKey(state_, Rgba(0, 0, 0, 0)), 0);
    EXPECT_TRUE(state_.QuickAddPreview);
    RecalculateQuickAdd(Target());
    EXPECT_FALSE(state_.QuickAddPreview);
}

TEST_F(PaletteEditTest, SelectionFollowsItsColourAcrossARemap) {
    for (int32_t type : {SortByLuminance, SortByColorAsc, SortByWeight, SortByLuminanceAsc}) {
        UsePalette({Colour(250, 0, 0), Colour(0, 250, 0), Colour(250, 0, 0), Colour(0, 0, 250)});
        ASSERT_TRUE(selection_.SelectKey(state_, Rgba(0, 250, 0)));
        // Each remap re-sorts by the new order; the selection stays on green.
        state_.PaletteSortType = type;
        ASSERT_TRUE(RemoveDuplicateColors(Target()));
        EXPECT_EQ(SelectedKey(), Rgba(0, 250, 0)) << type;
        state_.PaletteSortType = (type + 1) % 6;
        RecalculateQuickAdd(Target());
        EXPECT_EQ(SelectedKey(), Rgba(0, 250, 0)) << type;
    }
}

TEST(PaletteSortChoiceTest, AlphaOrdersOnlyForImagesWithAlphaAndNotByPopularity) {
    EXPECT_EQ(PaletteSortTypeOf({1, false, true}, true), SortByColorAlpha);
    EXPECT_EQ(PaletteSortTypeOf({2, true, true}, true), SortByLumaAlphaAsc);
    EXPECT_EQ(PaletteSortTypeOf({1, false, true}, false), PaletteSortTypeOf({1, false, false}, false));
    EXPECT_EQ(PaletteSortTypeOf({0, true, true}, true), PaletteSortTypeOf({0, true, false}, true));
}

TEST_F(PaletteEditTest, SortMenuTypeSortsOnlyTheViewAndKeepsTheSelection) {
    UsePalette({Colour(250, 0, 0), Colour(0, 250, 0), Colour(0, 0, 250), Colour(128, 128, 128)});
    ASSERT_TRUE(selection_.SelectKey(state_, Rgba(0, 250, 0)));
    const auto colours = SortedKeys();
    const int32_t states = undo_->Count();
    for (int32_t type : {SortByLuminanceAsc, SortByColor, SortByWeight}) {
        SortPaletteBy(Target(), type);
        EXPECT_EQ(state_.PaletteSortType, type);
        EXPECT_EQ(SortedKeys(), colours) << type;
        EXPECT_EQ(SelectedKey(), Rgba(0, 250, 0)) << type;
        EXPECT_EQ(OutputKey(0, 1), Rgba(0, 250, 0)) << type;
    }
    // Popularity: green and blue cover two pixels each, red four, grey none.
    EXPECT_EQ(Keys().front(), Rgba(250, 0, 0));
    EXPECT_EQ(Keys().back(), Rgba(128, 128, 128));
    // The view order is no edit of the picture: no undo step.
    EXPECT_EQ(undo_->Count(), states);
    // An earlier state comes back shown in the order now chosen.
    PaletteEditColor(Target(), Colour(1, 2, 3), false);
    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    EXPECT_EQ(SortedKeys(), colours);
    EXPECT_EQ(Keys().front(), Rgba(250, 0, 0));

    EXPECT_THROW(SortPaletteBy(Target(), 10), EditError);
    EXPECT_THROW(SortPaletteBy(Target(), -1), EditError);
    EXPECT_EQ(state_.PaletteSortType, SortByWeight);
}

TEST(PaletteSortWithoutImageTest, OnlyTheTypeIsKept) {
    test::ScratchFolder session;
    TURClass undo(session.Path());
    EngineState state;
    TQuantizerSettings settings;
    test::FakeWindow window;
    TPaletteSelection selection;
    SortPaletteBy({state, settings, window, undo, selection}, SortByLuminance);
    EXPECT_EQ(state.PaletteSortType, SortByLuminance);
    EXPECT_EQ(undo.Count(), 0);
}

}  // namespace
}  // namespace jx
