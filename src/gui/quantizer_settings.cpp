#include "gui/quantizer_settings.h"

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
#include "gui/alpha_menu.h"
#include "gui/main_form.h"
#include "gui/preview.h"

namespace jx {
namespace {

QSlider* Bar(int lo, int hi, int value) {
    auto* s = new QSlider(Qt::Horizontal);
    s->setRange(lo, hi);
    s->setValue(value);
    s->setTickPosition(QSlider::NoTicks);
    return s;
}

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

TForm5::TForm5(TJXMainForm* mainForm, EngineState& state)
    : TPointerform(mainForm, "Quantizer settings", kFades), state_(state) {
    setObjectName("Form5");
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
void TForm5::BuildPaletteControls() {
    Colors = new TColorCountBox;
    PalType = new QComboBox;
    PalType->addItems({"Adaptive", "Uniform grayscale", "Uniform 3/3/2", "Windows 256", "Windows 16", "Custom"});
    MixColors = new QCheckBox("Do not mix colors");

    TrackBar1 = Bar(0, 100, 50);
    ReserveGroup = Group("Reserve for rare colors - 50%", TrackBar1);
    ReserveGroup->setVisible(false);  // hidden; its value is still used
    TrackBar2 = Bar(-3, 3, 0);
    PriorityGroup = Group("Priority - balance (0)", TrackBar2);
    PriorityGroup->setToolTip("Priority - gradients / colors");
    TrackBar3 = Bar(0, 8, 4);
    ThresholdGroup = Group("Threshold for rare colors - 4", TrackBar3);

    ColorSpace = new QComboBox;
    ColorSpace->addItems({"LAB", "YUV", "RGB", "YCoCg", "LUV"});
    UpDown1 = new QSpinBox;
    UpDown1->setRange(0, 5);
    UpDown1->setValue(3);
    if (auto* edit1 = UpDown1->findChild<QLineEdit*>()) edit1->setReadOnly(true);  // Edit1: arrows only
}

// "Optimize alpha for...": none, white, black, custom colours, and "Custom..." to pick one.
void TForm5::BuildBackgroundBox() {
    ComboBoxEx1 = new QComboBox;
    ComboBoxEx1->setToolTip("Background color");
    QPixmap none(16, 16);
    none.fill(palette().base().color());
    QPainter p(&none);
    p.setPen(palette().text().color());
    p.drawLine(0, 0, 15, 15);
    p.drawLine(15, 0, 0, 15);
    p.end();
    ComboBoxEx1->addItem(QIcon(none), "None");
    ComboBoxEx1->addItem(SquareIcon(Qt::white), "White");
    ComboBoxEx1->addItem(SquareIcon(Qt::black), "Black");
    QPixmap custom(16, 16);
    QPainter q(&custom);
    q.fillRect(0, 0, 8, 8, QColor(255, 0, 0));
    q.fillRect(8, 0, 8, 8, QColor(0, 128, 0));
    q.fillRect(0, 8, 8, 8, QColor(0, 0, 255));
    q.fillRect(8, 8, 8, 8, QColor(255, 255, 0));
    q.end();
    ComboBoxEx1->addItem(QIcon(custom), "Custom...");
    ComboBoxEx1->setCurrentIndex(0);
}

void TForm5::BuildDitherControls() {
    RadioGroup1 = new QGroupBox("Dithering");
    DitherButtons = new QButtonGroup(this);
    auto* radioLayout = new QVBoxLayout(RadioGroup1);
    const char* modes[] = {"None",  "Shiau-Fan", "Floyd-Steinberg", "Jarvis, Judice and Ninke", "Burkes",
                           "Atkinson", "Stevenson-Arce", "Pattern (PS)", "Bayer (Ordered)"};
    for (int i = 0; i < 9; ++i) {
        auto* rb = new QRadioButton(modes[i]);
        DitherButtons->addButton(rb, i);
        radioLayout->addWidget(rb);
    }
    DitherButtons->button(0)->setChecked(true);
    ComboBox1 = new QComboBox;
    ComboBox1->addItems({"2x2", "4x4", "8x8", "16x16"});
    ComboBox1->setEnabled(false);
    radioLayout->addWidget(ComboBox1);
    CheckBox1 = new QCheckBox("Bypass edges");
    CheckBox3 = new QCheckBox("Delicate");
    DitherBar = Bar(0, 100, 75);
    DitherBar->setFixedWidth(171);
    DitherGroup = Group("Dither amount - 75%", DitherBar);
}

// The info box: the quantizer's report and the error figures.
void TForm5::BuildInfoBox() {
    Info = new QGroupBox("Info");
    ComboBox2 = new QComboBox;
    ComboBox2->addItems({"mse", "msad", "psnr", "rmse"});
    ComboBox2->setCurrentIndex(2);
    Memo1 = new QPlainTextEdit;
    Memo1->setReadOnly(true);
    Memo1->setMinimumHeight(70);
    Label5 = new QLabel("y:");
    Label6 = new QLabel("cr:");
    Label7 = new QLabel("cb:");
    Label8 = new QLabel("a:");
    auto* l = new QGridLayout(Info);
    l->addWidget(Memo1, 0, 0, 1, 2);
    l->addWidget(ComboBox2, 1, 0, 1, 2);
    l->addWidget(Label5, 2, 0);
    l->addWidget(Label6, 2, 1);
    l->addWidget(Label7, 3, 0);
    l->addWidget(Label8, 3, 1);
}

void TForm5::BuildBatchBoxesAndButtons() {
    CAlpha = new QCheckBox("Convert to alpha");
    FRGB = new QCheckBox("Forced RGB");
    PngSpeedButton1 = new QPushButton("Apply");
    SpeedButton1 = new QPushButton("Reset");
    for (QPushButton* b : {PngSpeedButton1, SpeedButton1}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
}

void TForm5::LayOutControls() {
    auto* left = new QVBoxLayout;
    auto* form = new QGridLayout;
    form->addWidget(new QLabel("Number of colors:"), 0, 0);
    form->addWidget(Colors, 0, 1);
    form->addWidget(new QLabel("Palette:"), 1, 0);
    form->addWidget(PalType, 1, 1);
    form->addWidget(new QLabel("Color space:"), 2, 0);
    form->addWidget(ColorSpace, 2, 1);
    form->addWidget(new QLabel("Visual perception:"), 3, 0);
    form->addWidget(UpDown1, 3, 1);
    form->addWidget(new QLabel("Optimize alpha for..."), 4, 0);
    form->addWidget(ComboBoxEx1, 4, 1);
    left->addLayout(form);
    left->addWidget(MixColors);
    left->addWidget(ReserveGroup);
    left->addWidget(PriorityGroup);
    left->addWidget(ThresholdGroup);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(PngSpeedButton1);
    buttons->addWidget(SpeedButton1);
    left->addLayout(buttons);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addWidget(RadioGroup1);
    right->addWidget(CheckBox1);
    right->addWidget(CheckBox3);
    right->addWidget(DitherGroup);
    right->addWidget(CAlpha);
    right->addWidget(FRGB);
    right->addWidget(Info);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left);
    top->addLayout(right);
    top->setSizeConstraint(QLayout::SetFixedSize);
}

void TForm5::ConnectHandlers() {
    connect(Colors, &TColorCountBox::CountEntered, this, &TForm5::ColorsSelect);
    connect(Colors, &QComboBox::editTextChanged, this, &TForm5::ColorsChange);
    connect(PalType, &QComboBox::activated, this, &TForm5::PalTypeSelect);
    connect(ColorSpace, &QComboBox::currentIndexChanged, this, &TForm5::ColorSpaceChange);
    connect(ComboBoxEx1, &QComboBox::activated, this, &TForm5::ComboBoxEx1Change);
    connect(UpDown1, &QSpinBox::valueChanged, this, &TForm5::UpDown1Click);
    connect(TrackBar1, &QSlider::valueChanged, this, &TForm5::TrackBar1Change);
    connect(TrackBar2, &QSlider::valueChanged, this, &TForm5::TrackBar2Change);
    connect(TrackBar3, &QSlider::valueChanged, this, &TForm5::TrackBar3Change);
    connect(DitherButtons, &QButtonGroup::idClicked, this, [this](int) { RadioGroup1Click(); });
    connect(ComboBox1, &QComboBox::activated, this, [this](int) { RadioGroup1Click(); });
    connect(CheckBox1, &QCheckBox::clicked, this, [this](bool) { RadioGroup1Click(); });
    connect(CheckBox3, &QCheckBox::clicked, this, [this](bool) { RadioGroup1Click(); });
    connect(DitherBar, &QSlider::valueChanged, this, &TForm5::DitherBarChange);
    connect(DitherBar, &QSlider::sliderReleased, this, &TForm5::DitherBarMouseUp);
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, &TForm5::ComboBox2Change);
    connect(FRGB, &QCheckBox::clicked, this, &TForm5::FRGBClick);
    connect(PngSpeedButton1, &QPushButton::clicked, this, &TForm5::Button2Click);
    connect(SpeedButton1, &QPushButton::clicked, this, &TForm5::SpeedButton1Click);
}

TQuantizerSettings TForm5::Settings() const {
    TQuantizerSettings s;
    s.ColorCount = Colors->currentText().toStdString();
    s.PaletteType = static_cast<TPaletteType>(PalType->currentIndex());
    s.DoNotMix = MixColors->isChecked();
    s.RareReserve = TrackBar1->value();
    s.Priority = TrackBar2->value();
    s.RareThreshold = TrackBar3->value();
    s.RareThresholdMin = TrackBar3->minimum();
    s.RareThresholdMax = TrackBar3->maximum();
    s.ColorSpace = ColorSpace->currentIndex();
    s.VisualPerception = UpDown1->value();
    s.AlphaBackground = ComboBoxEx1->currentIndex();
    s.DitherMode = static_cast<TDitherMode>(DitherButtons->checkedId() < 0 ? 0 : DitherButtons->checkedId());
    s.PatternSize = ComboBox1->currentIndex();
    s.BypassEdges = CheckBox1->isChecked();
    s.Delicate = CheckBox3->isChecked();
    s.DitherAmount = DitherBar->value();
    s.ErrorMetric = static_cast<TErrorMetric>(ComboBox2->currentIndex());
    s.ConvertToAlpha = CAlpha->isChecked();
    s.ForcedRGB = FRGB->isChecked();
    return s;
}

bool TForm5::AcceptColorCount(int32_t* n) {
    const QString text = Colors->currentText().trimmed();
    if (text == "TrueColor") {
        *n = -1;
        return true;
    }
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (ok && !text.startsWith('-') && v >= 0 && v <= kMaxColorCount) {
        *n = static_cast<int32_t>(v);
        if (v == 0) {
            *n = -1;
            SetColorCountText("TrueColor");
        }
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

void TForm5::SetColorCountText(const QString& text) {
    lastGoodColors_ = text;
    syncing_ = true;
    Colors->ShowCount(text);
    if (MainForm()) MainForm()->Colors()->ShowCount(text);
    syncing_ = false;
}

void TForm5::Button2Click() {
    if (!state_.BatchQuantize && MainForm()) MainForm()->ApplyClick();
}

void TForm5::ColorsSelect() {
    int32_t n = 0;
    if (!AcceptColorCount(&n)) return;
    state_.PaletteSize = n;
    SetColorCountText(n < 0 ? QString("TrueColor") : QString::number(n));
    if (MainForm()) {
        MainForm()->ApplyClick();
        if (MainForm()->isVisible()) MainForm()->Colors()->setFocus();
    }
}

void TForm5::ColorsChange(const QString& text) {
    if (syncing_) return;
    if (text.isEmpty()) {
        Colors->setEditText("16");
        return;
    }
    if (MainForm()) {
        syncing_ = true;
        MainForm()->Colors()->ShowCount(text);
        syncing_ = false;
    }
}

void TForm5::PalTypeSelect(int index) {
    if (index == static_cast<int>(TPaletteType::Custom)) {
        // The palette loader asks for the file; it loads and remaps, so no second pass is needed.
        // Without a file "Custom" would fail on every Apply: the previous type comes back.
        if (!MainForm() || !MainForm()->LoadPalClick()) PalTypeFallBack();
        return;
    }
    lastPalType_ = index;
    if (!state_.BatchQuantize) Button2Click();
}

void TForm5::SetPalType(int index) {
    PalType->setCurrentIndex(index);
    lastPalType_ = index;
}

void TForm5::PalTypeFallBack() {
    if (lastPalType_ == static_cast<int>(TPaletteType::Custom) && !state_.LoadCustomPalette) lastPalType_ = 0;
    PalType->setCurrentIndex(lastPalType_);
}

void TForm5::ColorSpaceChange(int) { state_.ReconvertPending = true; }

void TForm5::AddBackgroundItem(const QString& caption, const QColor& color, int before) {
    ComboBoxEx1->insertItem(before, SquareIcon(color), caption);
}

void TForm5::ComboBoxEx1Change(int index) {
    const int customIndex = ComboBoxEx1->count() - 1;
    if (index == customIndex) {
        const TPixelRec& bg = state_.AlphaBackground;
        const std::optional<QColor> picked = PickColor ? PickColor(QColor(bg.R, bg.G, bg.B)) : std::nullopt;
        if (!picked) {
            ComboBoxEx1->setCurrentIndex(backgroundBeforeDropDown_);
            return;
        }
        state_.AlphaBackground.R = static_cast<uint8_t>(picked->red());
        state_.AlphaBackground.G = static_cast<uint8_t>(picked->green());
        state_.AlphaBackground.B = static_cast<uint8_t>(picked->blue());
        AddBackgroundItem(BackgroundCaption(state_.AlphaBackground.R, state_.AlphaBackground.G,
                                            state_.AlphaBackground.B),
                          *picked, customIndex);
        // The colour just picked is the one meant: its entry is shown and applied below.
        ComboBoxEx1->setCurrentIndex(customIndex);
    }
    const int sel = ComboBoxEx1->currentIndex();
    TPixelRec& bg = state_.AlphaBackground;
    if (sel == 0) {
        bg.A = 0;
    } else if (sel == 1) {
        bg.R = bg.G = bg.B = 255;
        bg.A = 255;
    } else if (sel == 2) {
        bg.R = bg.G = bg.B = 0;
        bg.A = 255;
    } else if (sel > 2 && sel < ComboBoxEx1->count() - 1) {
        uint8_t r = 0, g = 0, b = 0;
        if (ParseBackgroundCaption(ComboBoxEx1->itemText(sel), &r, &g, &b)) {
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

void TForm5::UpDown1Click(int position) { state_.LumaShift = static_cast<uint8_t>(position); }

void TForm5::TrackBar1Change(int n) { ReserveGroup->setTitle(QString("Reserve for rare colors - %1%").arg(n)); }

void TForm5::TrackBar2Change(int n) {
    if (n == 0)
        PriorityGroup->setTitle("Priority - balance (0)");
    else if (n > 0)
        PriorityGroup->setTitle(QString("Priority - colors (%1)").arg(n));
    else
        PriorityGroup->setTitle(QString("Priority - gradients (%1)").arg(n));
    if (MainForm()) MainForm()->PriorityChange(n);
}

void TForm5::TrackBar3Change(int n) { ThresholdGroup->setTitle(QString("Threshold for rare colors - %1").arg(n)); }

void TForm5::RadioGroup1Click() {
    ComboBox1->setEnabled(DitherButtons->checkedId() > 6);
    if (state_.HasImage() && !state_.BatchQuantize && MainForm()) MainForm()->Remap();
}

void TForm5::DitherBarChange(int n) {
    DitherGroup->setTitle(QString("Dither amount - %1%").arg(n));
    state_.DitherAmount = static_cast<float>(n) / 100.0f;
    // A click on the groove or a key moves the bar without a drag: the image follows at once, so
    // what is saved is what the caption says. A drag remaps once, on release.
    if (!DitherBar->isSliderDown()) DitherBarMouseUp();
}

void TForm5::DitherBarMouseUp() {
    if (state_.HasImage() && !state_.BatchQuantize && MainForm()) MainForm()->Remap();
}

void TForm5::ComboBox2Change(int) { ShowErrorMetrics(); }

void TForm5::ShowErrorMetrics() {
    if (!state_.HasImage()) return;
    // On a split view's "Opaque" and "Translucent" tabs only the pixels of that part count.
    const QTabBar* tabs = MainForm() ? MainForm()->AlphaCommands().FileTabs() : nullptr;
    const int tab = tabs && tabs->count() > 0 ? tabs->currentIndex() : 0;
    const auto t = ErrorMetricTexts(state_, static_cast<TErrorMetric>(ComboBox2->currentIndex()), tab);
    Label5->setText(t[0]);
    Label6->setText(t[1]);
    Label7->setText(t[2]);
    Label8->setText(t[3]);
}

void TForm5::FRGBClick(bool checked) {
    // The options' "Forced RGB" is what the PNG chain reads.
    if (MainForm()) MainForm()->Options().forcedRgb = checked;
}

void TForm5::SpeedButton1Click() {
    TrackBar1->setValue(50);
    TrackBar2->setValue(0);
    TrackBar3->setValue(4);
    MixColors->setChecked(false);
    if (ColorSpace->currentIndex() != 0 || ComboBoxEx1->currentIndex() != 0) state_.ReconvertPending = true;
    ColorSpace->setCurrentIndex(0);
    ComboBoxEx1->setCurrentIndex(0);
    backgroundBeforeDropDown_ = 0;
    ComboBoxEx1Change(0);
    UpDown1->setValue(3);
    state_.LumaShift = 3;
    Button2Click();
}

void TForm5::FormClose() {
    if (MainForm() && MainForm()->QuantizerSettingsButton()) MainForm()->QuantizerSettingsButton()->setChecked(false);
}

void TForm5::showEvent(QShowEvent* e) {
    const bool batch = state_.BatchQuantize;
    CAlpha->setVisible(batch);
    FRGB->setVisible(batch);
    Info->setVisible(!batch);
    DitherBar->setValue(static_cast<int>(std::nearbyint(state_.DitherAmount * 100.0)));
    TPointerform::showEvent(e);
}

void TForm5::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Alt && !altRepaintDone_) {
        altRepaintDone_ = true;
        QTimer::singleShot(0, this, [this] { update(); });
    }
    TPointerform::keyPressEvent(e);  // Esc closes by the dialog's one close road
}

}  // namespace jx
