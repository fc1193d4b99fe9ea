#pragma once
// What an editing command asks of whoever shows the engine state (the main window; a fake in
// the tests), beyond the engine's and the opener's reports.
#include <cstdint>
#include <string>

#include "fileio/open_image.h"

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

class EditObserver : public OpenImageObserver {
public:
    // The source image took a new size (or was restored): size the view, zoom back to 1:1.
    virtual void ImageResized(int32_t width, int32_t height) {}
    // An undo state put a mask back (hasMask) or had none, so the mask is now clear: redraw the
    // overlay, or leave mask editing.
    virtual void MaskRestored(bool hasMask) {}
    // A message the user should see that does not stop the command (a state that was not saved).
    virtual void Warning(const std::string& text) {}
    // Each step of CommitImage as it starts.
    virtual void CommitStage(TCommitStage stage) {}
};

}  // namespace jx
