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
#include "gui/palette_panel.h"
#include "gui/quantizer_settings.h"
#include "gui_app.h"

namespace {

class QuantizerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        form_ = std::make_unique<jx::TJXMainForm>(nullptr, "");
        form_->SetMessageHandler([this](const QString& m) { messages_ << m; });
        form_->show();
        form_->FirstShow("");
        dialog_ = form_->QuantizerSettingsForm();
    }
    std::unique_ptr<jx::TJXMainForm> form_;
    jx::TQuantizerSettingsForm* dialog_ = nullptr;
    QStringList messages_;
};

TEST_F(QuantizerSettingsTest, ControlsReachTheSettingsAndTheEngineState) {
    dialog_->PalType->setCurrentIndex(2);
    dialog_->MixColors->setChecked(true);
    dialog_->PriorityBar->setValue(-2);
    dialog_->PriorityBar->setValue(3);
    dialog_->ThresholdBar->setValue(6);
    dialog_->ReserveBar->setValue(20);
    dialog_->VisualPerception->setValue(5);
    EXPECT_EQ(form_->State().LumaShift, 5);
    dialog_->DitherBar->setValue(40);
    EXPECT_FLOAT_EQ(form_->State().DitherAmount, 0.40f);
    dialog_->DitherButtons->button(8)->click();
    EXPECT_TRUE(dialog_->PatternSize->isEnabled());
    dialog_->DitherButtons->button(2)->click();
    EXPECT_FALSE(dialog_->PatternSize->isEnabled());
    dialog_->ColorSpace->setCurrentIndex(1);
    EXPECT_TRUE(form_->State().ReconvertPending);

    const jx::TQuantizerSettings s = dialog_->Settings();
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
    form_->PalettePanel()->PriorityChange(-1);
    EXPECT_EQ(dialog_->PriorityBar->value(), -1);
}

TEST_F(QuantizerSettingsTest, ResetKeepsDitheringCountAndPaletteType) {
    dialog_->DitherButtons->button(5)->click();
    dialog_->PalType->setCurrentIndex(1);
    dialog_->PriorityBar->setValue(2);
    dialog_->VisualPerception->setValue(1);
    dialog_->ColorSpace->setCurrentIndex(3);
    form_->State().ReconvertPending = false;
    dialog_->ResetClick();
    const jx::TQuantizerSettings s = dialog_->Settings();
    EXPECT_EQ(s.DitherMode, jx::TDitherMode::Atkinson);
    EXPECT_EQ(s.PaletteType, jx::TPaletteType::UniformGrayscale);
    EXPECT_EQ(s.Priority, 0);
    EXPECT_EQ(s.VisualPerception, 3);
    EXPECT_EQ(s.ColorSpace, 0);
    EXPECT_EQ(form_->State().LumaShift, 3);
    EXPECT_TRUE(form_->State().ReconvertPending);
}

TEST_F(QuantizerSettingsTest, CustomBackgroundIsCaptionedRrGgBbAndAppliedAtOnce) {
    dialog_->PickColor = [](QColor) { return std::optional<QColor>(QColor(0x12, 0x34, 0x56)); };
    dialog_->AlphaBackground->setCurrentIndex(1);  // "White"
    dialog_->AlphaBackgroundChange(1);
    form_->State().ReconvertPending = false;
    const int custom = dialog_->AlphaBackground->count() - 1;
    dialog_->AlphaBackground->setCurrentIndex(custom);
    dialog_->AlphaBackgroundChange(custom);
    ASSERT_EQ(dialog_->AlphaBackground->count(), 5);
    EXPECT_EQ(dialog_->AlphaBackground->itemText(3), "#123456");
    EXPECT_EQ(dialog_->AlphaBackground->itemText(4), "Custom...");
    // The colour picked is the background now, and the list shows it.
    EXPECT_EQ(dialog_->AlphaBackground->currentIndex(), 3);
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
    dialog_->ApplyClick();
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
    dialog_->AlphaBackground->setCurrentIndex(1);
    dialog_->AlphaBackgroundChange(1);
    dialog_->AlphaBackground->setCurrentIndex(3);
    dialog_->AlphaBackgroundChange(3);
    expectBackground(0x12, 0x34, 0x56);

    // Cancelling the picker returns to the item shown before.
    dialog_->PickColor = [](QColor) { return std::optional<QColor>(); };
    dialog_->AlphaBackground->setCurrentIndex(4);
    dialog_->AlphaBackgroundChange(4);
    EXPECT_EQ(dialog_->AlphaBackground->currentIndex(), 3);
    EXPECT_EQ(dialog_->AlphaBackground->count(), 5);

    dialog_->AlphaBackground->setCurrentIndex(0);
    dialog_->AlphaBackgroundChange(0);
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

TEST_F(QuantizerSettingsTest, DitheringChangeRemapsWithoutRebuildingThePalette) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->PalettePanel()->Colors()->setEditText("8");
    form_->PalettePanel()->ColorsSelect();
    const std::vector<jx::TPixelRec> palette(form_->State().Palette.begin(),
                                             form_->State().Palette.begin() + form_->State().PaletteSize);
    dialog_->DitherButtons->button(2)->click();
    ASSERT_EQ(form_->State().PaletteSize, 8);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(jx::SameRgba(palette[static_cast<size_t>(i)], form_->State().Palette[static_cast<size_t>(i)]));
}

TEST_F(QuantizerSettingsTest, InfoShowsReportAndErrorFigures) {
    form_->OpenImage(SuiteFile("basn2c08.png"));
    form_->PalettePanel()->Colors()->setEditText("16");
    form_->PalettePanel()->ColorsSelect();
    EXPECT_TRUE(dialog_->LumaError->text().startsWith("y:\t")) << dialog_->LumaError->text().toStdString();
    EXPECT_TRUE(dialog_->LumaError->text().endsWith(" dB"));
    EXPECT_EQ(dialog_->AlphaError->text(), "-");  // no alpha
    dialog_->ErrorMetric->setCurrentIndex(3);  // rmse: one combined figure
    EXPECT_FALSE(dialog_->LumaError->text().contains(':'));
    EXPECT_EQ(dialog_->CrError->text(), "-");
}

}  // namespace
