#include "gui/status_panels.h"

#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "gui/taskbar_progress.h"

namespace jx {

TStatusPanels::TStatusPanels() : bar_(new TTaskbarProgressBar) {
    bar_->setFixedHeight(14);
    bar_->SetSink(std::make_unique<TLauncherEntrySink>("jx.desktop"));
    for (int i = 0; i < 5; ++i) {
        labels_[static_cast<size_t>(i)] = new QLabel(this);
        labels_[static_cast<size_t>(i)]->setObjectName(QString("StatusPanel%1").arg(i));
    }
    bar_->setParent(this);
    bar_->setMinimumWidth(0);
    bar_->setMaximumWidth(QWIDGETSIZE_MAX);
    bar_->installEventFilter(this);  // shown or hidden: lay it over panel 4 again
    setMinimumWidth(0);
    saveProgressTimer_ = new QTimer(this);
    saveProgressTimer_->setObjectName("SaveProgressTimer");
    saveProgressTimer_->setInterval(100);
    connect(saveProgressTimer_, &QTimer::timeout, this, &TStatusPanels::SaveProgressTimerTick);
}

void TStatusPanels::SetText(int panel, const QString& text) {
    Label(panel)->setText(text);
    Relayout();
    updateGeometry();
}

QString TStatusPanels::Text(int panel) const { return panel >= 0 && panel < 5 ? Label(panel)->text() : QString(); }

QRect TStatusPanels::PanelRect(int i) const {
    int x = 0;
    for (int k = 0; k < i; ++k) x += PanelWidth(k) + kGap;
    return QRect(x, 0, PanelWidth(i), height());
}

void TStatusPanels::Relayout() {
    for (int i = 0; i < 5; ++i) Label(i)->setGeometry(PanelRect(i));
    const QRect r4 = PanelRect(4);
    bar_->setGeometry(r4.x(), r4.y() + (r4.height() - bar_->height()) / 2, r4.width() - 15, bar_->height());
    bar_->raise();
    // Panel 4 shows the bar alone while it runs.
    Label(4)->setVisible(bar_->isVisibleTo(this) == false);
}

QSize TStatusPanels::sizeHint() const {
    const QRect last = PanelRect(4);
    return QSize(last.right() + 1, std::max(Label(0)->sizeHint().height(), bar_->height()));
}

void TStatusPanels::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Relayout();
}

bool TStatusPanels::eventFilter(QObject* watched, QEvent* e) {
    if (watched == bar_ && (e->type() == QEvent::Show || e->type() == QEvent::Hide)) Relayout();
    return QWidget::eventFilter(watched, e);
}

int TStatusPanels::PanelWidth(int i) const {
    return std::max(kWidths[i], Label(i)->fontMetrics().horizontalAdvance(Label(i)->text()) + 4);
}

void TStatusPanels::ShowProgress(int64_t done, int64_t total) {
    const int max = static_cast<int>(std::clamp<int64_t>(total, 0, INT32_MAX));
    if (max == 0) {
        bar_->SetProgressBarState(pbstMarquee);
        bar_->SetMarqueeEnabled(true);
    } else {
        bar_->SetMarqueeEnabled(false);
        bar_->SetProgressBarState(pbstNormal);
        bar_->SetRange(0, max);
        bar_->SetPosition(static_cast<int>(std::clamp<int64_t>(done, 0, max)));
    }
    stepEnd_ = bar_->Position();  // the timer waits for a step to creep through
    bar_->SetShowInTaskbar(true);
    bar_->show();
}

void TStatusPanels::ShowStepProgress(int64_t done, int64_t total) {
    // Each step spans kStepUnits of the bar, so the timer can move it while the step's tool runs.
    const int64_t steps = std::clamp<int64_t>(total, 1, INT32_MAX / kStepUnits);
    done = std::clamp<int64_t>(done, 0, steps);
    ShowProgress(done * kStepUnits, steps * kStepUnits);
    stepEnd_ = static_cast<int>(std::min(done + 1, steps) * kStepUnits);
}

void TStatusPanels::SaveProgressTimerTick() {
    if (!bar_->isVisible()) return;
    if (bar_->ProgressBarState() == pbstMarquee) {
        bar_->StepIt();
        return;
    }
    // Nearer the end of the step each tick, never past it: how long a tool takes is not known.
    const int position = bar_->Position();
    const int room = stepEnd_ - 1 - position;
    if (room > 0) bar_->SetPosition(position + std::max(1, room / 64));
}

void TStatusPanels::ProgressDone() {
    saveProgressTimer_->stop();
    bar_->hide();
    bar_->SetMarqueeEnabled(false);
    bar_->SetProgressBarState(pbstNormal);
    bar_->SetPosition(0);
    bar_->SetShowInTaskbar(false);  // clears the launcher's bar
}

}  // namespace jx
