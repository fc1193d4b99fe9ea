#pragma once
// The colour picker's model: one RGBA colour with its HSV kept beside it (so the hue survives
// while S or V is 0), the hexadecimal code, the named-colour matches, the maps from positions on
// the picker's pictures to values, and the pictures themselves as plain RGB buffers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/color_space.h"
#include "imaging/pixel.h"

namespace jx {

// Picture sizes of the picker.
inline constexpr int32_t kPickerSquareSize = 256;
inline constexpr int32_t kHueBarWidth = 27, kHueBarHeight = 287;
inline constexpr int32_t kAlphaBarWidth = 256, kAlphaBarHeight = 25;
inline constexpr int32_t kNamedCell = 8, kNamedColumns = 50, kNamedRows = 11;
inline constexpr int32_t kNamedGridWidth = kNamedColumns * kNamedCell + 1;  // 401
inline constexpr int32_t kNamedGridHeight = kNamedRows * kNamedCell + 1;   // 89
inline constexpr int32_t kLoupeWidth = 136, kLoupeHeight = 132, kLoupeZoom = 8;

// Six hexadecimal digits RRGGBB after at most one "#", "$" or "0x", white space around trimmed.
// Anything else gives nothing.
std::optional<TRgbBytes> ParseHexCode(std::string_view text);
// "RRGGBB", upper case.
std::string HexCode(uint8_t r, uint8_t g, uint8_t b);

// R, G, B of a named-colour entry (its "$RRGGBB" text).
TRgbBytes NamedColorRgb(int32_t index);
struct TNamedMatch {
    int32_t Nearest = 0;
    int32_t Second = 0;  // the second-nearest entry of another colour value
};
// By ΔR² + ΔG² + ΔB² over the whole table; ties keep the first entry met.
TNamedMatch NearestNamedColors(uint8_t r, uint8_t g, uint8_t b);

// Positions on the pictures to values; positions outside a picture clamp to its edge.
double SquareSaturationAt(int32_t x, int32_t width);
double SquareValueAt(int32_t y, int32_t height);  // top row = 1
int16_t HueAt(int32_t y, int32_t height);         // bottom row = 0
uint8_t AlphaAt(int32_t x, int32_t width);
int32_t NamedGridIndexAt(int32_t x, int32_t y);  // 0..549

struct TIntPoint {
    int32_t X = 0, Y = 0;
    bool operator==(const TIntPoint&) const = default;
};
// Where the markers stand for the current values.
TIntPoint SquareMarker(double s, double v, int32_t width, int32_t height);
int32_t HueMarkerY(int32_t hue, int32_t height);
int32_t AlphaMarkerX(uint8_t a, int32_t width);

// The eyedropper: the loupe's top-left corner for a cursor position, the screenshot rectangle it
// magnifies (from its top-left corner, in screen pixels), and the pixel a click picks: the one
// just above the hot spot, kept inside the screen.
TIntPoint LoupePosition(int32_t x, int32_t y);
TIntPoint LoupeSourceOrigin(int32_t x, int32_t y);
inline constexpr int32_t kLoupeSourceWidth = kLoupeWidth / kLoupeZoom;    // 17
inline constexpr int32_t kLoupeSourceHeight = kLoupeHeight / kLoupeZoom;  // 16
TIntPoint EyedropperPixel(int32_t x, int32_t y, int32_t screenWidth, int32_t screenHeight);
// The loupe rectangle (left, top, right, bottom; exclusive) around the pixel a click picks.
struct TIntRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool operator==(const TIntRect&) const = default;
};
TIntRect LoupePickFrame();

// A 24-bit picture, rows top down, bytes R, G, B.
struct TRgbPicture {
    int32_t Width = 0, Height = 0;
    std::vector<uint8_t> Bytes;
    const uint8_t* Pixel(int32_t x, int32_t y) const {
        return Bytes.data() + (static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x)) * 3;
    }
};

// The saturation (x) by value (y) square of one hue, drawn with the same maps the picks use.
TRgbPicture DrawPickerSquare(int16_t hue, int32_t width, int32_t height);
TRgbPicture DrawHueBar(int32_t width, int32_t height);
// Black over a 4-pixel checkerboard of 255 and 192, opaque at the right end.
TRgbPicture DrawAlphaBar(int32_t width, int32_t height);
// The 550 cells of 8 x 8 pixels with black lines between them and a black frame.
TRgbPicture DrawNamedGrid();
// Upper half the colour opaque, lower half with its alpha over 4-pixel cells of 255 and 192;
// cells whose column and row parity differ are 255 unless newSwatch, where they are 192.
TRgbPicture DrawAlphaSwatch(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b, uint8_t a,
                            bool newSwatch);
// round((a * c + (255 - a) * under) / 255)
inline uint8_t BlendOver(uint8_t c, uint8_t a, uint8_t under) {
    return static_cast<uint8_t>((a * c + (255 - a) * under + 127) / 255);
}

enum class TPickerField : int32_t { H = 0, S, V, R, G, B, A };

// The colour being chosen and the one the picker was opened with.
class TColorPicker {
public:
    // Stores the colour and makes it the "Current" one.
    void SetColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a);
    const TPixelRec& Color() const { return color_; }
    const TPixelRec& OpenColor() const { return open_; }
    const THsv& Hsv() const { return hsv_; }

    // RGB changes recompute HSV; HSV changes recompute RGB. Values clamp to their ranges.
    void SetRgb(uint8_t r, uint8_t g, uint8_t b);
    void SetHsv(int32_t hue, double s, double v);
    void SetAlpha(uint8_t a) { color_.A = a; }

    // The number fields: H 0..360, S and V 0..100 (percent), R..A 0..255.
    int32_t FieldValue(TPickerField field) const;
    // Caps value to the field's range; false when that leaves the field as it was.
    bool EditField(TPickerField field, int32_t value);

    std::string Hex() const { return HexCode(color_.R, color_.G, color_.B); }
    // A code ParseHexCode takes sets R, G, B (alpha kept); false for any other text, which
    // changes nothing.
    bool ApplyHex(std::string_view text);

    void PickSquare(int32_t x, int32_t y, int32_t width, int32_t height);
    void PickHue(int32_t y, int32_t height);
    void PickAlpha(int32_t x, int32_t width);
    // R, G, B of a named entry, alpha kept.
    void TakeNamed(int32_t index);
    void RestoreOpenColor();

    TNamedMatch Matches() const { return NearestNamedColors(color_.R, color_.G, color_.B); }

private:
    TPixelRec color_ = [] {
        TPixelRec p;
        p.A = 255;
        return p;
    }();
    TPixelRec open_ = color_;
    THsv hsv_;
};

}  // namespace jx
