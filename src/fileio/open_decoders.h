#pragma once
// The decoders OpenImage picks by extension. Each reads a whole file into a fresh image (rows top
// first, R, G, B, A set; c1..c3 and Weight left 0) and decides whether it has alpha; a file they
// cannot read raises FileIoError and touches nothing else.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "imaging/engine_state.h"

namespace jx {

struct TDecodedImage {
    TPixelImage Pixels;
    bool HasAlpha = false;
    int32_t SourceBits = 0;  // bits a pixel in the file, where the format has one
    // Damage the decoder read past (a dropped chunk, a cut-short stream): the image opens, and
    // the user is told.
    std::vector<std::string> Warnings;
};

// libpng: every colour type and bit depth, tRNS, 16-bit samples (high byte kept), Adam7. An
// ancillary chunk with a bad CRC is dropped with a warning; damage anywhere else refuses the file.
TDecodedImage DecodePngFile(const std::string& fileName);

// BMP/DIB: 1, 4, 8, 16, 24 and 32 bits, bit fields, RLE4/RLE8, bottom-up and top-down rows.
// Run-length codes must keep inside their rows as stored (padded to 32 bits; pixels in the padding
// are dropped) and count them from the bottom. A file opens at its header's size with a warning
// that the size may be damaged when its data says otherwise: rows past the height before the
// file's end (a few bytes of padding aside), run-length codes that leave half of the rows
// unreached, end every row at one column short of the width, go on past the last row or jump out
// of the image.
// 32-bit pixels keep their alpha unless every alpha byte is 0; other depths take their alpha from
// the mask side file (folder + "mask" + name with ".dat") when there is one.
TDecodedImage DecodeBmpFile(const std::string& fileName);
// What a colour index past the bitmap's colour table means: black (jx) or a damaged file (quillox).
enum class TIndexPastTable { Black, Refuse };
struct TBmpReadOptions {
    TIndexPastTable IndexPastTable = TIndexPastTable::Black;
    // Called with the header's size before any pixel memory is taken; may throw to refuse.
    std::function<void(int64_t width, int64_t height)> CheckSize;
};
// The bitmap alone, from memory (no mask side file).
TDecodedImage DecodeBmpBytes(std::span<const uint8_t> bytes, const TBmpReadOptions& options = {});
// The side file of a bitmap: folder + "mask" + the file name with its extension changed to ".dat".
std::string MaskSideFileName(const std::string& bitmapFileName);
// Sets A from a 1-bit AND mask laid out like a bottom-up 1-bit bitmap: a set bit is transparent.
// Rows the mask does not hold count as clear (opaque).
void ApplyMaskSideFile(std::span<const uint8_t> mask, TPixelImage& image);

// giflib: every frame drawn in order onto a canvas of the logical screen, clipped to it.
TDecodedImage DecodeGifFile(const std::string& fileName);
// The image descriptors of a GIF file, counted without decoding them; a damaged file raises
// FileIoError.
int CountGifFrames(const std::string& fileName);
// The frame count an animated PNG declares before its image data (acTL); 1 for a still PNG. A
// damaged chunk structure raises FileIoError.
uint32_t CountPngFrames(const std::string& fileName);

// The readers of their own files: TGA (also ".vst", ".icb", ".vda", ".win"), PSD/PDD, JPEG
// (libjpeg) and WebP (the outside decoder, exchange files in a private folder). 32-bit
// results carry alpha; PSD colours are stored blended with white and are un-blended here.
TDecodedImage DecodeTgaFile(const std::string& fileName);
TDecodedImage DecodePsdFile(const std::string& fileName);
TDecodedImage DecodeJpegFile(const std::string& fileName);
TDecodedImage DecodeWebpFile(const std::string& fileName);
struct TOpenTools;
TDecodedImage DecodeWebpFile(const std::string& fileName, const TOpenTools& tools);

// PSD's un-blending from white of one channel value s at alpha a > 0, clamped to 0..255.
uint8_t UnblendFromWhite(uint8_t s, uint8_t a);

}  // namespace jx
