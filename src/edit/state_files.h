#pragma once
// The byte layouts of one undo state's files. Each decoder reads back exactly what its encoder
// wrote and refuses anything else with EditError, so a damaged state file changes nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/engine_state.h"

namespace jx {

using TBytes = std::vector<uint8_t>;

// ".img": a 32-bit uncompressed bitmap file, bottom row first, each pixel B, G, R, A.
TBytes EncodeStateImage(const TPixelImage& image);
// R, G, B, A of every pixel; c1..c3 and Weight are left 0 for the caller's converter.
TPixelImage DecodeStateImage(const TBytes& bytes);

// ".wrk": the working image shown with the state, R, G, B, A of every pixel. A header ("JXWK",
// width, height, colour count, uint32 little-endian each), then the distinct colours (R, G, B, A)
// and one index a pixel, top row first: a byte each up to 256 colours, two bytes (little-endian)
// up to 65536; past that the count is 0 and every pixel is written as R, G, B, A.
TBytes EncodeStateWorking(const TPixelImage& image);
// R, G, B, A of every pixel; c1..c3 and Weight are left 0 for the caller's converter.
TPixelImage DecodeStateWorking(const TBytes& bytes);

// ".msk": the mask rows, top row first, no header.
TBytes EncodeStateMask(const TByteImage& mask);
TByteImage DecodeStateMask(const TBytes& bytes, int32_t width, int32_t height);

// ".pal": a JASC palette of Palette[0..count-1] with alpha, CR LF line ends.
TBytes EncodeStatePalette(const std::vector<TPixelRec>& palette, int32_t count);
// The entries in file order, duplicates kept; only R, G, B, A are set.
std::vector<TPixelRec> DecodeStatePalette(const TBytes& bytes);

// ".prm": PaletteSize then ColorListLength, int32 little-endian each.
struct TStateParams {
    int32_t PaletteSize = -1;
    int32_t ColorListLength = 0;
};
TBytes EncodeStateParams(const TStateParams& params);
TStateParams DecodeStateParams(const TBytes& bytes);

}  // namespace jx
