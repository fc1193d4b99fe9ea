#pragma once
// The main window's side of the image-editing tool dialogs: it makes each dialog once, shows it
// centred over the window, and answers the dialogs' host requests (commit through the edit layer,
// the lock, re-quantizing, previews, the colour picker).
#include <QImage>

#include "gui/tool_dialog.h"

namespace jx {

class TAConv;
class TColorCorrection;
class TFilterForm;
class TJPEGFilterForm;
class TResizeForm;

class TToolDialogs {
public:
    explicit TToolDialogs(TJXMainForm& form);
    ~TToolDialogs();
    TToolDialogs(const TToolDialogs&) = delete;
    TToolDialogs& operator=(const TToolDialogs&) = delete;

    // What the dialogs ask of the window; tests may build dialogs of their own on it.
    TToolHost Host();

    // Modeless, centred on the main window.
    void Show(TToolDialog* dialog);
    // An image was opened: the smoothing mode goes back to "none".
    void ImageOpened();

    TAConv* AConv() const { return aConv_; }
    TColorCorrection* ColorCorrection() const { return colorCorrection_; }
    TJPEGFilterForm* JPEGFilterForm() const { return jpegFilter_; }
    TFilterForm* FilterForm() const { return filterForm_; }
    TResizeForm* ResizeForm() const { return resizeForm_; }

private:
    void Commit(TToolCommit commit);

    TJXMainForm& form_;
    TAConv* aConv_ = nullptr;
    TColorCorrection* colorCorrection_ = nullptr;
    TJPEGFilterForm* jpegFilter_ = nullptr;
    TFilterForm* filterForm_ = nullptr;
    TResizeForm* resizeForm_ = nullptr;
};

// The preview over the view's background (the grid, the colour or the picture), as the main
// view draws translucent pixels.
QImage CompositePreview(const EngineState& state, const QImage& preview);

}  // namespace jx
