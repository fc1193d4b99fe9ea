#pragma once
// The writer's pieces for callers that filter and deflate the image data themselves: the rows
// as the writer stores them, and the file framed around a finished deflate stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pngenc/png_image.h"

namespace jx::pngenc {

// Row y (or the Adam7 pass row from column x0 in steps of dx, count pixels) in PNG byte order
// at the output depth: n bytes.
void PackImageRow(const PngImage& img, uint32_t y, uint32_t x0, uint32_t dx, uint32_t count, uint8_t* out, size_t n);

// The whole file around an image-data stream, exactly as Encode writes it; an empty stream
// gives the file without IDAT chunks.
std::vector<uint8_t> FrameImageData(const PngImage& img, const std::vector<uint8_t>& stream);

}  // namespace jx::pngenc
