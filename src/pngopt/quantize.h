#pragma once
// Colour reduction of the working image to a requested count ("/jx c= d="), and the resampler its
// colour sampling uses for large images.
#include <cstdint>
#include <ostream>
#include <vector>

#include "pngopt/image.h"

namespace jx::quillox {

// A 32-bit image of packed colours A << 24 | R << 16 | G << 8 | B.
struct PackedImage {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

// Two-pass resample of source into destination (already sized) with filter 0..15.
void ResampleDIB(const PackedImage& source, PackedImage& destination, int filter);

struct QuantEntry {
    uint32_t color = 0;
    uint32_t count = 0;
    uint64_t sum[4] = {0, 0, 0, 0};  // A, R, G, B, each channel x count
};

// Merges the table (sorted by nothing in particular) down to at most `count` entries; rare colours
// keep `rareShare` percent of the slots. The table ends with min(count, its length) entries.
void ReduceColors(std::vector<QuantEntry>& table, int count, int threshold, int rareShare, std::ostream* progress);

// Distinct RGBA colours of the image's high bytes (transparent pixels count as one).
uint64_t CountDistinctColors8(const WorkImage& image);

// Reduces the image (made 8-bit) to at most `count` colours; dither is the error diffusion in percent.
void QuantizeImage(WorkImage& image, int count, int dither, std::ostream* progress);

}  // namespace jx::quillox
