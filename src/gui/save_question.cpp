#include "gui/save_question.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

#include "edit/batch.h"
#include "fileio/png_chain.h"
#include "gui/main_form.h"

namespace jx {

bool ConfirmReplace(QWidget* parent, const QString& title, const QString& path) {
    if (path.isEmpty() || !QFileInfo::exists(path)) return true;
    const QString question = QString("\"%1\" already exists.\nDo you want to replace it?").arg(path);
    return QMessageBox::question(parent, title, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

namespace {

// The name typed into the dialog when it holds a double quote, else empty. The file dialog reads
// quotes as a list of quoted names and hands back a piece of what was typed, which would be
// written in place of the name the user sees.
QString SplitSaveName(const QFileDialog& dialog) {
    const auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
    return edit && edit->text().contains('"') ? edit->text() : QString();
}

// The session folder of the window the dialog belongs to, or empty.
std::string SessionFolderOf(const QWidget* w) {
    for (; w; w = w->parentWidget())
        if (const auto* form = qobject_cast<const TJXMainForm*>(w)) return form->SessionPath();
    return {};
}

}  // namespace

bool InSessionFolder(const std::string& sessionFolder, const QString& path) {
    if (sessionFolder.empty() || path.isEmpty()) return false;
    return FolderContains(sessionFolder, QFileInfo(path).absolutePath().toStdString());
}

bool ExecSaveDialog(QFileDialog& dialog, const std::function<QString()>& finalName) {
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        const QString split = SplitSaveName(dialog);
        if (!split.isEmpty()) {
            QMessageBox::warning(dialog.parentWidget(), dialog.windowTitle(),
                                 QString("A file name cannot hold a double quote (\"):\n%1\nPlease type another name.").arg(split));
            continue;
        }
        // jx deletes its session folder when it closes, and everything in it.
        if (const QString name = finalName(); InSessionFolder(SessionFolderOf(&dialog), name)) {
            QMessageBox::warning(dialog.parentWidget(), dialog.windowTitle(),
                                 QString("\"%1\" lies in jx's session folder, which is removed when jx closes.\n"
                                         "Please save in another folder.")
                                     .arg(name));
            continue;
        }
        if (ConfirmReplace(dialog.parentWidget(), dialog.windowTitle(), finalName())) return true;
    }
}

void ShowChainWarnings(TJXMainForm& form, const QString& fileName, const PngChainResult& chain) {
    if (chain.outcome != PngChainResult::Outcome::Written || chain.warnings.empty()) return;
    QString text = QString("\"%1\" was written, but not optimised as asked:").arg(fileName);
    for (const std::string& w : chain.warnings) text += "\n" + QString::fromStdString(w);
    form.ShowMessage(text);
}

}  // namespace jx
