#pragma once
#include <QDialog>
#include <QRect>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "edit/batch.h"
#include "platform/cancel_flag.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace jx {

class TJXMainForm;

// "Batch optimization": the list of files, the destination and its rules, Start / Stop and the
// totals. The work itself is RunBatch (edit/batch.h); the window shows it.
class TBatchForm : public QDialog {
    Q_OBJECT
public:
    enum Column { colName = 0, colIn, colOut, colRatio, colLoss, colPath, colTime, colCount };

    explicit TBatchForm(TJXMainForm* mainForm);
    ~TBatchForm() override;

    // The window's show: the main window hides, the list is filled from `parameters` (the command
    // line; empty for the button and for drops).
    void FormShow(const QStringList& parameters);
    // Dropped names and the command line: folders scanned, image files added. Refused while running.
    bool AddPaths(const QStringList& paths);

    void StartStopClick();
    void TotalsOkClick();  // hides the totals
    void AddFolderClick();
    void AddImagesClick();
    void RemoveSelectedClick();
    void RemoveAllClick();
    void SettingsClick();  // the quantizer settings for the run
    void BrowseDestinationClick();
    void CheckAll(int how);  // 0 "Check", 1 "Uncheck", 2 "Inverse"

    bool Running() const { return running_; }
    QString DestinationFolder() const;

    QTreeWidget* FileList;
    QPushButton* StartButton;
    QLineEdit* DestinationEdit;
    QCheckBox* DelSrc;
    QCheckBox* PreserveDT;
    QComboBox* OptLevel;
    QTableWidget* BatchResult;
    QPushButton* TotalsOkButton;
    QLabel* StatusBar;

    // Tests answer the question and take the messages here; by default message boxes.
    std::function<bool(const QString&)> Ask;
    std::function<void(const QString&)> Tell;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override;  // Esc
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    QHBoxLayout* BuildDestination();
    QHBoxLayout* BuildFileList();
    void BuildTotals();
    void ConnectControls();
    void AddRows(const std::vector<TBatchItem>& rows);
    std::vector<TBatchItem> Items() const;
    void ShowRow(size_t index, const TBatchRowResult& r);
    void SetControlsEnabled(bool enabled);
    void ShowTotals(const TBatchTotals& t);
    void FormClose();

    TJXMainForm* main_;
    QGroupBox* destination_;
    QToolButton* destinationButton_;
    QToolBar* toolBar_;
    QTimer* animationTimer_;
    int animation_ = 0;
    QTreeWidgetItem* current_ = nullptr;
    CancelFlag stop_;
    bool running_ = false;
    bool closePending_ = false;
    bool mainWasVisible_ = false;
    QRect mainGeometry_;  // the main window's place while the batch window stands in for it
    bool placeBack_ = false;
};

}  // namespace jx
