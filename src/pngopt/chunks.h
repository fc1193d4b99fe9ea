#pragma once
// Which ancillary chunks of a PNG input reach the output, on the ordinary road (re-encoded image)
// and on the chunk-only copy ("/nz", "/o0").
#include <string>
#include <vector>

#include "pngopt/image.h"
#include "pngopt/options.h"
#include "pngopt/output.h"

namespace jx::quillox {

// The chunk list with its group words replaced by their members for this input.
std::vector<std::string> ExpandChunkList(const std::vector<std::string>& list, const std::vector<std::string>& inputNames,
                                         bool chunkOnly);

// Copies the kept chunks of the input into the output object, converted to the output's colour
// type and depth where their content depends on it (sBIT, bKGD, hIST, iCCP).
void CopyMetadataChunks(const WorkImage& input, OutputImage& output, const Options& options);

// The chunk-only copy of a PNG file: empty when nothing is to be written (no PNG, or keep all).
// A damaged chunk structure raises InputError.
std::vector<uint8_t> CopyChunksOnly(const std::vector<uint8_t>& file, const Options& options, bool* write);

// "Chunks: ..." with its line end "\n\r".
std::string ChunkReport(const std::vector<std::string>& names);

}  // namespace jx::quillox
