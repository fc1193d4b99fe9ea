#pragma once
// The one engine-state object: images, palette, sizes and flags that every engine routine,
// the main window and its dialogs share. The main window owns it; others get a reference.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/image.h"
#include "imaging/pixel.h"
#include "imaging/settings.h"

namespace jx {

using TPixelImage = TGrid<TPixelRec>;
using TByteImage = TGrid<uint8_t>;

enum class TSourceConversion { Now, Deferred };

enum class TBackgroundMode : int32_t { Color = 0, Grid = 1, Picture = 2 };

struct EngineState {
    EngineState();

    // Images; SourceImage and WorkingImage always have the same shape.
    TPixelImage SourceImage;   // c1..c3 filled, A = 0 pixels cleared
    TPixelImage WorkingImage;  // the quantized output, also the tool dialogs' preview
    TByteImage QualityMask;    // painted importance, 0 = unpainted
    TByteImage EdgeMap;        // edge strength 0..255

    int32_t ImageWidth() const { return SourceImage.Width(); }
    int32_t ImageHeight() const { return SourceImage.Height(); }
    bool HasImage() const { return !SourceImage.Empty(); }

    // Replaces the image: SourceImage := image (its c1..c3 recomputed with the current converter
    // and its A = 0 pixels cleared), WorkingImage a copy, QualityMask zeroed to its shape, the edge
    // map rebuilt. Deferred leaves c1..c3 and the edge map to an ApplyColorSpace that follows
    // (the open road), so a large image is converted once, and the working image's pixels to the
    // quantize after it (it only gets the shape). Does not rebuild the unique colours or the
    // palette.
    void SetSourceImage(TPixelImage image, TSourceConversion conversion = TSourceConversion::Now);

    // Source pixels the palette's alpha toggle made transparent, with their records from before,
    // ordered by pixel index: clearing a transparent pixel loses its colour, and a toggle back to
    // opaque gives it back from here. Shared with the undo states that hold the same source.
    // Whoever replaces or rewrites SourceImage drops it.
    struct THiddenPixel {
        int64_t At;
        TPixelRec Was;
    };
    std::shared_ptr<const std::vector<THiddenPixel>> HiddenColors;

    // First the colour list, after a build the palette in its first PaletteSize entries.
    std::vector<TPixelRec> Palette;
    std::vector<int32_t> PaletteOrder;  // build order beside Palette; identity after every build
    int32_t PaletteSize = -1;           // N; -1 = true colour
    // The palette type the palette shown was made with (set by Quantize and the palette load):
    // an undo state keeps it, so that going back also goes back to the way its palette is made.
    TPaletteType PaletteType = TPaletteType::Adaptive;
    int32_t ColorListLength = 0;
    int32_t UniqueColorCount = 0;

    // What the last BuildUniqueColors found, kept so that a Quantize whose pixels no mask weighs
    // can take its colour list from it instead of counting again: a fingerprint of the R, G, B, A
    // bytes it counted, the position of each colour's first pixel and each colour's pixel count,
    // and whether every A = 0 pixel was black. The fingerprint decides whether it still holds.
    struct TUniqueColorIndex {
        bool Valid = false;
        uint64_t Fingerprint = 0;
        bool TransparentBlack = false;
        std::vector<int32_t> First;
        std::vector<int32_t> Count;
        // The order the palette's sort by weight gives a colour list built from these colours
        // (source positions); empty until the first such sort. The sort depends on the weights
        // alone, so every later list of the same colours takes it without sorting again.
        std::vector<int32_t> ByWeight;
    } UniqueColorIndex;
    // Set by Quantize just before the palette is built when the colour list is the unique
    // colours in their order with their counts; taken back by the palette build.
    bool ColorListIsUnique = false;

    // The colour list's summed weights, exact, beside Palette[0..ColorListLength-1] (the records'
    // Weight fields hold copies capped at the int32 maximum, for display). A masked 16-megapixel
    // image passes 2^31 easily.
    std::vector<int64_t> ColorListWeights;
    std::array<std::array<int32_t, 256>, 4> ChannelHistograms{};  // R, G, B, A

    TColorTree ColorTree;

    // Ordered-dither index matrices of sides 2, 4, 8, 16 (side = 2 << i); M[first][second] is
    // stored at first * side + second. Filled once by the dithering code's builder.
    std::array<std::vector<int32_t>, 4> BayerMatrices;

    bool HasAlpha = false;
    bool IsGrey = false;
    bool BatchQuantize = false;

    ColorConverterFn ColorConverter = ConvertLab;
    TPixelRec AlphaBackground;  // R, G, B: background; A: flag, 0 = "None"
    float DitherAmount = 0.75f;
    uint8_t LumaShift = 3;
    std::array<uint8_t, 2> ChromaMax{};  // largest c2, c3 of the current converter
    int32_t MergeThreshold = 0;
    int32_t PaletteSortType = 1;

    bool QuickAddPreview = false;
    int32_t QuickAddPointX = 0;
    int32_t QuickAddPointY = 0;

    TBackgroundMode BackgroundMode = TBackgroundMode::Grid;
    int32_t GridCellSize = 8;
    std::array<TPixelRec, 2> GridColors{};
    int32_t BackgroundColor = 0xFFFFFF;  // packed B*65536 + G*256 + R
    TPixelImage BackgroundPicture;

    bool ReconvertPending = false;
    bool HistogramDirty = false;

    // Fills Palette and PaletteSize for the "Custom" palette type (the palette file last chosen);
    // set by the palette-file code. Unset, a "Custom" quantize raises ImagingError.
    std::function<void(EngineState&)> LoadCustomPalette;

    // The current converter on p, with this state's alpha flag and background.
    void Convert(TPixelRec& p) const { ColorConverter(p, HasAlpha, AlphaBackground); }
    int32_t Distance(const TPixelRec& p, const TPixelRec& q) const {
        return jx::ColorDistance(p, q, LumaShift, HasAlpha);
    }
};

// R, G, B, A := 0, c1..c3 from the current converter (black, or the alpha background), Weight 0.
void ClearPixel(const EngineState& state, TPixelRec& p);

inline int32_t ColorDistance(const EngineState& state, const TPixelRec& p, const TPixelRec& q) {
    return ColorDistance(p, q, state.LumaShift, state.HasAlpha);
}

// The logical palette of Palette[0..PaletteSize-1]; PaletteSize must lie in 1..256.
TLogicalPalette BuildHPalette(const EngineState& state);

}  // namespace jx
