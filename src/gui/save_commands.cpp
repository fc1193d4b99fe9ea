// "Save as" and the save it runs.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include "fileio/png_chain.h"
#include "gui/file_dialogs.h"
#include "gui/icon_form.h"
#include "gui/lossy_form.h"
#include "gui/main_form.h"
#include "gui/picture_dialogs.h"
#include "gui/save_commands.h"
#include "gui/save_question.h"
#include "gui/status_panels.h"
#include "imaging/observer.h"
#include "platform/session.h"

namespace jx {

void TSaveCommands::SaveAsClick() {
    if (form_.Locked() || toolRunning_ || !form_.State().HasImage()) return;
    if (TIconForm* iconForm = form_.FileDialogs().IconFormMade(); iconForm && iconForm->isVisible()) {
        // The selected frame takes the working image, without a dialog.
        iconForm->SaveSelectedFrame(MakeSaveRequest(QString(), sfPng));
        return;
    }
    TMySavePictureDialog* d = form_.FileDialogs().SavePictureDialog();
    if (const QString folder = form_.File().DialogFolder(); !folder.isEmpty()) d->setDirectory(folder);
    const auto index = [d] { return d->FilterIndex() > 0 ? d->FilterIndex() : 1; };
    // The question is about the name the format gives the file, not the name typed.
    const auto written = [&] {
        return d->FileName().isEmpty() ? QString()
                                       : QString::fromStdString(ForcedSaveName(d->FileName().toStdString(), index()));
    };
    if (!ExecSaveDialog(*d, written) || d->FileName().isEmpty()) return;
    SaveAs(d->FileName(), index());
}

bool TSaveCommands::StopForClose(QWidget* parent) {
    askingToStop_ = true;
    const bool stop = AskStopSave ? AskStopSave()
                                  : QMessageBox::question(parent, parent->windowTitle(), kStopSaveQuestion,
                                                          QMessageBox::Yes | QMessageBox::No,
                                                          QMessageBox::No) == QMessageBox::Yes;
    askingToStop_ = false;
    return stop;
}

TSaveRequest TSaveCommands::MakeSaveRequest(const QString& fileName, int filterIndex) {
    TSaveRequest request;
    request.fileName = fileName.toStdString();
    request.filterIndex = filterIndex;
    const TMySavePictureDialog* dialog = form_.FileDialogs().SavePictureDialogMade();
    request.webpLossy = dialog && dialog->LossyChosen();
    request.png.sessionFolder = form_.SessionPath();
    request.png.options.level = form_.Options().optimization;
    request.png.options.forcedRgb = form_.Options().forcedRgb;
    request.png.options.iter = form_.Options().iter;
    request.png.options.ownScript = form_.Options().own;
    request.png.options.showConsole = form_.Options().showConsole;
    request.png.cancel = &form_.Cancel();
    request.png.pump = [] { QApplication::processEvents(QEventLoop::AllEvents, 50); };
    request.png.progress = [this](size_t done, size_t total) {
        if (done < total) form_.StatusPanels().ShowStepProgress(static_cast<int64_t>(done), static_cast<int64_t>(total));
    };
    request.pump = request.png.pump;
    return request;
}

bool TSaveCommands::SaveAs(const QString& fileName, int filterIndex) {
    if (form_.Locked() || toolRunning_ || !form_.State().HasImage()) return false;
    if (!form_.Session() || form_.Session()->Removed()) {
        form_.ShowMessage("There is no session folder to save through.");
        return false;
    }
    const TSaveRequest request = MakeSaveRequest(fileName, filterIndex);

    // The commands stay closed while the tools run: the pumped events must not change the image
    // being written. Esc and a close still arrive and cancel.
    toolRunning_ = true;
    // What runs now, not the outcome of the last save.
    form_.StatusPanels().SetText(4, "Writing " + QFileInfo(fileName).fileName() + "...");
    form_.LockMainWindow();
    TSaveResult result;
    bool ok = false;
    {
        const BusyGuard busy(form_.Reports());
        form_.StatusPanels().ShowProgress(0, 0);
        form_.StatusPanels().SaveProgressTimer()->start();
        ok = form_.Guard([&] { result = jx::SaveImage(form_.State(), request); });
        toolRunning_ = false;
        form_.StatusPanels().ProgressDone();
        form_.UnlockMainWindow();
    }
    if (!ok) {
        form_.StatusPanels().SetText(4, "Error...");
        return false;
    }
    if (result.qualityDialog) {
        // Nothing is written yet: the quality dialog encodes, shows and saves.
        form_.StatusPanels().SetText(4, QString());
        form_.FileDialogs().LossyForm()->ShowFor(result.qualityDialogWebp ? 1 : 0, QString::fromStdString(result.path));
        return true;
    }
    for (const std::string& w : result.png.warnings) form_.Reports().InfoLine(w);
    if (!result.png.consoleOutput.empty()) form_.Reports().InfoLine(result.png.consoleOutput);
    if (!result.infoLine.empty()) form_.Reports().InfoLine(result.infoLine);
    form_.StatusPanels().SetText(4, QString::fromStdString(result.status));
    if (!result.png.message.empty()) form_.ShowMessage(QString::fromStdString(result.png.message));
    ShowChainWarnings(form_, QString::fromStdString(result.path.empty() ? request.fileName : result.path), result.png);
    return filterIndex != sfPng || result.png.outcome == PngChainResult::Outcome::Written;
}

}  // namespace jx
