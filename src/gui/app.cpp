#include "gui/app.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gui/main_form.h"
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
    if (IsBatchMode(args)) {
        std::fprintf(stderr, "jx: batch mode is not available yet.\n");
        return 2;
    }

    // Another instance is one that holds the lock; only the first one sweeps stale sessions.
    std::unique_ptr<InstanceLock> instance;
    try {
        instance = std::make_unique<InstanceLock>();
    } catch (const PlatformError& e) {
        std::fprintf(stderr, "jx: %s\n", e.what());
    }
    const bool secondInstance = !instance || instance->SecondInstance();

    QApplication app(argc, argv);
    QApplication::setApplicationName("Mirelda");

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
    {
        TJXMainForm window(session.get(), settingsFile);
        window.show();
        window.FirstShow(args.size() == 1 ? QString::fromLocal8Bit(args[0].c_str()) : QString());
        code = QApplication::exec();
    }
    session->RemoveAll();
    return code;
}

}  // namespace jx
