#pragma once
// Screen and window capture behind the four global hot keys: grabs, writes "ScreenShot.bmp" or
// "WindowShot.bmp" into the session folder and opens it as the current image.
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

#include "gui/x11_display.h"
#include "platform/settings.h"

namespace jx {

class TJXMainForm;

enum TCaptureKind : int {
    ckFullScreen = 0,        // "PrntScr"
    ckActiveWindow = 1,      // "Alt+PrntScr"
    ckWindowAlpha = 2,       // "Ctrl+PrntScr"
    ckWindowAlphaFixed = 3,  // "Ctrl+Shift+PrntScr", not configurable
};

class TScreenCapture : public QObject {
    Q_OBJECT
public:
    explicit TScreenCapture(TJXMainForm& form);
    ~TScreenCapture() override;

    // False where the session has no X11: capture is off then.
    bool Available() const { return display_ != nullptr; }
    TX11Display* Display() const { return display_.get(); }

    // The four keys from the options (a user key replaces its fixed one); a key another program
    // holds is left out and named in Problems().
    void RegisterCaptureHotKeys();
    void UnregisterCaptureHotKeys();
    bool Registered() const { return display_ && display_->HasGrabs(); }
    // What the last registration could not do, for the Options dialog; empty when all went well.
    QString Problems() const { return problems_; }
    // The same for keys as `options` now name them: a key the user has since replaced is no
    // longer reported.
    QString ProblemsFor(const JxOptions& options) const;

    // The rows' keys as the options give them: Qt key and modifiers, or nothing for no key.
    static std::vector<TX11Display::THotKey> HotKeysFor(const JxOptions& options);

    // The hot key's work. Refused silently while the main window is locked (a tool dialog, the
    // batch window), a child tool runs, or a modal dialog is open. Failures reach a message box.
    void CaptureScreen(int kind);

private:
    void DoCapture(int kind);

    TJXMainForm& form_;
    std::unique_ptr<TX11Display> display_;
    QString problems_;
    QStringList failed_;  // the names of the keys the last registration could not have
    bool capturing_ = false;
};

}  // namespace jx
