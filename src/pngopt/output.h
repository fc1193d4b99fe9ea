#pragma once
// The image the trial search encodes: PNG colour type, depth, palette and raw (unfiltered) rows,
// and the choice of that layout by trial encodings.
#include <cstdint>
#include <ostream>
#include <vector>

#include "pngopt/image.h"
#include "pngopt/options.h"
#include "pngenc/png_image.h"
#include "pngopt/thread_pool.h"

namespace jx::quillox {

struct OutputImage {
    uint32_t width = 0, height = 0;
    PngColorType colorType = kPngRgba;
    int bitDepth = 8;
    bool interlace = false;
    std::vector<PaletteEntry> palette;  // colour type 3: PLTE, alphas become tRNS
    bool hasKey = false;                // colour types 0 and 2: tRNS key in file sample units
    Rgb16 key;
    bool hasGamma = false;
    uint32_t gamma = 0;
    std::vector<PngChunk> chunks;       // ancillary chunks besides gAMA and tRNS
    uint64_t rowBytes = 0;
    std::vector<uint8_t> rows;  // height * rowBytes, PNG byte order, no filter bytes
};

enum class Transparency { None, Binary, Alpha };

// Orders of the colour table. UseCount serves the non-palette builds; the palette-order chooser
// tries the other five.
enum class PaletteOrder {
    UseCount,         // use count, descending
    InterleavedCode,  // interleaved bits of A, R, G, B, descending
    LumaAlpha,        // luma plus alpha, descending
    UseCountChain,    // use count descending, then a nearest-neighbour chain
    RareFirstChain,   // use count ascending, then the chain
    LumaChromaChain,  // luma ascending, then a chain in a luma and chroma distance
};
inline constexpr PaletteOrder kChooserOrders[] = {PaletteOrder::InterleavedCode, PaletteOrder::LumaAlpha,
                                                  PaletteOrder::UseCountChain, PaletteOrder::RareFirstChain,
                                                  PaletteOrder::LumaChromaChain};
// Tables of fewer than 3 colours stay as they are; transparentFirst puts the first colour with
// A = 0 at the front and orders the rest.
void OrderColorTable(std::vector<ColorUse>& table, PaletteOrder order, bool transparentFirst);

// What fully transparent pixels take as their colour, tried in this order.
enum class TransparentFill { AsIs, Zero, White, FromLeft, FromRight, FromTop, FromBottom };

// The output layout, picked by trial encodings at level 6 among the palette, grey and
// true-colour encodings the working image allows. The image may change: a 16-bit image that
// holds 8-bit values becomes 8-bit, and transparent pixels may take a key colour.
// With a pool the trial encodings run side by side; the choice is the same.
OutputImage ChooseOutputFormat(WorkImage& image, const Options& options, ThreadPool* pool = nullptr);

// Whether the output is interlaced: as the input for a negative request, else Adam7 when even.
bool OutputInterlaced(const WorkImage& image, const Options& options);

// The whole conversion of a read image: the lossy pre-pass ("/l"), colour reduction ("/jx"), the
// transparent-pixel variants, the format choice, interlace and gamma. progress is null when quiet.
OutputImage BuildOutputImage(WorkImage& image, const Options& options, std::ostream* progress = nullptr,
                             ThreadPool* pool = nullptr);

// Whether `encoded` decodes to the working image's pixels. Fully transparent pixels compare by
// alpha only when the options let their colour change.
bool DecodesToSamePixels(const std::vector<uint8_t>& encoded, const WorkImage& image, const Options& options,
                         std::string* why = nullptr);

// The number the reports give the output's colour type (0..7).
int ReportedColorType(const OutputImage& image);

}  // namespace jx::quillox
