#pragma once
// Hand edits of the palette: selection, replace, add, delete, duplicate and unused removal, the
// alpha toggle and quick add. Each works on the engine state with plain inputs, remaps or updates
// the output, keeps the selection on its colour and saves an undo state; none needs a window.
#include <cstdint>
#include <optional>

#include "edit/edit_observer.h"
#include "edit/undo_store.h"
#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

// Side of one palette-grid cell and cells per grid row.
inline constexpr int32_t kPaletteCell = 16;
inline constexpr int32_t kPaletteColumns = 16;

// The first palette entry (index below PaletteSize) whose key is key; -1 when none has it.
int32_t FindColorKey(const EngineState& state, uint32_t key);

// The palette entry whose cell holds grid point (x, y); -1 outside the grid or past the palette.
int32_t PaletteCellAt(const EngineState& state, int32_t x, int32_t y);

// The selected palette entry. The key travels with it so that the selection follows its colour
// when a remap re-sorts the palette.
struct TPaletteSelection {
    int32_t Index = 0;
    uint32_t Key = 0;

    bool Valid(const EngineState& state) const { return Index >= 0 && Index < state.PaletteSize; }
    // Index := index and Key := its entry's key; false, nothing changed, past the palette.
    bool Select(const EngineState& state, int32_t index);
    // The first entry with key; false, nothing changed, when no entry has it.
    bool SelectKey(const EngineState& state, uint32_t key);
    // The entry of the output pixel at (x, y); false when outside the image or no entry matches.
    bool SelectAt(const EngineState& state, int32_t x, int32_t y);
    // Back onto the entry with Key after the palette moved; stays where it is when none has it.
    void Follow(const EngineState& state);
};

// What every palette command works on.
struct TPaletteEditTarget {
    EngineState& State;
    const TQuantizerSettings& Settings;
    EditObserver& Observer;
    TURClass& Undo;
    TPaletteSelection& Selection;
};

// The colour picker's answer: with picked, replace the selected entry (replace) or add the colour;
// without (the picker was cancelled) only the undo state is saved. A replace needs a selected
// entry: without one it raises EditError and changes nothing.
void PaletteEditColor(TPaletteEditTarget t, const std::optional<TPixelRec>& picked, bool replace);

// Removes the selected entry and remaps. The last entry cannot go (EditError): the image would
// keep colours no palette holds.
void DeletePaletteEntry(TPaletteEditTarget t);

// Entries equal in R, G, B and A to an earlier one are removed; false (nothing saved) when none.
bool RemoveDuplicateColors(TPaletteEditTarget t);

// Entries that no output pixel uses (same R, G, B and A) are removed; false when none. The uses
// are counted in one pass over the output.
bool RemoveUnusedColors(TPaletteEditTarget t);

// The middle button on a palette cell: the entry's alpha switches between 255 and 0; the output
// pixels of that colour take it and the source pixels under them its alpha. Source pixels made
// transparent keep their colours in HiddenColors and get them back when the entry turns opaque
// again. HasAlpha follows the palette; image and palette are saved. An index past the palette
// does nothing (false).
bool TogglePaletteAlpha(TPaletteEditTarget t, int32_t index);

// The sort menu's choice: method 0 "Popularity", 1 "Color", 2 "Luminance"; direction; the "Alpha"
// check item.
struct TPaletteSortChoice {
    int32_t Method = 1;
    bool Descending = false;
    bool Alpha = false;
};

// The palette view order the choice stands for: method + 3 when descending; for an image with
// alpha, "Alpha" checked and a method other than "Popularity", the alpha variant (method + 5
// ascending, method + 7 descending). An opaque image never gets types 6 to 9.
int32_t PaletteSortTypeOf(const TPaletteSortChoice& choice, bool hasAlpha);

// A sort type chosen in the sort menu: PaletteSortType := type; with an image the palette is
// re-sorted for the view and the selection follows its colour. The image is not touched and no
// undo state is saved. A type outside 0..9 raises EditError and changes nothing.
void SortPaletteBy(TPaletteEditTarget t, int32_t type);

enum class TQuickAddMode { AddNew, ReplaceNearest };

// The middle button on the image at (x, y): the source colour there (transparent black for alpha
// 0) is added to the palette or replaces its nearest entry, then the image is remapped (only the
// window round the point with preview) and the new colour selected. Replacing on an empty palette
// raises EditError and changes nothing. A point outside the image does nothing (false).
bool QuickAddColor(TPaletteEditTarget t, int32_t x, int32_t y, TQuickAddMode mode, bool preview);

// The whole image remapped again after quick-add previews.
void RecalculateQuickAdd(TPaletteEditTarget t);

}  // namespace jx
