#pragma once
#include <QProgressBar>
#include <QString>
#include <cstdint>
#include <memory>

namespace jx {

enum TTaskbarProgressBarState { pbstMarquee = 0, pbstNormal = 1, pbstError = 2, pbstPaused = 3 };

// What the launcher button shows.
enum class TTaskbarButtonState { NoProgress, Indeterminate, Normal, Error, Paused };

// Where the bar's state goes besides the window: the desktop's launcher, or a test's fake.
class TTaskbarSink {
public:
    virtual ~TTaskbarSink() = default;
    virtual void SetProgressState(TTaskbarButtonState state) = 0;
    virtual void SetProgressValue(int64_t completed, int64_t total) = 0;
};

// The launcher entry of "jx.desktop" over the session bus. Without a bus, or when a call fails,
// nothing happens: the launcher is decoration and never stops the work that reports to it.
class TLauncherEntrySink : public TTaskbarSink {
public:
    explicit TLauncherEntrySink(QString desktopFile = "jx.desktop");
    void SetProgressState(TTaskbarButtonState state) override;
    void SetProgressValue(int64_t completed, int64_t total) override;

private:
    void Send();
    QString appUri_;
    TTaskbarButtonState state_ = TTaskbarButtonState::NoProgress;
    double progress_ = 0;
    bool sentOnce_ = false;
    bool sentVisible_ = false, sentUrgent_ = false;
    double sentProgress_ = -1;
};

// The status bar's progress bar. Every change of value or state is also posted to the sink,
// which reads the bar's properties when the update is handled, after the caller's current step.
class TTaskbarProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TTaskbarProgressBar(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    // Max below Min is refused ("TTaskbarProgressBar property out of range").
    void SetMin(int value) { SetRange(value, max_); }
    void SetRange(int min, int max);
    int Position() const { return position_; }
    void SetPosition(int value);
    void StepIt();
    TTaskbarProgressBarState ProgressBarState() const { return state_; }
    void SetProgressBarState(TTaskbarProgressBarState state);
    void SetMarqueeEnabled(bool on);
    void SetShowInTaskbar(bool show);

    // Null: the bar alone.
    void SetSink(std::unique_ptr<TTaskbarSink> sink) { sink_ = std::move(sink); }

private:
    void PostUpdate();
    void TaskbarUpdate();
    void ShowState();

    int min_ = 0, max_ = 100, position_ = 0, step_ = 10;
    TTaskbarProgressBarState state_ = pbstNormal;
    bool marquee_ = false;
    int marqueeInterval_ = 50;
    bool showInTaskbar_ = false;
    std::unique_ptr<TTaskbarSink> sink_;
};

}  // namespace jx
