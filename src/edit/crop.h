#pragma once
// Cropping: the selection rectangle and its nine grab parts, the drag rules, the automatic border
// search, and the crop itself through the commit step (one undo state with image, mask and palette).
#include <cstdint>
#include <optional>

#include "edit/edit_observer.h"
#include "edit/undo_store.h"
#include "imaging/engine_state.h"
#include "imaging/settings.h"

namespace jx {

// Covers columns Left..Right-1 and rows Top..Bottom-1; while a side is dragged past its
// opposite the sides may be the wrong way round until Normalized.
struct TCropRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    bool operator==(const TCropRect&) const = default;
};

TCropRect Normalized(TCropRect r);
// Normalized, then each side clamped to 0..width and 0..height.
TCropRect ClampedToImage(TCropRect r, int32_t width, int32_t height);

// The parts of a selection the mouse can grab, in the order they are tested.
enum class TCropPart : int8_t {
    None = -1,
    TopLeft = 0,
    TopRight = 1,
    BottomLeft = 2,
    BottomRight = 3,
    LeftEdge = 4,
    RightEdge = 5,
    TopEdge = 6,
    BottomEdge = 7,
    Inside = 8,
};

// Corners and edges within 4 image pixels, edges only along the rectangle's span; inside when
// more than 2 pixels from every edge.
TCropPart CropHitTest(const TCropRect& r, int32_t x, int32_t y);

// The interactive selection of crop mode: armed, the next drag draws a new rectangle (a rubber
// band); afterwards a drag moves the corner, edge or whole rectangle it grabbed. Points are
// image coordinates; every rectangle it gives lies inside the image and is normalised, a side
// dragged past its opposite becoming that side.
class TCropSelection {
public:
    void Arm() { *this = TCropSelection{}; armed_ = true; }
    bool Armed() const { return armed_; }
    bool Dragging() const { return rubberBand_ || grabbed_ != TCropPart::None; }
    bool RubberBand() const { return rubberBand_; }
    TCropRect Rect() const { return rect_; }
    // The rubber band's corners as dragged (the selection is normalised at release).
    TCropRect Band() const { return band_; }

    // Left press at the point; false when it grabbed nothing.
    bool Press(int32_t x, int32_t y, int32_t width, int32_t height);
    // A move with the button held: the new selection (or band); false when nothing is dragged.
    bool Move(int32_t x, int32_t y, int32_t width, int32_t height);
    // The release; true when a rubber band became the selection.
    bool Release();
    // The part under the mouse without a button.
    TCropPart Hover(int32_t x, int32_t y) const { return armed_ ? TCropPart::None : CropHitTest(rect_, x, y); }

private:
    bool armed_ = false;
    bool rubberBand_ = false;
    TCropPart grabbed_ = TCropPart::None;
    TCropRect rect_{}, band_{}, start_{};
    int32_t grabX_ = 0, grabY_ = 0;
};

// The selection that auto crop takes from the output image, or none when no side has a uniform
// border two or more pixels thick. A row (column) is border when every one of its pixels equals
// the side's reference colour exactly (R, G, B, A); the outermost row is tested like the others,
// and at least one row and one column always stay.
std::optional<TCropRect> AutoCropRect(const TPixelImage& image);

// Cuts the source image and the mask to the selection (normalised and clamped to the image),
// then commits: unique colours, edge map, quantize and one undo state of image, mask and
// palette. A selection without width or height raises EditError and changes nothing.
void CropImage(EngineState& state, TCropRect selection, const TQuantizerSettings& settings, EditObserver& observer,
               TURClass& undo);

// "Auto crop borders": crops to AutoCropRect of the output image; false when there was nothing
// to crop (or no image).
bool AutoCropCommand(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer, TURClass& undo);

}  // namespace jx
