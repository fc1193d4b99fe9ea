#include "edit/open_command.h"

namespace jx {
namespace {

// Passes every report on to the window and keeps the undo hooks for itself.
class TUndoHooks : public OpenImageObserver {
public:
    TUndoHooks(OpenImageObserver& inner, TURClass& undo) : inner_(inner), undo_(undo) {}

    bool pending = false;
    bool maskPasted = false;

    void InfoClear() override { inner_.InfoClear(); }
    void InfoLine(const std::string& line) override { inner_.InfoLine(line); }
    void BusyBegin() override { inner_.BusyBegin(); }
    void BusyEnd() override { inner_.BusyEnd(); }
    void Progress(int64_t done, int64_t total) override { inner_.Progress(done, total); }
    void ShowColorCount(const std::string& text) override { inner_.ShowColorCount(text); }
    void SelectColorKey(uint32_t key) override { inner_.SelectColorKey(key); }
    void Refresh(TRefreshTarget target) override { inner_.Refresh(target); }
    bool ToolBarEnabled() override { return inner_.ToolBarEnabled(); }
    void LeaveEditingModes() override {
        inner_.LeaveEditingModes();
        undo_.Clear();
    }
    void ShowIconDialog(const std::string& fileName) override { inner_.ShowIconDialog(fileName); }
    void SourceReplaced(int32_t w, int32_t h, bool hasAlpha) override { inner_.SourceReplaced(w, h, hasAlpha); }
    void SaveUndoState(bool imageChanged, bool maskChanged, bool paletteChanged) override {
        // Saved once the image is quantized, so the state holds the palette it shows.
        undo_.ImageChanged = undo_.ImageChanged || imageChanged;
        undo_.MaskChanged = undo_.MaskChanged || maskChanged;
        undo_.PaletteChanged = undo_.PaletteChanged || paletteChanged;
        pending = true;
    }
    void StatusText(int32_t panel, const std::string& text) override { inner_.StatusText(panel, text); }
    void OpenWarning(const std::string& text) override { inner_.OpenWarning(text); }
    bool MaskEditing() override { return inner_.MaskEditing(); }
    void MaskPasted() override {
        inner_.MaskPasted();
        maskPasted = true;
    }
    void ClearFileTabs() override { inner_.ClearFileTabs(); }

private:
    OpenImageObserver& inner_;
    TURClass& undo_;
};

void SavePending(TUndoHooks& hooks, const EngineState& state, TURClass& undo,
                 const std::function<void(const std::string&)>& onWarning) {
    if (!hooks.pending) return;
    hooks.pending = false;
    try {
        undo.SaveState(state);
    } catch (const std::exception& e) {
        if (onWarning) onWarning(e.what());
    }
}

template <class F>
bool WithHooks(TOpenTarget& target, TURClass& undo, const std::function<void(const std::string&)>& onWarning,
               F&& run) {
    TUndoHooks hooks(target.Observer, undo);
    TOpenTarget inner{target.State, target.Settings, hooks, target.Current, target.BatchMode};
    bool done = false;
    try {
        done = run(inner, hooks);
    } catch (...) {
        // The new image is in place even when its quantization failed: keep it in the history.
        SavePending(hooks, target.State, undo, onWarning);
        throw;
    }
    SavePending(hooks, target.State, undo, onWarning);
    return done;
}

}  // namespace

bool OpenImageCommand(TOpenTarget& target, const std::string& fileName, TURClass& undo,
                      const std::function<void(const std::string&)>& onWarning) {
    return WithHooks(target, undo, onWarning,
                     [&](TOpenTarget& t, TUndoHooks&) { return OpenImage(t, fileName); });
}

bool PasteCommand(TOpenTarget& target, const TClipboardBitmap& bitmap, const std::string& sessionFolder,
                  TURClass& undo, const std::function<void(const std::string&)>& onWarning) {
    return WithHooks(target, undo, onWarning, [&](TOpenTarget& t, TUndoHooks& hooks) {
        const bool done = PasteClick(t, bitmap, sessionFolder);
        if (hooks.maskPasted) {
            undo.MaskChanged = true;
            hooks.pending = true;
        }
        return done;
    });
}

}  // namespace jx
