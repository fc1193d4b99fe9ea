#include "gui/color_correction.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "gui/slider.h"
#include "imaging/alpha_convert.h"

namespace jx {
namespace {

}  // namespace

TColorCorrection::TColorCorrection(TJXMainForm* owner, EngineState& state, TToolHost host)
    : TToolDialog(owner, "Color correction", state, std::move(host), true) {
    setObjectName("ColorCorrection");
    auto* layout = new QVBoxLayout(this);
    QSlider** lo[4] = {&RedLo, &GreenLo, &BlueLo, &AlphaLo};
    QSlider** hi[4] = {&RedHi, &GreenHi, &BlueHi, &AlphaHi};
    const char* names[4] = {"Red", "Green", "Blue", "Alpha"};
    for (int c = 0; c < 4; ++c) {
        auto* g = new QGroupBox(names[c]);
        auto* gl = new QHBoxLayout(g);
        *lo[c] = MakeSlider(0, 127, 0);
        *hi[c] = MakeSlider(128, 255, 255);
        gl->addWidget(*lo[c]);
        gl->addWidget(*hi[c]);
        connect(*lo[c], &QSlider::valueChanged, this, &TColorCorrection::ThresholdChange);
        connect(*hi[c], &QSlider::valueChanged, this, &TColorCorrection::ThresholdChange);
        layout->addWidget(g);
    }
    auto* buttons = new QHBoxLayout;
    OkButton = new QPushButton("OK");
    ResetButton = new QPushButton("Reset");
    buttons->addWidget(OkButton);
    buttons->addWidget(ResetButton);
    layout->addLayout(buttons);
    connect(OkButton, &QPushButton::clicked, this, &TColorCorrection::OkClick);
    connect(ResetButton, &QPushButton::clicked, this, &TColorCorrection::ResetClick);
}

TChannelThresholds TColorCorrection::Thresholds() const {
    TChannelThresholds t;
    t.Lo = {RedLo->value(), GreenLo->value(), BlueLo->value(), AlphaLo->value()};
    t.Hi = {RedHi->value(), GreenHi->value(), BlueHi->value(), AlphaHi->value()};
    return t;
}

void TColorCorrection::showEvent(QShowEvent* e) {
    TToolDialog::showEvent(e);
    committed_ = false;
    ResetClick();
}

void TColorCorrection::ResetClick() {
    resetting_ = true;
    for (QSlider* s : {RedLo, GreenLo, BlueLo, AlphaLo}) s->setValue(0);
    for (QSlider* s : {RedHi, GreenHi, BlueHi, AlphaHi}) s->setValue(255);
    resetting_ = false;
    ThresholdChange();
}

void TColorCorrection::ThresholdChange() {
    if (resetting_ || !state_.HasImage()) return;
    state_.WorkingImage = ColorCorrected(state_.SourceImage, Thresholds());
    Refresh();
}

void TColorCorrection::OkClick() {
    if (state_.HasImage()) {
        // From the source, whatever the preview shows by now.
        TToolCommit c;
        c.Source = ColorCorrected(state_.SourceImage, Thresholds());
        RefreshSourcePixels(state_, c.Source);
        c.Mask = TByteImage(c.Source.Width(), c.Source.Height(), 0);
        c.MaskChanged = true;
        c.HasAlpha = state_.HasAlpha;
        committed_ = true;
        Commit(std::move(c));
    }
    accept();
}

void TColorCorrection::ToolClose() {
    // The commit step quantizes already; otherwise the preview goes.
    if (!committed_) Requantize();
}

}  // namespace jx
