#include <functional>

#include "edit/alpha_command.h"
#include "edit/errors.h"
#include "edit_test_util.h"

namespace fs = std::filesystem;

namespace jx {
namespace {

using test::Rgba;

class AlphaCommandTest : public test::EditTest {
protected:
    void SetUp() override {
        EditTest::SetUp();
        state_.ColorConverter = ConvertLab;
    }
    // Three rows of pixels with the given alpha per column.
    static TPixelImage WithAlpha(std::initializer_list<uint8_t> alphas) {
        TPixelImage img = test::Pixels(int32_t(alphas.size()), 3, 5);
        for (int32_t y = 0; y < 3; ++y) {
            int32_t x = 0;
            for (uint8_t a : alphas) img[y][x++].A = a;
        }
        return img;
    }
};

TEST_F(AlphaCommandTest, EveryCommandEndsInTrueColourAndUndoGivesTheImageBack) {
    using Run = std::function<void(EngineState&, const TQuantizerSettings&, EditObserver&, TURClass&)>;
    const std::vector<std::pair<const char*, Run>> commands = {
        {"Image to Alpha", [](auto& s, auto& q, auto& o, auto& u) { AlphaCommand(s, TAlphaMode::ImageToAlpha, q, o, u); }},
        {"Color to Alpha", [](auto& s, auto& q, auto& o, auto& u) { AlphaCommand(s, TAlphaMode::ColorToAlpha, q, o, u); }},
        {"R + GB", [](auto& s, auto& q, auto& o, auto& u) { FakeColorCommand(s, TFakeColor::RplusGB, q, o, u); }},
        {"G + RB", [](auto& s, auto& q, auto& o, auto& u) { FakeColorCommand(s, TFakeColor::GplusRB, q, o, u); }},
        {"B + RG", [](auto& s, auto& q, auto& o, auto& u) { FakeColorCommand(s, TFakeColor::BplusRG, q, o, u); }},
        {"Grayscale", [](auto& s, auto& q, auto& o, auto& u) { GrayscaleCommand(s, q, o, u); }},
    };
    Open(test::Pixels(8, 6, 3));
    ASSERT_EQ(undo_->Count(), 1);
    ASSERT_FALSE(state_.HasAlpha);
    const int32_t openedSize = state_.PaletteSize;
    ASSERT_GT(openedSize, 0);
    const std::vector<uint32_t> opened = Rgba(state_.SourceImage);
    for (const auto& [name, run] : commands) {
        SCOPED_TRACE(name);
        run(state_, settings_, window_, *undo_);
        EXPECT_NE(Rgba(state_.SourceImage), opened);
        EXPECT_EQ(state_.PaletteSize, -1);
        EXPECT_EQ(window_.colorCount, "TrueColor");
        EXPECT_EQ(Rgba(state_.WorkingImage), Rgba(state_.SourceImage));  // true colour shows the source
        ASSERT_EQ(undo_->Count(), 2);

        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
        EXPECT_EQ(Rgba(state_.SourceImage), opened);
        EXPECT_FALSE(state_.HasAlpha);  // the flag comes back with the pixels
        EXPECT_EQ(state_.PaletteSize, openedSize);
        ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
        EXPECT_NE(Rgba(state_.SourceImage), opened);
        ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    }
    EXPECT_TRUE(window_.warnings.empty());
}

TEST_F(AlphaCommandTest, ColorToAlphaRecordsTheAlphaFlagAndPendingReconversion) {
    TPixelImage img(3, 1);
    const uint8_t rgb[3][3] = {{255, 128, 128}, {255, 255, 255}, {0, 0, 0}};
    for (int x = 0; x < 3; ++x) img[0][x].R = rgb[x][0], img[0][x].G = rgb[x][1], img[0][x].B = rgb[x][2], img[0][x].A = 255;
    Open(img);
    AlphaCommand(state_, TAlphaMode::ColorToAlpha, settings_, window_, *undo_);
    const TPixelRec& p = state_.SourceImage[0][0];
    EXPECT_EQ((std::array<int, 4>{p.R, p.G, p.B, p.A}), (std::array<int, 4>{255, 0, 0, 127}));
    EXPECT_EQ(state_.SourceImage[0][1].A, 0);
    EXPECT_EQ(state_.SourceImage[0][2].A, 255);
    EXPECT_TRUE(state_.HasAlpha);
    EXPECT_TRUE(state_.ReconvertPending);
    // The redo of the state brings the flag back too.
    ASSERT_TRUE(undo_->Undo(state_, settings_, window_));
    ASSERT_TRUE(undo_->Redo(state_, settings_, window_));
    EXPECT_TRUE(state_.HasAlpha);
    EXPECT_EQ(state_.SourceImage[0][0].A, 127);
}

TEST_F(AlphaCommandTest, SplitOnlyWithPartialAlphaWritesItsThreeImages) {
    TSplitView view;
    Open(WithAlpha({0, 255, 0, 255}), true);
    ASSERT_EQ(undo_->Count(), 1);
    EXPECT_FALSE(SplitCommand(view, state_, session_.Path()));
    EXPECT_FALSE(view.Active());
    EXPECT_FALSE(fs::exists(session_.Path() + "Opaque.bmp"));

    Open(WithAlpha({0, 255, 128, 255}), true);
    ASSERT_TRUE(state_.HasAlpha);
    // A failed write leaves the view unsplit.
    EXPECT_THROW(SplitCommand(view, state_, session_.Path() + "gone/"), std::exception);
    EXPECT_FALSE(view.Active());
    ASSERT_TRUE(SplitCommand(view, state_, session_.Path()));
    EXPECT_FALSE(SplitCommand(view, state_, session_.Path()));  // once only
    for (int32_t i = 0; i < 3; ++i) {
        const std::string file = session_.Path() + TSplitView::FileNames()[size_t(i)];
        EXPECT_EQ(Rgba(DecodeStateImage(test::ReadBytes(file))), Rgba(view.Image(i))) << file;
    }
    EXPECT_EQ(view.Image(TSplitView::kOpaque)[0][2].A, 0);
    EXPECT_EQ(view.Image(TSplitView::kTranslucent)[0][2].A, 128);
}

TEST_F(AlphaCommandTest, TabSwitchesKeepEditsAndStartTheHistoryAnew) {
    TSplitView view;
    Open(WithAlpha({0, 255, 128, 255, 60}), true);
    ASSERT_TRUE(SplitCommand(view, state_, ""));
    ASSERT_TRUE(SelectSplitTab(view, TSplitView::kTranslucent, state_, settings_, window_, *undo_));
    EXPECT_EQ(Rgba(state_.SourceImage), Rgba(view.Image(TSplitView::kTranslucent)));
    EXPECT_EQ(undo_->Count(), 1);
    EXPECT_FALSE(undo_->Undo(state_, settings_, window_));  // no way back to the other tab's image

    GrayscaleCommand(state_, settings_, window_, *undo_);
    const std::vector<uint32_t> edited = Rgba(state_.SourceImage);
    state_.QualityMask[1][1] = 77;
    EXPECT_FALSE(SelectSplitTab(view, TSplitView::kTranslucent, state_, settings_, window_, *undo_));
    ASSERT_TRUE(SelectSplitTab(view, TSplitView::kOriginal, state_, settings_, window_, *undo_));
    EXPECT_EQ(state_.SourceImage[0][2].A, 128);
    ASSERT_TRUE(SelectSplitTab(view, TSplitView::kTranslucent, state_, settings_, window_, *undo_));
    EXPECT_EQ(Rgba(state_.SourceImage), edited);
    EXPECT_EQ(state_.QualityMask[1][1], 77);
    EXPECT_EQ(undo_->Count(), 1);
    EXPECT_TRUE(window_.warnings.empty());
}

}  // namespace
}  // namespace jx
