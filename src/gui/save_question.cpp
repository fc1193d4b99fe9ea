#include "gui/save_question.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace jx {

bool ConfirmReplace(QWidget* parent, const QString& title, const QString& path) {
    if (path.isEmpty() || !QFileInfo::exists(path)) return true;
    const QString question = QString("\"%1\" already exists.\nDo you want to replace it?").arg(path);
    return QMessageBox::question(parent, title, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

bool ExecSaveDialog(QFileDialog& dialog, const std::function<QString()>& finalName) {
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
        if (ConfirmReplace(dialog.parentWidget(), dialog.windowTitle(), finalName())) return true;
    }
}

}  // namespace jx
