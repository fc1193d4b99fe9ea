#pragma once
// Opening a picture with its undo history: the history of the old image is cleared once the new
// file has decoded, and the new image's first state is saved after it is quantized.
#include <string>

#include "edit/undo_store.h"
#include "fileio/open_image.h"

namespace jx {

// OpenImage (fileio) with the undo hooks; the same result and errors. A failed state write
// reaches onWarning (when set); the image stays open.
bool OpenImageCommand(TOpenTarget& target, const std::string& fileName, TURClass& undo,
                      const std::function<void(const std::string&)>& onWarning = {});

// Clipboard paste with the same hooks: a pasted mask is saved as a mask state.
bool PasteCommand(TOpenTarget& target, const TClipboardBitmap& bitmap, const std::string& sessionFolder,
                  TURClass& undo, const std::function<void(const std::string&)>& onWarning = {});

}  // namespace jx
