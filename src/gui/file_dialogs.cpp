// The main window's dialogs that are made on first use.
#include <QFileDialog>

#include "gui/file_dialogs.h"
#include "gui/icon_form.h"
#include "gui/lossy_form.h"
#include "gui/main_form.h"
#include "gui/picture_dialogs.h"

namespace jx {
namespace {

const char* const kOpenFilter =
    "All (*.webp;*.png;*.gif;*.jpg;*.jpeg;*.jpe;*.bmp;*.dib;*.ico;*.cur;*.psd;*.pdd;*.tga;*.vst;*.icb;*.vda;*.win)|"
    "*.webp;*.jpg;*.jpeg;*.jpe;*.bmp;*.dib;*.ico;*.cur;*.png;*.gif;*psd;*pdd;*.tga;*.vst;*.icb;*.vda;*.win|"
    "Google WebP (*.webp)|*.webp|Portable Network Graphic (*.png)|*.png|Graphics Interchange Format (*.gif)|*.gif|"
    "JPEG Image File (*.jpg;*.jpeg;*.jpe)|*.jpg;*.jpeg;*.jpe|Bitmaps (*.bmp; *.dib)|*.bmp;*.dib|"
    "Photoshop images (*.psd, *.pdd)|*.psd;*pdd|"
    "Truevision images (*.tga; *.vst; *.icb; *.vda; *.win)|*.tga;*.vst;*.icb;*.vda;*.win|Icons (*.ico)|*.ico|"
    "Cursors (*.cur)|*.cur";

// Its order gives the filter index SaveImage takes.
const char* const kSaveFilter =
    "Portable Network Graphic (*.png)|*.png|Graphics Interchange Format (*.gif)|*.gif|Bitmaps (*.bmp)|*.bmp|"
    "Truevision images (*.tga)|*.tga|Google WebP (*.webp)|*.webp|JPEG Image File (*.jpg)|*.jpg";

}  // namespace

TMyOpenPictureDialog* TFileDialogs::OpenPictureDialog() {
    if (!openPictureDialog_) {
        openPictureDialog_ = new TMyOpenPictureDialog(&form_, kOpenFilter);
        openPictureDialog_->setWindowTitle("Open");
        openPictureDialog_->setFileMode(QFileDialog::ExistingFile);
    }
    return openPictureDialog_;
}

TMySavePictureDialog* TFileDialogs::SavePictureDialog() {
    if (!savePictureDialog_) {
        savePictureDialog_ = new TMySavePictureDialog(&form_, kSaveFilter);
        savePictureDialog_->setWindowTitle("Save As");
    }
    return savePictureDialog_;
}

TIconForm* TFileDialogs::IconForm() {
    if (!iconForm_) {
        iconForm_ = new TIconForm(&form_);
        form_.RegisterToolDialog(iconForm_);
    }
    return iconForm_;
}

TLossyForm* TFileDialogs::LossyForm() {
    if (!lossyForm_) {
        lossyForm_ = new TLossyForm(&form_);
        form_.RegisterToolDialog(lossyForm_);
    }
    return lossyForm_;
}

}  // namespace jx
