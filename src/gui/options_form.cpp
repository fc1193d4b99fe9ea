#include "gui/options_form.h"
#include "gui/glyphs.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <unistd.h>

#include "fileio/tool_commands.h"
#include "gui/main_form.h"
#include "gui/screen_capture.h"

namespace jx {

TOptionsForm::TOptionsForm(TJXMainForm* mainForm, JxOptions& options, TScreenCapture* capture)
    : TPointerform(mainForm, "Options", kPlain), options_(options), capture_(capture) {
    setObjectName("OptionsForm");
    auto* top = new QVBoxLayout(this);
    Pages = new QTabWidget;
    top->addWidget(Pages);

    Pages->addTab(BuildPngPage(), "PNG");
    Pages->addTab(BuildCapturePage(), "Screen capture");

    OkButton = new QPushButton("OK");
    OkButton->setObjectName("OkButton");
    OkButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OkButton);
    top->addLayout(buttons);

    BrowseScript = [this] {
        return QFileDialog::getOpenFileName(this, "Script", QFileInfo(OwnStr->text()).path(),
                                            "Scripts (*.sh);;All files (*)");
    };

    ConnectHandlers();
}

QWidget* TOptionsForm::BuildPngPage() {
    auto* png = new QWidget;
    auto* pv = new QVBoxLayout(png);
    auto* slowGroup = new QGroupBox("Very slow");
    auto* slowLayout = new QVBoxLayout(slowGroup);
    auto* iterHelp = new QLabel(
        "Define an additional number of iterations for the zopfli compressor. More iterations usually give a "
        "better compression, but may require a lot more time. Try for example with 10, 15, 20, and so on.");
    iterHelp->setWordWrap(true);
    Iter = new QLineEdit;
    Iter->setObjectName("Iter");
    Iter->setMaxLength(12);
    IterMessage = new QLabel;
    IterMessage->setObjectName("IterMessage");
    IterMessage->setWordWrap(true);
    IterMessage->setVisible(false);
    slowLayout->addWidget(iterHelp);
    slowLayout->addWidget(Iter);
    slowLayout->addWidget(IterMessage);
    auto* scriptGroup = new QGroupBox("External script");
    auto* scriptLayout = new QVBoxLayout(scriptGroup);
    scriptLayout->addWidget(new QLabel("Specify the path to your script:"));
    auto* scriptRow = new QHBoxLayout;
    OwnStr = new QLineEdit;
    OwnStr->setObjectName("OwnStr");
    ChooseScriptButton = new QToolButton;
    ChooseScriptButton->setObjectName("ChooseScriptButton");
    ChooseScriptButton->setText("...");
    ChooseScriptButton->setAutoRaise(true);
    SetGlyph(ChooseScriptButton, gFolder);
    scriptRow->addWidget(OwnStr, 1);
    scriptRow->addWidget(ChooseScriptButton);
    scriptLayout->addLayout(scriptRow);
    ShowConsole = new QCheckBox("Show console");
    ShowConsole->setObjectName("ShowConsole");
    scriptLayout->addWidget(ShowConsole);
    pv->addWidget(slowGroup);
    pv->addWidget(scriptGroup);
    pv->addStretch(1);
    return png;
}

QWidget* TOptionsForm::BuildCapturePage() {
    auto* cap = new QWidget;
    auto* cv = new QVBoxLayout(cap);
    PrtSc = new QCheckBox("Enable");
    PrtSc->setObjectName("PrtSc");
    CaptureCursor = new QCheckBox("Capture cursor");
    CaptureCursor->setObjectName("CaptureCursor");
    ClearType = new QCheckBox("Disable ClearType");
    ClearType->setObjectName("ClearType");
    ClearType->setToolTip("Not available on X11");
    cv->addWidget(PrtSc);
    cv->addWidget(CaptureCursor);
    cv->addWidget(ClearType);
    BtnGroup = new QGroupBox("Hotkeys");
    auto* grid = new QGridLayout(BtnGroup);
    const char* labels[3] = {"Full screen: ", "Active window:", "Active window with alpha:"};
    const char* fixed[3] = {"PrtSc", "Alt + PrtSc", "Ctrl + PrtSc"};
    const char* fixedNames[3] = {"SelfPrtSc", "AltPrtSc", "CtrlPrtSc"};
    for (int i = 0; i < 3; ++i) {
        HotKey[i] = new QKeySequenceEdit;
        HotKey[i]->setObjectName(QString("HotKey%1").arg(i + 1));
        HotKey[i]->setClearButtonEnabled(true);
        FixedKey[i] = new QLineEdit(fixed[i]);
        FixedKey[i]->setObjectName(fixedNames[i]);
        FixedKey[i]->setReadOnly(true);
        grid->addWidget(new QLabel(labels[i]), i, 0);
        grid->addWidget(HotKey[i], i, 1);
        grid->addWidget(new QLabel("<-->"), i, 2);
        grid->addWidget(FixedKey[i], i, 3);
        connect(HotKey[i], &QKeySequenceEdit::keySequenceChanged, this, [this, i] { HotKeyChange(i); });
    }
    cv->addWidget(BtnGroup);
    CaptureMessage = new QLabel;
    CaptureMessage->setObjectName("CaptureMessage");
    CaptureMessage->setWordWrap(true);
    cv->addWidget(CaptureMessage);
    cv->addStretch(1);
    return cap;
}

void TOptionsForm::ConnectHandlers() {
    connect(Iter, &QLineEdit::textChanged, this, &TOptionsForm::IterChange);
    connect(OwnStr, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (!loading_) options_.own = t.toStdString();
    });
    connect(ShowConsole, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_) options_.showConsole = on;
    });
    connect(PrtSc, &QCheckBox::clicked, this, &TOptionsForm::PrtScClick);
    connect(CaptureCursor, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_) options_.captureCursor = on;
    });
    connect(ClearType, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_) options_.disableClearType = on;
    });
    connect(ChooseScriptButton, &QToolButton::clicked, this, &TOptionsForm::ChooseScriptClick);
    connect(OkButton, &QPushButton::clicked, this, &TOptionsForm::OkClick);
}

QString TOptionsForm::IterProblem(const QString& text) {
    try {
        ParseIterations(text.toStdString());
        return {};
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    }
}

QString TOptionsForm::ScriptProblem(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile()) return "\"" + path + "\" is not a file.";
    if (path.endsWith(".sh") || ::access(QFile::encodeName(path).constData(), X_OK) == 0) return {};
    return "\"" + path + "\" is neither an executable file nor a \".sh\" script.";
}

std::string* TOptionsForm::HotKeyText(int row) {
    std::string* texts[3] = {&options_.hotKey1, &options_.hotKey2, &options_.hotKey3};
    return texts[row];
}

void TOptionsForm::showEvent(QShowEvent* e) {
    FormShow();
    TPointerform::showEvent(e);
}

void TOptionsForm::FormShow() {
    // Every stored value is shown as it is; showing the dialog changes none of them.
    loading_ = true;
    Iter->setText(QString::fromStdString(options_.iter));
    OwnStr->setText(QString::fromStdString(options_.own));
    ShowConsole->setChecked(options_.showConsole);
    PrtSc->setChecked(options_.prtSc);
    CaptureCursor->setChecked(options_.captureCursor);
    ClearType->setChecked(options_.disableClearType);
    for (int i = 0; i < 3; ++i)
        HotKey[i]->setKeySequence(QKeySequence::fromString(QString::fromStdString(*HotKeyText(i)),
                                                           QKeySequence::PortableText));
    loading_ = false;
    IterChange(Iter->text());
    UpdateCaptureControls();
}

void TOptionsForm::UpdateCaptureControls() {
    const bool available = capture_ && capture_->Available();
    const bool on = available && PrtSc->isChecked();
    PrtSc->setEnabled(available);
    CaptureCursor->setEnabled(on);
    ClearType->setEnabled(false);  // font smoothing is the desktop's business on X11
    BtnGroup->setEnabled(on);
    for (int i = 0; i < 3; ++i) UpdateFixedKeyEdit(i);
    QString message;
    if (!available)
        message = "Screen capture needs an X11 session; it is switched off here.";
    else if (on)
        message = capture_->ProblemsFor(options_);
    CaptureMessage->setText(message);
    CaptureMessage->setVisible(!message.isEmpty());
}

void TOptionsForm::UpdateFixedKeyEdit(int row) { FixedKey[row]->setEnabled(HotKey[row]->keySequence().isEmpty()); }

void TOptionsForm::HotKeyChange(int row) {
    QKeySequence seq = HotKey[row]->keySequence();
    if (seq.count() > 1) {
        // A hot key is one chord: keep the first.
        seq = QKeySequence(seq[0]);
        HotKey[row]->setKeySequence(seq);
        return;  // the change signal comes again
    }
    if (!loading_) *HotKeyText(row) = seq.isEmpty() ? std::string() : seq.toString(QKeySequence::PortableText).toStdString();
    if (loading_)
        UpdateFixedKeyEdit(row);
    else
        UpdateCaptureControls();  // a replaced key drops out of the message
}

void TOptionsForm::IterChange(const QString& text) {
    const QString problem = IterProblem(text);
    IterMessage->setText(problem);
    IterMessage->setVisible(!problem.isEmpty());
    if (problem.isEmpty() && !loading_) options_.iter = text.trimmed().toStdString();
}

void TOptionsForm::PrtScClick(bool checked) {
    options_.prtSc = checked;
    if (capture_) {
        if (checked)
            capture_->RegisterCaptureHotKeys();
        else
            capture_->UnregisterCaptureHotKeys();
    }
    UpdateCaptureControls();
}

void TOptionsForm::ChooseScriptClick() {
    const QString file = BrowseScript ? BrowseScript() : QString();
    if (file.isEmpty()) return;
    const QString problem = ScriptProblem(file);
    if (!problem.isEmpty()) {
        if (MainForm()) MainForm()->ShowMessage(problem);
        return;
    }
    OwnStr->setText(QFileInfo(file).absoluteFilePath());
}

void TOptionsForm::OkClick() {
    const QString problem = IterProblem(Iter->text());
    if (!problem.isEmpty()) {
        Pages->setCurrentIndex(0);
        Iter->setFocus();
        if (MainForm()) MainForm()->ShowMessage(problem);
        return;
    }
    if (options_.prtSc && capture_) {
        // So that changed keys take effect.
        capture_->UnregisterCaptureHotKeys();
        capture_->RegisterCaptureHotKeys();
        // A key another program holds is shown once before the dialog goes.
        const QString problems = capture_->Problems();
        if (!problems.isEmpty() && CaptureMessage->text() != problems) {
            UpdateCaptureControls();
            Pages->setCurrentIndex(1);
            return;
        }
    }
    accept();
}

}  // namespace jx
