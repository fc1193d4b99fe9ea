#pragma once
// Which ancillary chunks of a PNG input reach the output, on the ordinary road (re-encoded image)
// and on the chunk-only copy ("/nz", "/o0").
#include <string>
#include <vector>

#include "pngopt/image.h"
#include "pngopt/options.h"
#include "pngopt/output.h"

namespace jx::quillox {

// The chunk list with its group words replaced by their members for this input. Only the
// lower-case words are groups: "tEXt" is a chunk type, "text" the group.
std::vector<std::string> ExpandChunkList(const std::vector<std::string>& list, const std::vector<std::string>& inputNames,
                                         bool chunkOnly);

// The line CopyMetadataChunks gives when a palette output's background is its nearest entry.
inline constexpr const char* kNearestBackgroundWarning = "bKGD: the palette is full, the nearest colour stands in";

// Copies the kept chunks of the input into the output object in their order, converted to the
// output's colour type and depth where their content depends on it (sBIT, bKGD, hIST, iCCP). A
// once-only chunk (gAMA too) keeps its first sound copy; a repeated one, one of the wrong length
// or content, or a text chunk with an invalid keyword is dropped with a line in warnings, and so
// is each chunk moved from after the image data to before it. A palette output gains the
// background's exact colour when no entry has it and there is room, within a "/jx" colour count.
void CopyMetadataChunks(const WorkImage& input, OutputImage& output, const Options& options,
                        std::vector<std::string>* warnings = nullptr);

// The chunk-only copy of a PNG file: empty when nothing is to be written (keep all). A file that
// is no PNG, a damaged chunk structure or a critical chunk with a bad CRC raises InputError; an
// ancillary chunk with a bad CRC is dropped and named in warnings.
std::vector<uint8_t> CopyChunksOnly(const std::vector<uint8_t>& file, const Options& options, bool* write,
                                    std::vector<std::string>* warnings = nullptr);

// "Chunks: ..." with its line end "\n\r".
std::string ChunkReport(const std::vector<std::string>& names);

}  // namespace jx::quillox
