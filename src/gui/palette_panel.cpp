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
#include "gui/palette_panel.h"
#include "gui/pointer_form.h"
#include "gui/preview.h"
#include "gui/quantizer_settings.h"
#include "imaging/remap.h"

namespace jx {

TPalettePanel::TPalettePanel(TJXMainForm& form) : form_(form) {
    setObjectName("PalettePanel");
    setFixedWidth(280);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(2, 2, 2, 2);
    auto* levelsBox = new QGroupBox("Levels");
    auto* gl = new QVBoxLayout(levelsBox);
    gl->setContentsMargins(2, 2, 2, 2);
    histogramBox_ = new THistogramBox(&form_, levelsBox);
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
    applyButton_->setFocusPolicy(Qt::TabFocus);  // a click keeps a count typed without Enter
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
    connect(priorityBar_, &QSlider::valueChanged, this, &TPalettePanel::PriorityChange);
    connect(colors_, &QComboBox::editTextChanged, this, &TPalettePanel::ColorsChange);
    connect(colors_, &TColorCountBox::CountEntered, this, &TPalettePanel::ColorsSelect);
    connect(colors_, &TColorCountBox::EditingLeft, this, [this] {
        if (form_.QuantizerSettingsForm()) form_.QuantizerSettingsForm()->ColorsLeft();
    });
    connect(quantizerSettingsButton_, &QAction::triggered, this, &TPalettePanel::QuantizerSettingsClick);
}

void TPalettePanel::ApplyClick() {
    if (form_.Locked() || !form_.State().HasImage()) return;
    int32_t n = 0;
    if (!form_.QuantizerSettingsForm()->AcceptColorCount(&n)) return;
    if (form_.MaskCrop().MaskMode()) form_.MaskCrop().Escape();  // Apply leaves mask editing
    form_.ImageScroll()->setFocus();
    const TQuantizerSettings settings = form_.Settings();
    const bool done = form_.Guard([&] { ApplyQuantize(form_.State(), settings, form_.Reports(), form_.UndoStore()); });
    if (!done && settings.PaletteType == TPaletteType::Custom && !form_.State().LoadCustomPalette)
        form_.QuantizerSettingsForm()->PalTypeFallBack();
}

namespace {
const char* const kPaletteOpenFilter = "Palettes (*.pal *.act);;JASC Palette (*.pal);;Adobe Color Table File (*.act)";
}  // namespace

bool TPalettePanel::LoadPalClick() {
    if (form_.Locked() || !(form_.State().BatchQuantize || form_.State().HasImage())) return false;
    const QString file = QFileDialog::getOpenFileName(&form_, "Load palette", QString(), kPaletteOpenFilter);
    if (file.isEmpty()) {
        form_.QuantizerSettingsForm()->SetPalType(static_cast<int>(TPaletteType::Adaptive));
        return false;
    }
    return LoadPalette(file);
}

bool TPalettePanel::LoadPalette(const QString& fileName) {
    if (form_.Locked()) return false;
    return form_.Guard([&] {
        LoadPaletteCommand(form_.State(), fileName.toStdString(), form_.Settings(), form_.Reports(), form_.UndoStore());
        form_.QuantizerSettingsForm()->SetPalType(static_cast<int>(TPaletteType::Custom));
    });
}

void TPalettePanel::Remap() {
    if (!form_.State().HasImage()) return;
    form_.Guard([&] { ConvertImage(form_.State(), form_.Settings(), form_.Reports()); });
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

QRect TPalettePanel::SettingsToggleArea() const {
    QRect area;
    auto add = [&area](const QWidget* w) {
        if (w && w->isVisible()) area |= QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
    };
    add(colors_->parentWidget());  // Apply, the priority bar and the colour-count box
    add(findChild<QToolBar*>());  // the toggle and the palette buttons
    return area;
}

void TPalettePanel::QuantizerSettingsClick(bool down) {
    if (form_.Locked()) return;
    if (down) {
        if (!form_.QuantizerSettingsForm()->isVisible()) {
            form_.QuantizerSettingsForm()->adjustSize();
            const QMargins frame = TPointerform::FrameMargins(form_.QuantizerSettingsForm(), &form_);
            const QRect available = form_.screen() ? form_.screen()->availableGeometry() : form_.frameGeometry();
            const QPoint at = SettingsDialogPlace(form_.frameGeometry(), form_.QuantizerSettingsForm()->size().grownBy(frame),
                                                  SettingsToggleArea(), available);
            // The client area is placed: the frame is the window manager's to draw around it.
            form_.QuantizerSettingsForm()->setGeometry(
                QRect(at + QPoint(frame.left(), frame.top()), form_.QuantizerSettingsForm()->size()));
        }
        form_.QuantizerSettingsForm()->show();
        form_.QuantizerSettingsForm()->raise();
    } else {
        form_.QuantizerSettingsForm()->close();
    }
}

void TPalettePanel::ColorsChange(const QString& text) {
    if (form_.QuantizerSettingsForm() && form_.QuantizerSettingsForm()->Colors->currentText() != text)
        form_.QuantizerSettingsForm()->Colors->ShowCount(text);
}

void TPalettePanel::ColorsSelect() {
    if (form_.Locked()) return;
    form_.QuantizerSettingsForm()->Colors->setEditText(colors_->currentText());
    form_.QuantizerSettingsForm()->ColorsSelect();
}

void TPalettePanel::PriorityChange(int position) {
    if (form_.QuantizerSettingsForm() && form_.QuantizerSettingsForm()->PriorityBar->value() != position) form_.QuantizerSettingsForm()->PriorityBar->setValue(position);
    if (priorityBar_->value() != position) priorityBar_->setValue(position);
}

}  // namespace jx
