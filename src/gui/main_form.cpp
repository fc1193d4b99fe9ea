// The main window's members that need none of its rooms: messages, the session path, the lock,
// and the tool dialogs that follow the window when it moves. The rest: main_build.cpp,
// main_view.cpp, main_commands.cpp (see main_form.h).
#include "gui/main_form.h"

#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>

#include "platform/session.h"

namespace jx {

QString TWindowFile::DialogFolder() const { return LastOpened.isEmpty() ? QString() : QFileInfo(LastOpened).path(); }

void TJXMainForm::ShowMessage(const QString& text) {
    if (messageHandler_) {
        messageHandler_(text);
        return;
    }
    QMessageBox::warning(isVisible() ? this : nullptr, "Mirelda", text);
}

std::string TJXMainForm::SessionPath() const { return session_ && !session_->Removed() ? session_->Path() : std::string(); }

void TJXMainForm::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    mainWindowRect_ = frameGeometry();
}

void TJXMainForm::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    mainWindowRect_ = frameGeometry();
}

void TJXMainForm::moveEvent(QMoveEvent* e) {
    QMainWindow::moveEvent(e);
    const QRect now = frameGeometry();
    const QPoint delta = now.topLeft() - mainWindowRect_.topLeft();
    mainWindowRect_ = now;
    if (delta.isNull() || !isVisible()) return;
    for (const QPointer<QWidget>& d : toolDialogs_)
        if (d && d->isVisible()) d->move(d->pos() + delta);
}

void TJXMainForm::RegisterToolDialog(QWidget* dialog) { toolDialogs_.push_back(dialog); }

void TJXMainForm::LockMainWindow() {
    ++lockCount_;
    UpdateLockedControls();
}

void TJXMainForm::UnlockMainWindow() {
    if (lockCount_ > 0) --lockCount_;
    UpdateLockedControls();
}

void TJXMainForm::dragEnterEvent(QDragEnterEvent* e) {
    if (!Locked() && e->mimeData()->hasUrls()) e->acceptProposedAction();
}

}  // namespace jx
