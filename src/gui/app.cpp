#include "gui/app.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gui/batch_form.h"
#include "gui/main_form.h"
#include "gui/termination_signals.h"
#include "platform/errors.h"
#include "platform/session.h"
#include "platform/settings.h"
#include "platform/start_mode.h"

namespace jx {
namespace {

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
        TTerminationSignals endOnSignal(&batch, [&window] { window.Cancel().Request(); });
        QStringList parameters;
        for (const std::string& a : args) parameters << QString::fromLocal8Bit(a.c_str());
        batch.FormShow(parameters);
        if (!endOnSignal.Ended()) batch.exec();
    } else {
        TJXMainForm window(session.get(), settingsFile);
        TTerminationSignals endOnSignal(&window, [&window] { window.Cancel().Request(); });
        window.show();
        // A signal while the first show's message box was open has closed the window already.
        window.FirstShow(args.size() == 1 ? QString::fromLocal8Bit(args[0].c_str()) : QString());
        if (!endOnSignal.Ended()) code = QApplication::exec();
    }
    session->RemoveAll();
    return code;
}

}  // namespace jx
