#pragma once
// What an editing command asks of whoever shows the engine state (the main window; a fake in
// the tests), beyond the engine's and the opener's reports.
#include <cstdint>
#include <string>

#include "fileio/open_image.h"
#include "imaging/settings.h"

namespace jx {

// The steps of CommitImage, in the order they run.
enum class TCommitStage {
    CopyIn,            // the new pixels are the source image
    ClearTransparent,  // A = 0 pixels cleared
    ConvertColors,     // c1..c3 from the current converter
    EdgeMap,
    UniqueColors,
    Status,
    Quantize,
    SaveUndo,
};

// Hooks forward to the next observer as OpenImageObserver's do.
class EditObserver : public OpenImageObserver {
public:
    EditObserver() = default;

    // The source image took a new size (or was restored): size the view, zoom back to 1:1.
    virtual void ImageResized(int32_t width, int32_t height) {
        if (next_) next_->ImageResized(width, height);
    }
    // An undo state put a mask back (hasMask) or had none, so the mask is now clear: redraw the
    // overlay, or leave mask editing.
    virtual void MaskRestored(bool hasMask) {
        if (next_) next_->MaskRestored(hasMask);
    }
    // An undo state put back the palette type its palette was made with: the settings show it.
    virtual void PaletteTypeRestored(TPaletteType type) {
        if (next_) next_->PaletteTypeRestored(type);
    }
    // A message the user should see that does not stop the command (a state that was not saved).
    virtual void Warning(const std::string& text) {
        if (next_) next_->Warning(text);
    }
    // Each step of CommitImage as it starts.
    virtual void CommitStage(TCommitStage stage) {
        if (next_) next_->CommitStage(stage);
    }

protected:
    explicit EditObserver(EditObserver& next) : OpenImageObserver(next), next_(&next) {}

private:
    EditObserver* next_ = nullptr;
};

}  // namespace jx
