// SIGTERM, SIGINT and SIGHUP end the window program whatever is open, and a hang-up ignored at
// start stays ignored.
#include <gtest/gtest.h>

#include <QEventLoop>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <csignal>

#include "gui/termination_signals.h"
#include "gui_app.h"

namespace jx {
namespace {

sighandler_t HandlerOf(int sig) {
    struct sigaction now {};
    ::sigaction(sig, nullptr, &now);
    return now.sa_handler;
}

TEST(TerminationSignals, AHangUpIgnoredAtStartStaysIgnoredAndTheOthersAreRestoredAfter) {
    GuiApp();
    const sighandler_t hup = ::signal(SIGHUP, SIG_IGN);
    const sighandler_t interrupt = ::signal(SIGINT, SIG_IGN);  // as in a script's background job
    {
        QWidget window;
        TTerminationSignals endOnSignal(&window, {});
        EXPECT_EQ(HandlerOf(SIGHUP), SIG_IGN);  // nohup jx &
        for (int sig : {SIGTERM, SIGINT}) {
            EXPECT_NE(HandlerOf(sig), SIG_IGN) << sig;
            EXPECT_NE(HandlerOf(sig), SIG_DFL) << sig;
        }
    }
    EXPECT_EQ(HandlerOf(SIGTERM), SIG_DFL);
    EXPECT_EQ(HandlerOf(SIGINT), SIG_IGN);
    EXPECT_EQ(HandlerOf(SIGHUP), SIG_IGN);
    ::signal(SIGHUP, hup);
    ::signal(SIGINT, interrupt);
}

// The window's loop runs; inside it a message box is open over a menu-less window, and a second
// dialog is opened by the box's caller once the box is gone. The signal ends all of it: the work
// is cancelled, each dialog returns to its caller, and only then does the window close.
TEST(TerminationSignals, EndsTheWindowThroughOpenMessageBoxesAndDialogs) {
    GuiApp();
    QWidget window;
    window.show();
    int cancels = 0;
    TTerminationSignals endOnSignal(&window, [&] { ++cancels; });
    bool windowOpenWhenBoxReturned = false, secondReturned = false;
    QEventLoop loop;  // stands for the application's loop
    QTimer::singleShot(0, &loop, [&] {
        QMessageBox box(QMessageBox::Critical, "Mirelda", "image of 30000x30000 pixels is too large", QMessageBox::Ok,
                        &window);
        QTimer::singleShot(0, &box, [] { ::raise(SIGTERM); });
        box.exec();
        windowOpenWhenBoxReturned = !endOnSignal.Ended();
        // The caller goes on to another dialog, as a save that failed would.
        QMessageBox second(QMessageBox::Question, "Mirelda", "Replace the file?", QMessageBox::Yes | QMessageBox::No,
                           &window);
        second.exec();
        secondReturned = true;
    });
    // The application's loop ends with its last window; this one is ended by hand.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (endOnSignal.Ended()) loop.exit(0);
    });
    watch.start(10);
    // A guard against a hang only: the test fails, rather than waits for ever, if nothing ends it.
    QTimer::singleShot(60000, &loop, [&] { loop.exit(2); });
    EXPECT_EQ(loop.exec(), 0);
    EXPECT_TRUE(windowOpenWhenBoxReturned);
    EXPECT_TRUE(secondReturned);
    EXPECT_TRUE(endOnSignal.Ended());
    EXPECT_FALSE(window.isVisible());
    EXPECT_GE(cancels, 1);
}

// A window that puts its close off (work still running) is asked again until it closes.
TEST(TerminationSignals, AWindowBusyAtTheSignalClosesWhenItsWorkEnds) {
    GuiApp();
    class Busy : public QWidget {
    public:
        bool busy = true;
        void closeEvent(QCloseEvent* e) override {
            if (busy) e->ignore();
            else QWidget::closeEvent(e);
        }
    } window;
    window.show();
    // The cancelled work ends a moment later, after the first close was put off.
    TTerminationSignals endOnSignal(&window, [&] { QTimer::singleShot(0, &window, [&] { window.busy = false; }); });
    ::raise(SIGINT);
    EXPECT_TRUE(QTest::qWaitFor([&] { return endOnSignal.Ended(); }, 60000));
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace jx
