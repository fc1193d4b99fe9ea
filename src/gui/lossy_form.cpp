#include "gui/lossy_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "fileio/tool_commands.h"
#include "gui/color_dlg.h"
#include "gui/main_form.h"
#include "gui/save_question.h"
#include "imaging/quantize.h"

namespace jx {
namespace {

QGroupBox* RadioGroup(const QString& caption, const QStringList& items, std::vector<QRadioButton*>& out) {
    auto* g = new QGroupBox(caption);
    auto* v = new QVBoxLayout(g);
    for (const QString& t : items) {
        out.push_back(new QRadioButton(t));
        v->addWidget(out.back());
    }
    return g;
}

QGroupBox* Holding(const QString& caption, QWidget* w) {
    auto* g = new QGroupBox(caption);
    (new QVBoxLayout(g))->addWidget(w);
    return g;
}

}  // namespace

TForm7::TForm7(TJXMainForm* owner) : TPointerform(owner, "Lossy", kFades | kLocksMainWindow) {
    setObjectName("Form7");
    owner->State().BackgroundColor = 0xFFFFFF;
    auto* v = new QVBoxLayout(this);
    pages_ = new QTabWidget;
    pages_->tabBar()->hide();
    v->addWidget(pages_);

    // JPEG page
    auto* jpeg = new QWidget;
    auto* jg = new QGridLayout(jpeg);
    jpegQuality_ = Bar(100, 75);
    groupBox1_ = Holding("Quality - 75", jpegQuality_);
    cs_ = RadioGroup("Space", {"RGB", "YUV"}, csItems_);
    chroma_ = RadioGroup("Chroma quality", {"Frequency", "Spatial"}, chromaItems_);
    ss_ = RadioGroup("Subsampling", {"4:4:4", "4:2:2", "4:2:0"}, ssItems_);
    chromaBar_ = Bar(75, 37);
    chromaQ_ = Holding("Quality - 37", chromaBar_);
    checkBox1_ = new QCheckBox("Progressive");
    quantTable_ = new QComboBox;
    quantTable_->addItems({"JPEG Annex K", "Flat", "Custom, tuned for MS-SSIM", "ImageMagick table by N. Robidoux",
                           "Custom, tuned for PSNR-HVS", "Table from paper by Klein, Silverstein and Carney"});
    // Pairs the installed cjpeg cannot be given stay in the list, disabled.
    if (auto* m = qobject_cast<QStandardItemModel*>(quantTable_->model()))
        for (int i = 0; i < quantTable_->count(); ++i) m->item(i)->setEnabled(QuantTableAvailable(uint8_t(i)));
    panel1_ = new QPushButton("Matte");
    panel1_->setObjectName("Panel1");
    jpegSize_ = new QLabel(" -");
    jg->addWidget(groupBox1_, 0, 0, 1, 2);
    jg->addWidget(cs_, 1, 0);
    jg->addWidget(chroma_, 1, 1);
    jg->addWidget(ss_, 2, 0, 1, 2);
    jg->addWidget(chromaQ_, 2, 0, 1, 2);  // in place of the subsampling group
    jg->addWidget(checkBox1_, 3, 0);
    jg->addWidget(panel1_, 3, 1);
    jg->addWidget(quantTable_, 4, 0, 1, 2);
    jg->addWidget(Holding("Size", jpegSize_), 5, 0, 1, 2);
    pages_->addTab(jpeg, "JPEG");

    // WebP page
    auto* webp = new QWidget;
    auto* wv = new QVBoxLayout(webp);
    webpPreset_ = new QComboBox;
    webpPreset_->addItems({"default", "photo", "picture", "drawing", "icon", "text"});
    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(new QLabel("Preset:"));
    presetRow->addWidget(webpPreset_, 1);
    wv->addLayout(presetRow);
    webpQuality_ = Bar(100, 75);
    alphaQuality_ = Bar(100, 100);
    groupBox2_ = Holding("Quality - 75", webpQuality_);
    groupBox3_ = Holding("Alpha quality - 100", alphaQuality_);
    webpSize_ = new QLabel(" -");
    wv->addWidget(groupBox2_);
    wv->addWidget(groupBox3_);
    wv->addWidget(Holding("Size", webpSize_));
    pages_->addTab(webp, "WEBP");
    pages_->addTab(new QWidget, "BPG");

    auto* buttons = new QHBoxLayout;
    button1_ = new QPushButton("Save");
    button3_ = new QPushButton("Def.Quality");
    button2_ = new QPushButton("Cancel");
    buttons->addWidget(button1_);
    buttons->addWidget(button3_);
    buttons->addWidget(button2_);
    v->addLayout(buttons);

    connect(button1_, &QPushButton::clicked, this, &TForm7::Button1Click);
    connect(button2_, &QPushButton::clicked, this, [this] { close(); });
    connect(button3_, &QPushButton::clicked, this, &TForm7::Button3Click);
    connect(panel1_, &QPushButton::clicked, this, &TForm7::Panel1Click);
    for (auto* group : {&csItems_, &chromaItems_, &ssItems_})
        for (QRadioButton* b : *group)
            connect(b, &QRadioButton::clicked, this, &TForm7::CheckBox1Click);
    connect(checkBox1_, &QCheckBox::clicked, this, &TForm7::CheckBox1Click);
    connect(quantTable_, &QComboBox::activated, this, &TForm7::CheckBox1Click);
    connect(webpPreset_, &QComboBox::activated, this, &TForm7::CheckBox1Click);
    SetDefaults();
    // Sized here, not left to a window manager: without one it would open squashed.
    resize(sizeHint());
}

QSlider* TForm7::Bar(int max, int value) {
    auto* s = new QSlider(Qt::Horizontal);
    s->setRange(1, max);
    s->setValue(value);
    s->setTickPosition(QSlider::NoTicks);
    s->installEventFilter(this);
    connect(s, &QSlider::valueChanged, this, [this, s] { UpdateCaptions(s); });
    connect(s, &QSlider::sliderReleased, this, &TForm7::RenderPreview);
    return s;
}

bool TForm7::eventFilter(QObject* o, QEvent* e) {
    if (e->type() == QEvent::KeyRelease && qobject_cast<QSlider*>(o)) {
        const int k = static_cast<QKeyEvent*>(e)->key();
        if (k != Qt::Key_Escape && !static_cast<QKeyEvent*>(e)->isAutoRepeat()) RenderPreview();
    }
    return TPointerform::eventFilter(o, e);
}

void TForm7::UpdateCaptions(QSlider* changed) {
    if (changed == chromaBar_) {
        chromaQ_->setTitle("Quality - " + QString::number(chromaBar_->value()));
        return;
    }
    groupBox1_->setTitle("Quality - " + QString::number(jpegQuality_->value()));
    groupBox2_->setTitle("Quality - " + QString::number(webpQuality_->value()));
    groupBox3_->setTitle("Alpha quality - " + QString::number(alphaQuality_->value()));
    chromaBar_->setMaximum(jpegQuality_->value());
    chromaBar_->setValue(jpegQuality_->value() / 2);
}

void TForm7::SetDefaults() {
    jpegQuality_->setValue(75);
    chromaBar_->setRange(1, 75);
    chromaBar_->setValue(37);
    webpQuality_->setValue(75);
    alphaQuality_->setValue(100);
    UpdateCaptions(jpegQuality_);
    UpdateCaptions(chromaBar_);
    csItems_[1]->setChecked(true);
    ssItems_[2]->setChecked(true);
    chromaItems_[1]->setChecked(true);
    checkBox1_->setChecked(true);
    quantTable_->setCurrentIndex(3);
    ss_->setVisible(true);
    chromaQ_->setVisible(false);
}

int TForm7::Checked(const std::vector<QRadioButton*>& group) {
    for (size_t i = 0; i < group.size(); ++i)
        if (group[i]->isChecked()) return static_cast<int>(i);
    return 0;
}

TLossySettings TForm7::Settings() const {
    TLossySettings s;
    s.JpegQuality = jpegQuality_->value();
    s.ChromaQuality = chromaBar_->value();
    s.Space = Checked(csItems_);
    s.Chroma = Checked(chromaItems_);
    s.Subsampling = Checked(ssItems_);
    s.Progressive = checkBox1_->isChecked();
    s.QuantTable = quantTable_->currentIndex();
    s.Preset = webpPreset_->currentText().toStdString();
    s.WebpQuality = webpQuality_->value();
    s.AlphaQuality = alphaQuality_->value();
    return s;
}

QString TForm7::SizeText() const { return (tag_ == 1 ? webpSize_ : jpegSize_)->text(); }

void TForm7::ShowFor(int tag, const QString& destination) {
    if (isVisible()) close();
    tag_ = tag == 1 ? 1 : 0;
    destination_ = destination;
    replaceChosen_ = QFileInfo::exists(destination);
    show();
    raise();
    activateWindow();
}

void TForm7::showEvent(QShowEvent* e) {
    TPointerform::showEvent(e);
    if (shown_) return;
    shown_ = true;
    EngineState& st = MainForm()->State();
    pages_->setCurrentIndex(tag_);
    const bool grey = st.IsGrey;
    cs_->setEnabled(!grey);
    chroma_->setEnabled(!grey);
    ss_->setEnabled(!grey);
    if (tag_ == 0) {
        // The preview shows the picture over the matte.
        savedBackground_ = st.BackgroundMode;
        st.BackgroundMode = TBackgroundMode::Color;
    }
    RecolourMatte();
    testFile_ = LossyTestFile(MainForm()->SessionPath(), tag_ == 1);
    RenderPreview();
}

void TForm7::RecolourMatte() {
    const int32_t c = MainForm()->State().BackgroundColor;
    const QColor colour(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    panel1_->setStyleSheet(QString("background-color: %1; color: %2").arg(colour.name(), (c & 0xFFFFFF) > 8421503 ? "black" : "white"));
}

void TForm7::CheckBox1Click() {
    const bool yuv = Checked(csItems_) == 1 && !MainForm()->State().IsGrey;
    const bool spatial = Checked(chromaItems_) == 1;
    chroma_->setEnabled(yuv);
    ss_->setEnabled(yuv && spatial);
    chromaQ_->setEnabled(yuv);
    ss_->setVisible(spatial);
    chromaQ_->setVisible(!spatial);
    RenderPreview();
}

void TForm7::SetControlsEnabled(bool enabled) {
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w == cs_ || w == chroma_ || w == ss_ || w == chromaQ_) continue;
        if (qobject_cast<QGroupBox*>(w) || qobject_cast<QSlider*>(w) || qobject_cast<QPushButton*>(w) ||
            qobject_cast<QComboBox*>(w) || qobject_cast<QCheckBox*>(w))
            w->setEnabled(enabled);
    }
    if (!enabled) {
        cs_->setEnabled(false);
        chroma_->setEnabled(false);
        ss_->setEnabled(false);
        chromaQ_->setEnabled(false);
        return;
    }
    const bool grey = MainForm()->State().IsGrey;
    const bool yuv = Checked(csItems_) == 1 && !grey;
    cs_->setEnabled(!grey);
    chroma_->setEnabled(yuv);
    ss_->setEnabled(yuv && Checked(chromaItems_) == 1);
    chromaQ_->setEnabled(yuv);
}

void TForm7::RenderPreview() {
    if (rendering_ || !isVisible() || testFile_.empty()) return;
    TJXMainForm* main = MainForm();
    if (!main->State().HasImage()) return;
    rendering_ = true;
    SetControlsEnabled(false);
    main->ClearCancel();  // a cancel left from before must not stop this render
    QLabel* size = tag_ == 1 ? webpSize_ : jpegSize_;
    TLossyJob job;
    job.Webp = tag_ == 1;
    job.SessionFolder = main->SessionPath();
    job.TestFile = testFile_;
    job.Cancel = &main->Cancel();
    job.Pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
    main->BusyBegin();
    try {
        const int32_t n = RenderLossy(main->State(), Settings(), job);
        size->setText(" " + QString::number(n) + " bytes");
    } catch (const std::exception& e) {
        size->setText(" " + QString::fromStdString(e.what()));
    }
    main->BusyEnd();
    rendering_ = false;
    SetControlsEnabled(true);
    main->RenderImageView();
    if (closeAfterRender_) {
        closeAfterRender_ = false;
        close();
    }
}

void TForm7::Button3Click() {
    SetDefaults();
    CheckBox1Click();
}

void TForm7::Panel1Click() {
    EngineState& st = MainForm()->State();
    TColorDlgForm picker(MainForm(), st);
    TPixelRec start{};
    start.R = uint8_t(st.BackgroundColor);
    start.G = uint8_t(st.BackgroundColor >> 8);
    start.B = uint8_t(st.BackgroundColor >> 16);
    if (const std::optional<TPixelRec> c = picker.Pick(start)) st.BackgroundColor = c->R | c->G << 8 | c->B << 16;
    RecolourMatte();
    RenderPreview();
}

void TForm7::Button1Click() {
    TJXMainForm* main = MainForm();
    const QString format = tag_ == 1 ? "webp" : "jpg";
    // "No" keeps the dialog and its settings: the file in the way may still be moved aside.
    if (!replaceChosen_ && !ConfirmReplace(this, windowTitle(), destination_)) return;
    if (main->Guard([&] { SaveLossyTestFile(testFile_, destination_.toStdString()); })) {
        // The size label starts with its own blank.
        main->SetStatus(4, "Write (" + format + "):" + SizeText());
        main->InfoLine(format.toStdString() + ":" + SizeText().toStdString());
    } else {
        main->SetStatus(4, "Error...");
    }
    close();
}

void TForm7::done(int result) {
    if (rendering_) {
        // Esc or Cancel during a render: stop the encoder, close once the render has returned.
        closeAfterRender_ = true;
        MainForm()->Cancel().Request();
        return;
    }
    TPointerform::done(result);
}

void TForm7::closeEvent(QCloseEvent* e) {
    if (rendering_) {
        done(QDialog::Rejected);
        e->ignore();
        return;
    }
    TPointerform::closeEvent(e);
}

void TForm7::FormClose() {
    if (!shown_) return;
    shown_ = false;
    TJXMainForm* main = MainForm();
    std::error_code ec;
    if (!testFile_.empty()) std::filesystem::remove(testFile_, ec);
    EngineState& st = main->State();
    if (tag_ == 0) st.BackgroundMode = savedBackground_;
    if (st.HasImage()) main->Guard([&] { Quantize(st, main->Settings(), *main); });
    main->RenderImageView();
}

}  // namespace jx
