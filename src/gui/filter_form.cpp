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
    RadioGroup1 = new QGroupBox;
    auto* rl = new QVBoxLayout(RadioGroup1);
    Modes = new QButtonGroup(this);
    const char* items[5] = {"none", "horizontal", "vertical", "horizontal+vertical", "vertical+horizontal"};
    for (int i = 0; i < 5; ++i) {
        auto* b = new QRadioButton(items[i]);
        Modes->addButton(b, i);
        rl->addWidget(b);
    }
    Modes->button(0)->setChecked(true);
    layout->addWidget(RadioGroup1);
    CheckBox1 = new QCheckBox("Soft line");
    layout->addWidget(CheckBox1);
    StrengthBar = new QSlider(Qt::Horizontal);
    StrengthBar->setRange(0, 32);
    StrengthBar->setValue(8);
    StrengthBar->setTickPosition(QSlider::TicksBelow);
    layout->addWidget(StrengthBar);
    Button1 = new QPushButton("Apply");
    layout->addWidget(Button1);
    connect(Modes, &QButtonGroup::idClicked, this, [this](int) { Button1Click(); });
    connect(CheckBox1, &QCheckBox::clicked, this, [this](bool) { Button1Click(); });
    connect(StrengthBar, &QSlider::sliderReleased, this, &TFilterForm::Button1Click);
    connect(Button1, &QPushButton::clicked, this, &TFilterForm::Button1Click);
}

int TFilterForm::Mode() const { return Modes->checkedId(); }

void TFilterForm::ResetMode() { Modes->button(0)->setChecked(true); }

void TFilterForm::showEvent(QShowEvent* e) {
    TToolDialog::showEvent(e);
    Button1Click();
}

void TFilterForm::Button1Click() {
    if (!state_.HasImage()) return;
    TPixelImage preview = state_.SourceImage;
    Smooth(preview, Mode(), StrengthBar->value(), CheckBox1->isChecked());
    state_.WorkingImage = std::move(preview);
    Refresh();
}

void TFilterForm::ToolClose() { Requantize(); }

}  // namespace jx
