#include "edit/open_command.h"

#include "edit/commit.h"

namespace jx {
namespace {

// Stands in front of the window's observer: keeps the undo hooks for itself and lets every other
// report through to the window.
class TUndoHooks : public OpenImageObserver {
public:
    TUndoHooks(OpenImageObserver& inner, TURClass& undo) : OpenImageObserver(inner), undo_(undo) {}

    bool pending = false;
    bool maskPasted = false;

    void LeaveEditingModes() override {
        OpenImageObserver::LeaveEditingModes();
        undo_.Clear();
    }
    void SaveUndoState(bool imageChanged, bool maskChanged, bool paletteChanged) override {
        // Saved once the image is quantized, so the state holds the palette it shows.
        undo_.ImageChanged = undo_.ImageChanged || imageChanged;
        undo_.MaskChanged = undo_.MaskChanged || maskChanged;
        undo_.PaletteChanged = undo_.PaletteChanged || paletteChanged;
        pending = true;
    }
    void MaskPasted() override {
        OpenImageObserver::MaskPasted();
        maskPasted = true;
    }

private:
    TURClass& undo_;
};

void SavePending(TUndoHooks& hooks, const EngineState& state, TURClass& undo,
                 const std::function<void(const std::string&)>& onWarning) {
    if (!hooks.pending) return;
    hooks.pending = false;
    SaveStateReported(state, undo, onWarning);
}

template <class F>
bool WithHooks(TOpenTarget& target, TURClass& undo, const std::function<void(const std::string&)>& onWarning,
               F&& run) {
    TUndoHooks hooks(target.Observer, undo);
    TOpenTarget inner{target.State, target.Settings, hooks, target.Current, target.BatchMode, target.Tools};
    bool done = false;
    QuantizeThenRecord([&] { done = run(inner, hooks); },
                       [&](bool) { SavePending(hooks, target.State, undo, onWarning); });
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
