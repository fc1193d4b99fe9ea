#pragma once

namespace jx {

class TJXMainForm;
class TIconForm;
class TLossyForm;
class TMyOpenPictureDialog;
class TMySavePictureDialog;

// The main window's picture dialogs, the icon frame dialog and the lossy quality dialog, made on
// first use as children of the window (which deletes them).
class TFileDialogs {
public:
    explicit TFileDialogs(TJXMainForm& form) : form_(form) {}

    TMyOpenPictureDialog* OpenPictureDialog();
    TMySavePictureDialog* SavePictureDialog();
    TIconForm* IconForm();
    TLossyForm* LossyForm();
    // The icon frame dialog if made, else null (asking must not make it).
    TIconForm* IconFormMade() const { return iconForm_; }
    TMySavePictureDialog* SavePictureDialogMade() const { return savePictureDialog_; }

private:
    TJXMainForm& form_;
    TMyOpenPictureDialog* openPictureDialog_ = nullptr;
    TMySavePictureDialog* savePictureDialog_ = nullptr;
    TIconForm* iconForm_ = nullptr;
    TLossyForm* lossyForm_ = nullptr;
};

}  // namespace jx
