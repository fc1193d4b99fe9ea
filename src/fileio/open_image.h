#pragma once
// The one road by which a picture file becomes the source image: decode by extension into a
// temporary, then (only on success) replace the image, reset the editing state, count the unique
// colours, quantize once and report the status texts.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fileio/open_decoders.h"
#include "imaging/engine_state.h"
#include "imaging/observer.h"
#include "imaging/settings.h"
#include "platform/cancel_flag.h"

namespace jx {

// What OpenImage asks of the main window beyond the engine's reports. As in EngineObserver, a
// hook does nothing by default, or passes the report on to the next observer when made with one,
// so the batch driver and the tests implement only what they need.
class OpenImageObserver : public EngineObserver {
public:
    OpenImageObserver() = default;

    // False while a tool dialog is open: opening is then skipped silently.
    virtual bool ToolBarEnabled() { return next_ ? next_->ToolBarEnabled() : true; }
    // Raise the crop and mask buttons, clear the undo store, set the smoothing mirror to "none",
    // hide the image view, zoom 1:1. Called only once the new file has decoded.
    virtual void LeaveEditingModes() {
        if (next_) next_->LeaveEditingModes();
    }
    // ".ico" and ".cur" go to the icon frame dialog, which opens the chosen frame later.
    virtual void ShowIconDialog(const std::string& fileName) {
        if (next_) next_->ShowIconDialog(fileName);
    }
    // The new image is in place: enable the "Alpha" sort item by hasAlpha, size the image view.
    virtual void SourceReplaced(int32_t width, int32_t height, bool hasAlpha) {
        if (next_) next_->SourceReplaced(width, height, hasAlpha);
    }
    // Record an undo state with these change flags.
    virtual void SaveUndoState(bool imageChanged, bool maskChanged, bool paletteChanged) {
        if (next_) next_->SaveUndoState(imageChanged, maskChanged, paletteChanged);
    }
    // Status bar panel 0..3.
    virtual void StatusText(int32_t panel, const std::string& text) {
        if (next_) next_->StatusText(panel, text);
    }
    // The file opened, but the decoder read past damage: "x.jpg: the file is cut short; ...".
    // Called once per finding, after the status texts.
    virtual void OpenWarning(const std::string& text) {
        if (next_) next_->OpenWarning(text);
    }

    // Clipboard paste: whether mask editing is on, the mask overlay redraw, the file tabs.
    virtual bool MaskEditing() { return next_ && next_->MaskEditing(); }
    virtual void MaskPasted() {
        if (next_) next_->MaskPasted();
    }
    virtual void ClearFileTabs() {
        if (next_) next_->ClearFileTabs();
    }

protected:
    explicit OpenImageObserver(OpenImageObserver& next) : EngineObserver(next), next_(&next) {}

private:
    OpenImageObserver* next_ = nullptr;
};

// The file the main window shows in its status bar.
struct TOpenedFile {
    std::string Name;  // without folder
    int64_t Size = 0;  // bytes; 0 when missing, -1 at 2 GB or more
};

// How a decoder that runs an outside tool (WebP) runs it.
struct TOpenTools {
    std::string SessionFolder;          // the tools and exchange files; empty: a private folder, tools on PATH
    const CancelFlag* Cancel = nullptr;  // Esc ends the tool and the open fails
    std::function<void()> Pump;          // the caller's event processing while the tool runs
};

struct TOpenTarget {
    EngineState& State;
    TQuantizerSettings& Settings;  // its colour count follows the new image, as the dialog's box does
    OpenImageObserver& Observer;
    TOpenedFile& Current;
    bool BatchMode = false;  // no undo state is recorded
    TOpenTools Tools{};
};

// One decoder per extension (lower case, with its dot). A null decoder names a format opened
// elsewhere (icons, through the icon frame dialog).
using TImageDecoder = TDecodedImage (*)(const std::string& fileName);
struct TImageLoader {
    const char* Extension;
    TImageDecoder Decode;
};
const std::vector<TImageLoader>& ImageLoaders();

// The lower-cased extension with its dot ("" for none).
std::string LowerExtension(const std::string& fileName);

// Returns true when the image was replaced. Returns false, changing nothing, when the toolbar is
// disabled, the file is missing, or its extension names no image format, and after handing an
// icon file to the icon dialog. A file that fails to decode raises FileIoError naming the file, the
// format and the cause, and leaves image, mask, palette, undo history and status exactly as they were.
bool OpenImage(TOpenTarget& target, const std::string& fileName);

// The four status texts of the current image.
std::array<std::string, 4> OpenStatusTexts(const EngineState& state, const TOpenedFile& current);

// A bitmap from the clipboard: Width x Height pixels of B, G, R bytes, top row first, no padding.
struct TClipboardBitmap {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Bgr;
};

// Ctrl+V. With mask editing on, the bitmap's blue bytes become the quality mask (a bitmap smaller
// than the image changes nothing). Otherwise it is written as sessionFolder + "Clipboard.bmp"
// and opened. Returns whether anything changed; failures are swallowed as the paste is a
// convenience that has no message.
bool PasteClick(TOpenTarget& target, const TClipboardBitmap& bitmap, const std::string& sessionFolder);

// A 24-bit bottom-up BMP of the bitmap (what "Clipboard.bmp" holds).
std::vector<uint8_t> EncodeBmp24(const TClipboardBitmap& bitmap);

}  // namespace jx
