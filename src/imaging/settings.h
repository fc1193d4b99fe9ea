#pragma once
// The values of the quantizer settings dialog's controls, read when the engine runs.
#include <cstdint>
#include <string>

namespace jx {

enum class TPaletteType : int32_t {
    Adaptive = 0,
    UniformGrayscale = 1,
    Uniform332 = 2,
    Windows256 = 3,
    Windows16 = 4,
    Custom = 5,
};

enum class TDitherMode : int32_t {
    None = 0,
    ShiauFan = 1,
    FloydSteinberg = 2,
    JarvisJudiceNinke = 3,
    Burkes = 4,
    Atkinson = 5,
    StevensonArce = 6,
    Pattern = 7,
    Bayer = 8,
};

enum class TErrorMetric : int32_t { Mse = 0, Msad = 1, Psnr = 2, Rmse = 3 };

struct TQuantizerSettings {
    std::string ColorCount = "TrueColor";  // "Number of colors:" text
    TPaletteType PaletteType = TPaletteType::Adaptive;
    bool DoNotMix = false;
    int32_t RareReserve = 50;  // percent of N, 0..100
    int32_t Priority = 0;      // -3..3
    int32_t RareThreshold = 4;  // position of the rare-threshold bar
    int32_t RareThresholdMin = 0;
    int32_t RareThresholdMax = 8;
    int32_t ColorSpace = 0;  // TColorSpace index
    int32_t VisualPerception = 3;  // 0..5, mirrored into LumaShift
    int32_t AlphaBackground = 0;   // item index of "Optimize alpha for..."
    TDitherMode DitherMode = TDitherMode::None;
    int32_t PatternSize = 0;  // 0..3: "2x2", "4x4", "8x8", "16x16"
    bool BypassEdges = false;
    bool Delicate = false;
    int32_t DitherAmount = 75;  // percent, mirrored into DitherAmount
    TErrorMetric ErrorMetric = TErrorMetric::Psnr;
    bool ConvertToAlpha = false;  // batch only
    bool ForcedRGB = false;       // batch only
};

inline constexpr int32_t kMaxColorCount = 65536;

// The colour count text as N: "TrueColor", 0 or below give -1 (true colour); a text that is
// not a whole number, or a count above 65536, raises ImagingError.
int32_t ParseColorCount(const std::string& text);

}  // namespace jx
