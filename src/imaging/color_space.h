#pragma once
// Working colour spaces: the five converters that fill c1..c3, and the colour-conversion
// library they and the colour picker share.
#include <array>
#include <cstdint>
#include <string>

#include "imaging/pixel.h"

namespace jx {

struct EngineState;

// A converter writes c1, c2, c3 of p from its R, G, B. When hasAlpha is set and the background's
// A byte (its flag) is not 0, the colour is first composited over background's R, G, B.
using ColorConverterFn = void (*)(TPixelRec& p, bool hasAlpha, const TPixelRec& background);

void ConvertLab(TPixelRec& p, bool hasAlpha, const TPixelRec& background);
void ConvertYuv(TPixelRec& p, bool hasAlpha, const TPixelRec& background);
void ConvertRgb(TPixelRec& p, bool hasAlpha, const TPixelRec& background);
void ConvertYCoCg(TPixelRec& p, bool hasAlpha, const TPixelRec& background);
void ConvertLuv(TPixelRec& p, bool hasAlpha, const TPixelRec& background);

// "Color space" choice index: 0 LAB, 1 YUV, 2 RGB, 3 YCoCg, 4 LUV.
enum class TColorSpace : int32_t { Lab = 0, Yuv = 1, Rgb = 2, YCoCg = 3, Luv = 4 };
inline constexpr int32_t kColorSpaceCount = 5;
// The converter of a colour space index; nullptr for an index outside 0..4.
ColorConverterFn ConverterFor(int32_t colorSpace);

// The state's converter over px[0..count-1], each distinct colour converted once; with
// clearTransparent, A = 0 pixels are first cleared (R, G, B 0, Weight 0).
void ConvertPixels(const EngineState& state, TPixelRec* px, int64_t count, bool clearTransparent);

// Switches the converter by the colour-space index (another index does nothing), reconverts
// every SourceImage pixel, recomputes ChromaMax over the RGB cube corners and rebuilds the edge map.
void ApplyColorSpace(EngineState& state, int32_t colorSpace);
// The first half of that: the converter, the background's working values and ChromaMax, the
// pixels left alone; false (and nothing changed) for an unknown index.
bool SelectColorSpace(EngineState& state, int32_t colorSpace);

// Largest c2 and c3 the converter gives over the eight RGB cube corners (alpha not composited).
std::array<uint8_t, 2> ComputeChromaMax(ColorConverterFn converter);

struct TTriple {
    double v0 = 0, v1 = 0, v2 = 0;
};

// Packed colours are B*65536 + G*256 + R (red in the low byte).
TTriple RgbToLab(int32_t color);   // L, a, b
double LabF(double t);
TTriple RgbToXyz(int32_t color);   // X, Y, Z
TTriple RgbToLuv(int32_t color);   // L, u, v
double CubeRoot(double y, double tolerance);
// type 0: Y, U, V; type 1: the integer luma and two fold-table positions; type 5: Y, Co, Cg.
// Any other type raises ImagingError.
TTriple RgbToLumaChroma(int32_t type, int32_t color);

// Row g of the fold table lists the byte values by their distance from g, nearest first.
const std::array<std::array<uint8_t, 256>, 256>& FoldTable();
int32_t FindInFoldRow(uint8_t row, uint8_t value);

struct TRgbBytes {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TRgbBytes&) const = default;
};

// The integer steps of the HSV conversion.
struct THsvBytes {
    int16_t Hue = 0;
    uint8_t Min = 0;
    uint8_t Max = 0;
    uint8_t Mid = 0;    // (max + min) div 2
    uint8_t Delta = 0;  // max - min
};
struct THsv {
    int16_t Hue = 0;  // 0..360
    double S = 0;     // 0..1
    double V = 0;     // 0..1
};

THsvBytes RgbToHsvBytes(int32_t color);
THsv HsvBytesToHsv(const THsvBytes& h);
TRgbBytes HsvBytesToRgb(int16_t hue, uint8_t max, uint8_t delta);
THsv RgbToHsv(int32_t color);
TRgbBytes HsvToRgb(int16_t hue, double s, double v);

// Packed value, low byte first. A value outside 0..$FFFFFF raises ImagingError.
TRgbBytes ColorValueToBytes(int32_t value);

struct TNamedColor {
    const char* Name;
    const char* DisplayName;
    const char* Value;  // "$RRGGBB", red first
    const char* Extra;  // always ""
};
inline constexpr int32_t kNamedColorCount = 551;
const std::array<TNamedColor, kNamedColorCount>& NamedColors();

}  // namespace jx
