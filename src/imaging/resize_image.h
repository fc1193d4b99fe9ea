#pragma once
// Resizing the image: the linked width / height / percent edits, resampling with sharpening, the
// sub-pixel blend and alpha as a plane of its own, the colour bleed under transparent pixels, and
// placing the image on a larger or smaller canvas.
#include <cstdint>

#include "imaging/engine_state.h"

namespace jx {

// The largest side a resize produces, unless the image already had a larger one.
inline constexpr int32_t kMaxResizeSide = 4096;
// A side typed above this many times its starting size is set back to it.
inline constexpr int32_t kMaxResizeFactor = 10;

// p * q / d rounded to nearest, a half to the even integer, in exact integers (d > 0).
int64_t MulDivRoundEven(int64_t p, int64_t q, int64_t d);

enum class TSizeField { Width, Height, WidthPercent, HeightPercent };

struct TSizeValues {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t WidthPercent = 100;
    int32_t HeightPercent = 100;
    friend bool operator==(const TSizeValues&, const TSizeValues&) = default;
};

// The four size edits and how each follows the others.
class TSizeLinker {
public:
    // Raises ImagingError for a starting side below 1.
    TSizeLinker(int32_t startWidth, int32_t startHeight);

    // Set through Edit or FastSize's next call: a change alone does not re-derive the values.
    bool Constrained = true;

    // The user typed value into field. With proportions constrained every other field follows,
    // otherwise only its partner (pixels <-> percent). A value below 1 is refused: false, nothing
    // changes. Derived sides are at least 1 pixel; the result is held at the size cap (Target).
    bool Edit(TSizeField field, int32_t value);
    // "1:N": width (and, unconstrained, height) := round(start / N).
    void FastSize(int32_t divisor);

    const TSizeValues& Values() const { return values_; }
    int32_t StartWidth() const { return startWidth_; }
    int32_t StartHeight() const { return startHeight_; }

    // The size the resize produces, which the edits show: a side that grows past kMaxResizeSide is
    // held at it; with proportions constrained the other side is scaled with it, otherwise each
    // side is held on its own.
    int32_t TargetWidth() const { return values_.Width; }
    int32_t TargetHeight() const { return values_.Height; }
    const TSizeValues& Target() const { return values_; }

private:
    TSizeValues Capped(TSizeValues t) const;

    int32_t startWidth_;
    int32_t startHeight_;
    TSizeValues values_;
};

// Every pixel of alpha 0 takes the colour of a nearby visible pixel (alpha 16 or more) in its row or
// column, up to 255 pixels away, so that filters pull no stray colours into the edges. Only R, G, B
// of alpha-0 pixels change.
void BleedTransparentColors(TPixelImage& image);

struct TResizeOptions {
    int32_t Filter = 14;  // resampler filter 0..15
    bool SharpenInMore = false;
    int32_t SharpenInAmount = 0;  // 0..255, 0 = off
    bool SharpenOutMore = false;
    int32_t SharpenOutAmount = 0;
    int32_t SubpixelAmount = 0;  // 0..255, 0 = off
    bool HasAlpha = true;        // false: the result is opaque
};

// source resampled to width x height: R, G, B through the filter (with the sharpening and sub-pixel
// steps), A through "Nearest", "Box" or "Bilinear" as a plane of its own. c1..c3 and Weight of the
// result are 0. Raises ImagingError for a size below 1 or options out of range.
TPixelImage ResizeImage(const TPixelImage& source, int32_t width, int32_t height, const TResizeOptions& options);

// Anchors 1..9: top-left, top, top-right, left, centre, right, bottom-left, bottom, bottom-right.
struct TCanvasOffset {
    int32_t dx = 0;
    int32_t dy = 0;
    friend bool operator==(const TCanvasOffset&, const TCanvasOffset&) = default;
};
TCanvasOffset CanvasOffset(int32_t anchor, int32_t oldWidth, int32_t oldHeight, int32_t newWidth, int32_t newHeight);
// source placed on a canvas of the new size at the anchor's offset, new area filled with fill;
// a smaller canvas crops. Raises ImagingError for a size below 1 or an anchor out of range.
TPixelImage PlaceOnCanvas(const TPixelImage& source, int32_t width, int32_t height, int32_t anchor,
                          const TPixelRec& fill);
// A canvas that grows on either side gains transparent area.
inline bool CanvasHasAlpha(int32_t oldWidth, int32_t oldHeight, int32_t newWidth, int32_t newHeight, bool hadAlpha) {
    return newWidth > oldWidth || newHeight > oldHeight || hadAlpha;
}

}  // namespace jx
