#include "gui/jpeg_filter_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "gui/main_form.h"
#include "gui/status_panels.h"
#include "imaging/alpha_convert.h"

namespace jx {

TJPEGFilterForm::TJPEGFilterForm(TJXMainForm* owner, EngineState& state, TToolHost host)
    : TToolDialog(owner, "Filter", state, std::move(host), true) {
    setObjectName("JPEGFilterForm");
    auto* layout = new QVBoxLayout(this);
    PropertiesGroup = new QGroupBox("Filter properties");
    auto* grid = new QGridLayout(PropertiesGroup);
    BlockSizeLabel = new QLabel("Search area:");
    BlockSize = new QSlider(Qt::Horizontal);
    BlockSize->setRange(1, 8);
    BlockSize->setValue(3);
    BlockSizeValue = new QLabel(QString::fromUtf8("± 3 pix"));
    MaxErrorLabel = new QLabel("Filter strength:");
    MaxError = new QSlider(Qt::Horizontal);
    MaxError->setRange(1, 32);
    MaxError->setValue(16);
    MaxErrorValue = new QLabel("16");
    AggressiveBox = new QCheckBox("Aggressive");
    grid->addWidget(BlockSizeLabel, 0, 0);
    grid->addWidget(BlockSize, 0, 1);
    grid->addWidget(BlockSizeValue, 0, 2);
    grid->addWidget(MaxErrorLabel, 1, 0);
    grid->addWidget(MaxError, 1, 1);
    grid->addWidget(MaxErrorValue, 1, 2);
    grid->addWidget(AggressiveBox, 2, 0, 1, 3);
    layout->addWidget(PropertiesGroup);
    // The progress row keeps its room while hidden: a running filter must not grow the dialog or
    // move "OK" away from where the user aims.
    auto* progress = new QHBoxLayout;
    ProgressBar = new QProgressBar;
    CancelButton = new QPushButton("Cancel");
    for (QWidget* w : {static_cast<QWidget*>(ProgressBar), static_cast<QWidget*>(CancelButton)}) {
        QSizePolicy keep = w->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        w->setSizePolicy(keep);
        w->setVisible(false);
    }
    progress->addWidget(ProgressBar, 1);
    progress->addWidget(CancelButton);
    layout->addLayout(progress);
    auto* buttons = new QHBoxLayout;
    ApplyButton = new QPushButton("Apply");
    OkButton = new QPushButton("OK");
    buttons->addWidget(ApplyButton);
    buttons->addWidget(OkButton);
    layout->addLayout(buttons);
    connect(BlockSize, &QSlider::valueChanged, this, &TJPEGFilterForm::BlockSizeChange);
    connect(MaxError, &QSlider::valueChanged, this, &TJPEGFilterForm::MaxErrorChange);
    connect(ApplyButton, &QPushButton::clicked, this, &TJPEGFilterForm::ApplyClick);
    connect(OkButton, &QPushButton::clicked, this, &TJPEGFilterForm::OkClick);
    connect(CancelButton, &QPushButton::clicked, this, &TJPEGFilterForm::CancelClick);
}

TJPEGFilterForm::~TJPEGFilterForm() {
    cancel_ = true;
    if (alive_) *alive_ = false;
}

TJpegFilterSettings TJPEGFilterForm::Settings() const {
    TJpegFilterSettings s;
    s.BlockSize = BlockSize->value();
    s.MaxError = MaxError->value();
    s.Aggressive = AggressiveBox->isChecked();
    s.LumaShift = 1;
    s.HasAlpha = state_.HasAlpha;
    return s;
}

void TJPEGFilterForm::BlockSizeChange(int value) { BlockSizeValue->setText(QString::fromUtf8("± %1 pix").arg(value)); }

void TJPEGFilterForm::MaxErrorChange(int value) { MaxErrorValue->setText(QString::number(value)); }

void TJPEGFilterForm::SetRunning(bool running) {
    running_ = running;
    PropertiesGroup->setEnabled(!running);
    ApplyButton->setEnabled(!running);
    OkButton->setEnabled(!running);
    ProgressBar->setVisible(running);
    CancelButton->setVisible(running);
    if (running)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void TJPEGFilterForm::ApplyClick() {
    if (running_ || !state_.HasImage()) return;
    const TPixelImage source = state_.SourceImage;  // the filter's own copy: events run meanwhile
    ProgressBar->setRange(0, std::max(0, source.Height() - 1));
    ProgressBar->setValue(0);
    // The main window's bar shows the filter too (and the launcher with it).
    QPointer<TJXMainForm> main = qobject_cast<TJXMainForm*>(parentWidget());
    const int64_t rows = std::max(1, source.Height());
    if (main) main->StatusPanels().ShowProgress(0, rows);
    cancel_ = false;
    SetRunning(true);
    bool alive = true;
    alive_ = &alive;
    TPixelImage out;
    bool done = false;
    try {
        done = JpegFilter(source, out, Settings(), [&](int32_t row) {
            ProgressBar->setValue(row);
            if (main) main->StatusPanels().ShowProgress(row + 1, rows);
            if (OnRow) OnRow(row);
            QApplication::processEvents();
            return alive && !cancel_;
        });
    } catch (...) {
        if (main) main->StatusPanels().ProgressDone();
        if (alive) {
            alive_ = nullptr;
            SetRunning(false);
        }
        throw;
    }
    if (main) main->StatusPanels().ProgressDone();
    if (!alive) {  // the dialog went while the filter ran
        QApplication::restoreOverrideCursor();
        return;
    }
    alive_ = nullptr;
    SetRunning(false);
    if (!done || !isVisible()) return;
    result_ = std::move(out);
    state_.WorkingImage = *result_;
    Refresh();
}

void TJPEGFilterForm::CancelClick() { cancel_ = true; }

void TJPEGFilterForm::OkClick() {
    if (running_) return;
    if (result_ && result_->SameShape(state_.SourceImage)) {
        TToolCommit c;
        c.Source = std::move(*result_);
        RefreshSourcePixels(state_, c.Source);
        c.Mask = state_.QualityMask;
        c.HasAlpha = state_.HasAlpha;
        committed_ = true;
        Commit(std::move(c));
    }
    accept();
}

void TJPEGFilterForm::ToolClose() {
    cancel_ = true;  // a running filter stops at its next row
    result_.reset();
    if (!committed_) Requantize();
    committed_ = false;
}

}  // namespace jx
