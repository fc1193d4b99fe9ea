// The image tool dialogs against a fake host: previews, commits, the lock and closing roads.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLayout>
#include <QProgressBar>
#include <QButtonGroup>
#include <QCheckBox>
#include <QToolButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include "gui/alpha_conv.h"
#include "gui/color_correction.h"
#include "gui/filter_form.h"
#include "gui/jpeg_filter_form.h"
#include "gui/lossy_form.h"
#include "gui/file_dialogs.h"
#include "gui/main_form.h"
#include "gui/save_commands.h"
#include "gui/resize_form.h"
#include "gui_app.h"
#include "window_fixture.h"
#include "imaging/alpha_convert.h"
#include "imaging/jpeg_filter.h"

namespace {

using namespace jx;

struct FakeHost {
    std::vector<TToolCommit> commits;
    int locks = 0, unlocks = 0, requantizes = 0, refreshes = 0;
    std::vector<QImage> previews;

    TToolHost Host() {
        TToolHost h;
        h.Commit = [this](TToolCommit c) { commits.push_back(std::move(c)); };
        h.Lock = [this] { ++locks; };
        h.Unlock = [this] { ++unlocks; };
        h.Requantize = [this] { ++requantizes; };
        h.Refresh = [this] { ++refreshes; };
        h.ShowPreview = [this](const QImage& i) { previews.push_back(i); };
        h.PickColor = [](QColor) { return std::optional<QColor>(QColor(0, 0, 255)); };
        return h;
    }
};

class ImageTools : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        TPixelImage img(6, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                img[y][x] = {uint8_t(40 * x), uint8_t(60 * y), uint8_t(x * y * 10), uint8_t(x * 50)};
        state.HasAlpha = true;
        state.SetSourceImage(std::move(img));
        original = state.SourceImage;
    }
    EngineState state;
    TPixelImage original;
    FakeHost host;
};

TEST_F(ImageTools, ColorCorrectionPreviewsCommitsAndCancels) {
    TColorCorrection d(nullptr, state, host.Host());
    d.show();
    EXPECT_EQ(host.locks, 1);
    EXPECT_EQ(state.WorkingImage, original);  // the defaults change nothing
    d.AlphaLo->setValue(127);
    EXPECT_EQ(state.WorkingImage[0][2].A, 0);  // 100 < 127
    EXPECT_EQ(state.WorkingImage[0][3].A, 150);
    EXPECT_EQ(state.SourceImage, original);
    state.WorkingImage = TPixelImage(6, 4);  // a quantized view meanwhile must not matter
    d.OkButton->click();
    ASSERT_EQ(host.commits.size(), 1u);
    const TToolCommit& c = host.commits[0];
    EXPECT_TRUE(c.MaskChanged);
    EXPECT_EQ(c.Mask, TByteImage(6, 4, 0));
    EXPECT_EQ(c.Source[0][2].R, 0);  // became transparent: cleared
    EXPECT_EQ(c.Source[0][3].R, 120);
    EXPECT_EQ(host.unlocks, 1);
    EXPECT_FALSE(d.isVisible());

    d.show();
    EXPECT_EQ(d.AlphaLo->value(), 0);  // every show starts from the defaults
    d.RedHi->setValue(130);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_EQ(host.commits.size(), 1u);
    EXPECT_EQ(host.requantizes, 1);
    EXPECT_EQ(host.unlocks, 2);
    EXPECT_EQ(state.SourceImage, original);
}

TEST_F(ImageTools, AlphaConversionCaptionsAndCommit) {
    TAConv d(nullptr, state, host.Host());
    d.show();
    EXPECT_EQ(host.locks, 1);
    EXPECT_EQ(d.ThresholdGroup->title(), "Treshold - 127");
    d.ThresholdBar->setValue(100);
    EXPECT_EQ(d.ThresholdGroup->title(), "Treshold - 100");
    EXPECT_EQ(state.WorkingImage[0][2].A, 255);
    d.DitheringBox->setCurrentIndex(7);
    EXPECT_EQ(d.ThresholdGroup->title(), "Amount - 100%");
    d.ThresholdBar->setValue(0);
    EXPECT_EQ(d.ThresholdGroup->title(), "Amount - 0%");
    d.DitheringBox->setCurrentIndex(0);
    EXPECT_EQ(d.ThresholdBar->value(), 100);  // the stored threshold comes back
    d.DitheringBox->setCurrentIndex(2);
    EXPECT_EQ(d.ThresholdBar->value(), 0);
    d.MatteButton->click();  // the fake picker gives blue
    EXPECT_EQ(state.BackgroundColor, 0xFF0000);

    const TAlphaConvertSettings s = d.Settings();
    state.WorkingImage = TPixelImage(6, 4);
    d.OkButton->click();
    ASSERT_EQ(host.commits.size(), 1u);
    TPixelImage expect = ConvertAlpha(original, s, state.BayerMatrices[3]);
    RefreshSourcePixels(state, expect);
    EXPECT_EQ(host.commits[0].Source, expect);
    EXPECT_TRUE(host.commits[0].TrueColor);
    for (const TPixelRec& p : host.commits[0].Source.Vector()) {
        EXPECT_TRUE(p.A == 0 || p.A == 255);
        if (p.A == 0) {
            EXPECT_EQ(p.R + p.G + p.B, 0);
        }
    }
    EXPECT_EQ(host.requantizes, 0);
    EXPECT_EQ(host.unlocks, 1);

    d.show();
    d.close();
    EXPECT_EQ(host.commits.size(), 1u);
    EXPECT_EQ(host.requantizes, 1);
    EXPECT_EQ(d.DitheringBox->currentIndex(), 2);  // settings last the run
}

TEST_F(ImageTools, JpegFilterOkWithoutApplyChangesNothing) {
    TJPEGFilterForm d(nullptr, state, host.Host());
    d.show();
    EXPECT_EQ(host.locks, 1);
    d.BlockSize->setValue(5);
    EXPECT_EQ(d.BlockSizeValue->text(), QString::fromUtf8("± 5 pix"));
    d.OkButton->click();
    EXPECT_TRUE(host.commits.empty());
    EXPECT_EQ(host.requantizes, 1);
    EXPECT_EQ(host.unlocks, 1);

    d.show();
    d.MaxError->setValue(32);
    d.ApplyButton->click();
    ASSERT_TRUE(d.Applied());
    TPixelImage expect;
    ASSERT_TRUE(JpegFilter(original, expect, d.Settings()));
    EXPECT_EQ(state.WorkingImage, expect);
    d.OkButton->click();
    ASSERT_EQ(host.commits.size(), 1u);
    RefreshSourcePixels(state, expect);
    EXPECT_EQ(host.commits[0].Source, expect);
    EXPECT_EQ(state.SourceImage, original);  // the host's commit step does the rest
}

TEST_F(ImageTools, JpegFilterCancelCloseAndDeleteWhileRunning) {
    TJPEGFilterForm d(nullptr, state, host.Host());
    d.show();
    d.OnRow = [&](int32_t row) {
        EXPECT_TRUE(d.Running());
        if (row == 1) d.CancelClick();
    };
    d.ApplyButton->click();
    EXPECT_FALSE(d.Running());
    EXPECT_FALSE(d.Applied());
    EXPECT_EQ(state.WorkingImage, original);

    d.OnRow = [&](int32_t) { d.reject(); };
    d.ApplyButton->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_FALSE(d.Applied());
    EXPECT_TRUE(host.commits.empty());
    EXPECT_EQ(host.unlocks, 1);

    auto* gone = new TJPEGFilterForm(nullptr, state, host.Host());
    gone->show();
    gone->OnRow = [&](int32_t) { delete gone; };
    gone->ApplyButton->click();  // must return safely with the dialog gone
    EXPECT_TRUE(host.commits.empty());
    EXPECT_EQ(host.unlocks, 2);
}

TEST_F(ImageTools, SmoothingPreviewsOnlyAndRequantizesOnClose) {
    TFilterForm d(nullptr, state, host.Host());
    state.WorkingImage = TPixelImage(6, 4);
    d.show();
    EXPECT_EQ(host.locks, 1);
    EXPECT_EQ(state.WorkingImage, original);  // "none" shows the source
    d.StrengthBar->setValue(32);
    d.Modes->button(1)->click();
    EXPECT_EQ(d.Mode(), 1);
    EXPECT_NE(state.WorkingImage, original);
    d.close();
    EXPECT_TRUE(host.commits.empty());
    EXPECT_EQ(host.requantizes, 1);
    EXPECT_EQ(host.unlocks, 1);
    d.ResetMode();
    EXPECT_EQ(d.Mode(), 0);
}

TEST_F(ImageTools, ResizeKeepsTheWorkingShapeAndCommitsOnce) {
    TPixelImage img(2, 7, TPixelRec{10, 20, 30, 255});
    state.HasAlpha = false;
    state.SetSourceImage(std::move(img));
    original = state.SourceImage;
    TResizeForm d(nullptr, state, host.Host());
    d.show();
    EXPECT_EQ(d.windowTitle(), "Image size");
    EXPECT_EQ(host.locks, 1);
    d.WidthBox->setValue(3);
    EXPECT_EQ(d.HeightBox->value(), 10);  // 10.5 to even
    EXPECT_EQ(d.WidthPercentBox->value(), 150);
    EXPECT_TRUE(d.ResamplePending());
    d.WidthBox->setValue(0);  // refused: the last good width comes back
    EXPECT_EQ(d.WidthBox->value(), 3);
    EXPECT_EQ(state.WorkingImage.Width(), 2);
    EXPECT_EQ(state.WorkingImage.Height(), 7);
    d.OkButton->click();
    ASSERT_EQ(host.commits.size(), 1u);
    const TToolCommit& c = host.commits[0];
    EXPECT_EQ(c.Source.Width(), 3);
    EXPECT_EQ(c.Source.Height(), 10);
    EXPECT_EQ(c.Mask, TByteImage(3, 10, 0));
    EXPECT_EQ(c.Source[5][1].G, 20);
    EXPECT_FALSE(c.HasAlpha);
    EXPECT_EQ(state.SourceImage, original);
    EXPECT_EQ(host.unlocks, 1);
    ASSERT_FALSE(host.previews.empty());
    EXPECT_TRUE(host.previews.back().isNull());  // back to the normal view
}

TEST_F(ImageTools, CanvasSizeAnchorsAndEscape) {
    TResizeForm d(nullptr, state, host.Host());
    d.CanvasMode = 1;
    state.HasAlpha = false;
    d.show();
    EXPECT_EQ(d.windowTitle(), "Canvas size");
    EXPECT_FALSE(d.PropSize->isChecked());
    d.WidthBox->setValue(9);
    d.HeightBox->setValue(5);
    d.AnchorButtons[8]->click();
    EXPECT_EQ(d.CanvasAnchor(), 9);
    EXPECT_TRUE(d.AnchorButtons[8]->isChecked());
    EXPECT_FALSE(d.AnchorButtons[4]->isChecked());
    ASSERT_EQ(d.Preview().Width(), 9);
    EXPECT_EQ(d.Preview()[1][3], original[0][0]);
    EXPECT_EQ(d.Preview()[0][0].A, 0);
    ASSERT_FALSE(host.previews.empty());
    EXPECT_EQ(host.previews.back().size(), QSize(9, 5));
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_TRUE(host.commits.empty());
    EXPECT_TRUE(host.previews.back().isNull());
    EXPECT_EQ(state.SourceImage, original);

    d.show();
    d.HeightBox->setValue(6);
    d.OkButton->click();
    ASSERT_EQ(host.commits.size(), 1u);
    EXPECT_TRUE(host.commits[0].HasAlpha);  // the canvas grew
    EXPECT_EQ(host.commits[0].Source.Height(), 6);
}

// Pending layout requests done, as the window system would before the user sees the dialog.
QSize Settled(QDialog& d) {
    QCoreApplication::sendPostedEvents();
    d.layout()->activate();
    return d.size();
}

QPoint PlaceIn(QDialog& d, QWidget* w) { return w->mapTo(&d, QPoint(0, 0)); }

TEST_F(ImageTools, DialogsKeepTheirSizeThroughTheirActions) {
    {
        // "Apply" shows its progress and Cancel while it runs: "OK" stays where it was.
        TJPEGFilterForm d(nullptr, state, host.Host());
        d.show();
        const QSize before = Settled(d);
        const QPoint ok = PlaceIn(d, d.OkButton);
        QSize during;
        d.OnRow = [&](int32_t) {
            during = Settled(d);
            EXPECT_TRUE(d.ProgressBar->isVisible());
        };
        for (int run = 0; run < 2; ++run) {
            d.ApplyButton->click();
            ASSERT_TRUE(d.Applied());
            EXPECT_EQ(during, before);
            EXPECT_EQ(Settled(d), before);
            EXPECT_EQ(PlaceIn(d, d.OkButton), ok);
            EXPECT_FALSE(d.ProgressBar->isVisible());
        }
        d.close();
    }
    {
        TFilterForm d(nullptr, state, host.Host());
        d.show();
        const QSize before = Settled(d);
        for (int mode = 1; mode <= 4; ++mode) {
            d.Modes->button(mode)->click();
            d.StrengthBar->setValue(8 * mode);
            d.ApplyButton->click();
            EXPECT_EQ(Settled(d), before) << mode;
        }
        d.close();
    }
    {
        TAConv d(nullptr, state, host.Host());
        d.show();
        const QSize before = Settled(d);
        for (int method = 0; method < d.DitheringBox->count(); ++method) {
            d.DitheringBox->setCurrentIndex(method);
            for (int v : {0, 100, 255}) {
                d.ThresholdBar->setValue(v);
                EXPECT_EQ(Settled(d), before) << method << " " << v;
            }
        }
        d.close();
    }
    {
        TColorCorrection d(nullptr, state, host.Host());
        d.show();
        const QSize before = Settled(d);
        for (QSlider* s : {d.RedLo, d.GreenHi, d.AlphaLo}) {
            s->setValue(s->maximum() / 2);
            EXPECT_EQ(Settled(d), before);
        }
        d.close();
    }
    {
        TResizeForm d(nullptr, state, host.Host());
        d.show();
        const QSize before = Settled(d);
        d.WidthBox->setValue(12);
        d.ResampleTick();
        d.ResampleTick();
        EXPECT_EQ(Settled(d), before);
        d.close();
    }
}

TEST_F(ImageTools, ResizeShowsTheCappedSizeItProduces) {
    // 600x400 widened to 6000: constrained, the width stops at 4096 and the height follows it;
    // unconstrained, only the width is held. The boxes show before OK what OK gives.
    struct Case {
        bool constrained;
        int width, height, widthPercent, heightPercent;
    };
    for (const Case& c : {Case{true, 4096, 2731, 683, 683}, Case{false, 4096, 400, 683, 100}}) {
        SCOPED_TRACE(c.constrained);
        state.HasAlpha = false;
        state.SetSourceImage(TPixelImage(600, 400, TPixelRec{10, 20, 30, 255}));
        host.commits.clear();
        TResizeForm d(nullptr, state, host.Host());
        d.show();
        ASSERT_TRUE(d.PropSize->isChecked());
        if (!c.constrained) d.PropSize->click();
        d.MethodBox->setCurrentIndex(0);  // "Nearest": the size is what counts here
        d.WidthBox->setValue(6000);
        EXPECT_EQ(d.WidthBox->value(), c.width);
        EXPECT_EQ(d.HeightBox->value(), c.height);
        EXPECT_EQ(d.WidthPercentBox->value(), c.widthPercent);
        EXPECT_EQ(d.HeightPercentBox->value(), c.heightPercent);
        d.OkButton->click();
        ASSERT_EQ(host.commits.size(), 1u);
        EXPECT_EQ(host.commits[0].Source.Width(), c.width);
        EXPECT_EQ(host.commits[0].Source.Height(), c.height);
        // The last preview shown before the close cleared it.
        ASSERT_GE(host.previews.size(), 2u);
        EXPECT_EQ(host.previews[host.previews.size() - 2].size(), QSize(c.width, c.height));
    }
    // A one-pixel column unconstrained keeps its typed width beside the capped height.
    state.SetSourceImage(TPixelImage(1, 4000, TPixelRec{10, 20, 30, 255}));
    host.commits.clear();
    TResizeForm d(nullptr, state, host.Host());
    d.show();
    d.PropSize->click();
    d.WidthBox->setValue(10);
    d.HeightBox->setValue(5000);
    EXPECT_EQ(d.HeightBox->value(), 4096);
    d.OkButton->click();
    ASSERT_EQ(host.commits.size(), 1u);
    EXPECT_EQ(host.commits[0].Source.Width(), 10);
    EXPECT_EQ(host.commits[0].Source.Height(), 4096);
}

class LossyDialogSize : public MainWindowTest {};

TEST_F(LossyDialogSize, ChoicesThatSwapItsGroupsKeepItsSize) {
    if (!std::filesystem::exists("/usr/bin/cjpeg")) GTEST_SKIP() << "cjpeg missing";
    form_->OpenImage(SuiteFile("basn2c08.png"));
    ASSERT_TRUE(form_->SaveCommands().SaveAs(QString::fromStdString((base_ / "lossy").string()), 6));
    jx::TLossyForm* d = form_->FileDialogs().LossyForm();
    ASSERT_TRUE(d->isVisible());
    const QSize before = Settled(*d);
    // "Frequency" shows the chroma quality bar where "Spatial" shows the subsampling group.
    for (const char* choice : {"Frequency", "Spatial", "RGB", "YUV", "Frequency"}) {
        for (QRadioButton* b : d->findChildren<QRadioButton*>())
            if (b->text() == choice) b->click();
        EXPECT_EQ(Settled(*d), before) << choice;
    }
    d->close();
}

}  // namespace
