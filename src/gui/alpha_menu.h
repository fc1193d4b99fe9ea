#pragma once
// The window side of the alpha and colour commands: their image-menu items (split, background
// choice, "Convert"), the split view's tabs, and the background picture. The commands themselves
// are in edit/alpha_command.h.
#include <QObject>
#include <QString>
#include <functional>

#include "imaging/alpha_commands.h"

class QAction;
class QMenu;
class QTabBar;

namespace jx {

class TJXMainForm;
class TMyOpenPictureDialog;

class TAlphaCommands : public QObject {
    Q_OBJECT
public:
    TAlphaCommands(TJXMainForm& form, QTabBar& tabs);

    const TSplitView& SplitView() const { return split_; }
    // Asks for the background picture's file; empty = cancelled. Tests replace the dialog.
    std::function<QString()> PictureFileDialog;
    // The picture dialog that PictureFileDialog runs: it lists what the picture registry loads,
    // which is not what "Open" takes.
    TMyOpenPictureDialog* BackgroundPictureDialog();

    // Image-menu handlers (each does nothing while the window is locked).
    void BackgroundColorClick();
    void BackgroundGridClick();
    void BackgroundPictureClick();
    void AlphaClick(TAlphaMode mode);  // ImageToAlpha (Tag 1), ColorToAlpha (Tag 2)
    void FakeColorClick(TFakeColor tag);
    void GrayscaleClick();
    void SplitImageClick();
    // The background picture from a file (what BackgroundPicture does once a file is chosen); an empty
    // name or a failed load goes back to the grid.
    void TakeBackgroundPicture(const QString& fileName);

    // Whether "Split image with alpha" is offered now.
    bool SplitOffered() const;
    // The menu is about to show: the split item follows SplitOffered.
    void UpdateMenu();
    // A tab was chosen.
    void FileTabChange(int index);
    // A new image: the tabs and the split go.
    void ClearTabs();
    // The tabs of the split view over the image, shown only while a split exists.
    QTabBar* FileTabs() const { return &tabs_; }

private:
    template <class F>
    void ImageCommand(F&& f);
    void CheckBackground();
    QAction* Find(const char* name) const;

    TJXMainForm& form_;
    QTabBar& tabs_;
    TSplitView split_;
    TMyOpenPictureDialog* pictureDialog_ = nullptr;
};

}  // namespace jx
