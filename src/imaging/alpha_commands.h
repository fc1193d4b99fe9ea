#pragma once
// The commands that rewrite the source image's colours or alpha, the background shown behind
// translucent pixels, and the split of an image with partial alpha into its opaque and
// translucent parts. Each image command leaves the state ready to quantize: c1..c3 from the
// current converter, transparent pixels cleared, edge map and unique colours rebuilt.
#include <array>
#include <cstdint>
#include <string>

#include "imaging/engine_state.h"
#include "imaging/observer.h"
#include "imaging/settings.h"

namespace jx {

enum class TAlphaMode : int32_t { ImageToAlpha = 1, ColorToAlpha = 2 };
// The "Fake color" items by their tag.
enum class TFakeColor : int32_t { RplusGB = 0, GplusRB = 1, BplusRG = 2 };

// Each channel := round(c * a / 255 + (1 - a / 255) * 255); alpha stays.
void FlattenOverWhite(TPixelImage& image);

// "Color to Alpha" against white on one pixel's R, G, B: the most translucent colour that, laid over
// white, gives the pixel back. White becomes transparent black. Reads R, G, B; writes R, G, B, A.
void ColorToAlphaPixel(TPixelRec& p);
// Lightness as alpha, over black: alpha = 255 - R for a grey image, else 255 - the lightness the
// converter gives the opaque colour.
void ImageToAlphaPixel(TPixelRec& p, bool grey, ColorConverterFn converter);

// The source image through the mode: a source with alpha is first flattened over white;
// afterwards HasAlpha is set.
void AlphaCommandImage(EngineState& state, TAlphaMode mode);
// Channels lifted by (c / 255)^(5/7), then split over odd and even rows by the tag; alpha stays.
void FakeColorImage(EngineState& state, TFakeColor tag);
// R, G, B := the Lab lightness; c1..c3 then from the current converter (neutral chroma).
void GrayscaleImage(EngineState& state);

// c1..c3 of every source pixel from the current converter (A = 0 pixels cleared), then the edge
// map and the unique colours. QualityMask stays.
void RefreshSourceColors(EngineState& state);

// The image commands end in true colour: the count becomes "TrueColor" (the observer shows it)
// before the quantize, so the working image and PaletteSize agree.
void QuantizeTrueColor(EngineState& state, TQuantizerSettings settings, EngineObserver& observer);

// Background choice.
void ChooseBackgroundColor(EngineState& state, uint8_t r, uint8_t g, uint8_t b);
void ChooseBackgroundGrid(EngineState& state);
// The picture's R, G, B (made opaque) become BackgroundPicture. An empty picture (a failed load
// or a cancelled dialog) goes back to the grid; returns whether the picture was taken.
bool ChooseBackgroundPicture(EngineState& state, TPixelImage picture);

// Grid settings: the cell size of a size index (4 << index, index 0..3) and the colour presets.
inline constexpr int32_t kGridSizeCount = 4;
inline constexpr int32_t kGridPresetCount = 8;  // then "Custom"
int32_t GridCellSizeFor(int32_t index);
struct TGridPreset {
    const char* Name;
    TRgbBytes First, Second;
};
const std::array<TGridPreset, kGridPresetCount>& GridPresets();
// Writes R, G, B of both grid colours for a preset index; any other index (the "Custom" entry)
// keeps them.
void ApplyGridPreset(EngineState& state, int32_t index);

// Some pixel has an alpha strictly between 0 and 255.
bool HasPartialAlpha(const TPixelImage& image);
// The split is offered only for an image with an alpha channel, partial alpha, and no split yet.
bool CanSplitByAlpha(const EngineState& state, bool splitExists);

struct TAlphaSplit {
    TPixelImage Opaque;       // the pixels of alpha 255, transparent black elsewhere
    TPixelImage Translucent;  // transparent black where alpha is 255, the pixel elsewhere
};
TAlphaSplit SplitByAlpha(const TPixelImage& image);

// The three images of a split view, switched in memory so edits on each survive a switch.
class TSplitView {
public:
    static constexpr int32_t kOriginal = 0, kOpaque = 1, kTranslucent = 2;
    static const std::array<const char*, 3>& TabCaptions();   // "Original", "Opaque", "Translucent"
    static const std::array<const char*, 3>& FileNames();     // "Original.bmp", "Opaque.bmp", "Translucent.bmp"

    bool Active() const { return active_; }
    int32_t Current() const { return current_; }
    const TPixelImage& Image(int32_t index) const { return images_[static_cast<size_t>(index)]; }

    // Splits the state's source image (CanSplitByAlpha must hold) and shows "Original".
    void Split(const EngineState& state);
    // Keeps the shown image (and its mask) as edited and makes index the source image (c1..c3,
    // edge map and unique colours rebuilt). False when index is already shown or out of range.
    bool Select(EngineState& state, int32_t index);
    // Leaves the split (a new image was opened).
    void Reset();

private:
    std::array<TPixelImage, 3> images_;
    std::array<TByteImage, 3> masks_;
    std::array<bool, 3> hasAlpha_{};
    int32_t current_ = 0;
    bool active_ = false;
};

}  // namespace jx
