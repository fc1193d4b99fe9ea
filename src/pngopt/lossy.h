#pragma once
// The lossy pre-pass ("/l q= m="): the working image goes once through the encoder's lossy
// residual quantizer and comes back with the reconstructed pixels a decoder would see.
#include <cstdint>
#include <vector>

#include "pngopt/image.h"
#include "pngopt/options.h"

namespace jx::quillox {

// The one row filter of the pass, as a filter-set bit: the filter the command line enabled
// alone, else Average for grey images and those of more than 256 colours, else Paeth.
uint8_t LossyFilterSet(const WorkImage& image, const Options& options);

// The level list of lossy method 1: the residual histograms of the image's high bytes under
// every filter of filterSet, merged into 2 * sqrt(quality)-wide bins.
std::vector<int32_t> PrepareLossyLevels(const WorkImage& image, uint8_t filterSet, int quality);

// Runs the pre-pass when the lossy quality is above 0 and the output is not interlaced (those are
// written losslessly); then analyses again. False when nothing was done.
bool ApplyLossyPrePass(WorkImage& image, const Options& options);

}  // namespace jx::quillox
