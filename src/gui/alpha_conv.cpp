#include "gui/alpha_conv.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

#include "gui/color_dlg.h"
#include "gui/main_form.h"

namespace jx {

TAConv::TAConv(TJXMainForm* owner, EngineState& state, TToolHost host)
    : TToolDialog(owner, "AConv", state, std::move(host), true) {
    setObjectName("AConv");
    if (!host_.PickColor)
        host_.PickColor = [this](QColor initial) {
            return PickOpaqueColor(initial, [this](const TPixelRec& start) {
                return MainForm() ? MainForm()->PickColor(start) : TColorDlgForm(nullptr, state_).Pick(start);
            });
        };
    auto* layout = new QVBoxLayout(this);
    ThresholdGroup = new QGroupBox("Treshold - 127");
    auto* gl = new QVBoxLayout(ThresholdGroup);
    ThresholdBar = new QSlider(Qt::Horizontal);
    ThresholdBar->setRange(0, 255);
    ThresholdBar->setTickPosition(QSlider::NoTicks);
    ThresholdBar->setValue(alphaThreshold_);
    gl->addWidget(ThresholdBar);
    layout->addWidget(ThresholdGroup);
    auto* row = new QHBoxLayout;
    DitheringLabel = new QLabel("Dithering:");
    DitheringBox = new QComboBox;
    DitheringBox->addItems({"None", "Shiau-Fan", "Floyd-Steinberg", "Jarvis, Judice and Ninke", "Burkes", "Atkinson",
                            "Stevenson-Arce", "Bayer (Ordered)"});
    row->addWidget(DitheringLabel);
    row->addWidget(DitheringBox);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    MatteButton = new QPushButton("Matte");
    MatteButton->setCheckable(true);
    OkButton = new QPushButton("OK");
    buttons->addWidget(MatteButton);
    buttons->addWidget(OkButton);
    layout->addLayout(buttons);

    connect(ThresholdBar, &QSlider::valueChanged, this, &TAConv::BarChange);
    connect(ThresholdBar, &QSlider::sliderReleased, this, &TAConv::BarMouseUp);
    connect(DitheringBox, &QComboBox::currentIndexChanged, this, &TAConv::DitheringChange);
    connect(MatteButton, &QPushButton::clicked, this, &TAConv::MatteClick);
    connect(OkButton, &QPushButton::clicked, this, &TAConv::OkClick);
}

TAlphaConvertSettings TAConv::Settings() const {
    TAlphaConvertSettings s;
    s.Method = DitheringBox->currentIndex();
    s.Threshold = alphaThreshold_;
    s.Amount = alphaDitherAmount_;
    s.Matte = MatteButton->isChecked();
    s.MatteColor = state_.BackgroundColor;
    return s;
}

void TAConv::PlaceBar() {
    placing_ = true;
    ThresholdBar->setValue(AlphaBarPosition(Settings()));
    placing_ = false;
    BarChange(ThresholdBar->value());
}

void TAConv::showEvent(QShowEvent* e) {
    TToolDialog::showEvent(e);
    MatteButton->setChecked(false);
    PaintMatteGlyph();
    PlaceBar();
    committed_ = false;
}

void TAConv::BarChange(int position) {
    if (DitheringBox->currentIndex() == 0) {
        alphaThreshold_ = position;
        ThresholdGroup->setTitle(QString("Treshold - %1").arg(position));
    } else {
        alphaDitherAmount_ = position / 255.0;
        ThresholdGroup->setTitle(
            QString("Amount - %1%").arg(static_cast<int>(std::nearbyint(alphaDitherAmount_ * 100))));
    }
    // No event pumping here: the preview is computed once per change.
    if (!placing_) UpdatePreview();
}

void TAConv::BarMouseUp() { UpdatePreview(); }

void TAConv::DitheringChange(int) {
    PlaceBar();
}

void TAConv::MatteClick(bool down) {
    if (down) {
        const int32_t c = state_.BackgroundColor;
        if (auto picked = host_.PickColor(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF)))
            state_.BackgroundColor = picked->red() | (picked->green() << 8) | (picked->blue() << 16);
        PaintMatteGlyph();
    }
    UpdatePreview();
}

void TAConv::PaintMatteGlyph() {
    const int32_t c = state_.BackgroundColor;
    QPixmap pm(16, 16);
    pm.fill(QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
    MatteButton->setIcon(QIcon(pm));
}

void TAConv::UpdatePreview() {
    if (!state_.HasImage() || !isVisible()) return;
    state_.WorkingImage = ConvertAlpha(state_.SourceImage, Settings(), state_.BayerMatrices[3]);
    Refresh();
}

void TAConv::OkClick() {
    if (state_.HasImage()) {
        // Recomputed from the current source: the working image may hold a quantized view by now.
        TToolCommit c;
        c.Source = ConvertAlpha(state_.SourceImage, Settings(), state_.BayerMatrices[3]);
        RefreshSourcePixels(state_, c.Source);
        c.Mask = state_.QualityMask;
        c.TrueColor = true;
        c.HasAlpha = state_.HasAlpha;
        committed_ = true;
        Commit(std::move(c));
    }
    accept();
}

void TAConv::ToolClose() {
    if (!committed_) Requantize();
}

}  // namespace jx
