#pragma once
// What the main window shows after every change: the output or source image (with its three
// inspection modes and the alpha background), the palette grid and the channel histogram, each
// drawn into a plain 24-bit top-down TDibBuffer (B, G, R bytes) that the GUI wraps to paint.
#include <cstdint>

#include "imaging/dib_buffer.h"
#include "imaging/engine_state.h"

namespace jx {

// The error-map colours, entry k for a premultiplied error of about 2^k.
extern const TRgbQuad kErrorMapColors[8];

// Squared RGB distance of two colours after premultiplying each by its alpha, rounded.
uint32_t PremultipliedDistance(const TPixelRec& p, const TPixelRec& q);

// The background colour under pixel (x, y) for the current background mode.
TRgbQuad BackgroundAt(const EngineState& state, int32_t x, int32_t y);

// What the main window shows while the left button is held on the image.
struct TViewOptions {
    bool ShowErrorMap = false;
    bool ShowSourceOpaque = false;
    bool ShowAlphaChannel = false;
};

// WorkingImage, or by the view options the error map, the opaque source or the source alpha,
// into view (resized to ImageWidth x ImageHeight, 24 bits). Empty without an image.
void RenderImage(const EngineState& state, TDibBuffer& view, const TViewOptions& options = {});

// SourceImage composited over the background when the image has alpha.
void ShowSource(const EngineState& state, TDibBuffer& view);

// The palette as 16 x 16 swatches, 16 a row, in a 257-pixel-wide grid. Returns false (the view is
// hidden, grid left empty) when PaletteSize < 1. With resort the palette is first sorted by
// PaletteSortType.
bool DrawPaletteGrid(EngineState& state, bool resort, TDibBuffer& grid);

// The channel histogram in a box of width x height over the button-face colour. The first call
// after a Quantize (HistogramDirty) turns ChannelHistograms into bar tops in place; later calls
// reuse them. Does nothing without an image.
void DrawHistogram(EngineState& state, int32_t width, int32_t height, TRgbQuad buttonFace, TDibBuffer& box);

}  // namespace jx
