#pragma once
// What the output stage's steps share: the row writer, the colour-table access and the trial
// measurement that decides between layouts. Only the output stage's files include this.
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "pngopt/encoder.h"
#include "pngopt/output.h"
#include "pngopt/thread_pool.h"

namespace jx::quillox::detail {

inline int ChannelsOf(PngColorType colorType) {
    switch (colorType) {
        case kPngGrey: return 1;
        case kPngRgb: return 3;
        case kPngPalette: return 1;
        case kPngGreyAlpha: return 2;
        default: return 4;
    }
}

inline OutputImage Blank(const WorkImage& image, PngColorType colorType, int depth) {
    OutputImage out;
    out.width = image.width;
    out.height = image.height;
    out.colorType = colorType;
    out.bitDepth = depth;
    uint64_t bitsPerPixel = uint64_t(ChannelsOf(colorType)) * depth;
    out.rowBytes = (uint64_t(out.width) * bitsPerPixel + 7) / 8;
    CheckImageSize(out.width, out.height);
    try {
        out.rows.assign(out.rowBytes * out.height, 0);
    } catch (const std::bad_alloc&) {
        throw InputError("Not enough memory for the output image");
    }
    return out;
}

// Stores one sample of `depth` bits (1..16) at sample position i of a row.
inline void PutSample(uint8_t* row, uint64_t i, int depth, uint32_t v) {
    if (depth == 16) {
        row[2 * i] = uint8_t(v >> 8);
        row[2 * i + 1] = uint8_t(v);
    } else if (depth == 8) {
        row[i] = uint8_t(v);
    } else {
        uint64_t bit = i * depth;
        row[bit / 8] |= uint8_t(v << (8 - depth - bit % 8));
    }
}

inline uint8_t Hi(uint64_t rgba, int channel) { return uint8_t(rgba >> (56 - 16 * channel)); }  // 0 R .. 3 A

inline uint32_t GreyDivisor(int depth) { return depth == 1 ? 0xFF : depth == 2 ? 0x55 : depth == 4 ? 0x11 : 1; }

// A size limit read while a measurement runs: a file that reaches it cannot be chosen.
using SizeLimit = std::function<uint64_t()>;
// Told each size measured in full, as soon as it is known.
using SizeSeen = std::function<void(uint64_t)>;

class Measurer {
public:
    Measurer(const Options& o, ThreadPool* pool) : o_(o), pool_(pool) {}

    EncodeSettings Settings(const OutputImage& image, uint8_t filterSet, int strategy) const;
    // The smallest size under these (filter set, strategy) pairs, measured side by side.
    uint64_t Smallest(const OutputImage& image, const std::vector<std::pair<uint8_t, int>>& settings) const {
        return Winner({&image}, settings, nullptr, nullptr)->size;
    }

    struct Measured {
        size_t index;
        uint64_t size;
    };
    // Among images, each sized as the smallest of its encodings under settings, the smallest
    // (the earlier one on a tie); none when every image reached the limit. An encoding is given
    // up once it cannot decide the outcome: as large as an earlier image's encoding, larger than
    // a later one's, as large as another encoding of its own image, or at the limit.
    std::optional<Measured> Winner(const std::vector<const OutputImage*>& images,
                                   const std::vector<std::pair<uint8_t, int>>& settings, const SizeLimit& limit,
                                   const SizeSeen& seen) const;
    // None and all five filters.
    static std::vector<std::pair<uint8_t, int>> NoneAndAll() { return {{0x01, 0}, {0x1F, 0}}; }
    ThreadPool* Pool() const { return pool_; }

private:
    const Options& o_;
    ThreadPool* pool_;
};

struct Candidate {
    OutputImage image;
    uint64_t size = 0;
};

// The image measured as a candidate layout; none when it reached the limit.
std::optional<Candidate> Measure(OutputImage image, const Measurer& m, const SizeLimit& limit, const SizeSeen& seen);

// Bit depth (output_bit_depth.cpp).
int BitsFor(size_t entries);
// Whether the grey image holds exactly at `depth` (high bytes on its grid).
bool GreyFits(const WorkImage& image, int depth);
void To8Bit(WorkImage& image);

// Colour type (output_color_type.cpp).
// Grey or RGB, with the alpha the transparency kind asks for (a key where one exists).
OutputImage BuildPlain(const WorkImage& image, bool rgb, int depth, Transparency kind, bool mayRecolour);
// "/nc": the input's colour type and depth, changed only where the pixels or "/jx" ask for it.
OutputImage KeepColorType(WorkImage& image, const Options& options, const Measurer& m);
// Every palette, grey and true-colour layout that holds at most 256 colours, measured in slot
// order; a later layout replaces the choice unless it is at least 1 % larger.
OutputImage ChooseSmallLayout(const WorkImage& image, const Options& options, Transparency kind, bool mayRecolour,
                              const Measurer& m, ThreadPool* pool);

// Palette (output_palette.cpp).
// False under "/np" for a palette input: its palette and indices are kept as they are.
bool Reorderable(const WorkImage& image, const Options& options);
// A palette image of the table's colours in the table's order.
OutputImage BuildPalette(const WorkImage& image, const std::vector<ColorUse>& table, int depth);
// The input's own palette and indices ("/np").
OutputImage BuildInputPalette(const WorkImage& image, int depth);

// Palette order (output_palette_order.cpp).
// The palette image at `depth` in the order that encodes smallest (the input's own under "/np");
// none when the colours do not fit the depth, and also when every order reached the limit.
std::optional<Candidate> ChoosePaletteOrder(const WorkImage& image, const Options& options, int depth,
                                            Transparency kind, const Measurer& m, const SizeLimit& limit = nullptr,
                                            const SizeSeen& seen = nullptr);

// Transparent fill (output_transparent_fill.cpp).
// The output of the fill of transparent pixels' colours that encodes smallest; the image becomes
// the filled one.
OutputImage ChooseTransparentFill(WorkImage& image, const Options& options, std::ostream* progress, ThreadPool* pool);

}  // namespace jx::quillox::detail
