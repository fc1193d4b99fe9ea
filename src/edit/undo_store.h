#pragma once
// The undo history: a list of states on disk in the session folder, oldest first. A command
// marks what it changed (ImageChanged, MaskChanged, PaletteChanged) and calls SaveState; every
// state also records PaletteSize and ColorListLength. Undo and Redo put a state back.
//
// A new command that changes the image goes through CommitImage (edit/commit.h), which saves
// the state for it; one that changes only the mask or the palette calls CommitMask or
// CommitPalette. Nothing else should call SaveState.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "edit/edit_observer.h"
#include "edit/state_files.h"
#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

class TURClass {
public:
    // Writes a whole new file; raises EditError (after removing what it wrote) on failure.
    using TFileWriter = std::function<void(const std::string& path, const TBytes& bytes)>;
    // The states together may hold this much before the oldest are dropped.
    static constexpr uint64_t kDefaultByteLimit = uint64_t{1} << 30;

    // stateFolder: the session folder, ending in '/'; empty = no history is kept. The writer
    // defaults to a private O_EXCL file in the folder.
    explicit TURClass(std::string stateFolder, TFileWriter writer = {});
    ~TURClass();  // Clear
    TURClass(const TURClass&) = delete;
    TURClass& operator=(const TURClass&) = delete;

    bool MaskChanged = false;
    bool ImageChanged = false;
    bool PaletteChanged = false;

    // Pushes a state of the marked parts and clears the flags; a state after undos drops the
    // redo branch. With a palette the state also keeps the working image (".wrk") and the
    // palette as the engine holds it, whatever was marked. Nothing is written while BatchQuantize is set (the flags stay). A failed write
    // removes its partial files, keeps the list and flags as they were and raises EditError.
    void SaveState(const EngineState& state);

    // Puts state CurrentState back, with the palette type (and "Custom" palette file) it was saved
    // with, reported through observer.PaletteTypeRestored. Each part (image, mask, palette) comes from the latest state at
    // or before it that saved that part at the same image size; no such mask means a clear mask.
    // The image's dependants and the histogram are rebuilt. A state saved with a palette gives
    // back its working image and palette exactly; otherwise the image is remapped (or quantized)
    // once. A damaged file raises EditError before anything changes. Nothing is recorded.
    void LoadState(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer);

    // Move one state back or forward and put it back; false (nothing done) at either end or
    // without an image.
    bool Undo(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer);
    bool Redo(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer);

    // Deletes every state's files and empties the list.
    void Clear();
    // Undo enabled exactly when CurrentState > 0; Redo when a later state exists.
    void UpdateButtons();
    // Where UpdateButtons reports (undo enabled, redo enabled).
    std::function<void(bool, bool)> ButtonsChanged;

    int32_t CurrentState() const { return current_; }
    int32_t Count() const { return static_cast<int32_t>(states_.size()); }
    // Base names (folder + 8 upper-case hexadecimal digits), oldest first.
    std::vector<std::string> States() const;
    uint64_t BytesHeld() const { return bytes_; }
    void SetByteLimit(uint64_t limit) { limit_ = limit; }

private:
    struct TState {
        std::string Base;
        int32_t Width = 0, Height = 0;
        bool Image = false, Mask = false, Palette = false;
        bool HasAlpha = false;  // the state's HasAlpha, put back with it (".prm" has no room for it)
        // How its palette was made, which the next Apply follows: the type and, for "Custom",
        // the palette file then chosen. Kept here for the same reason as HasAlpha.
        TPaletteType PaletteType = TPaletteType::Adaptive;
        std::function<void(EngineState&)> CustomPalette;
        // ".wrk" and the palette as the engine held it (records with their use counts, order
        // map): the picture shown with the state. A remap could not give it back: the quantizer's
        // first mapping is not a nearest-colour one, and ties follow the palette's order.
        bool Work = false;
        std::vector<TPixelRec> ShownPalette;
        std::vector<int32_t> ShownOrder;
        // The working space the records' c1..c3 were made in (an adaptive palette's are cluster
        // means, not conversions, and are kept while the space is the same).
        ColorConverterFn Converter = nullptr;
        TPixelRec Background{};
        // HiddenColors of the source saved with ".img".
        std::shared_ptr<const std::vector<EngineState::THiddenPixel>> Hidden;
        uint64_t Bytes = 0;
    };
    // Index of the latest state at or before index that holds the part, same size; -1 if none.
    int32_t Holder(int32_t index, bool TState::*part) const;
    std::string NewBase();
    void DeleteFiles(const TState& s);
    void DropOldest();

    std::string folder_;
    TFileWriter writer_;
    std::vector<TState> states_;
    int32_t current_ = -1;
    uint64_t bytes_ = 0;
    uint64_t limit_ = kDefaultByteLimit;
    uint32_t lastName_ = 0;
    std::string shownImage_;  // the ".img" the source image was last put back from or saved to
};

}  // namespace jx
