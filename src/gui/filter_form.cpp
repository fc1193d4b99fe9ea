#include "gui/filter_form.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "imaging/smooth.h"

namespace jx {

TFilterForm::TFilterForm(TJXMainForm* owner, EngineState& state, TToolHost host)
    : TToolDialog(owner, "Filter", state, std::move(host), true) {
    setObjectName("FilterForm");
    auto* layout = new QVBoxLayout(this);
    ModeGroup = new QGroupBox;
    auto* rl = new QVBoxLayout(ModeGroup);
    Modes = new QButtonGroup(this);
    const char* items[5] = {"none", "horizontal", "vertical", "horizontal+vertical", "vertical+horizontal"};
    for (int i = 0; i < 5; ++i) {
        auto* b = new QRadioButton(items[i]);
        Modes->addButton(b, i);
        rl->addWidget(b);
    }
    Modes->button(0)->setChecked(true);
    layout->addWidget(ModeGroup);
    SoftLineBox = new QCheckBox("Soft line");
    layout->addWidget(SoftLineBox);
    StrengthBar = new QSlider(Qt::Horizontal);
    StrengthBar->setRange(0, 32);
    StrengthBar->setValue(8);
    StrengthBar->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(StrengthBar);
    ApplyButton = new QPushButton("Apply");
    layout->addWidget(ApplyButton);
    connect(Modes, &QButtonGroup::idClicked, this, [this](int) { ApplyClick(); });
    connect(SoftLineBox, &QCheckBox::clicked, this, [this](bool) { ApplyClick(); });
    connect(StrengthBar, &QSlider::sliderReleased, this, &TFilterForm::ApplyClick);
    connect(ApplyButton, &QPushButton::clicked, this, &TFilterForm::ApplyClick);
}

int TFilterForm::Mode() const { return Modes->checkedId(); }

void TFilterForm::ResetMode() { Modes->button(0)->setChecked(true); }

void TFilterForm::showEvent(QShowEvent* e) {
    TToolDialog::showEvent(e);
    ApplyClick();
}

void TFilterForm::ApplyClick() {
    if (!state_.HasImage()) return;
    TPixelImage preview = state_.SourceImage;
    Smooth(preview, Mode(), StrengthBar->value(), SoftLineBox->isChecked());
    state_.WorkingImage = std::move(preview);
    Refresh();
}

void TFilterForm::ToolClose() { Requantize(); }

}  // namespace jx
