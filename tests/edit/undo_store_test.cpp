#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <set>

#include "edit/commit.h"
#include "edit/errors.h"
#include "edit/palette_edit.h"
#include "edit_test_util.h"
#include "imaging/resize_image.h"

namespace fs = std::filesystem;

namespace jx {
namespace {

using test::Snapshot;

class UndoTest : public test::EditTest {
protected:
    // The state files go through a writer that can play a full disk.
    void SetUp() override {
        undo_ = std::make_unique<TURClass>(session_.Path(), [this](const std::string& path, const TBytes& bytes) {
            if (diskFull_ && path.ends_with(".img")) {
                test::WriteBytes(path, TBytes(bytes.begin(), bytes.begin() + 10));
                throw EditError("No space left on device");
            }
            test::WriteBytes(path, bytes);
        });
    }
    Snapshot Take() const { return test::Take(state_); }
    std::vector<std::string> StateFiles() const {
        std::vector<std::string> f = session_.Files();
        std::sort(f.begin(), f.end());
        return f;
    }

    bool diskFull_ = false;
};

TEST_F(UndoTest, EveryStepComesBackExactlyBothWays) {
    std::vector<Snapshot> steps;
    Open(test::Pixels(8, 6, 3));  // 6 colours: the palette is part of the first state
    ASSERT_EQ(state_.PaletteSize, 6);
    steps.push_back(Take());

    for (int y = 1; y < 4; ++y)  // a brush stroke
        for (int x = 2; x < 6; ++x) state_.QualityMask[y][x] = 200;
    CommitMask(state_, window_, *undo_);
    steps.push_back(Take());

    settings_.ColorCount = "3";
    ApplyQuantize(state_, settings_, window_, *undo_);
    ASSERT_EQ(state_.PaletteSize, 3);
    steps.push_back(Take());

    TPixelImage cropped(4, 3);
    TByteImage croppedMask(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            cropped[y][x] = state_.SourceImage[y + 1][x + 2];
            croppedMask[y][x] = state_.QualityMask[y + 1][x + 2];
        }
    CommitImage(state_, cropped, settings_, window_, *undo_, {.Mask = croppedMask, .HasAlpha = std::nullopt});
    steps.push_back(Take());

    ASSERT_EQ(undo_->Count(), 4);
    const auto names = undo_->States();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 4u) << "state names collide";

    for (int i = 2; i >= 0; --i) {
        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
        EXPECT_EQ(Take(), steps[size_t(i)]) << "undo to step " << i;
    }
    EXPECT_FALSE(undo_->Undo(state_, settings_, window_));
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
        EXPECT_EQ(Take(), steps[size_t(i)]) << "redo to step " << i;
    }
    EXPECT_FALSE(undo_->Redo(state_, settings_, window_));
    EXPECT_EQ(window_.status[1], "Dimension: 4x3");
    EXPECT_EQ(window_.status[2].rfind("Unique colors: ", 0), 0u);
}

TEST_F(UndoTest, EveryRestoredStateHasItsOwnHistogram) {
    // What the histogram box and the error figures are drawn from, as quantizing counted it.
    using Counts = std::pair<std::array<std::array<int32_t, 256>, 4>, bool>;
    auto counts = [&] { return Counts{state_.ChannelHistograms, state_.IsGrey}; };
    std::vector<Counts> steps;
    Open(test::Photograph(40, 30));
    ASSERT_EQ(state_.PaletteSize, -1);
    steps.push_back(counts());
    settings_.ColorCount = "16";
    ApplyQuantize(state_, settings_, window_, *undo_);
    steps.push_back(counts());

    TPixelImage cropped(20, 12);  // crop: fewer pixels, other colours
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x) cropped[y][x] = state_.SourceImage[y + 3][x + 15];
    CommitImage(state_, cropped, settings_, window_, *undo_);
    steps.push_back(counts());
    TPixelImage grey = ResizeImage(state_.SourceImage, 30, 18, {});  // resize, then a grey picture
    for (TPixelRec& p : grey.Vector()) p.G = p.B = p.R;
    CommitImage(state_, grey, settings_, window_, *undo_);
    ASSERT_TRUE(state_.IsGrey);
    steps.push_back(counts());
    settings_.ColorCount = "4";
    ApplyQuantize(state_, settings_, window_, *undo_);
    steps.push_back(counts());
    ASSERT_EQ(undo_->Count(), int32_t(steps.size()));
    ASSERT_NE(steps[2], steps[1]);
    ASSERT_NE(steps[3], steps[2]);

    for (int i = int(steps.size()) - 2; i >= 0; --i) {
        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
        EXPECT_EQ(counts(), steps[size_t(i)]) << "undo to state " << i;
        EXPECT_TRUE(state_.HistogramDirty) << i;
    }
    for (size_t i = 1; i < steps.size(); ++i) {
        ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
        EXPECT_EQ(counts(), steps[i]) << "redo to state " << i;
    }
}

TEST_F(UndoTest, ButtonsFollowThePosition) {
    std::vector<std::pair<bool, bool>> seen;
    undo_->ButtonsChanged = [&](bool u, bool r) { seen.emplace_back(u, r); };
    TPixelImage many(20, 20);  // 400 colours: true colour, no palette file
    for (int i = 0; i < 400; ++i) {
        TPixelRec& p = many.Vector()[size_t(i)];
        p.R = static_cast<uint8_t>(i), p.G = static_cast<uint8_t>(i >> 8), p.A = 255;
    }
    Open(many);
    ASSERT_EQ(state_.PaletteSize, -1);
    EXPECT_EQ(seen.back(), std::make_pair(false, false));
    EXPECT_FALSE(undo_->Undo(state_, settings_, window_));
    state_.QualityMask[0][0] = 9;
    CommitMask(state_, window_, *undo_);
    EXPECT_EQ(seen.back(), std::make_pair(true, false));
    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    EXPECT_EQ(seen.back(), std::make_pair(false, true));
    EXPECT_EQ(state_.QualityMask[0][0], 0);
    EXPECT_EQ(window_.colorCount, "TrueColor");
    for (const std::string& f : StateFiles()) EXPECT_FALSE(f.ends_with(".pal")) << f;
}

TEST_F(UndoTest, ANewEditDropsTheRedoBranchAndItsFiles) {
    Open(test::Pixels(6, 6, 2));
    for (int i = 1; i <= 3; ++i) {
        state_.QualityMask[0][i] = static_cast<uint8_t>(i);
        CommitMask(state_, window_, *undo_);
    }
    const auto before = undo_->States();
    undo_->Undo(state_, settings_, window_);
    undo_->Undo(state_, settings_, window_);
    state_.QualityMask[5][5] = 77;
    CommitMask(state_, window_, *undo_);
    EXPECT_EQ(undo_->Count(), 3);
    EXPECT_EQ(undo_->CurrentState(), 2);
    EXPECT_FALSE(undo_->Redo(state_, settings_, window_));
    for (size_t i = 2; i < before.size(); ++i)
        for (const char* ext : {".msk", ".prm"}) EXPECT_FALSE(fs::exists(before[i] + ext)) << before[i] << ext;
    // The new state sits on the one it was made from.
    undo_->Undo(state_, settings_, window_);
    EXPECT_EQ(state_.QualityMask[0][1], 1);
    EXPECT_EQ(state_.QualityMask[5][5], 0);
}

TEST_F(UndoTest, AFullDiskLeavesTheHistoryUsable) {
    Open(test::Pixels(6, 4, 5));
    const Snapshot opened = Take();
    const auto files = StateFiles();
    diskFull_ = true;
    CommitImage(state_, test::Pixels(6, 4, 11), settings_, window_, *undo_);
    ASSERT_EQ(window_.warnings.size(), 1u);
    EXPECT_NE(window_.warnings[0].find("No space left"), std::string::npos);
    EXPECT_EQ(StateFiles(), files) << "partial files stay behind";
    EXPECT_EQ(undo_->Count(), 1);
    EXPECT_EQ(undo_->CurrentState(), 0);
    EXPECT_TRUE(undo_->ImageChanged) << "the unsaved change is kept for the next state";

    diskFull_ = false;
    state_.QualityMask[1][1] = 50;
    CommitMask(state_, window_, *undo_);
    const Snapshot edited = Take();
    ASSERT_EQ(undo_->Count(), 2);
    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    EXPECT_EQ(Take(), opened);
    ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
    EXPECT_EQ(Take(), edited);
}

TEST_F(UndoTest, CommitRunsItsStepsInOrderAndSavesThePalette) {
    Open(test::Pixels(5, 5, 4));
    window_.stages.clear();
    TPixelImage next = test::Pixels(5, 5, 8);
    next[0][0].A = 0;
    next[0][0].R = 99;
    CommitImage(state_, next, settings_, window_, *undo_);
    using S = TCommitStage;
    EXPECT_EQ(window_.stages, (std::vector<S>{S::CopyIn, S::ClearTransparent, S::ConvertColors, S::EdgeMap,
                                              S::UniqueColors, S::Status, S::Quantize, S::SaveUndo}));
    EXPECT_EQ(state_.SourceImage[0][0].R, 0) << "transparent pixels are cleared";
    ASSERT_GT(state_.PaletteSize, 0);
    EXPECT_TRUE(fs::exists(undo_->States().back() + ".pal"));
    EXPECT_TRUE(fs::exists(undo_->States().back() + ".img"));
}

TEST_F(UndoTest, OldStatesGoPastTheSpaceLimitWithoutLosingTheImage) {
    Open(test::Pixels(16, 16, 6));
    const TPixelImage first = state_.SourceImage;
    const uint64_t oneMask = 16 * 16 + 8;
    undo_->SetByteLimit(undo_->BytesHeld() + 2 * oneMask);
    for (int i = 1; i <= 6; ++i) {
        state_.QualityMask[2][i] = static_cast<uint8_t>(i);
        CommitMask(state_, window_, *undo_);
    }
    EXPECT_LE(undo_->Count(), 3);
    EXPECT_EQ(undo_->CurrentState(), undo_->Count() - 1);
    while (undo_->Undo(state_, settings_, window_)) {
    }
    EXPECT_EQ(state_.SourceImage.Vector().size(), first.Vector().size());
    for (size_t i = 0; i < first.Vector().size(); ++i)
        ASSERT_TRUE(SameRgba(state_.SourceImage.Vector()[i], first.Vector()[i])) << i;
    EXPECT_EQ(state_.QualityMask[2][6 - undo_->Count() + 1], 6 - undo_->Count() + 1);
}

TEST_F(UndoTest, NothingIsWrittenWhileBatchQuantizing) {
    Open(test::Pixels(4, 4, 1));
    const auto files = StateFiles();
    state_.BatchQuantize = true;
    CommitMask(state_, window_, *undo_);
    EXPECT_EQ(StateFiles(), files);
    EXPECT_TRUE(undo_->MaskChanged);
    EXPECT_EQ(undo_->Count(), 1);
}

TEST_F(UndoTest, ADamagedStateChangesNothing) {
    Open(test::Pixels(4, 4, 1));
    state_.QualityMask[0][0] = 1;
    CommitMask(state_, window_, *undo_);
    const Snapshot now = Take();
    std::ofstream(undo_->States()[0] + ".prm", std::ios::trunc) << "x";
    EXPECT_THROW(undo_->Undo(state_, settings_, window_), EditError);
    EXPECT_EQ(Take(), now);
    EXPECT_EQ(undo_->CurrentState(), 1);
}

TEST_F(UndoTest, ClearRemovesEveryFile) {
    Open(test::Pixels(4, 4, 1));
    CommitMask(state_, window_, *undo_);
    undo_->Clear();
    EXPECT_TRUE(session_.Files().empty());
    EXPECT_EQ(undo_->CurrentState(), -1);
    Open(test::Pixels(4, 4, 2));
    Open(test::Pixels(4, 4, 3));  // a new image starts a new history
    EXPECT_EQ(undo_->Count(), 1);
}

TEST_F(UndoTest, TheAlphaFlagComesBackWithEveryState) {
    Open(test::Pixels(8, 6, 3));
    ASSERT_FALSE(state_.HasAlpha);
    ASSERT_GT(state_.PaletteSize, 1);
    // Undo, then redo, to every state in turn: the flag each state was saved with.
    auto expectFlags = [&](const std::vector<bool>& flags) {
        while (undo_->Undo(state_, settings_, window_)) {}
        EXPECT_EQ(state_.HasAlpha, flags.front()) << "state 0";
        for (size_t i = 1; i < flags.size(); ++i) {
            ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
            EXPECT_EQ(state_.HasAlpha, flags[i]) << "state " << i;
        }
        EXPECT_EQ(undo_->Count(), int32_t(flags.size()));
    };

    // A larger canvas gains transparent area.
    TPixelRec clear;
    ClearPixel(state_, clear);
    TPixelImage canvas = PlaceOnCanvas(state_.SourceImage, 10, 8, 5, clear);
    CommitImage(state_, canvas, settings_, window_, *undo_,
                {.Mask = std::nullopt, .HasAlpha = CanvasHasAlpha(8, 6, 10, 8, false)});
    ASSERT_TRUE(state_.HasAlpha);
    expectFlags({false, true});

    // Palette edits: the alpha toggle there and back, then a replace by a translucent colour,
    // which saves only the palette.
    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    TPaletteSelection selection;
    const TPaletteEditTarget t{state_, settings_, window_, *undo_, selection};
    ASSERT_TRUE(TogglePaletteAlpha(t, 1));
    ASSERT_TRUE(state_.HasAlpha);
    ASSERT_TRUE(TogglePaletteAlpha(t, 1));
    ASSERT_FALSE(state_.HasAlpha);
    ASSERT_TRUE(selection.Select(state_, 0));
    TPixelRec translucent;
    translucent.R = 10, translucent.G = 20, translucent.B = 30, translucent.A = 100;
    PaletteEditColor(t, translucent, true);
    ASSERT_TRUE(state_.HasAlpha);
    expectFlags({false, true, false, true});
}

TEST_F(UndoTest, TrueColorIsAStepLikeAnyCount) {
    Open(test::Photograph(40, 30));
    ASSERT_EQ(state_.PaletteSize, -1);
    std::vector<Snapshot> steps{Take()};
    for (const char* count : {"16", "64", "TrueColor"}) {
        settings_.ColorCount = count;
        ApplyQuantize(state_, settings_, window_, *undo_);
        steps.push_back(Take());
    }
    ASSERT_EQ(undo_->Count(), 4) << "one state for each Apply, true colour too";
    EXPECT_EQ(steps[3].working, steps[3].source);

    // The restore quantizes again from what the state holds, whatever the box says now.
    settings_.ColorCount = "32";
    for (int i = 2; i >= 0; --i) {
        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
        EXPECT_EQ(Take(), steps[size_t(i)]) << "undo to step " << i;
    }
    for (int i = 1; i <= 3; ++i) {
        ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
        EXPECT_EQ(Take(), steps[size_t(i)]) << "redo to step " << i;
        EXPECT_EQ(window_.colorCount, i == 3 ? "TrueColor" : i == 2 ? "64" : "16");
    }
}

TEST_F(UndoTest, AStateBringsBackHowItsPaletteWasMade) {
    struct Window : test::FakeWindow {
        std::vector<TPaletteType> types;
        void PaletteTypeRestored(TPaletteType t) override { types.push_back(t); }
    } window;
    auto writePal = [&](const char* name, const char* colors, int n) {
        const std::string path = pictures_.Path() + name;
        std::ofstream(path, std::ios::binary) << "JASC-PAL\r\n0100\r\n" << n << "\r\n" << colors;
        return path;
    };
    const std::string five = writePal("five.pal", "0 0 0\r\n255 0 0\r\n0 255 0\r\n0 0 255\r\n255 255 255\r\n", 5);
    const std::string three = writePal("three.pal", "10 10 10\r\n200 100 0\r\n0 100 200\r\n", 3);
    Open(test::Photograph(40, 30));
    settings_.ColorCount = "16";
    ApplyQuantize(state_, settings_, window, *undo_);
    EXPECT_EQ(state_.PaletteType, TPaletteType::Adaptive);
    LoadPaletteCommand(state_, five, settings_, window, *undo_);
    ASSERT_EQ(state_.PaletteSize, 5);
    EXPECT_EQ(state_.PaletteType, TPaletteType::Custom);
    LoadPaletteCommand(state_, three, settings_, window, *undo_);
    ASSERT_EQ(undo_->Count(), 4);

    // Back to the first file's state: its "Custom" palette is that file again.
    settings_.PaletteType = TPaletteType::Custom;  // the dialog as the last load left it
    ASSERT_TRUE(undo_->Undo(state_, settings_, window));
    EXPECT_EQ(window.types.back(), TPaletteType::Custom);
    ApplyQuantize(state_, settings_, window, *undo_);
    EXPECT_EQ(state_.PaletteSize, 5);
    ASSERT_TRUE(undo_->Undo(state_, settings_, window));

    // Back to the adaptive 16: the next count is made adaptively again, not from a file.
    ASSERT_TRUE(undo_->Undo(state_, settings_, window));
    EXPECT_EQ(state_.PaletteSize, 16);
    EXPECT_EQ(state_.PaletteType, TPaletteType::Adaptive);
    EXPECT_EQ(window.types.back(), TPaletteType::Adaptive);
    settings_.PaletteType = window.types.back();  // the dialog follows
    settings_.ColorCount = "64";
    ApplyQuantize(state_, settings_, window, *undo_);
    EXPECT_EQ(state_.PaletteSize, 64);
    EXPECT_EQ(state_.PaletteType, TPaletteType::Adaptive);
}

}  // namespace
}  // namespace jx
