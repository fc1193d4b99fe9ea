#pragma once
// Turning a graded alpha channel into plain on/off transparency: a threshold, error diffusion of
// the alpha byte or the 16 x 16 ordered matrix, optionally blending the colours over a matte first.
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/engine_state.h"

namespace jx {

// Method indices as the dialog lists them.
enum class TAlphaMethod : int32_t {
    None = 0,  // plain threshold
    // 1..6: the error-diffusion kernels of the remap pass, by the same index
    Bayer = 7,
};
inline constexpr int32_t kAlphaMethodCount = 8;

struct TAlphaConvertSettings {
    int32_t Method = 0;        // TAlphaMethod, 0..7
    int32_t Threshold = 127;   // used by "None": alpha below it becomes 0
    double Amount = 1.0;       // 0..1, fraction of the error (or of the matrix level) the others use
    bool Matte = false;        // blend the colours over MatteColor by their alpha
    int32_t MatteColor = 0xFFFFFF;  // packed B*65536 + G*256 + R
};

// The bar's position for the settings: the threshold for "None", else round(amount * 255).
int32_t AlphaBarPosition(const TAlphaConvertSettings& settings);

// A copy of source whose R, G, B (matte) and A (0 or 255) are converted; c1..c3 and Weight are the
// source's. bayer16 is the 16 x 16 matrix (M[x][y] at x * 16 + y), read only by the Bayer method.
// Raises ImagingError for a method or threshold out of range.
TPixelImage ConvertAlpha(const TPixelImage& source, const TAlphaConvertSettings& settings,
                         const std::vector<int32_t>& bayer16);

// c1..c3 of every pixel recomputed with the state's converter (and alpha flag, unless the image is
// to have another), A = 0 pixels cleared: what a new SourceImage must hold.
void RefreshSourcePixels(const EngineState& state, TPixelImage& image, std::optional<bool> hasAlpha = {});

}  // namespace jx
