#include "gui/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QThread>
#include <QWidget>
#include <cerrno>
#include <csignal>

namespace jx {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int gPipe[2] = {-1, -1};
struct sigaction gOld[3];
bool gInstalled[3] = {false, false, false};

void OnSignal(int) {
    const int saved = errno;
    const char c = 1;
    (void)!::write(gPipe[1], &c, 1);
    errno = saved;
}

}  // namespace

TTerminationSignals::TTerminationSignals(QWidget* window, std::function<void()> cancel)
    : window_(window), cancel_(std::move(cancel)) {
    // Retried while a dialog's own loop unwinds or a busy window puts its close off.
    retry_.setSingleShot(true);
    retry_.setInterval(100);
    connect(&retry_, &QTimer::timeout, this, [this] { Step(); });
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { Arrived(); });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        if (::sigaction(kSignals[i], nullptr, &gOld[i]) != 0) continue;
        // A hang-up ignored at start is nohup's request to outlive the terminal. SIGTERM and
        // SIGINT are asked for by name (a shell ignores SIGINT in its background jobs of its own).
        if (kSignals[i] == SIGHUP && gOld[i].sa_handler == SIG_IGN) continue;
        gInstalled[i] = ::sigaction(kSignals[i], &sa, nullptr) == 0;
    }
}

TTerminationSignals::~TTerminationSignals() {
    for (int i = 0; i < 3; ++i) {
        if (gInstalled[i]) ::sigaction(kSignals[i], &gOld[i], nullptr);
        gInstalled[i] = false;
    }
    delete notifier_;
    for (int& fd : gPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void TTerminationSignals::Arrived() {
    char buf[16];
    while (::read(gPipe[0], buf, sizeof buf) > 0) {
    }
    Step();
}

void TTerminationSignals::Step() {
    if (ended_) return;
    if (cancel_) cancel_();
    // Message boxes and dialogs run loops of their own inside the code that opened them: each is
    // told to end, and the window closes only once the stack is back in the outermost loop, so no
    // caller returns from its dialog into a window already closed.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w == window_ || !w->isVisible() || !w->isModal()) continue;
        if (auto* dialog = qobject_cast<QDialog*>(w)) dialog->reject();
        else w->close();
    }
    for (int i = 0; i < 8 && QApplication::activePopupWidget(); ++i) QApplication::activePopupWidget()->close();
    const QWidget* modal = QApplication::activeModalWidget();
    if ((modal && modal != window_) || QThread::currentThread()->loopLevel() > 1) {
        retry_.start();
        return;
    }
    if (!window_->close()) {
        retry_.start();
        return;
    }
    ended_ = true;
    QCoreApplication::quit();
}

}  // namespace jx
