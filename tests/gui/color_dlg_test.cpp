#include <gtest/gtest.h>

#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include "gui/color_dlg.h"
#include "gui/grid_settings.h"
#include "gui_app.h"
#include "imaging/alpha_commands.h"

namespace {

using jx::TColorDlgForm;

class ColorDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        dlg_ = std::make_unique<TColorDlgForm>(nullptr, state_);
        dlg_->PickerColor.R = 255;
        dlg_->PickerColor.G = 128;
        dlg_->PickerColor.B = 0;
        dlg_->PickerColor.A = 200;
        dlg_->show();
    }
    jx::EngineState state_;
    std::unique_ptr<TColorDlgForm> dlg_;
};

TEST_F(ColorDlgTest, ShowsTheStartColourInEveryField) {
    EXPECT_EQ(dlg_->windowTitle(), "Color dialog");
    EXPECT_EQ(dlg_->NamedColorsGroup->title(), "HTML Colors");
    EXPECT_EQ(dlg_->OkButton->text(), "OK");
    EXPECT_EQ(dlg_->CopyCodeButton->toolTip(), "Copy color to clipboard");
    EXPECT_EQ(dlg_->EditHEX->text(), "FF8000");
    EXPECT_EQ(dlg_->EditR->value(), 255);
    EXPECT_EQ(dlg_->EditG->value(), 128);
    EXPECT_EQ(dlg_->EditA->value(), 200);
    EXPECT_EQ(dlg_->EditH->value(), 30);
    EXPECT_EQ(dlg_->EditS->value(), 100);
    EXPECT_EQ(dlg_->Picker().OpenColor().A, 200);
}

TEST_F(ColorDlgTest, HexCodeAppliesOnEnterOrPasteAndRefusalsRestoreIt) {
    // Typed digits wait for Enter.
    dlg_->EditHEX->setFocus();
    dlg_->EditHEX->selectAll();
    QTest::keyClicks(dlg_->EditHEX, "00ff00");
    EXPECT_TRUE(dlg_->HexTyping());
    EXPECT_EQ(dlg_->Picker().Color().G, 128);
    QTest::keyClick(dlg_->EditHEX, Qt::Key_Return);
    EXPECT_TRUE(dlg_->isVisible());  // Enter is the field's, not the OK button's
    EXPECT_EQ(dlg_->Picker().Color().R, 0);
    EXPECT_EQ(dlg_->Picker().Color().G, 255);
    EXPECT_EQ(dlg_->Picker().Color().A, 200);
    // Characters that cannot be part of a code never reach the field.
    dlg_->EditHEX->selectAll();
    QTest::keyClicks(dlg_->EditHEX, "zq-12");
    EXPECT_EQ(dlg_->EditHEX->text(), "12");
    QTest::keyClick(dlg_->EditHEX, Qt::Key_Return);
    EXPECT_EQ(dlg_->EditHEX->text(), "00FF00");

    QGuiApplication::clipboard()->setText(" 0xff8000 ");
    dlg_->PasteCodeClick();
    EXPECT_EQ(dlg_->EditHEX->text(), "FF8000");
    EXPECT_EQ(dlg_->Picker().Color().R, 255);
    QGuiApplication::clipboard()->setText("#ff80");
    dlg_->PasteCodeClick();
    EXPECT_EQ(dlg_->EditHEX->text(), "FF8000");
    dlg_->CopyCodeClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "FF8000");
}

TEST_F(ColorDlgTest, ATypedCodeIsTakenOnTabAndOnOk) {
    dlg_->EditHEX->setFocus();
    dlg_->EditHEX->selectAll();
    QTest::keyClicks(dlg_->EditHEX, "00c0ff");
    QTest::keyClick(dlg_->EditHEX, Qt::Key_Tab);
    EXPECT_FALSE(dlg_->HexTyping());
    EXPECT_EQ(dlg_->EditB->value(), 255);
    EXPECT_EQ(dlg_->EditG->value(), 192);
    EXPECT_EQ(dlg_->EditHEX->text(), "00C0FF");
    // Typed and left with OK: the result is the code, alpha kept.
    dlg_->EditHEX->setFocus();
    dlg_->EditHEX->selectAll();
    QTest::keyClicks(dlg_->EditHEX, "102030");
    ASSERT_TRUE(dlg_->HexTyping());
    dlg_->OkButton->click();
    EXPECT_EQ(dlg_->result(), TColorDlgForm::kModalYes);
    EXPECT_EQ(dlg_->Color().R, 0x10);
    EXPECT_EQ(dlg_->Color().G, 0x20);
    EXPECT_EQ(dlg_->Color().B, 0x30);
    EXPECT_EQ(dlg_->Color().A, 200);
}

TEST_F(ColorDlgTest, FieldsCapAndGreyKeepsTheHue) {
    dlg_->EditH->setValue(400);
    EXPECT_EQ(dlg_->EditH->value(), 360);
    dlg_->EditH->setValue(120);
    dlg_->EditS->setValue(0);
    EXPECT_EQ(dlg_->EditH->value(), 120);
    EXPECT_EQ(dlg_->EditR->value(), dlg_->EditG->value());
    dlg_->EditR->setValue(999);
    EXPECT_EQ(dlg_->EditR->value(), 255);
}

TEST_F(ColorDlgTest, DragsOutsideThePicturesClamp) {
    QTest::mousePress(dlg_->NamedGrid, Qt::LeftButton, {}, QPoint(1000, 1000));
    QTest::mouseRelease(dlg_->NamedGrid, Qt::LeftButton, {}, QPoint(1000, 1000));
    const jx::TRgbBytes last = jx::NamedColorRgb(549);
    EXPECT_EQ(dlg_->Picker().Color().R, last.R);
    EXPECT_EQ(dlg_->Picker().Color().B, last.B);
    EXPECT_EQ(dlg_->Picker().Color().A, 200);

    QTest::mousePress(dlg_->AlphaPicker, Qt::LeftButton, {}, QPoint(-30, 5));
    QTest::mouseRelease(dlg_->AlphaPicker, Qt::LeftButton, {}, QPoint(-30, 5));
    EXPECT_EQ(dlg_->EditA->value(), 0);
    QTest::mousePress(dlg_->SquarePicker, Qt::LeftButton, {}, QPoint(400, -20));
    QTest::mouseRelease(dlg_->SquarePicker, Qt::LeftButton, {}, QPoint(400, -20));
    EXPECT_EQ(dlg_->EditS->value(), 100);
    EXPECT_EQ(dlg_->EditV->value(), 100);
}

TEST_F(ColorDlgTest, SwatchesRestoreAndTakeTheNamedColours) {
    dlg_->EditHEX->setText("FFFFFF");
    const jx::TNamedMatch m = dlg_->Picker().Matches();
    dlg_->AltColorClick(2);
    const jx::TRgbBytes second = jx::NamedColorRgb(m.Second);
    EXPECT_EQ(dlg_->Picker().Color().R, second.R);
    EXPECT_NE(dlg_->EditHEX->text(), "FFFFFF");
    dlg_->EditA->setValue(10);
    dlg_->AltColorClick(0);
    EXPECT_EQ(dlg_->EditHEX->text(), "FF8000");
    EXPECT_EQ(dlg_->EditA->value(), 200);
    // The "New" swatch's opaque half shows the colour exactly.
    EXPECT_EQ(dlg_->NewSwatch->Picture().pixel(390, 20), qRgb(255, 128, 0));
}

TEST_F(ColorDlgTest, OkGivesResultSixWithWorkingSpaceValuesEscAnotherResult) {
    dlg_->OkButton->click();
    EXPECT_EQ(dlg_->result(), TColorDlgForm::kModalYes);
    jx::TPixelRec want = dlg_->Picker().Color();
    state_.Convert(want);
    EXPECT_EQ(dlg_->Color().c1, want.c1);
    EXPECT_EQ(dlg_->Color().c2, want.c2);
    EXPECT_EQ(dlg_->Color().A, 200);

    dlg_->SetColor(1, 2, 3, 4);  // a caller's start colour survives the show
    dlg_->show();
    EXPECT_EQ(dlg_->EditHEX->text(), "010203");
    QTest::keyClick(dlg_.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_NE(dlg_->result(), TColorDlgForm::kModalYes);
}

TEST(EyedropperForm, AvailableWhereAnXServerIs) {
    EXPECT_TRUE(jx::EyedropperAvailable("xcb", "x11"));
    EXPECT_TRUE(jx::EyedropperAvailable("xcb", "wayland"));  // XWayland
    EXPECT_FALSE(jx::EyedropperAvailable("wayland", "wayland"));
    EXPECT_FALSE(jx::EyedropperAvailable("offscreen", "wayland"));
    EXPECT_FALSE(jx::EyedropperAvailable("offscreen", ""));
}

TEST(EyedropperForm, PicksAboveTheHotSpotAndTheLoupeShowsIt) {
    GuiApp();
    QImage shot(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) shot.setPixel(x, y, qRgb(x, y, 7));
    jx::TEyedropperForm f(shot);
    EXPECT_EQ(f.PixelAt(QPoint(5, 5)), qRgb(5, 4, 7));
    EXPECT_EQ(f.PixelAt(QPoint(5, 0)), qRgb(5, 0, 7));  // the top row reads itself, not row -1
    const QImage loupe = f.DrawLoupe(QPoint(2, 2));
    EXPECT_EQ(loupe.size(), QSize(136, 132));
    EXPECT_EQ(loupe.pixel(68, 60), qRgb(2, 1, 7));  // the framed pixel is the one a click picks
    EXPECT_EQ(loupe.pixel(10, 10), qRgb(0, 0, 0));  // beyond the screen's edge
    f.MoveLoupe(QPoint(200, 10));
    EXPECT_EQ(f.LoupeTopLeft(), QPoint(200 - 152, 26));
    f.PickAt(QPoint(3, 9));
    ASSERT_TRUE(f.Picked().has_value());
    EXPECT_EQ(*f.Picked(), qRgb(3, 8, 7));
}

class GridSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        form_ = std::make_unique<jx::TGridSettingsForm>(
            nullptr, state_, [this] { ++renders_; },
            [this](const jx::TPixelRec& start) {
                starts_.push_back(start);
                return picked_;
            });
    }
    jx::EngineState state_;
    std::unique_ptr<jx::TGridSettingsForm> form_;
    int renders_ = 0;
    std::vector<jx::TPixelRec> starts_;
    std::optional<jx::TPixelRec> picked_;
};

TEST_F(GridSettingsTest, ChangesApplyAtOnce) {
    form_->GridSize->setCurrentIndex(3);
    EXPECT_EQ(state_.GridCellSize, 32);
    EXPECT_EQ(renders_, 0);  // no image, nothing to redraw
    state_.SetSourceImage(jx::TPixelImage(2, 2));
    form_->ColorPreset->setCurrentIndex(2);  // "Dark"
    EXPECT_EQ(renders_, 1);
    EXPECT_EQ(state_.GridColors[0].R, 51);
    EXPECT_EQ(form_->FirstColor->Brush(), QColor(51, 51, 51));
    const QImage preview = form_->Preview->pixmap().toImage();
    EXPECT_EQ(preview.pixel(0, 0), qRgb(51, 51, 51));
    EXPECT_EQ(preview.pixel(32, 0), qRgb(102, 102, 102));
}

TEST_F(GridSettingsTest, CustomColourKeepsItsAlphaUntilAPresetOverwritesBoth) {
    picked_ = jx::TPixelRec{};
    picked_->R = 10;
    picked_->G = 20;
    picked_->B = 30;
    picked_->A = 100;
    form_->SecondColorMouseDown();
    ASSERT_EQ(starts_.size(), 1u);
    EXPECT_EQ(starts_[0].R, 204);
    EXPECT_EQ(starts_[0].A, 255);
    EXPECT_EQ(form_->ColorPreset->currentIndex(), jx::TGridSettingsForm::kCustomIndex);
    // The "Custom" entry was shown without running the preset handler.
    EXPECT_EQ(state_.GridColors[1].R, 10);
    EXPECT_EQ(state_.GridColors[1].A, 100);
    EXPECT_EQ(form_->SecondColor->Brush(), QColor(10, 20, 30));
    EXPECT_EQ(form_->Preview->pixmap().toImage().pixel(8, 0), qRgb(10, 20, 30));

    picked_.reset();  // cancelled
    form_->FirstColorMouseDown();
    EXPECT_EQ(state_.GridColors[0].R, 255);

    form_->ColorPreset->setCurrentIndex(6);  // "Blue"
    EXPECT_EQ(state_.GridColors[0].R, 255);
    EXPECT_EQ(state_.GridColors[1].B, 248);
    EXPECT_EQ(state_.GridColors[1].A, 100);
}

}  // namespace
