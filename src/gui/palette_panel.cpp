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
    panel1_ = new QWidget;
    panel1_->setObjectName("Panel1");
    panel1_->setFixedWidth(280);
    auto* v = new QVBoxLayout(panel1_);
    v->setContentsMargins(2, 2, 2, 2);
    groupBox1_ = new QGroupBox("Levels");
    auto* gl = new QVBoxLayout(groupBox1_);
    gl->setContentsMargins(2, 2, 2, 2);
    paintBox1_ = new TPaintBox(this, nullptr);
    paintBox1_->setFixedSize(264, 130);
    gl->addWidget(paintBox1_);
    v->addWidget(groupBox1_);

    scrollBox2_ = new QScrollArea;
    image2_ = new QLabel;
    image2_->setObjectName("Image2");
    image2_->setVisible(false);
    scrollBox2_->setWidget(image2_);
    scrollBox2_->setWidgetResizable(false);
    scrollBox2_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    v->addWidget(scrollBox2_, 1);

    auto* panel5 = new QWidget;
    auto* p5 = new QHBoxLayout(panel5);
    p5->setContentsMargins(0, 0, 0, 0);
    pngSpeedButton1_ = new QPushButton("OK");
    pngSpeedButton1_->setObjectName("PngSpeedButton1");
    pngSpeedButton1_->setToolTip("Apply");
    trackBar1_ = new QSlider(Qt::Horizontal);
    trackBar1_->setRange(-3, 3);
    trackBar1_->setValue(0);
    trackBar1_->setToolTip("Priority - gradients / colors");
    colors_ = new TColorCountBox;
    colors_->setObjectName("Colors");
    colors_->setToolTip("Number of colors");
    p5->addWidget(pngSpeedButton1_);
    p5->addWidget(trackBar1_, 1);
    p5->addWidget(colors_);
    v->addWidget(panel5);

    auto* toolBar2 = new QToolBar("ToolBar2");
    toolButton27_ = toolBar2->addAction("Quantizer settings");
    toolButton27_->setObjectName("ToolButton27");
    toolButton27_->setCheckable(true);
    QAction* toolButton29 = toolBar2->addAction("Sort palette");
    toolButton29->setObjectName("ToolButton29");
    toolButton29->setToolTip("Sort palette");
    toolButton29->setEnabled(false);
    toolButton31_ = toolBar2->addAction("Load palette");
    toolButton31_->setObjectName("ToolButton31");
    toolButton31_->setToolTip("Load palette");
    toolButton31_->setEnabled(false);  // the router enables it
    QAction* toolButton32 = toolBar2->addAction("Save palette");
    toolButton32->setObjectName("ToolButton32");
    toolButton32->setToolTip("Save palette");
    toolButton32->setEnabled(false);
    v->addWidget(toolBar2);
    image3_ = new QLabel;
    image3_->setObjectName("Image3");
    image3_->setFixedHeight(2 * CaptionLineHeight() + 3);  // two outlined caption lines, whole
    v->addWidget(image3_);

    connect(pngSpeedButton1_, &QPushButton::clicked, this, [this] { PngSpeedButton1Click(); });
    connect(trackBar1_, &QSlider::valueChanged, this, &TJXMainForm::TrackBar1Change);
    connect(colors_, &QComboBox::editTextChanged, this, &TJXMainForm::ColorsChange);
    connect(colors_, &TColorCountBox::CountEntered, this, &TJXMainForm::ColorsSelect);
    connect(toolButton27_, &QAction::triggered, this, &TJXMainForm::ToolButton27Click);
}

void TJXMainForm::PngSpeedButton1Click() {
    if (Locked() || !state_.HasImage()) return;
    int32_t n = 0;
    if (!quantizerSettingsForm_->AcceptColorCount(&n)) return;
    if (maskCrop_->MaskMode()) maskCrop_->Escape();  // Apply leaves mask editing
    scrollBox1_->setFocus();
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
    add(panel1_->findChild<QToolBar*>());  // the toggle and the palette buttons
    return area;
}

void TJXMainForm::ToolButton27Click(bool down) {
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

void TJXMainForm::TrackBar1Change(int position) {
    if (quantizerSettingsForm_ && quantizerSettingsForm_->PriorityBar->value() != position)
        quantizerSettingsForm_->PriorityBar->setValue(position);
    if (trackBar1_->value() != position) trackBar1_->setValue(position);
}

void TJXMainForm::DrawHistogramView() {
    if (!mouseOutside_) return;
    magnifier_ = DrawHistogram(state_, paintBox1_->size(), palette().button().color());
    paintBox1_->update();
}

void TJXMainForm::PaintBox1Paint(QPainter& p) {
    if (magnifier_.isNull() && state_.HasImage())
        magnifier_ = DrawHistogram(state_, paintBox1_->size(), palette().button().color());
    if (!magnifier_.isNull()) p.drawImage(0, 0, magnifier_);
}

}  // namespace jx
