#pragma once
// Small effects on TDibBuffer: the diagonal five-tap convolution with its sharpen presets, blending
// two buffers by a constant weight, and the numeric helpers they share.
#include "imaging/dib_buffer.h"

namespace jx {

// Weights: a above-left, b centre, c below-right, d below-left, e above-right; the corners lie r pixels
// away. 8-, 16-, 24- and 32-bit buffers (colour channels only; the fourth byte of 32 bits is kept).
void DiagonalConvolve(TDibBuffer& buffer, int r, int a, int b, int c, int d, int e);
void SharpenLess(TDibBuffer& buffer, int r);
void SharpenMore(TDibBuffer& buffer, int r);

// destination := second + alpha * (first - second) / 256 per channel, alpha clamped to 0..256.
// All three must have the same size and format; the destination may be one of the sources.
void BlendDIBs(TDibBuffer& destination, const TDibBuffer& first, const TDibBuffer& second, int alpha);

// Clamps v into low..high; true when it was inside already.
bool ClampToRange(int& v, int low, int high);
// Smallest integer not below x.
int Ceiling(double x);

}  // namespace jx
