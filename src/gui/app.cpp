#include "gui/app.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gui/batch_form.h"
#include "gui/main_form.h"
#include "platform/errors.h"
#include "platform/session.h"
#include "platform/settings.h"
#include "platform/start_mode.h"

namespace jx {
namespace {

int gSignalPipe[2] = {-1, -1};

void OnTerminate(int) {
    const char c = 1;
    (void)!::write(gSignalPipe[1], &c, 1);
}

// SIGTERM, SIGINT and SIGHUP close the main window the ordinary way, so the session folder
// goes and the settings are written.
void CloseOnSignals(QWidget* window, QObject* owner) {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [window] {
        char buf[16];
        while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
        }
        window->close();
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "jx: %s\n", message.c_str());
    if (qApp) QMessageBox::critical(nullptr, "Mirelda", QString::fromStdString(message));
    return 1;
}

}  // namespace

int RunJx(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    const bool batchMode = IsBatchMode(args);

    // Another instance is one that holds the lock; only the first one sweeps stale sessions.
    std::unique_ptr<InstanceLock> instance;
    try {
        instance = std::make_unique<InstanceLock>();
    } catch (const PlatformError& e) {
        std::fprintf(stderr, "jx: %s\n", e.what());
    }
    const bool secondInstance = !instance || instance->SecondInstance();

    // Capture and hot keys need X11: under Wayland run through XWayland unless told otherwise.
    if (!std::getenv("QT_QPA_PLATFORM") && std::getenv("DISPLAY") && *std::getenv("DISPLAY"))
        ::setenv("QT_QPA_PLATFORM", "xcb", 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Mirelda");
    // The launcher finds the window's entry (and its progress) by this name.
    QGuiApplication::setDesktopFileName("jx");

    std::string settingsFile;
    try {
        settingsFile = SettingsFolder() + kSettingsFileName;
    } catch (const PlatformError& e) {
        return Fail(e.what());
    }

    if (!secondInstance) DeleteStaleSessions();
    std::unique_ptr<SessionFolder> session;
    try {
        session = std::make_unique<SessionFolder>();
    } catch (const PlatformError& e) {
        return Fail(e.what());
    }

    int code = 0;
    if (batchMode) {
        // Only the batch window is shown; the process ends when it closes.
        TJXMainForm window(session.get(), settingsFile);
        window.FirstShow(QString());
        TBatchForm batch(&window);
        CloseOnSignals(&batch, &batch);
        QStringList parameters;
        for (const std::string& a : args) parameters << QString::fromLocal8Bit(a.c_str());
        batch.FormShow(parameters);
        batch.exec();
    } else {
        TJXMainForm window(session.get(), settingsFile);
        CloseOnSignals(&window, &window);
        window.show();
        window.FirstShow(args.size() == 1 ? QString::fromLocal8Bit(args[0].c_str()) : QString());
        code = QApplication::exec();
    }
    session->RemoveAll();
    return code;
}

}  // namespace jx
