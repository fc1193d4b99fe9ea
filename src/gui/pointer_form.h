#pragma once
#include <QDialog>
#include <QMargins>
#include <QRect>

class QTimer;

namespace jx {

class TJXMainForm;

// Base of the tool dialogs: owned by the main window (so it stays above it), closes on Esc by the
// same road as its close button, optionally fades to 224/255 while it lies wholly over the main
// window, and optionally locks the main window while it is open.
class TPointerform : public QDialog {
    Q_OBJECT
public:
    enum Trait { kPlain = 0, kFades = 1, kLocksMainWindow = 2 };
    static constexpr int kFadedAlpha = 224;

    TPointerform(TJXMainForm* mainForm, const QString& caption, int traits);

    // Where a dialog placed at wanted goes so that it lies on the screen's available area: moved
    // in by as little as it takes, its top left kept on the screen when it is larger.
    static QPoint OnScreen(const QRect& wanted, const QRect& available);

    // The window frame's thickness around w's client area; before w has a frame, taken to be as
    // thick as the reference window's.
    static QMargins FrameMargins(const QWidget* w, const QWidget* reference);

    // -1 (towards translucent) when dialog lies strictly inside main, else +1.
    static int FadeDirectionFor(const QRect& main, const QRect& dialog);

    int Alpha() const { return alpha_; }
    int Direction() const { return direction_; }
    QTimer* FadeTimer() const { return fadeTimer_; }

    // One fade step, as the 10 ms timer does.
    void FadeStep();
    // Decides the direction from the main window's placement and starts the timer.
    void StartFade();

    void done(int result) override;  // the one close road: Esc, close button, OK and Cancel

protected:
    // Runs when the dialog closes by any road.
    virtual void FormClose() {}

    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void changeEvent(QEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

    TJXMainForm* MainForm() const { return main_; }

private:
    void ReleaseLock();

    TJXMainForm* main_;
    int traits_;
    QTimer* fadeTimer_;
    int alpha_ = kFadedAlpha;
    int direction_ = 1;
    bool holdsLock_ = false;
    bool closing_ = false;
};

}  // namespace jx
