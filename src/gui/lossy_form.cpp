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
#include "gui/status_panels.h"
#include "gui/slider.h"
#include "imaging/observer.h"
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

TLossyForm::TLossyForm(TJXMainForm* owner) : TPointerform(owner, "Lossy", kFades | kLocksMainWindow) {
    setObjectName("LossyForm");
    // The matte starts white with the engine state; the dialog is made at its first use, by when
    // the user may have chosen a background colour that it must not take back.
    auto* v = new QVBoxLayout(this);
    pages_ = new QTabWidget;
    pages_->tabBar()->hide();
    v->addWidget(pages_);

    // JPEG page
    auto* jpeg = new QWidget;
    auto* jg = new QGridLayout(jpeg);
    jpegQuality_ = Bar(100, 75);
    jpegQualityGroup_ = Holding("Quality - 75", jpegQuality_);
    cs_ = RadioGroup("Space", {"RGB", "YUV"}, csItems_);
    chroma_ = RadioGroup("Chroma quality", {"Frequency", "Spatial"}, chromaItems_);
    ss_ = RadioGroup("Subsampling", {"4:4:4", "4:2:2", "4:2:0"}, ssItems_);
    chromaBar_ = Bar(75, 37);
    chromaQ_ = Holding("Quality - 37", chromaBar_);
    progressive_ = new QCheckBox("Progressive");
    quantTable_ = new QComboBox;
    quantTable_->addItems({"JPEG Annex K", "Flat", "Custom, tuned for MS-SSIM", "ImageMagick table by N. Robidoux",
                           "Custom, tuned for PSNR-HVS", "Table from paper by Klein, Silverstein and Carney"});
    // Pairs the installed cjpeg cannot be given stay in the list, disabled.
    if (auto* m = qobject_cast<QStandardItemModel*>(quantTable_->model()))
        for (int i = 0; i < quantTable_->count(); ++i) m->item(i)->setEnabled(QuantTableAvailable(uint8_t(i)));
    matteButton_ = new QPushButton("Matte");
    matteButton_->setObjectName("MatteButton");
    jpegSize_ = new QLabel(" -");
    jg->addWidget(jpegQualityGroup_, 0, 0, 1, 2);
    jg->addWidget(cs_, 1, 0);
    jg->addWidget(chroma_, 1, 1);
    jg->addWidget(ss_, 2, 0, 1, 2);
    jg->addWidget(chromaQ_, 2, 0, 1, 2);  // in place of the subsampling group
    jg->addWidget(progressive_, 3, 0);
    jg->addWidget(matteButton_, 3, 1);
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
    webpQualityGroup_ = Holding("Quality - 75", webpQuality_);
    alphaQualityGroup_ = Holding("Alpha quality - 100", alphaQuality_);
    webpSize_ = new QLabel(" -");
    wv->addWidget(webpQualityGroup_);
    wv->addWidget(alphaQualityGroup_);
    wv->addWidget(Holding("Size", webpSize_));
    pages_->addTab(webp, "WEBP");
    pages_->addTab(new QWidget, "BPG");

    auto* buttons = new QHBoxLayout;
    saveButton_ = new QPushButton("Save");
    defaultQualityButton_ = new QPushButton("Def.Quality");
    cancelButton_ = new QPushButton("Cancel");
    buttons->addWidget(saveButton_);
    buttons->addWidget(defaultQualityButton_);
    buttons->addWidget(cancelButton_);
    v->addLayout(buttons);

    connect(saveButton_, &QPushButton::clicked, this, &TLossyForm::SaveClick);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { close(); });
    connect(defaultQualityButton_, &QPushButton::clicked, this, &TLossyForm::DefaultQualityClick);
    connect(matteButton_, &QPushButton::clicked, this, &TLossyForm::MatteClick);
    for (auto* group : {&csItems_, &chromaItems_, &ssItems_})
        for (QRadioButton* b : *group)
            connect(b, &QRadioButton::clicked, this, &TLossyForm::SettingChange);
    connect(progressive_, &QCheckBox::clicked, this, &TLossyForm::SettingChange);
    connect(quantTable_, &QComboBox::activated, this, &TLossyForm::SettingChange);
    connect(webpPreset_, &QComboBox::activated, this, &TLossyForm::SettingChange);
    SetDefaults();
    // Sized here, not left to a window manager: without one it would open squashed.
    resize(sizeHint());
}

QSlider* TLossyForm::Bar(int max, int value) {
    QSlider* s = MakeSlider(1, max, value);
    s->installEventFilter(this);
    connect(s, &QSlider::valueChanged, this, [this, s] { UpdateCaptions(s); });
    connect(s, &QSlider::sliderReleased, this, &TLossyForm::RenderPreview);
    return s;
}

bool TLossyForm::eventFilter(QObject* o, QEvent* e) {
    if (e->type() == QEvent::KeyRelease && qobject_cast<QSlider*>(o)) {
        const int k = static_cast<QKeyEvent*>(e)->key();
        if (k != Qt::Key_Escape && !static_cast<QKeyEvent*>(e)->isAutoRepeat()) RenderPreview();
    }
    return TPointerform::eventFilter(o, e);
}

void TLossyForm::UpdateCaptions(QSlider* changed) {
    if (changed == chromaBar_) {
        chromaQ_->setTitle("Quality - " + QString::number(chromaBar_->value()));
        return;
    }
    jpegQualityGroup_->setTitle("Quality - " + QString::number(jpegQuality_->value()));
    webpQualityGroup_->setTitle("Quality - " + QString::number(webpQuality_->value()));
    alphaQualityGroup_->setTitle("Alpha quality - " + QString::number(alphaQuality_->value()));
    TLossySettings follow;
    FollowJpegQuality(follow, jpegQuality_->value());
    chromaBar_->setMaximum(follow.JpegQuality);
    chromaBar_->setValue(follow.ChromaQuality);
}

void TLossyForm::SetDefaults() {
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
    progressive_->setChecked(true);
    quantTable_->setCurrentIndex(3);
    ss_->setVisible(true);
    chromaQ_->setVisible(false);
}

int TLossyForm::Checked(const std::vector<QRadioButton*>& group) {
    for (size_t i = 0; i < group.size(); ++i)
        if (group[i]->isChecked()) return static_cast<int>(i);
    return 0;
}

TLossySettings TLossyForm::Settings() const {
    TLossySettings s;
    s.JpegQuality = jpegQuality_->value();
    s.ChromaQuality = chromaBar_->value();
    s.Space = Checked(csItems_);
    s.Chroma = Checked(chromaItems_);
    s.Subsampling = Checked(ssItems_);
    s.Progressive = progressive_->isChecked();
    s.QuantTable = quantTable_->currentIndex();
    s.Preset = webpPreset_->currentText().toStdString();
    s.WebpQuality = webpQuality_->value();
    s.AlphaQuality = alphaQuality_->value();
    return s;
}

QString TLossyForm::SizeText() const { return (tag_ == 1 ? webpSize_ : jpegSize_)->text(); }

void TLossyForm::ShowFor(int tag, const QString& destination) {
    if (isVisible()) close();
    tag_ = tag == 1 ? 1 : 0;
    destination_ = destination;
    replaceChosen_ = QFileInfo::exists(destination);
    show();
    raise();
    activateWindow();
}

void TLossyForm::showEvent(QShowEvent* e) {
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

void TLossyForm::RecolourMatte() {
    const int32_t c = MainForm()->State().BackgroundColor;
    const QColor colour(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    matteButton_->setStyleSheet(QString("background-color: %1; color: %2").arg(colour.name(), (c & 0xFFFFFF) > 8421503 ? "black" : "white"));
}

void TLossyForm::SettingChange() {
    const bool yuv = Checked(csItems_) == 1 && !MainForm()->State().IsGrey;
    const bool spatial = Checked(chromaItems_) == 1;
    chroma_->setEnabled(yuv);
    ss_->setEnabled(yuv && spatial);
    chromaQ_->setEnabled(yuv);
    ss_->setVisible(spatial);
    chromaQ_->setVisible(!spatial);
    RenderPreview();
}

void TLossyForm::SetControlsEnabled(bool enabled) {
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

void TLossyForm::RenderPreview() {
    if (rendering_ || !isVisible() || testFile_.empty()) return;
    TJXMainForm* main = MainForm();
    if (!main->State().HasImage()) return;
    rendering_ = true;
    SetControlsEnabled(false);
    main->Cancel().Clear();  // a cancel left from before must not stop this render
    QLabel* size = tag_ == 1 ? webpSize_ : jpegSize_;
    TLossyJob job;
    job.Webp = tag_ == 1;
    job.SessionFolder = main->SessionPath();
    job.TestFile = testFile_;
    job.Cancel = &main->Cancel();
    job.Pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
    try {
        const BusyGuard busy(main->Reports());
        const int32_t n = RenderLossy(main->State(), Settings(), job);
        size->setText(" " + QString::number(n) + " bytes");
    } catch (const std::exception& e) {
        size->setText(" " + QString::fromStdString(e.what()));
    }
    rendering_ = false;
    SetControlsEnabled(true);
    main->RenderImageView();
    if (closeAfterRender_) {
        closeAfterRender_ = false;
        close();
    }
}

void TLossyForm::DefaultQualityClick() {
    SetDefaults();
    SettingChange();
}

void TLossyForm::MatteClick() {
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

void TLossyForm::SaveClick() {
    TJXMainForm* main = MainForm();
    const QString format = tag_ == 1 ? "webp" : "jpg";
    // "No" keeps the dialog and its settings: the file in the way may still be moved aside.
    if (!replaceChosen_ && !ConfirmReplace(this, windowTitle(), destination_)) return;
    if (main->Guard([&] { SaveLossyTestFile(testFile_, destination_.toStdString()); })) {
        // The size label starts with its own blank.
        main->StatusPanels().SetText(4, "Write (" + format + "):" + SizeText());
        main->Reports().InfoLine(format.toStdString() + ":" + SizeText().toStdString());
    } else {
        main->StatusPanels().SetText(4, "Error...");
    }
    close();
}

void TLossyForm::done(int result) {
    if (rendering_) {
        // Esc or Cancel during a render: stop the encoder, close once the render has returned.
        closeAfterRender_ = true;
        MainForm()->Cancel().Request();
        return;
    }
    TPointerform::done(result);
}

void TLossyForm::closeEvent(QCloseEvent* e) {
    if (rendering_) {
        done(QDialog::Rejected);
        e->ignore();
        return;
    }
    TPointerform::closeEvent(e);
}

void TLossyForm::FormClose() {
    if (!shown_) return;
    shown_ = false;
    TJXMainForm* main = MainForm();
    std::error_code ec;
    if (!testFile_.empty()) std::filesystem::remove(testFile_, ec);
    EngineState& st = main->State();
    if (tag_ == 0) st.BackgroundMode = savedBackground_;
    if (st.HasImage()) main->Guard([&] { Quantize(st, main->Settings(), main->Reports()); });
    main->RenderImageView();
}

}  // namespace jx
