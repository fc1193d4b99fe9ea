// Palette edits on a photograph change exactly the pixels they name: toggling a colour's alpha
// twice, undo and redo of a replace and the view order of the palette leave everything else
// as it was, down to the bytes of the records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "edit/commit.h"
#include "edit/palette_edit.h"
#include "edit_test_util.h"
#include "fileio/save_image.h"
#include "imaging/remap.h"
#include "imaging/sort.h"

namespace jx {
namespace {

using test::Snapshot;

// Every byte of every record, c1..c3 and weights included.
std::vector<uint8_t> Bytes(const TPixelImage& img) {
    std::vector<uint8_t> b(static_cast<size_t>(img.Count()) * sizeof(TPixelRec));
    std::memcpy(b.data(), img.Data(), b.size());
    return b;
}

// How many elements differ (a length apart counts whole): a failure says how far off it is
// instead of printing the pictures.
template <class T>
size_t Differ(const std::vector<T>& a, const std::vector<T>& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
}
size_t Differ(const Snapshot& a, const Snapshot& b) {
    if (a.w != b.w || a.h != b.h || a.paletteSize != b.paletteSize) return SIZE_MAX;
    return Differ(a.source, b.source) + Differ(a.working, b.working) + Differ(a.palette, b.palette) +
           Differ(a.mask, b.mask);
}

class PalettePixelsTest : public test::EditTest {
protected:
    void OpenAt(const char* colours) {
        Open(test::Photograph());
        settings_.ColorCount = colours;
        ApplyQuantize(state_, settings_, window_, *undo_);
        ASSERT_EQ(state_.PaletteSize, std::stoi(colours));
    }
    TPaletteEditTarget Target() { return {state_, settings_, window_, *undo_, selection_}; }
    // The entry most pixels show.
    int32_t Busiest() const {
        int32_t best = 0;
        for (int32_t i = 1; i < state_.PaletteSize; ++i)
            if (state_.Palette[size_t(i)].Weight > state_.Palette[size_t(best)].Weight) best = i;
        return best;
    }
    std::vector<uint8_t> Saved(int32_t filter) {
        TSaveRequest r;
        r.fileName = pictures_.Path() + "saved";
        r.filterIndex = filter;
        return test::ReadBytes(SaveImage(state_, r).path);
    }

    TPaletteSelection selection_;
};

TEST_F(PalettePixelsTest, AlphaToggledTwiceLeavesEverySourcePixel) {
    OpenAt("16");
    const std::vector<uint8_t> source = Bytes(state_.SourceImage);
    const std::vector<uint32_t> shown = test::Rgba(state_.WorkingImage);
    const int32_t entry = Busiest();
    const uint32_t key = PixelKey(state_.Palette[size_t(entry)]);

    ASSERT_TRUE(TogglePaletteAlpha(Target(), entry));
    ASSERT_NE(Differ(Bytes(state_.SourceImage), source), 0u);
    ASSERT_TRUE(TogglePaletteAlpha(Target(), FindColorKey(state_, PixelKey(state_.Palette[size_t(entry)]))));
    EXPECT_EQ(Differ(Bytes(state_.SourceImage), source), 0u);
    EXPECT_EQ(Differ(test::Rgba(state_.WorkingImage), shown), 0u);
    EXPECT_EQ(PixelKey(state_.Palette[size_t(entry)]), key);
    EXPECT_FALSE(state_.HasAlpha);

    // The cleared colours travel with the undo states: off, undo, redo, on.
    ASSERT_TRUE(TogglePaletteAlpha(Target(), entry));
    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    EXPECT_EQ(Differ(test::Rgba(state_.SourceImage), test::Rgba(test::Photograph())), 0u);
    ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
    const int32_t hidden = FindColorKey(state_, PixelKey(state_.Palette[size_t(entry)]));
    ASSERT_GE(hidden, 0);
    ASSERT_EQ(state_.Palette[size_t(hidden)].A, 0);
    ASSERT_TRUE(TogglePaletteAlpha(Target(), hidden));
    EXPECT_EQ(Differ(Bytes(state_.SourceImage), source), 0u);

    // What a true-colour save writes: the photograph, no black holes.
    settings_.ColorCount = "TrueColor";
    ApplyQuantize(state_, settings_, window_, *undo_);
    EXPECT_EQ(Differ(test::Rgba(state_.WorkingImage), test::Rgba(test::Photograph())), 0u);

    // A new image forgets the colours kept for the old one.
    ASSERT_TRUE(TogglePaletteAlpha(Target(), 0) || state_.PaletteSize <= 0);
    Open(test::Pixels(8, 6, 3));
    EXPECT_EQ(state_.HiddenColors, nullptr);
}

TEST_F(PalettePixelsTest, UndoAndRedoOfAReplaceGiveBackThePicturesShown) {
    OpenAt("16");
    const Snapshot before = test::Take(state_);
    ASSERT_TRUE(selection_.Select(state_, Busiest()));
    TPixelRec green{};
    green.G = 255;
    green.A = 255;
    PaletteEditColor(Target(), green, true);
    const Snapshot after = test::Take(state_);
    ASSERT_NE(Differ(after.working, before.working), 0u);

    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    EXPECT_EQ(Differ(test::Take(state_), before), 0u);
    ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
    EXPECT_EQ(Differ(test::Take(state_), after), 0u);
    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    EXPECT_EQ(Differ(test::Take(state_), before), 0u);

    // The palette's use counts come back too: the popularity view sorts as before.
    SortPaletteBy(Target(), SortByWeight);
    const Snapshot byWeight = test::Take(state_);
    ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    EXPECT_EQ(Differ(test::Take(state_), byWeight), 0u);
}

TEST_F(PalettePixelsTest, NoSortOrderChangesTheImageOrTheSavedFiles) {
    OpenAt("256");
    const std::vector<uint8_t> working = Bytes(state_.WorkingImage);
    const std::vector<uint8_t> bmp = Saved(sfBmp), gif = Saved(sfGif);
    const int32_t states = undo_->Count();
    for (const int32_t type : {SortByWeight, SortByLuminanceAsc, SortByColorAlpha, SortByLumaAlphaAsc, SortByWeightAsc,
                               SortByColorAsc, SortByLuminance, SortByColor}) {
        SortPaletteBy(Target(), type);
        EXPECT_EQ(Differ(Bytes(state_.WorkingImage), working), 0u) << type;
        EXPECT_EQ(Differ(Saved(sfBmp), bmp), 0u) << type;
        EXPECT_EQ(Differ(Saved(sfGif), gif), 0u) << type;
    }
    EXPECT_EQ(undo_->Count(), states);
}

TEST_F(PalettePixelsTest, RemapsAfterAnEditDoNotDependOnTheViewOrder) {
    OpenAt("256");
    ASSERT_TRUE(selection_.Select(state_, Busiest()));
    const uint32_t key = selection_.Key;
    TPixelRec added{};
    added.R = 200, added.G = 40, added.B = 90, added.A = 255;
    std::vector<std::vector<uint32_t>> dithered, deleted, grown;
    for (const int32_t type : {SortByColor, SortByWeight, SortByLuminanceAsc, SortByColorAsc}) {
        SortPaletteBy(Target(), type);
        settings_.DitherMode = TDitherMode::FloydSteinberg;  // a dithering change remaps alone
        ConvertImage(state_, settings_, window_);
        dithered.push_back(test::Rgba(state_.WorkingImage));
        settings_.DitherMode = TDitherMode::None;
        ConvertImage(state_, settings_, window_);

        ASSERT_TRUE(selection_.SelectKey(state_, key));
        DeletePaletteEntry(Target());
        deleted.push_back(test::Rgba(state_.WorkingImage));
        PaletteEditColor(Target(), added, false);
        grown.push_back(test::Rgba(state_.WorkingImage));
        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    }
    for (size_t i = 1; i < dithered.size(); ++i) {
        EXPECT_EQ(Differ(dithered[i], dithered[0]), 0u) << i;
        EXPECT_EQ(Differ(deleted[i], deleted[0]), 0u) << i;
        EXPECT_EQ(Differ(grown[i], grown[0]), 0u) << i;
    }
}

}  // namespace
}  // namespace jx
