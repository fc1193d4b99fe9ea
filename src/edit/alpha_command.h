#pragma once
// The colour and alpha commands of the image view's menu, the background picture, and the split
// view's tab switch, as editing commands callable without a window. The batch window runs
// AlphaCommand on its images too; while BatchQuantize is set no undo state is written.
#include <string>

#include "edit/edit_observer.h"
#include "edit/undo_store.h"
#include "imaging/alpha_commands.h"
#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

// "Image to Alpha" / "Color to Alpha": the transform, a true-colour quantize, and one undo state
// of the new image (no palette). Nothing without an image. A failed quantize still saves the
// state of the changed image, then raises its error.
void AlphaCommand(EngineState& state, TAlphaMode mode, const TQuantizerSettings& settings, EditObserver& observer,
                  TURClass& undo);
// "R + GB", "G + RB", "B + RG" and "Grayscale", ending like AlphaCommand.
void FakeColorCommand(EngineState& state, TFakeColor tag, const TQuantizerSettings& settings,
                      EditObserver& observer, TURClass& undo);
void GrayscaleCommand(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer,
                      TURClass& undo);

// Decodes a picture file through the registered image formats for the background; raises the
// decoder's error, or EditError for a format that is not a picture here.
TPixelImage LoadBackgroundPicture(const std::string& fileName);

// Splits when CanSplitByAlpha holds: with a session folder the three images are written there
// first ("Original.bmp", "Opaque.bmp", "Translucent.bmp", 32 bits B, G, R, A); a failed write
// raises its error and leaves the view unsplit. Returns whether the view was split.
bool SplitCommand(TSplitView& view, const EngineState& state, const std::string& sessionFolder);

// Shows tab index of the split: the shown image keeps its edits in memory, the other becomes the
// source image and is quantized with settings. The undo history starts anew with that image, so
// an undo never puts one tab's image under another tab. False (nothing done) when the tab is
// already shown or there is no split.
bool SelectSplitTab(TSplitView& view, int32_t index, EngineState& state, const TQuantizerSettings& settings,
                    EditObserver& observer, TURClass& undo);

}  // namespace jx
