#include <gtest/gtest.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <tuple>

#include "gui/main_form.h"
#include "gui/quantizer_settings.h"
#include "gui_app.h"

namespace {

class Form5Test : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        form_ = std::make_unique<jx::TJXMainForm>(nullptr, "");
        form_->SetMessageHandler([this](const QString& m) { messages_ << m; });
        form_->show();
        form_->FirstShow("");
        f5_ = form_->Form5();
    }
    std::unique_ptr<jx::TJXMainForm> form_;
    jx::TForm5* f5_ = nullptr;
    QStringList messages_;
};

TEST_F(Form5Test, ControlsReachTheSettingsAndTheEngineState) {
    f5_->PalType->setCurrentIndex(2);
    f5_->MixColors->setChecked(true);
    f5_->TrackBar2->setValue(-2);
    f5_->TrackBar2->setValue(3);
    f5_->TrackBar3->setValue(6);
    f5_->TrackBar1->setValue(20);
    f5_->UpDown1->setValue(5);
    EXPECT_EQ(form_->State().LumaShift, 5);
    f5_->DitherBar->setValue(40);
    EXPECT_FLOAT_EQ(form_->State().DitherAmount, 0.40f);
    f5_->DitherButtons->button(8)->click();
    EXPECT_TRUE(f5_->ComboBox1->isEnabled());
    f5_->DitherButtons->button(2)->click();
    EXPECT_FALSE(f5_->ComboBox1->isEnabled());
    f5_->ColorSpace->setCurrentIndex(1);
    EXPECT_TRUE(form_->State().ReconvertPending);

    const jx::TQuantizerSettings s = f5_->Settings();
    EXPECT_EQ(s.PaletteType, jx::TPaletteType::Uniform332);
    EXPECT_TRUE(s.DoNotMix);
    EXPECT_EQ(s.Priority, 3);
    EXPECT_EQ(s.RareThreshold, 6);
    EXPECT_EQ(s.RareReserve, 20);
    EXPECT_EQ(s.VisualPerception, 5);
    EXPECT_EQ(s.DitherAmount, 40);
    EXPECT_EQ(s.DitherMode, jx::TDitherMode::FloydSteinberg);
    EXPECT_EQ(s.ColorSpace, 1);

    // The main window's priority bar and the dialog's follow each other.
    form_->PriorityChange(-1);
    EXPECT_EQ(f5_->TrackBar2->value(), -1);
}

TEST_F(Form5Test, ResetKeepsDitheringCountAndPaletteType) {
    f5_->DitherButtons->button(5)->click();
    f5_->PalType->setCurrentIndex(1);
    f5_->TrackBar2->setValue(2);
    f5_->UpDown1->setValue(1);
    f5_->ColorSpace->setCurrentIndex(3);
    form_->State().ReconvertPending = false;
    f5_->SpeedButton1Click();
    const jx::TQuantizerSettings s = f5_->Settings();
    EXPECT_EQ(s.DitherMode, jx::TDitherMode::Atkinson);
    EXPECT_EQ(s.PaletteType, jx::TPaletteType::UniformGrayscale);
    EXPECT_EQ(s.Priority, 0);
    EXPECT_EQ(s.VisualPerception, 3);
    EXPECT_EQ(s.ColorSpace, 0);
    EXPECT_EQ(form_->State().LumaShift, 3);
    EXPECT_TRUE(form_->State().ReconvertPending);
}

TEST_F(Form5Test, CustomBackgroundIsCaptionedRrGgBbAndAppliedAtOnce) {
    f5_->PickColor = [](QColor) { return std::optional<QColor>(QColor(0x12, 0x34, 0x56)); };
    f5_->ComboBoxEx1->setCurrentIndex(1);  // "White"
    f5_->ComboBoxEx1Change(1);
    form_->State().ReconvertPending = false;
    const int custom = f5_->ComboBoxEx1->count() - 1;
    f5_->ComboBoxEx1->setCurrentIndex(custom);
    f5_->ComboBoxEx1Change(custom);
    ASSERT_EQ(f5_->ComboBoxEx1->count(), 5);
    EXPECT_EQ(f5_->ComboBoxEx1->itemText(3), "#123456");
    EXPECT_EQ(f5_->ComboBoxEx1->itemText(4), "Custom...");
    // The colour picked is the background now, and the list shows it.
    EXPECT_EQ(f5_->ComboBoxEx1->currentIndex(), 3);
    auto expectBackground = [this](uint8_t r, uint8_t g, uint8_t b) {
        const jx::TPixelRec& bg = form_->State().AlphaBackground;
        EXPECT_EQ(bg.R, r);
        EXPECT_EQ(bg.G, g);
        EXPECT_EQ(bg.B, b);
        EXPECT_EQ(bg.A, 255);
    };
    expectBackground(0x12, 0x34, 0x56);
    EXPECT_TRUE(form_->State().ReconvertPending);

    // The next quantize composites translucent colours over it: a transparent pixel takes the
    // working-space value of the background.
    form_->OpenImage(SuiteFile("basn6a08.png"));
    ASSERT_TRUE(form_->State().HasAlpha);
    f5_->Button2Click();
    const jx::EngineState& st = form_->State();
    jx::TPixelRec bg{};
    bg.R = 0x12, bg.G = 0x34, bg.B = 0x56, bg.A = 255;
    st.Convert(bg);
    bool found = false;
    for (const jx::TPixelRec& p : st.SourceImage.Vector()) {
        if (p.A != 0) continue;
        found = true;
        EXPECT_EQ(std::tuple(p.c1, p.c2, p.c3), std::tuple(bg.c1, bg.c2, bg.c3));
        break;
    }
    EXPECT_TRUE(found);

    // Choosing the entry again reads it back.
    f5_->ComboBoxEx1->setCurrentIndex(1);
    f5_->ComboBoxEx1Change(1);
    f5_->ComboBoxEx1->setCurrentIndex(3);
    f5_->ComboBoxEx1Change(3);
    expectBackground(0x12, 0x34, 0x56);

    // Cancelling the picker returns to the item shown before.
    f5_->PickColor = [](QColor) { return std::optional<QColor>(); };
    f5_->ComboBoxEx1->setCurrentIndex(4);
    f5_->ComboBoxEx1Change(4);
    EXPECT_EQ(f5_->ComboBoxEx1->currentIndex(), 3);
    EXPECT_EQ(f5_->ComboBoxEx1->count(), 5);

    f5_->ComboBoxEx1->setCurrentIndex(0);
    f5_->ComboBoxEx1Change(0);
    EXPECT_EQ(form_->State().AlphaBackground.A, 0);
}

TEST(BackgroundCaption, RoundTrip) {
    EXPECT_EQ(jx::BackgroundCaption(0x12, 0x34, 0x56), "#123456");
    uint8_t r = 0, g = 0, b = 0;
    ASSERT_TRUE(jx::ParseBackgroundCaption("#ABCDEF", &r, &g, &b));
    EXPECT_EQ(r, 0xAB);
    EXPECT_EQ(g, 0xCD);
    EXPECT_EQ(b, 0xEF);
    EXPECT_FALSE(jx::ParseBackgroundCaption("#12345", &r, &g, &b));
    EXPECT_FALSE(jx::ParseBackgroundCaption("123456X", &r, &g, &b));
    EXPECT_FALSE(jx::ParseBackgroundCaption("#GG0000", &r, &g, &b));
}

TEST_F(Form5Test, DitheringChangeRemapsWithoutRebuildingThePalette) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->Colors()->setEditText("8");
    form_->ColorsSelect();
    const std::vector<jx::TPixelRec> palette(form_->State().Palette.begin(),
                                             form_->State().Palette.begin() + form_->State().PaletteSize);
    f5_->DitherButtons->button(2)->click();
    ASSERT_EQ(form_->State().PaletteSize, 8);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(jx::SameRgba(palette[static_cast<size_t>(i)], form_->State().Palette[static_cast<size_t>(i)]));
}

TEST_F(Form5Test, InfoShowsReportAndErrorFigures) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->Colors()->setEditText("16");
    form_->ColorsSelect();
    EXPECT_TRUE(f5_->Label5->text().startsWith("y:\t")) << f5_->Label5->text().toStdString();
    EXPECT_TRUE(f5_->Label5->text().endsWith(" dB"));
    EXPECT_EQ(f5_->Label8->text(), "-");  // no alpha
    f5_->ComboBox2->setCurrentIndex(3);  // rmse: one combined figure
    EXPECT_FALSE(f5_->Label5->text().contains(':'));
    EXPECT_EQ(f5_->Label6->text(), "-");
}

}  // namespace
