#pragma once
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>

class QLabel;
class QTimer;

namespace jx {

class TTaskbarProgressBar;

// The status bar's five panels, laid side by side in their order. A panel is as wide as its
// set width or its text, whichever is more, so "Dimension: 4096x4096" stays whole; what does
// not fit the window is clipped at the right instead of drawn over a neighbour. The progress bar
// lies over panel 4 while it is shown.
class TStatusPanels : public QWidget {
public:
    static constexpr int kWidths[5] = {120, 120, 120, 150, 150};
    static constexpr int kStepUnits = 10000;

    TStatusPanels();
    QLabel* Label(int i) const { return labels_[static_cast<size_t>(i)]; }
    void SetText(int panel, const QString& text);
    // Panel 0..4's text; empty for any other number.
    QString Text(int panel) const;
    // Where panel i lies, at its full width (it may run past the right edge).
    QRect PanelRect(int i) const;
    void Relayout();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return QSize(0, sizeHint().height()); }

    // The progress bar of panel 4, mirrored on the launcher; hidden between long tasks.
    TTaskbarProgressBar* ProgressBar() const { return bar_; }
    // Shows done of total in the bar (total 0: a moving bar); ProgressDone hides it again.
    void ShowProgress(int64_t done, int64_t total);
    // A chain of steps: step `done` of `total` has begun; the save progress timer moves the bar on
    // within it.
    void ShowStepProgress(int64_t done, int64_t total);
    void ProgressDone();
    // Every 100 ms while a save runs (the saver starts it; ProgressDone stops it): steps the bar.
    QTimer* SaveProgressTimer() const { return saveProgressTimer_; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    static constexpr int kGap = 6;
    int PanelWidth(int i) const;
    void SaveProgressTimerTick();

    std::array<QLabel*, 5> labels_{};
    TTaskbarProgressBar* bar_;
    QTimer* saveProgressTimer_;
    int stepEnd_ = 0;  // the bar position where the running step ends
};

}  // namespace jx
