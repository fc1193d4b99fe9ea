#pragma once
// The quantize driver: the colour list, histograms and palette of the current SourceImage,
// then the remap pass.
#include <array>
#include <cstdint>

#include "imaging/engine_state.h"
#include "imaging/observer.h"
#include "imaging/settings.h"

namespace jx {

// Builds the palette by settings.PaletteType and remaps WorkingImage. A colour count text that is
// refused raises ImagingError before anything changes. Does nothing without an image.
void Quantize(EngineState& state, const TQuantizerSettings& settings, EngineObserver& observer);

// The channel histograms and the grey test of SourceImage as Quantize to n colours counts them
// (with n > 0 a transparent pixel counts as the cleared record), marked for drawing
// (HistogramDirty): for whoever puts back a state without quantizing.
void CountChannelHistograms(EngineState& state, int32_t n);

// The fixed palette types write R, G, B, A (and through the converter c1..c3) of
// Palette[0..n-1]; Palette must already hold n entries.
void BuildGrayscalePalette(EngineState& state, int32_t n);
void BuildUniform332Palette(EngineState& state);
void BuildWindows256Palette(EngineState& state);
void BuildWindows16Palette(EngineState& state);

}  // namespace jx
