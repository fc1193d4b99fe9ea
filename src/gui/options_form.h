#pragma once
#include <functional>

#include "gui/pointer_form.h"
#include "platform/settings.h"

class QCheckBox;
class QGroupBox;
class QKeySequenceEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace jx {

class TScreenCapture;

// "Options": PNG optimisation and screen capture. Its controls edit the options struct at once
// (Esc keeps every edit); only the hot-key registration waits for "OK" or the "Enable" box.
class TOptionsForm : public TPointerform {
    Q_OBJECT
public:
    // capture may be null (no capture at all).
    TOptionsForm(TJXMainForm* mainForm, JxOptions& options, TScreenCapture* capture);

    // Checks an "Iter" text: a whole number from 1 to 1000. Empty when it is good, else the message.
    static QString IterProblem(const QString& text);
    // Checks a chosen script: an executable file or a ".sh" file. Empty when it is good.
    static QString ScriptProblem(const QString& path);

    // Handlers named after their controls.
    void FormShow();
    void PrtScClick(bool checked);
    void HotKeyChange(int row);
    void ChooseScriptClick();
    void OkClick();
    // Keeps the text in the options when it is a good number, else shows why not.
    void IterChange(const QString& text);

    // The file browser; tests replace it. Returns the chosen path or empty.
    std::function<QString()> BrowseScript;

    QTabWidget* Pages = nullptr;
    QLineEdit* Iter = nullptr;
    QLabel* IterMessage = nullptr;
    QLineEdit* OwnStr = nullptr;
    QToolButton* ChooseScriptButton = nullptr;
    QCheckBox* ShowConsole = nullptr;
    QCheckBox* PrtSc = nullptr;
    QCheckBox* CaptureCursor = nullptr;
    QCheckBox* ClearType = nullptr;
    QGroupBox* BtnGroup = nullptr;
    QKeySequenceEdit* HotKey[3] = {};
    QLineEdit* FixedKey[3] = {};  // "PrtSc", "Alt + PrtSc", "Ctrl + PrtSc"
    QLabel* CaptureMessage = nullptr;
    QPushButton* OkButton = nullptr;

protected:
    void showEvent(QShowEvent* e) override;

private:
    // The constructor's stages.
    QWidget* BuildPngPage();
    QWidget* BuildCapturePage();
    void ConnectHandlers();

    void UpdateCaptureControls();
    void UpdateFixedKeyEdit(int row);
    std::string* HotKeyText(int row);

    JxOptions& options_;
    TScreenCapture* capture_;
    bool loading_ = false;
};

}  // namespace jx
