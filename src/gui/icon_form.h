#pragma once
// The icon frame dialog: the frames of an .ico or .cur file as a list with check boxes; a chosen
// frame opens in the main window, a frame saved there replaces it, "Save icon" writes the checked
// frames in list order. It does not lock the main window, which must stay free to open frames.
#include <QIcon>
#include <array>
#include <functional>
#include <memory>

#include "fileio/icon_file.h"
#include "gui/pointer_form.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace jx {

class TIconForm : public TPointerform {
    Q_OBJECT
public:
    explicit TIconForm(TJXMainForm* owner);
    ~TIconForm() override;

    // Opening an icon file: closes the dialog if it is shown, then shows it for fileName.
    void ShowFor(const QString& fileName);

    // Reads the file and fills the list (as showing the dialog does); opens the initial frame.
    void FormShow();
    // The frames of the checked rows, in the order the list shows them.
    std::vector<int32_t> CheckedOrder() const;
    // Writes the checked frames; refused, writing nothing, with no row checked. Returns the name written.
    QString WriteIcon(const QString& fileName, int filterIndex);
    // "Save icon": the save dialog, then WriteIcon.
    void SaveIconClick();
    // Save As while the dialog is shown: the selected frame takes the working image.
    bool SaveSelectedFrame(TSaveRequest request);
    // Dropping rows: each selected row moves before `before` (the end when null).
    void MoveSelectedBefore(QTreeWidgetItem* before);

    QTreeWidget* FrameList() const { return frameList_; }
    // The list's own images: 0 edited PNG, 1 PNG, 2 bitmap; RowImage gives a row's (-1: no row).
    static const std::array<QIcon, 3>& RowImages();
    int RowImage(int row) const;
    TIconFile& Icon() { return icon_; }
    // Tests answer the "Save icon?" question and pick the save name here.
    std::function<bool()> AskSave;
    std::function<QString(int* filterIndex)> AskFileName;

protected:
    void showEvent(QShowEvent* e) override;
    void FormClose() override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void OpenSelectedFrame();
    int SelectedFrame() const;
    static void SetRowImage(QTreeWidgetItem* item, int image);

    TIconFile icon_;
    QString fileName_;
    QTreeWidget* frameList_;
    QPushButton* saveButton_;
    bool filling_ = false;
    int openFrame_ = -1;  // the frame last opened in the main window
};

}  // namespace jx
