// The tool dialogs inside the main window: routes, the lock, previews, commits and their undo.
#include <gtest/gtest.h>

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QAbstractButton>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>
#include <algorithm>
#include <filesystem>
#include <unistd.h>

#include "edit/commit.h"
#include "gui/alpha_conv.h"
#include "gui/color_correction.h"
#include "gui/command_router.h"
#include "gui/filter_form.h"
#include "gui/jpeg_filter_form.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/save_commands.h"
#include "gui/status_panels.h"
#include "gui/palette_panel.h"
#include "gui/resize_form.h"
#include "gui/tool_host.h"
#include "gui_app.h"
#include "window_fixture.h"
#include "platform/session.h"

namespace fs = std::filesystem;

namespace {

using namespace jx;

// What undo has to give back exactly.
struct Snapshot {
    TPixelImage Source;
    TByteImage Mask;
    int32_t PaletteSize;
    std::vector<std::array<uint8_t, 4>> Palette;

    explicit Snapshot(const EngineState& s) : Source(s.SourceImage), Mask(s.QualityMask), PaletteSize(s.PaletteSize) {
        for (int32_t i = 0; i < s.PaletteSize; ++i) {
            const TPixelRec& p = s.Palette[static_cast<size_t>(i)];
            Palette.push_back({p.R, p.G, p.B, p.A});
        }
        // The remap after an undo sorts the palette again, and entries with equal keys (same
        // colour, other alpha) may trade places.
        std::sort(Palette.begin(), Palette.end());
    }
};

void ExpectSame(const Snapshot& now, const Snapshot& before) {
    EXPECT_EQ(now.Source, before.Source);
    EXPECT_EQ(now.Mask, before.Mask);
    EXPECT_EQ(now.PaletteSize, before.PaletteSize);
    EXPECT_EQ(now.Palette, before.Palette);
}

class ToolHostTest : public MainWindowTest {
protected:
    void TearDown() override {
        EXPECT_TRUE(messages_.isEmpty()) << messages_.join("\n").toStdString();
        MainWindowTest::TearDown();
    }
    // An image with graded alpha, quantized to 16 colours, with a painted mask: three states.
    void OpenWithPaletteAndMask(const char* file = "basn6a08.png", bool mask = true) {
        form_->OpenImage(SuiteFile(file));
        ASSERT_TRUE(State().HasImage());
        form_->PalettePanel()->Colors()->setEditText("16");
        form_->PalettePanel()->ColorsSelect();
        ASSERT_EQ(State().PaletteSize, 16);
        if (!mask) return;
        State().QualityMask[3][4] = 200;
        CommitMask(State(), form_->Reports(), form_->UndoStore());
        ASSERT_EQ(form_->UndoStore().Count(), 3);
    }
    EngineState& State() { return form_->State(); }
    TToolDialogs& Tools() { return form_->Tools(); }
    QAction* Button(const char* name) { return form_->MainToolBar()->findChild<QAction*>(name); }
    void ExpectUndoGivesBack(const Snapshot& before) {
        ASSERT_EQ(form_->UndoStore().Count(), 4);
        form_->UndoClick();
        ExpectSame(Snapshot(State()), before);
        EXPECT_EQ(form_->ImageView()->Bitmap().size(), QSize(before.Source.Width(), before.Source.Height()));
    }
};

TEST_F(ToolHostTest, ResizePreviewsInTheViewAndUndoGivesImageMaskAndPaletteBack) {
    OpenWithPaletteAndMask();
    const Snapshot before(State());
    ASSERT_TRUE(Button("ImageResizeButton")->isEnabled());
    Button("ImageResizeButton")->trigger();
    TResizeForm* d = Tools().ResizeForm();
    ASSERT_TRUE(d->isVisible());
    EXPECT_EQ(d->windowTitle(), "Image size");
    EXPECT_FALSE(form_->MainToolBar()->isEnabled());
    EXPECT_FALSE(form_->Router().Route("Canvas resize"));  // one tool at a time

    d->WidthBox->setValue(16);  // proportions constrained: 16 x 16
    d->Resample();
    EXPECT_EQ(form_->ImageView()->Bitmap().size(), QSize(16, 16));
    EXPECT_TRUE(State().WorkingImage.SameShape(State().SourceImage));  // the preview is not the engine's
    d->OkButton->click();
    EXPECT_FALSE(d->isVisible());
    EXPECT_TRUE(form_->MainToolBar()->isEnabled());
    EXPECT_EQ(State().ImageWidth(), 16);
    EXPECT_EQ(State().QualityMask, TByteImage(16, 16, 0));
    EXPECT_EQ(form_->StatusPanels().Text(1), "Dimension: 16x16");
    EXPECT_EQ(form_->StatusPanels().Text(2), QString("Unique colors: %1").arg(State().UniqueColorCount));
    EXPECT_EQ(form_->ImageView()->Bitmap().size(), QSize(16, 16));
    ExpectUndoGivesBack(before);
}

TEST_F(ToolHostTest, ClosingAToolWithoutOkChangesNothing) {
    OpenWithPaletteAndMask("basn6a08.png", false);
    const Snapshot before(State());
    const TPixelImage quantized = State().WorkingImage;

    form_->Router().Route("Canvas resize");
    TResizeForm* r = Tools().ResizeForm();
    r->WidthBox->setValue(40);  // canvas edits place at once
    EXPECT_EQ(form_->ImageView()->Bitmap().size(), QSize(40, 32));
    QTest::keyClick(r, Qt::Key_Escape);
    EXPECT_FALSE(r->isVisible());
    EXPECT_EQ(form_->ImageView()->Bitmap().size(), QSize(32, 32));

    // Smoothing only previews; its close re-quantizes so Save never sees the preview.
    Button("SmoothingButton")->trigger();
    TFilterForm* f = Tools().FilterForm();
    ASSERT_TRUE(f->isVisible());
    f->Modes->button(3)->click();
    f->close();
    EXPECT_EQ(State().WorkingImage, quantized);

    form_->Router().Route("Filter");
    Tools().JPEGFilterForm()->OkButton->click();  // OK without Apply
    ExpectSame(Snapshot(State()), before);
    EXPECT_EQ(form_->UndoStore().Count(), 2);
    EXPECT_FALSE(form_->Locked());

    // A new image puts the smoothing mode back to "none".
    form_->OpenImage(SuiteFile("basn2c08.png"));
    EXPECT_EQ(f->Mode(), 0);
}

TEST_F(ToolHostTest, ColorCorrectionClearsTheMaskAndUndoGivesItBack) {
    OpenWithPaletteAndMask();
    const Snapshot before(State());
    ASSERT_TRUE(Button("ColorCorrectionButton")->isVisible());
    Button("ColorCorrectionButton")->trigger();
    TColorCorrection* d = Tools().ColorCorrection();
    ASSERT_TRUE(d->isVisible());
    d->AlphaLo->setValue(127);
    d->OkButton->click();
    EXPECT_EQ(State().QualityMask, TByteImage(32, 32, 0));
    for (int64_t i = 0; i < State().SourceImage.Count(); ++i)
        ASSERT_TRUE(State().SourceImage.Data()[i].A == 0 || State().SourceImage.Data()[i].A >= 127);
    ExpectUndoGivesBack(before);
}

TEST_F(ToolHostTest, AlphaConversionCommitsInTrueColorAndUndoGivesThePaletteBack) {
    form_->OpenImage(SuiteFile("basn2c08.png"));  // opaque: the command is not offered
    form_->Router().Route("Alpha to Simple transparency");
    EXPECT_FALSE(Tools().AConv()->isVisible());

    OpenWithPaletteAndMask();
    const Snapshot before(State());
    form_->Router().Route("Alpha to Simple transparency");
    TAConv* d = Tools().AConv();
    ASSERT_TRUE(d->isVisible());
    EXPECT_TRUE(form_->Locked());
    d->OkButton->click();
    for (int64_t i = 0; i < State().SourceImage.Count(); ++i) {
        const uint8_t a = State().SourceImage.Data()[i].A;
        ASSERT_TRUE(a == 0 || a == 255);
    }
    EXPECT_EQ(State().PaletteSize, -1);
    EXPECT_EQ(form_->PalettePanel()->Colors()->currentText(), "TrueColor");
    EXPECT_EQ(State().QualityMask, before.Mask);  // the mask is kept
    ExpectUndoGivesBack(before);
    EXPECT_EQ(form_->PalettePanel()->Colors()->currentText(), "16");
}

TEST_F(ToolHostTest, NoiseFilterAppliedThenOkIsOneUndoableState) {
    OpenWithPaletteAndMask("basn2c08.png");
    const Snapshot before(State());
    Button("FilterButton")->trigger();
    TJPEGFilterForm* d = Tools().JPEGFilterForm();
    d->AggressiveBox->setChecked(true);
    d->MaxError->setValue(32);
    d->ApplyButton->click();
    ASSERT_TRUE(d->Applied());
    d->OkButton->click();
    EXPECT_FALSE(d->isVisible());
    EXPECT_NE(State().SourceImage, before.Source);
    ExpectUndoGivesBack(before);
}

}  // namespace
