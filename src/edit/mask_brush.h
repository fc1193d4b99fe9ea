#pragma once
// The quality-mask brush: four brushes as 16 x 16 opacity tables, the strength arithmetic, the
// blue overlay that shows the mask over the picture, and a stroke that is one undo state.
#include <array>
#include <cstdint>
#include <string>

#include "edit/edit_observer.h"
#include "edit/undo_store.h"
#include "imaging/engine_state.h"

namespace jx {

inline constexpr int kBrushSide = 16;
inline constexpr int kBrushHalf = kBrushSide / 2;
// The brushes are items 9..12 of the tool-bar image list; 11 ("13x13") is the default.
inline constexpr int kFirstBrushImage = 9;
inline constexpr int kLastBrushImage = 12;
inline constexpr int kDefaultBrushImage = 11;
inline constexpr int kDefaultBrushStrength = 32;

// Opacity of a black spot, [row][column]; the icons of the brush menu are drawn from these too.
using TBrushTable = std::array<std::array<uint8_t, kBrushSide>, kBrushSide>;

// The table of image index 9..12; an index outside falls back to the default brush.
const TBrushTable& BrushTable(int imageIndex);
// Its menu text: "3x3", "7x7", "13x13", "17x17".
const char* BrushCaption(int imageIndex);

// round(opacity / 256 * strength), a half to even: the mask value one brush position gives.
uint8_t BrushWeight(uint8_t opacity, int strength);

// Pixels a brush position touched: columns Left..Right-1, rows Top..Bottom-1 (empty when Left == Right).
struct TMaskArea {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool Empty() const { return Left >= Right || Top >= Bottom; }
};

// One dab of the brush at image point (x, y): brush position (i, j) lands on row y + i - 8,
// column x + j - 8, clamped to the image, so positions beyond an edge pile onto the edge pixel.
// Paint raises a value to the weight and never lowers it; the eraser lowers it by the weight and
// stops at 0. Returns the pixels it touched.
TMaskArea PaintMaskBrush(TByteImage& mask, int32_t x, int32_t y, const TBrushTable& brush, int strength,
                         bool erase);

// The overlay of mask value m over a displayed pixel 0xXXRRGGBB: painted pixels turn blue,
// the rest is shown at half brightness.
uint32_t MaskOverlayPixel(uint32_t bgr, uint8_t m);
// The overlay over an area: view := overlay(copy, mask) there. Both pixel buffers have the
// mask's size, rows of strideWords 32-bit pixels.
void DrawMaskOverlay(const uint32_t* copy, uint32_t* view, int64_t strideWords, const TByteImage& mask,
                     TMaskArea area);

// The brush cursor's alpha for an opacity: (blue >> 1) xor 127 of the brush drawn over white.
uint8_t BrushCursorAlpha(uint8_t opacity);

// The strength box takes digits only; a value above 255 becomes "255".
std::string StrengthText(const std::string& typed);

// A stroke from press to release: the brush and strength are taken at the press, every reported
// point is painted, and the release saves one undo state for the whole stroke.
class TMaskStroke {
public:
    bool Active() const { return active_; }
    // Starts a stroke and paints at the point; nothing without an image.
    TMaskArea Begin(EngineState& state, int32_t x, int32_t y, int brushImage, int strength, bool erase);
    // Paints at the point while a stroke is on.
    TMaskArea Move(EngineState& state, int32_t x, int32_t y);
    // Ends the stroke and saves its mask state; false when no stroke was on.
    bool End(EngineState& state, EditObserver& observer, TURClass& undo);
    // Ends a stroke without saving (the image went away under it).
    void Cancel() { active_ = false; }

private:
    bool active_ = false;
    const TBrushTable* brush_ = nullptr;
    int strength_ = 0;
    bool erase_ = false;
};

// "Clear mask": every mask byte 0, saved as a mask state; nothing without an image.
bool ClearMaskCommand(EngineState& state, EditObserver& observer, TURClass& undo);

}  // namespace jx
