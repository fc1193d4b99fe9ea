#pragma once
// The editing layer's commit step: what every command that changes the engine state does last,
// so the history, the views and the status always agree with the image.
//
// How a new command plugs in: compute the new pixels (and mask, when the command changes the
// size or the mask) with plain inputs, then call CommitImage with them; a command that changes
// only the quality mask or only the palette edits the state and calls CommitMask or
// CommitPalette. None of them needs a window: tests pass an EditObserver fake.
#include <functional>
#include <optional>
#include <string>

#include "edit/edit_observer.h"
#include "edit/undo_store.h"
#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

struct TCommitOptions {
    // The command's new quality mask (same size as the image). Without one the mask is kept when
    // the size stays, and cleared when it changes.
    std::optional<TByteImage> Mask;
    // A new value for HasAlpha (the alpha commands); without one it stays.
    std::optional<bool> HasAlpha;
};

// In this order: the pixels become the source image (R, G, B, A as given), A = 0 pixels are
// cleared, c1..c3 recomputed; the edge map, unique colours and status texts rebuilt; quantized
// with settings; then an undo state saved with the image, the mask when it changed and the
// palette whenever PaletteSize > 0. The image is committed even when quantizing fails (the state
// is then saved and the quantizer's error raised). A failed undo write is reported through
// observer.Warning; the edit stands.
void CommitImage(EngineState& state, TPixelImage image, const TQuantizerSettings& settings, EditObserver& observer,
                 TURClass& undo, TCommitOptions options = {});

// The quality mask was edited in place (a brush stroke, a mask clear or paste): save its state.
void CommitMask(EngineState& state, EditObserver& observer, TURClass& undo);

// The palette was edited in place: save its state.
void CommitPalette(EngineState& state, EditObserver& observer, TURClass& undo);

// The Apply button: the pending colour space first, then quantize, then save a state (with the
// palette when there is one).
void ApplyQuantize(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer, TURClass& undo);

// Loads a palette file as the "Custom" palette: the palette exactly as LoadPalette leaves it, the
// count in both boxes, the image remapped (not in batch) and the palette saved as an undo state.
// A file that cannot be read changes nothing and raises its error.
void LoadPaletteCommand(EngineState& state, const std::string& fileName, const TQuantizerSettings& settings,
                        EditObserver& observer, TURClass& undo);

// The new image is in place before it is quantized, so its state is recorded whatever quantizing
// does: quantize() runs, then record(failed) with failed telling whether quantize() threw; its
// error is raised after the record.
void QuantizeThenRecord(const std::function<void()>& quantize, const std::function<void(bool failed)>& record);

// undo.SaveState(state); a failure is reported through observer.Warning (or onWarning, when
// given) and the edit stands.
void SaveStateReported(const EngineState& state, EditObserver& observer, TURClass& undo);
void SaveStateReported(const EngineState& state, TURClass& undo,
                       const std::function<void(const std::string&)>& onWarning);

// The building blocks, also used when an undo state is put back.
// SourceImage := image with A = 0 pixels cleared and c1..c3 converted; WorkingImage a copy; the
// mask kept at the same size, else cleared.
void PutSourceImage(EngineState& state, TPixelImage image, EditObserver& observer);
// The edge map, the unique colours and status panels 1 ("Dimension: ") and 2 ("Unique colors: ").
void RebuildImageDependants(EngineState& state, EditObserver& observer);

}  // namespace jx
