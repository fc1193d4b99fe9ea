#pragma once
// SIGTERM, SIGINT and SIGHUP end the window program in whatever state it is: the work in hand is
// cancelled, open message boxes, modal dialogs and menus are closed, and then the program's
// window closes the ordinary way (its close removes the session folder and writes the settings).
#include <QObject>
#include <QTimer>
#include <functional>

class QSocketNotifier;
class QWidget;

namespace jx {

class TTerminationSignals : public QObject {
public:
    // `window` is the window whose close ends the program (the main window, or the batch window
    // in batch mode); `cancel` stops a running child tool or pass. A SIGHUP ignored at start
    // (nohup) stays ignored. One instance at a time.
    TTerminationSignals(QWidget* window, std::function<void()> cancel);
    ~TTerminationSignals() override;
    TTerminationSignals(const TTerminationSignals&) = delete;
    TTerminationSignals& operator=(const TTerminationSignals&) = delete;

    // A signal came and the window has closed: no event loop is to be started any more.
    bool Ended() const { return ended_; }

private:
    void Arrived();
    void Step();

    QWidget* window_;
    std::function<void()> cancel_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer retry_;
    bool ended_ = false;
};

}  // namespace jx
