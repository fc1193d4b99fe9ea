// The main window's right-hand panel: histogram and magnifier box, palette grid, Apply, the
// priority bar and colour-count box, the quantizer-settings and palette buttons.
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QToolBar>
#include <QVBoxLayout>

#include "edit/commit.h"
#include "gui/color_count_box.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/mask_crop_view.h"
#include "gui/pointer_form.h"
#include "gui/preview.h"
#include "gui/quantizer_settings.h"
#include "imaging/remap.h"

namespace jx {

void TJXMainForm::BuildPanel() {
    palettePanel_ = new QWidget;
    palettePanel_->setObjectName("PalettePanel");
    palettePanel_->setFixedWidth(280);
    auto* v = new QVBoxLayout(palettePanel_);
    v->setContentsMargins(2, 2, 2, 2);
    auto* levelsBox = new QGroupBox("Levels");
    auto* gl = new QVBoxLayout(levelsBox);
    gl->setContentsMargins(2, 2, 2, 2);
    histogramBox_ = new THistogramBox(this, levelsBox);
    histogramBox_->setFixedSize(264, 130);
    gl->addWidget(histogramBox_);
    v->addWidget(levelsBox);

    auto* paletteScroll = new QScrollArea;
    auto* paletteGrid = new QLabel;
    paletteGrid->setObjectName("PaletteGrid");
    paletteGrid->setVisible(false);
    paletteScroll->setWidget(paletteGrid);
    paletteScroll->setWidgetResizable(false);
    paletteScroll->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    v->addWidget(paletteScroll, 1);

    auto* applyRow = new QWidget;
    auto* applyRowLayout = new QHBoxLayout(applyRow);
    applyRowLayout->setContentsMargins(0, 0, 0, 0);
    applyButton_ = new QPushButton("OK");
    applyButton_->setObjectName("ApplyButton");
    applyButton_->setToolTip("Apply");
    priorityBar_ = new QSlider(Qt::Horizontal);
    priorityBar_->setRange(-3, 3);
    priorityBar_->setValue(0);
    priorityBar_->setToolTip("Priority - gradients / colors");
    colors_ = new TColorCountBox;
    colors_->setObjectName("Colors");
    colors_->setToolTip("Number of colors");
    applyRowLayout->addWidget(applyButton_);
    applyRowLayout->addWidget(priorityBar_, 1);
    applyRowLayout->addWidget(colors_);
    v->addWidget(applyRow);

    auto* paletteToolBar = new QToolBar("PaletteToolBar");
    quantizerSettingsButton_ = paletteToolBar->addAction("Quantizer settings");
    quantizerSettingsButton_->setObjectName("QuantizerSettingsButton");
    quantizerSettingsButton_->setCheckable(true);
    QAction* sortPaletteButton = paletteToolBar->addAction("Sort palette");
    sortPaletteButton->setObjectName("SortPaletteButton");
    sortPaletteButton->setToolTip("Sort palette");
    sortPaletteButton->setEnabled(false);
    loadPaletteButton_ = paletteToolBar->addAction("Load palette");
    loadPaletteButton_->setObjectName("LoadPaletteButton");
    loadPaletteButton_->setToolTip("Load palette");
    loadPaletteButton_->setEnabled(false);  // the router enables it
    QAction* savePaletteButton = paletteToolBar->addAction("Save palette");
    savePaletteButton->setObjectName("SavePaletteButton");
    savePaletteButton->setToolTip("Save palette");
    savePaletteButton->setEnabled(false);
    v->addWidget(paletteToolBar);
    auto* selectedColorLabel = new QLabel;
    selectedColorLabel->setObjectName("SelectedColor");
    selectedColorLabel->setFixedHeight(2 * CaptionLineHeight() + 3);  // two outlined caption lines, whole
    v->addWidget(selectedColorLabel);

    connect(applyButton_, &QPushButton::clicked, this, [this] { ApplyClick(); });
    connect(priorityBar_, &QSlider::valueChanged, this, &TJXMainForm::PriorityChange);
    connect(colors_, &QComboBox::editTextChanged, this, &TJXMainForm::ColorsChange);
    connect(colors_, &TColorCountBox::CountEntered, this, &TJXMainForm::ColorsSelect);
    connect(quantizerSettingsButton_, &QAction::triggered, this, &TJXMainForm::QuantizerSettingsClick);
}

void TJXMainForm::ApplyClick() {
    if (Locked() || !state_.HasImage()) return;
    int32_t n = 0;
    if (!quantizerSettingsForm_->AcceptColorCount(&n)) return;
    if (maskCrop_->MaskMode()) maskCrop_->Escape();  // Apply leaves mask editing
    imageScroll_->setFocus();
    const TQuantizerSettings settings = Settings();
    const bool done = Guard([&] { ApplyQuantize(state_, settings, *this, *undoStore_); });
    if (!done && settings.PaletteType == TPaletteType::Custom && !state_.LoadCustomPalette)
        quantizerSettingsForm_->PalTypeFallBack();
}

namespace {
const char* const kPaletteOpenFilter = "Palettes (*.pal *.act);;JASC Palette (*.pal);;Adobe Color Table File (*.act)";
}  // namespace

bool TJXMainForm::LoadPalClick() {
    if (Locked() || !(state_.BatchQuantize || state_.HasImage())) return false;
    const QString file = QFileDialog::getOpenFileName(this, "Load palette", QString(), kPaletteOpenFilter);
    if (file.isEmpty()) {
        quantizerSettingsForm_->SetPalType(static_cast<int>(TPaletteType::Adaptive));
        return false;
    }
    return LoadPalette(file);
}

bool TJXMainForm::LoadPalette(const QString& fileName) {
    if (Locked()) return false;
    return Guard([&] {
        LoadPaletteCommand(state_, fileName.toStdString(), Settings(), *this, *undoStore_);
        quantizerSettingsForm_->SetPalType(static_cast<int>(TPaletteType::Custom));
    });
}

void TJXMainForm::Remap() {
    if (!state_.HasImage()) return;
    Guard([&] { ConvertImage(state_, Settings(), *this); });
}

QPoint SettingsDialogPlace(const QRect& main, const QSize& dialog, const QRect& keepClear, const QRect& available) {
    constexpr int kGap = 4;
    const int w = dialog.width(), h = dialog.height();
    auto onScreen = [&](QPoint at) { return TPointerform::OnScreen(QRect(at, dialog), available); };
    // Beside the main window, top edges level where the screen allows: it covers nothing there.
    const int top = onScreen(QPoint(available.left(), main.top())).y();
    for (const QPoint at : {QPoint(main.right() + 1 + kGap, top), QPoint(main.left() - kGap - w, top)})
        if (available.contains(QRect(at, dialog))) return at;
    // Over the main window, but off the toggle and the colour-count box, so the toggle closes it
    // again: left of them (over the image view), then above, right and below them.
    for (const QPoint at : {QPoint(keepClear.left() - kGap - w, top), QPoint(keepClear.right() + 1 - w, keepClear.top() - kGap - h),
                            QPoint(keepClear.right() + 1 + kGap, top), QPoint(keepClear.left(), keepClear.bottom() + 1 + kGap)}) {
        const QPoint placed = onScreen(at);
        if (!QRect(placed, dialog).intersects(keepClear)) return placed;
    }
    // A screen too small for both: on it, beside the main window as far as it goes.
    return onScreen(QPoint(main.right() + 1 + kGap, top));
}

QRect TJXMainForm::SettingsToggleArea() const {
    QRect area;
    auto add = [&area](const QWidget* w) {
        if (w && w->isVisible()) area |= QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
    };
    add(colors_->parentWidget());  // Apply, the priority bar and the colour-count box
    add(palettePanel_->findChild<QToolBar*>());  // the toggle and the palette buttons
    return area;
}

void TJXMainForm::QuantizerSettingsClick(bool down) {
    if (Locked()) return;
    if (down) {
        if (!quantizerSettingsForm_->isVisible()) {
            quantizerSettingsForm_->adjustSize();
            const QMargins frame = TPointerform::FrameMargins(quantizerSettingsForm_, this);
            const QRect available = screen() ? screen()->availableGeometry() : frameGeometry();
            const QPoint at = SettingsDialogPlace(frameGeometry(), quantizerSettingsForm_->size().grownBy(frame),
                                                  SettingsToggleArea(), available);
            // The client area is placed: the frame is the window manager's to draw around it.
            quantizerSettingsForm_->setGeometry(
                QRect(at + QPoint(frame.left(), frame.top()), quantizerSettingsForm_->size()));
        }
        quantizerSettingsForm_->show();
        quantizerSettingsForm_->raise();
    } else {
        quantizerSettingsForm_->close();
    }
}

void TJXMainForm::ColorsChange(const QString& text) {
    if (text.isEmpty()) {
        colors_->setEditText("16");
        return;
    }
    if (quantizerSettingsForm_ && quantizerSettingsForm_->Colors->currentText() != text)
        quantizerSettingsForm_->Colors->ShowCount(text);
}

void TJXMainForm::ColorsSelect() {
    if (Locked()) return;
    quantizerSettingsForm_->Colors->setEditText(colors_->currentText());
    quantizerSettingsForm_->ColorsSelect();
}

void TJXMainForm::PriorityChange(int position) {
    if (quantizerSettingsForm_ && quantizerSettingsForm_->PriorityBar->value() != position) quantizerSettingsForm_->PriorityBar->setValue(position);
    if (priorityBar_->value() != position) priorityBar_->setValue(position);
}

}  // namespace jx
