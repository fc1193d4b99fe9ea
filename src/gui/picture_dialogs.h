#pragma once
// The picture open and save dialogs: Qt's own (non-native) file dialog with a side panel that
// previews the selected file and, in the save dialog, holds the chosen format's options.
#include <QFileDialog>
#include <QTimer>

#include "fileio/picture_preview.h"

class QCheckBox;
class QLabel;
class QRadioButton;
class QGroupBox;
class QToolButton;

namespace jx {

class TJXMainForm;

// "Desc (a;b)|a;b|..." as Qt name filters; each pattern also in upper case, so "X.PNG" is listed.
QStringList PictureNameFilters(const QString& pipeFilter);

class TMyOpenPictureDialog : public QFileDialog {
    Q_OBJECT
public:
    // An empty filter: the picture registry's filter of every class it holds.
    TMyOpenPictureDialog(TJXMainForm* owner, const QString& pipeFilter = QString());

    // 1-based, as the save writer numbers its formats.
    int FilterIndex() const;
    void SetFilterIndex(int index);
    QString FileName() const;

    // The preview of fileName, as a selection change loads it (same name again: nothing).
    void DoSelectionChange(const QString& fileName);
    void PreviewButtonClick();

    QLabel* PictureLabel() const { return pictureLabel_; }
    QLabel* PaintPanel() const { return paintPanel_; }
    QToolButton* PreviewButton() const { return previewButton_; }
    const TPreviewImage& Preview() const { return preview_; }

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void FitSizeColumn();
    void ClearPreview();
    // Closes the file name's completion list.
    void HideCompletions();
    QWidget* SidePanel() const { return picturePanel_; }
    TJXMainForm* owner_;

private:
    QWidget* picturePanel_;
    QLabel* pictureLabel_;
    QToolButton* previewButton_;
    QLabel* paintPanel_;  // "(None)", "Invalid image" or the picture
    TPreviewImage preview_;
    QString lastPreviewed_;
    QString pending_;
    QTimer settle_;  // a selection is previewed once the cursor rests on it
};

class TMySavePictureDialog : public TMyOpenPictureDialog {
    Q_OBJECT
public:
    TMySavePictureDialog(TJXMainForm* owner, const QString& pipeFilter);

    // Shows or hides the option controls by the filter index.
    void DoTypeChange();
    // The 1-based index of the filter whose extension ends name (case aside), 0 for none.
    int TypedFormatIndex(const QString& name) const;
    void done(int result) override;  // the options are written back on OK and on Cancel

    QCheckBox* ForcedRGB() const { return forcedRgb_; }
    QGroupBox* RadioGroup() const { return radioGroup_; }
    QCheckBox* WEBPLossy() const { return webpLossy_; }
    // "Lossy" as the dialog last closed with: a WebP save goes through the quality dialog.
    bool LossyChosen() const { return lossyChosen_; }
    int OptimizationIndex() const;

protected:
    void showEvent(QShowEvent* e) override;

private:
    QCheckBox* forcedRgb_;
    QGroupBox* radioGroup_;
    std::vector<QRadioButton*> levels_;
    QCheckBox* webpLossy_;
    bool lossyChosen_ = false;
};

}  // namespace jx
