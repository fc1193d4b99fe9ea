#include "gui/taskbar_progress.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QPalette>
#include <QVariantMap>
#include <algorithm>
#include <stdexcept>

#ifdef JX_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

namespace jx {

TLauncherEntrySink::TLauncherEntrySink(QString desktopFile) : appUri_("application://" + desktopFile) {}

void TLauncherEntrySink::SetProgressState(TTaskbarButtonState state) {
    state_ = state;
    Send();
}

void TLauncherEntrySink::SetProgressValue(int64_t completed, int64_t total) {
    progress_ = total > 0 ? std::clamp(static_cast<double>(completed) / static_cast<double>(total), 0.0, 1.0) : 0.0;
    Send();
}

void TLauncherEntrySink::Send() {
    // The launcher has no moving bar: an indeterminate state shows none.
    const bool visible = state_ == TTaskbarButtonState::Normal || state_ == TTaskbarButtonState::Error ||
                         state_ == TTaskbarButtonState::Paused;
    const bool urgent = state_ == TTaskbarButtonState::Error;
    if (sentOnce_ && visible == sentVisible_ && urgent == sentUrgent_ && (!visible || progress_ == sentProgress_)) return;
#ifdef JX_HAVE_DBUS
    // Only a bus that is already there: asking for one would start a bus daemon on a bare display.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        !QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/bus"))
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage signal = QDBusMessage::createSignal(
        "/com/canonical/unity/launcherentry/" + QString::number(qHash(appUri_)), "com.canonical.Unity.LauncherEntry",
        "Update");
    QVariantMap properties;
    properties.insert("progress", progress_);
    properties.insert("progress-visible", visible);
    properties.insert("urgent", urgent);
    signal << appUri_ << properties;
    if (!bus.send(signal)) return;  // left for the next change to try again
#endif
    sentOnce_ = true;
    sentVisible_ = visible;
    sentUrgent_ = urgent;
    sentProgress_ = progress_;
}

TTaskbarProgressBar::TTaskbarProgressBar(QWidget* parent) : QProgressBar(parent) {
    setObjectName("TaskbarProgressBar");
    setFixedWidth(150);
    setTextVisible(false);
    hide();
    ShowState();
}

void TTaskbarProgressBar::SetRange(int min, int max) {
    if (max < min) throw std::invalid_argument("TTaskbarProgressBar property out of range");
    if (min == min_ && max == max_) return;
    min_ = min;
    max_ = max;
    ShowState();
    PostUpdate();
}

void TTaskbarProgressBar::SetPosition(int value) {
    position_ = value;
    ShowState();
    PostUpdate();
}

void TTaskbarProgressBar::StepIt() {
    // Past the end it wraps to the start, as a stepping bar does.
    int next = position_ + step_;
    if (next > max_) next = max_ > min_ ? min_ + (next - min_) % (max_ - min_) : min_;
    if (next < min_) next = min_;
    position_ = next;
    ShowState();
    PostUpdate();
}

void TTaskbarProgressBar::SetProgressBarState(TTaskbarProgressBarState state) {
    state_ = state;
    ShowState();
    PostUpdate();
}

void TTaskbarProgressBar::SetMarqueeEnabled(bool on) {
    if (on == marquee_) return;
    marquee_ = on;
    ShowState();
    if (state_ == pbstMarquee) PostUpdate();
}

void TTaskbarProgressBar::SetShowInTaskbar(bool show) {
    if (show == showInTaskbar_) return;
    showInTaskbar_ = show;
    PostUpdate();
}

void TTaskbarProgressBar::ShowState() {
    if (state_ == pbstMarquee && marquee_) {
        QProgressBar::setRange(0, 0);  // the moving bar
    } else {
        QProgressBar::setRange(min_, max_);
        QProgressBar::setValue(std::clamp(position_, min_, max_));
    }
    QPalette p = palette();
    const QPalette base;
    QColor bar = base.color(QPalette::Highlight);
    if (state_ == pbstError) bar = QColor(200, 40, 40);
    if (state_ == pbstPaused) bar = QColor(220, 180, 30);
    p.setColor(QPalette::Highlight, bar);
    setPalette(p);
}

void TTaskbarProgressBar::PostUpdate() {
    QMetaObject::invokeMethod(this, &TTaskbarProgressBar::TaskbarUpdate, Qt::QueuedConnection);
}

void TTaskbarProgressBar::TaskbarUpdate() {
    if (!sink_) return;
    if (!showInTaskbar_) {
        sink_->SetProgressState(TTaskbarButtonState::NoProgress);
        return;
    }
    switch (state_) {
        case pbstMarquee:
            sink_->SetProgressState(TTaskbarButtonState::Normal);
            sink_->SetProgressState(marquee_ ? TTaskbarButtonState::Indeterminate : TTaskbarButtonState::NoProgress);
            return;
        case pbstNormal: sink_->SetProgressState(TTaskbarButtonState::Normal); break;
        case pbstError: sink_->SetProgressState(TTaskbarButtonState::Error); break;
        case pbstPaused: sink_->SetProgressState(TTaskbarButtonState::Paused); break;
    }
    sink_->SetProgressValue(static_cast<int64_t>(position_) - min_, static_cast<int64_t>(max_) - min_);
}

}  // namespace jx
