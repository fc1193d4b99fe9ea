#include "gui/pointer_form.h"

#include <QScreen>
#include <algorithm>

#include <QCloseEvent>
#include <QEvent>
#include <QTimer>

#include "gui/main_form.h"

namespace jx {

TPointerform::TPointerform(TJXMainForm* mainForm, const QString& caption, int traits)
    : QDialog(mainForm, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), main_(mainForm), traits_(traits),
      fadeTimer_(new QTimer(this)) {
    setWindowTitle(caption);
    setSizeGripEnabled(false);
    fadeTimer_->setInterval(10);
    connect(fadeTimer_, &QTimer::timeout, this, &TPointerform::FadeStep);
    if (traits_ & kFades) {
        alpha_ = kFadedAlpha;
        setWindowOpacity(alpha_ / 255.0);
    } else {
        alpha_ = 255;
    }
}

int TPointerform::FadeDirectionFor(const QRect& m, const QRect& d) {
    const bool inside = m.left() < d.left() && d.left() < m.left() + m.width() - d.width() &&
                        m.top() < d.top() && d.top() < m.top() + m.height() - d.height();
    return inside ? -1 : 1;
}

void TPointerform::StartFade() {
    if (!(traits_ & kFades) || !main_) return;
    direction_ = FadeDirectionFor(main_->MainWindowRect(), frameGeometry());
    fadeTimer_->start();
}

void TPointerform::FadeStep() {
    if (direction_ < 0 && alpha_ > kFadedAlpha) {
        --alpha_;
    } else if (direction_ > 0 && alpha_ != 255) {
        ++alpha_;
    } else {
        fadeTimer_->stop();
        return;
    }
    setWindowOpacity(alpha_ / 255.0);
}

void TPointerform::done(int result) {
    if (!closing_) {
        closing_ = true;
        FormClose();
        ReleaseLock();
        closing_ = false;
    }
    QDialog::done(result);
}

void TPointerform::closeEvent(QCloseEvent* e) {
    // QDialog would route through reject(); keep a single road instead.
    if (isVisible()) done(QDialog::Rejected);
    e->accept();
}

QPoint TPointerform::OnScreen(const QRect& wanted, const QRect& available) {
    int x = wanted.x(), y = wanted.y();
    if (x + wanted.width() > available.right() + 1) x = available.right() + 1 - wanted.width();
    if (y + wanted.height() > available.bottom() + 1) y = available.bottom() + 1 - wanted.height();
    return QPoint(std::max(x, available.left()), std::max(y, available.top()));
}

QMargins TPointerform::FrameMargins(const QWidget* w, const QWidget* reference) {
    for (const QWidget* x : {w, reference}) {
        if (!x) continue;
        const QRect f = x->frameGeometry(), g = x->geometry();
        const QMargins m(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
        if (!m.isNull()) return m;
    }
    return QMargins();
}

void TPointerform::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Centred on a small main window near the screen's edge, a tall dialog would open partly
    // off-screen. The frame counts: its title bar is what the user drags the dialog by.
    if (QScreen* screen = this->screen()) {
        const QMargins m = FrameMargins(this, main_);
        const QRect frame = geometry().marginsAdded(m);
        const QPoint at = OnScreen(frame, screen->availableGeometry());
        if (at != frame.topLeft()) setGeometry(geometry().translated(at - frame.topLeft()));
    }
    if ((traits_ & kLocksMainWindow) && !holdsLock_ && main_) {
        holdsLock_ = true;
        main_->LockMainWindow();
    }
    StartFade();
}

void TPointerform::hideEvent(QHideEvent* e) {
    QDialog::hideEvent(e);
    if (!e->spontaneous()) ReleaseLock();
    fadeTimer_->stop();
}

void TPointerform::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) StartFade();
}

void TPointerform::moveEvent(QMoveEvent* e) {
    QDialog::moveEvent(e);
    if (isVisible()) StartFade();
}

void TPointerform::ReleaseLock() {
    if (holdsLock_ && main_) {
        holdsLock_ = false;
        main_->UnlockMainWindow();
    }
}

}  // namespace jx
