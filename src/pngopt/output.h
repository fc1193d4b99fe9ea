#pragma once
// The image the trial search encodes: PNG colour type, depth, palette and raw (unfiltered) rows.
#include <cstdint>
#include <vector>

#include "pngopt/image.h"
#include "pngopt/options.h"

namespace jx::quillox {

struct OutputImage {
    uint32_t width = 0, height = 0;
    int colorType = 6;  // PNG colour type 0, 2, 3, 4, 6
    int bitDepth = 8;
    bool interlace = false;
    std::vector<PaletteEntry> palette;  // colour type 3: PLTE, alphas become tRNS
    bool hasKey = false;                // colour types 0 and 2: tRNS key in file sample units
    Rgb16 key;
    bool hasGamma = false;
    uint32_t gamma = 0;
    uint64_t rowBytes = 0;
    std::vector<uint8_t> rows;  // height * rowBytes, PNG byte order, no filter bytes
};

// Picks the output layout: the input's own colour type and depth where they hold the working
// image exactly, else the plainest lossless type (grey or RGB, with alpha when needed).
OutputImage BuildOutputImage(const WorkImage& image, const Options& options);

// Whether `encoded` decodes to the working image's pixels. Fully transparent pixels compare by
// alpha only when the options let their colour change.
bool DecodesToSamePixels(const std::vector<uint8_t>& encoded, const WorkImage& image, const Options& options,
                         std::string* why = nullptr);

}  // namespace jx::quillox
