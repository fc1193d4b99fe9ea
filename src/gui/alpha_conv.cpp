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
    GroupBox1 = new QGroupBox("Treshold - 127");
    auto* gl = new QVBoxLayout(GroupBox1);
    ThresholdBar = new QSlider(Qt::Horizontal);
    ThresholdBar->setRange(0, 255);
    ThresholdBar->setTickPosition(QSlider::NoTicks);
    ThresholdBar->setValue(alphaThreshold_);
    gl->addWidget(ThresholdBar);
    layout->addWidget(GroupBox1);
    auto* row = new QHBoxLayout;
    Label1 = new QLabel("Dithering:");
    ComboBox1 = new QComboBox;
    ComboBox1->addItems({"None", "Shiau-Fan", "Floyd-Steinberg", "Jarvis, Judice and Ninke", "Burkes", "Atkinson",
                         "Stevenson-Arce", "Bayer (Ordered)"});
    row->addWidget(Label1);
    row->addWidget(ComboBox1);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    PngSpeedButton1 = new QPushButton("Matte");
    PngSpeedButton1->setCheckable(true);
    Button1 = new QPushButton("OK");
    buttons->addWidget(PngSpeedButton1);
    buttons->addWidget(Button1);
    layout->addLayout(buttons);

    connect(ThresholdBar, &QSlider::valueChanged, this, &TAConv::BarChange);
    connect(ThresholdBar, &QSlider::sliderReleased, this, &TAConv::BarMouseUp);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TAConv::ComboBox1Change);
    connect(PngSpeedButton1, &QPushButton::clicked, this, &TAConv::PngSpeedButton1Click);
    connect(Button1, &QPushButton::clicked, this, &TAConv::Button1Click);
}

TAlphaConvertSettings TAConv::Settings() const {
    TAlphaConvertSettings s;
    s.Method = ComboBox1->currentIndex();
    s.Threshold = alphaThreshold_;
    s.Amount = alphaDitherAmount_;
    s.Matte = PngSpeedButton1->isChecked();
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
    PngSpeedButton1->setChecked(false);
    PaintMatteGlyph();
    PlaceBar();
    committed_ = false;
}

void TAConv::BarChange(int position) {
    if (ComboBox1->currentIndex() == 0) {
        alphaThreshold_ = position;
        GroupBox1->setTitle(QString("Treshold - %1").arg(position));
    } else {
        alphaDitherAmount_ = position / 255.0;
        GroupBox1->setTitle(QString("Amount - %1%").arg(static_cast<int>(std::nearbyint(alphaDitherAmount_ * 100))));
    }
    // No event pumping here: the preview is computed once per change.
    if (!placing_) UpdatePreview();
}

void TAConv::BarMouseUp() { UpdatePreview(); }

void TAConv::ComboBox1Change(int) {
    PlaceBar();
}

void TAConv::PngSpeedButton1Click(bool down) {
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
    PngSpeedButton1->setIcon(QIcon(pm));
}

void TAConv::UpdatePreview() {
    if (!state_.HasImage() || !isVisible()) return;
    state_.WorkingImage = ConvertAlpha(state_.SourceImage, Settings(), state_.BayerMatrices[3]);
    Refresh();
}

void TAConv::Button1Click() {
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
