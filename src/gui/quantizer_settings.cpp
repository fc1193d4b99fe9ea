#include "gui/quantizer_settings.h"

#include <QAction>
#include <QTabBar>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "gui/color_count_box.h"
#include "gui/color_dlg.h"
#include "gui/main_form.h"
#include "gui/preview.h"
#include "gui/slider.h"

namespace jx {
namespace {

QGroupBox* Group(const QString& caption, QWidget* content) {
    auto* g = new QGroupBox(caption);
    auto* l = new QVBoxLayout(g);
    l->setContentsMargins(4, 2, 4, 2);
    l->addWidget(content);
    return g;
}

QIcon SquareIcon(const QColor& c) {
    QPixmap pm(16, 16);
    pm.fill(c);
    return QIcon(pm);
}

}  // namespace

QString BackgroundCaption(uint8_t r, uint8_t g, uint8_t b) {
    return QString("#%1%2%3")
        .arg(r, 2, 16, QChar('0'))
        .arg(g, 2, 16, QChar('0'))
        .arg(b, 2, 16, QChar('0'))
        .toUpper();
}

bool ParseBackgroundCaption(const QString& caption, uint8_t* r, uint8_t* g, uint8_t* b) {
    if (caption.size() != 7 || caption[0] != '#') return false;
    bool ok = false;
    const uint value = caption.mid(1).toUInt(&ok, 16);
    if (!ok) return false;
    *r = static_cast<uint8_t>(value >> 16);
    *g = static_cast<uint8_t>((value >> 8) & 0xFF);
    *b = static_cast<uint8_t>(value & 0xFF);
    return true;
}

TQuantizerSettingsForm::TQuantizerSettingsForm(TJXMainForm* mainForm, EngineState& state)
    : TPointerform(mainForm, "Quantizer settings", kFades), state_(state) {
    setObjectName("QuantizerSettingsForm");
    PickColor = [this](QColor initial) {
        return PickOpaqueColor(initial, [this](const TPixelRec& start) {
            TColorDlgForm picker(MainForm(), state_);
            return picker.Pick(start);
        });
    };

    BuildPaletteControls();
    BuildBackgroundBox();
    BuildDitherControls();
    BuildInfoBox();
    BuildBatchBoxesAndButtons();
    LayOutControls();
    ConnectHandlers();
}

// Colour count, palette type, colour space and the rare-colour bars.
void TQuantizerSettingsForm::BuildPaletteControls() {
    Colors = new TColorCountBox;
    PalType = new QComboBox;
    PalType->addItems({"Adaptive", "Uniform grayscale", "Uniform 3/3/2", "Windows 256", "Windows 16", "Custom"});
    MixColors = new QCheckBox("Do not mix colors");

    ReserveBar = MakeSlider(0, 100, 50);
    ReserveGroup = Group("Reserve for rare colors - 50%", ReserveBar);
    ReserveGroup->setVisible(false);  // hidden; its value is still used
    PriorityBar = MakeSlider(-3, 3, 0);
    PriorityGroup = Group("Priority - balance (0)", PriorityBar);
    PriorityGroup->setToolTip("Priority - gradients / colors");
    ThresholdBar = MakeSlider(0, 8, 4);
    ThresholdGroup = Group("Threshold for rare colors - 4", ThresholdBar);

    ColorSpace = new QComboBox;
    ColorSpace->addItems({"LAB", "YUV", "RGB", "YCoCg", "LUV"});
    VisualPerception = new QSpinBox;
    VisualPerception->setRange(0, 5);
    VisualPerception->setValue(3);
    if (auto* edit = VisualPerception->findChild<QLineEdit*>()) edit->setReadOnly(true);  // arrows only
}

// "Optimize alpha for...": none, white, black, custom colours, and "Custom..." to pick one.
void TQuantizerSettingsForm::BuildBackgroundBox() {
    AlphaBackground = new QComboBox;
    AlphaBackground->setToolTip("Background color");
    QPixmap none(16, 16);
    none.fill(palette().base().color());
    QPainter p(&none);
    p.setPen(palette().text().color());
    p.drawLine(0, 0, 15, 15);
    p.drawLine(15, 0, 0, 15);
    p.end();
    AlphaBackground->addItem(QIcon(none), "None");
    AlphaBackground->addItem(SquareIcon(Qt::white), "White");
    AlphaBackground->addItem(SquareIcon(Qt::black), "Black");
    QPixmap custom(16, 16);
    QPainter q(&custom);
    q.fillRect(0, 0, 8, 8, QColor(255, 0, 0));
    q.fillRect(8, 0, 8, 8, QColor(0, 128, 0));
    q.fillRect(0, 8, 8, 8, QColor(0, 0, 255));
    q.fillRect(8, 8, 8, 8, QColor(255, 255, 0));
    q.end();
    AlphaBackground->addItem(QIcon(custom), "Custom...");
    AlphaBackground->setCurrentIndex(0);
}

void TQuantizerSettingsForm::BuildDitherControls() {
    DitherModeGroup = new QGroupBox("Dithering");
    DitherButtons = new QButtonGroup(this);
    auto* radioLayout = new QVBoxLayout(DitherModeGroup);
    const char* modes[] = {"None",  "Shiau-Fan", "Floyd-Steinberg", "Jarvis, Judice and Ninke", "Burkes",
                           "Atkinson", "Stevenson-Arce", "Pattern (PS)", "Bayer (Ordered)"};
    for (int i = 0; i < 9; ++i) {
        auto* rb = new QRadioButton(modes[i]);
        DitherButtons->addButton(rb, i);
        radioLayout->addWidget(rb);
    }
    DitherButtons->button(0)->setChecked(true);
    PatternSize = new QComboBox;
    PatternSize->addItems({"2x2", "4x4", "8x8", "16x16"});
    PatternSize->setEnabled(false);
    radioLayout->addWidget(PatternSize);
    BypassEdges = new QCheckBox("Bypass edges");
    Delicate = new QCheckBox("Delicate");
    DitherBar = MakeSlider(0, 100, 75);
    DitherBar->setFixedWidth(171);
    DitherGroup = Group("Dither amount - 75%", DitherBar);
}

// The info box: the quantizer's report and the error figures.
void TQuantizerSettingsForm::BuildInfoBox() {
    Info = new QGroupBox("Info");
    ErrorMetric = new QComboBox;
    ErrorMetric->addItems({"mse", "msad", "psnr", "rmse"});
    ErrorMetric->setCurrentIndex(2);
    InfoText = new QPlainTextEdit;
    InfoText->setReadOnly(true);
    InfoText->setMinimumHeight(70);
    LumaError = new QLabel("y:");
    CrError = new QLabel("cr:");
    CbError = new QLabel("cb:");
    AlphaError = new QLabel("a:");
    auto* l = new QGridLayout(Info);
    l->addWidget(InfoText, 0, 0, 1, 2);
    l->addWidget(ErrorMetric, 1, 0, 1, 2);
    l->addWidget(LumaError, 2, 0);
    l->addWidget(CrError, 2, 1);
    l->addWidget(CbError, 3, 0);
    l->addWidget(AlphaError, 3, 1);
}

void TQuantizerSettingsForm::BuildBatchBoxesAndButtons() {
    CAlpha = new QCheckBox("Convert to alpha");
    FRGB = new QCheckBox("Forced RGB");
    ApplyButton = new QPushButton("Apply");
    ResetButton = new QPushButton("Reset");
    for (QPushButton* b : {ApplyButton, ResetButton}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    // A click leaves the focus where it is: Apply takes a count typed without Enter, which the
    // box would give up on losing the focus.
    ApplyButton->setFocusPolicy(Qt::TabFocus);
}

void TQuantizerSettingsForm::LayOutControls() {
    auto* left = new QVBoxLayout;
    auto* form = new QGridLayout;
    form->addWidget(new QLabel("Number of colors:"), 0, 0);
    form->addWidget(Colors, 0, 1);
    form->addWidget(new QLabel("Palette:"), 1, 0);
    form->addWidget(PalType, 1, 1);
    form->addWidget(new QLabel("Color space:"), 2, 0);
    form->addWidget(ColorSpace, 2, 1);
    form->addWidget(new QLabel("Visual perception:"), 3, 0);
    form->addWidget(VisualPerception, 3, 1);
    form->addWidget(new QLabel("Optimize alpha for..."), 4, 0);
    form->addWidget(AlphaBackground, 4, 1);
    left->addLayout(form);
    left->addWidget(MixColors);
    left->addWidget(ReserveGroup);
    left->addWidget(PriorityGroup);
    left->addWidget(ThresholdGroup);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ApplyButton);
    buttons->addWidget(ResetButton);
    left->addLayout(buttons);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addWidget(DitherModeGroup);
    right->addWidget(BypassEdges);
    right->addWidget(Delicate);
    right->addWidget(DitherGroup);
    right->addWidget(CAlpha);
    right->addWidget(FRGB);
    right->addWidget(Info);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addLayout(right);
    top->setSizeConstraint(QLayout::SetFixedSize);
}

void TQuantizerSettingsForm::ConnectHandlers() {
    connect(Colors, &TColorCountBox::CountEntered, this, &TQuantizerSettingsForm::ColorsSelect);
    connect(Colors, &QComboBox::editTextChanged, this, &TQuantizerSettingsForm::ColorsChange);
    connect(Colors, &TColorCountBox::EditingLeft, this, &TQuantizerSettingsForm::ColorsLeft);
    connect(PalType, &QComboBox::activated, this, &TQuantizerSettingsForm::PalTypeSelect);
    connect(ColorSpace, &QComboBox::currentIndexChanged, this, &TQuantizerSettingsForm::ColorSpaceChange);
    connect(AlphaBackground, &QComboBox::activated, this, &TQuantizerSettingsForm::AlphaBackgroundChange);
    connect(VisualPerception, &QSpinBox::valueChanged, this, &TQuantizerSettingsForm::VisualPerceptionChange);
    connect(ReserveBar, &QSlider::valueChanged, this, &TQuantizerSettingsForm::ReserveBarChange);
    connect(PriorityBar, &QSlider::valueChanged, this, &TQuantizerSettingsForm::PriorityBarChange);
    connect(ThresholdBar, &QSlider::valueChanged, this, &TQuantizerSettingsForm::ThresholdBarChange);
    connect(DitherButtons, &QButtonGroup::idClicked, this, [this](int) { DitheringChange(); });
    connect(PatternSize, &QComboBox::activated, this, [this](int) { DitheringChange(); });
    connect(BypassEdges, &QCheckBox::clicked, this, [this](bool) { DitheringChange(); });
    connect(Delicate, &QCheckBox::clicked, this, [this](bool) { DitheringChange(); });
    connect(DitherBar, &QSlider::valueChanged, this, &TQuantizerSettingsForm::DitherBarChange);
    connect(DitherBar, &QSlider::sliderReleased, this, &TQuantizerSettingsForm::DitherBarMouseUp);
    connect(ErrorMetric, &QComboBox::currentIndexChanged, this, &TQuantizerSettingsForm::ErrorMetricChange);
    connect(FRGB, &QCheckBox::clicked, this, &TQuantizerSettingsForm::FRGBClick);
    connect(ApplyButton, &QPushButton::clicked, this, &TQuantizerSettingsForm::ApplyClick);
    connect(ResetButton, &QPushButton::clicked, this, &TQuantizerSettingsForm::ResetClick);
}

TQuantizerSettings TQuantizerSettingsForm::Settings() const {
    TQuantizerSettings s;
    s.ColorCount = Colors->currentText().toStdString();
    s.PaletteType = static_cast<TPaletteType>(PalType->currentIndex());
    s.DoNotMix = MixColors->isChecked();
    s.RareReserve = ReserveBar->value();
    s.Priority = PriorityBar->value();
    s.RareThreshold = ThresholdBar->value();
    s.RareThresholdMin = ThresholdBar->minimum();
    s.RareThresholdMax = ThresholdBar->maximum();
    s.ColorSpace = ColorSpace->currentIndex();
    s.VisualPerception = VisualPerception->value();
    s.AlphaBackground = AlphaBackground->currentIndex();
    s.DitherMode = static_cast<TDitherMode>(DitherButtons->checkedId() < 0 ? 0 : DitherButtons->checkedId());
    s.PatternSize = PatternSize->currentIndex();
    s.BypassEdges = BypassEdges->isChecked();
    s.Delicate = Delicate->isChecked();
    s.DitherAmount = DitherBar->value();
    s.ErrorMetric = static_cast<TErrorMetric>(ErrorMetric->currentIndex());
    s.ConvertToAlpha = CAlpha->isChecked();
    s.ForcedRGB = FRGB->isChecked();
    return s;
}

bool TQuantizerSettingsForm::AcceptColorCount(int32_t* n) {
    const QString text = Colors->currentText().trimmed();
    if (text == "TrueColor") {
        *n = -1;
        SetColorCountText(text);
        return true;
    }
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (ok && !text.startsWith('-') && v >= 0 && v <= kMaxColorCount) {
        *n = v == 0 ? -1 : static_cast<int32_t>(v);
        SetColorCountText(v == 0 ? QString("TrueColor") : QString::number(v));
        return true;
    }
    const QString refused = text;
    SetColorCountText(lastGoodColors_);
    if (MainForm())
        MainForm()->ShowMessage(QString("\"%1\" is not a number of colors: type a whole number from 1 to %2, "
                                        "or 0 or TrueColor for true colour.")
                                    .arg(refused)
                                    .arg(kMaxColorCount));
    return false;
}

void TQuantizerSettingsForm::SetColorCountText(const QString& text) {
    lastGoodColors_ = text;
    syncing_ = true;
    Colors->ShowCount(text);
    if (panel_) panel_->Colors()->ShowCount(text);
    syncing_ = false;
}

void TQuantizerSettingsForm::ApplyClick() {
    if (!state_.BatchQuantize && panel_) panel_->ApplyClick();
}

void TQuantizerSettingsForm::ColorsSelect() {
    int32_t n = 0;
    if (!AcceptColorCount(&n)) return;
    state_.PaletteSize = n;
    if (panel_) {
        panel_->ApplyClick();
        if (MainForm()->isVisible()) panel_->Colors()->setFocus();
    }
}

void TQuantizerSettingsForm::ColorsChange(const QString& text) {
    // An emptied box stays empty while the user types: filling it in would join what they type.
    if (syncing_) return;
    if (panel_) {
        syncing_ = true;
        panel_->Colors()->ShowCount(text);
        syncing_ = false;
    }
}

void TQuantizerSettingsForm::ColorsLeft() { SetColorCountText(lastGoodColors_); }

void TQuantizerSettingsForm::PalTypeSelect(int index) {
    if (index == static_cast<int>(TPaletteType::Custom)) {
        // The palette loader asks for the file; it loads and remaps, so no second pass is needed.
        // Without a file "Custom" would fail on every Apply: the previous type comes back.
        if (!panel_ || !panel_->LoadPalClick()) PalTypeFallBack();
        return;
    }
    lastPalType_ = index;
    if (!state_.BatchQuantize) ApplyClick();
}

void TQuantizerSettingsForm::SetPalType(int index) {
    PalType->setCurrentIndex(index);
    lastPalType_ = index;
}

void TQuantizerSettingsForm::PalTypeFallBack() {
    if (lastPalType_ == static_cast<int>(TPaletteType::Custom) && !state_.LoadCustomPalette) lastPalType_ = 0;
    PalType->setCurrentIndex(lastPalType_);
}

void TQuantizerSettingsForm::ColorSpaceChange(int) { state_.ReconvertPending = true; }

void TQuantizerSettingsForm::AddBackgroundItem(const QString& caption, const QColor& color, int before) {
    AlphaBackground->insertItem(before, SquareIcon(color), caption);
}

void TQuantizerSettingsForm::AlphaBackgroundChange(int index) {
    const int customIndex = AlphaBackground->count() - 1;
    if (index == customIndex) {
        const TPixelRec& bg = state_.AlphaBackground;
        const std::optional<QColor> picked = PickColor ? PickColor(QColor(bg.R, bg.G, bg.B)) : std::nullopt;
        if (!picked) {
            AlphaBackground->setCurrentIndex(backgroundBeforeDropDown_);
            return;
        }
        state_.AlphaBackground.R = static_cast<uint8_t>(picked->red());
        state_.AlphaBackground.G = static_cast<uint8_t>(picked->green());
        state_.AlphaBackground.B = static_cast<uint8_t>(picked->blue());
        AddBackgroundItem(BackgroundCaption(state_.AlphaBackground.R, state_.AlphaBackground.G,
                                            state_.AlphaBackground.B),
                          *picked, customIndex);
        // The colour just picked is the one meant: its entry is shown and applied below.
        AlphaBackground->setCurrentIndex(customIndex);
    }
    const int sel = AlphaBackground->currentIndex();
    TPixelRec& bg = state_.AlphaBackground;
    if (sel == 0) {
        bg.A = 0;
    } else if (sel == 1) {
        bg.R = bg.G = bg.B = 255;
        bg.A = 255;
    } else if (sel == 2) {
        bg.R = bg.G = bg.B = 0;
        bg.A = 255;
    } else if (sel > 2 && sel < AlphaBackground->count() - 1) {
        uint8_t r = 0, g = 0, b = 0;
        if (ParseBackgroundCaption(AlphaBackground->itemText(sel), &r, &g, &b)) {
            bg.R = r;
            bg.G = g;
            bg.B = b;
            bg.A = 255;
        }
    }
    state_.Convert(bg);
    backgroundBeforeDropDown_ = sel;
    state_.ReconvertPending = true;
}

void TQuantizerSettingsForm::VisualPerceptionChange(int position) { state_.LumaShift = static_cast<uint8_t>(position); }

void TQuantizerSettingsForm::ReserveBarChange(int n) {
    ReserveGroup->setTitle(QString("Reserve for rare colors - %1%").arg(n));
}

void TQuantizerSettingsForm::PriorityBarChange(int n) {
    if (n == 0)
        PriorityGroup->setTitle("Priority - balance (0)");
    else if (n > 0)
        PriorityGroup->setTitle(QString("Priority - colors (%1)").arg(n));
    else
        PriorityGroup->setTitle(QString("Priority - gradients (%1)").arg(n));
    if (panel_) panel_->PriorityChange(n);
}

void TQuantizerSettingsForm::ThresholdBarChange(int n) {
    ThresholdGroup->setTitle(QString("Threshold for rare colors - %1").arg(n));
}

void TQuantizerSettingsForm::DitheringChange() {
    PatternSize->setEnabled(DitherButtons->checkedId() > 6);
    if (state_.HasImage() && !state_.BatchQuantize && panel_) panel_->Remap();
}

void TQuantizerSettingsForm::DitherBarChange(int n) {
    DitherGroup->setTitle(QString("Dither amount - %1%").arg(n));
    state_.DitherAmount = static_cast<float>(n) / 100.0f;
    // A click on the groove or a key moves the bar without a drag: the image follows at once, so
    // what is saved is what the caption says. A drag remaps once, on release.
    if (!DitherBar->isSliderDown()) DitherBarMouseUp();
}

void TQuantizerSettingsForm::DitherBarMouseUp() {
    if (state_.HasImage() && !state_.BatchQuantize && panel_) panel_->Remap();
}

void TQuantizerSettingsForm::ErrorMetricChange(int) { ShowErrorMetrics(); }

void TQuantizerSettingsForm::ShowErrorMetrics() {
    if (!state_.HasImage()) return;
    // On a split view's "Opaque" and "Translucent" tabs only the pixels of that part count.
    const int tab = fileTabs_ && fileTabs_->count() > 0 ? fileTabs_->currentIndex() : 0;
    const auto t = ErrorMetricTexts(state_, static_cast<TErrorMetric>(ErrorMetric->currentIndex()), tab);
    LumaError->setText(t[0]);
    CrError->setText(t[1]);
    CbError->setText(t[2]);
    AlphaError->setText(t[3]);
}

void TQuantizerSettingsForm::FRGBClick(bool checked) {
    // The options' "Forced RGB" is what the PNG chain reads.
    if (MainForm()) MainForm()->Options().forcedRgb = checked;
}

void TQuantizerSettingsForm::ResetClick() {
    ReserveBar->setValue(50);
    PriorityBar->setValue(0);
    ThresholdBar->setValue(4);
    MixColors->setChecked(false);
    if (ColorSpace->currentIndex() != 0 || AlphaBackground->currentIndex() != 0) state_.ReconvertPending = true;
    ColorSpace->setCurrentIndex(0);
    AlphaBackground->setCurrentIndex(0);
    backgroundBeforeDropDown_ = 0;
    AlphaBackgroundChange(0);
    VisualPerception->setValue(3);
    state_.LumaShift = 3;
    ApplyClick();
}

void TQuantizerSettingsForm::FormClose() {
    // Closing the dialog leaves its box, which no focus change reports.
    if (focusWidget() == Colors) ColorsLeft();
    if (panel_ && panel_->QuantizerSettingsButton()) panel_->QuantizerSettingsButton()->setChecked(false);
}

void TQuantizerSettingsForm::showEvent(QShowEvent* e) {
    const bool batch = state_.BatchQuantize;
    CAlpha->setVisible(batch);
    FRGB->setVisible(batch);
    Info->setVisible(!batch);
    DitherBar->setValue(static_cast<int>(std::nearbyint(state_.DitherAmount * 100.0)));
    TPointerform::showEvent(e);
}

void TQuantizerSettingsForm::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Alt && !altRepaintDone_) {
        altRepaintDone_ = true;
        QTimer::singleShot(0, this, [this] { update(); });
    }
    TPointerform::keyPressEvent(e);  // Esc closes by the dialog's one close road
}

}  // namespace jx
