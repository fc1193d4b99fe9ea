// The main window's view bitmap, its keys and the wheel over the view; the image view widget
// (image_view.h) zooms, pans and takes the mouse.
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QGroupBox>
#include <QKeyEvent>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "gui/command_router.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_panel.h"
#include "gui/palette_commands.h"
#include "gui/mask_crop_view.h"
#include "gui/preview.h"
#include "gui/save_commands.h"

namespace jx {
namespace {

bool IsTextEntry(QObject* o) {
    // An editable combo box gets the keys for its line edit.
    const auto* combo = qobject_cast<QComboBox*>(o);
    return qobject_cast<QLineEdit*>(o) || qobject_cast<QPlainTextEdit*>(o) || qobject_cast<QAbstractSpinBox*>(o) ||
           (combo && combo->isEditable());
}

}  // namespace

void TJXMainForm::RenderImageView() {
    if (!state_.HasImage()) return;
    imageView_->Bitmap() =
        imageView_->ToolPreview().isNull() ? RenderImage(state_, imageView_->ViewOptions()) : imageView_->ToolPreview();
    maskCrop_->Rendered();
    imageView_->update();
    if (isVisible()) imageScroll_->setFocus();
}

bool TJXMainForm::KeyPress(QKeyEvent* e) {
    if (!state_.HasImage()) return false;
    const QString t = e->text();
    if (t.size() != 1 || !t[0].isPrint()) return false;
    if (t[0] == QChar(96)) {
        palettePanel_->setVisible(!palettePanel_->isVisible());
        return true;
    }
    imageView_->ZoomStep(t[0].toLatin1());
    return t[0] == '+' || t[0] == '-';
}

bool TJXMainForm::KeyUp(QKeyEvent* e) {
    const Qt::KeyboardModifiers m = e->modifiers() & ~Qt::KeypadModifier;
    const int k = e->key();
    if ((k == Qt::Key_Return || k == Qt::Key_Enter) && maskCrop_->CropDown()) {
        router_->Route("Crop to selection");  // with any shift state
        return true;
    }
    if (router_->KeyReleased(k, m)) return true;
    if (k == Qt::Key_Escape) {
        cancel_.Request();
        maskCrop_->Escape();
        return true;
    }
    return false;
}

bool TJXMainForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Wheel)
        return QMainWindow::eventFilter(watched, event);
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != this) return QMainWindow::eventFilter(watched, event);
    if (type == QEvent::KeyPress && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
        router_->KeyPressed(static_cast<QKeyEvent*>(event)->key(), static_cast<QKeyEvent*>(event)->modifiers());
    if (saveCommands_->ToolRunning()) {
        // While a save's tools run only Esc gets through: it stops them.
        auto* k = static_cast<QKeyEvent*>(event);
        if (type == QEvent::KeyRelease && k->key() == Qt::Key_Escape) cancel_.Request();
        return true;
    }
    if (Locked()) return type != QEvent::Wheel;  // every key route is closed while a tool dialog is open
    if (type == QEvent::Wheel) {
        if (!state_.HasImage() || (!imageScroll_->hasFocus() && !imageScroll_->isAncestorOf(QApplication::focusWidget())))
            return false;
        if (!(w == imageScroll_ || imageScroll_->isAncestorOf(w))) return false;
        imageView_->ZoomStep(static_cast<QWheelEvent*>(event)->angleDelta().y() > 0 ? '+' : '-');
        return true;
    }
    auto* k = static_cast<QKeyEvent*>(event);
    if (type == QEvent::KeyRelease) return !k->isAutoRepeat() && KeyUp(k);
    if (IsTextEntry(w)) return false;  // typing into the colour-count box is not a view command
    return KeyPress(k);
}

}  // namespace jx
