#pragma once
// The one walk over a PNG stream's chunks (structure, names, lengths, CRCs): the decoder reads
// through it, and so does the optimiser's copy that keeps the image data untouched.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace jx::pngenc {

struct ChunkRef {
    std::string name;
    size_t data;    // offset of the data in the file; the chunk's length field is 8 bytes before it
    size_t length;  // of the data; the whole chunk takes length + 12 bytes
};

// Where a walk ends.
enum class WalkEnd {
    Iend,       // at IEND; nothing after it is looked at
    ImageData,  // after the last IDAT chunk
    FileEnd,    // at the end of the file, walking on past IEND (which must be there)
};

// Walks the chunks from offset 8; checks lengths, names and (optionally) CRCs. With `dropped`, an
// ancillary chunk with a bad CRC is left out and named there instead of refused. Damage raises
// PngError.
std::vector<ChunkRef> WalkChunks(std::span<const uint8_t> file, bool checkCrc,
                                 std::vector<std::string>* dropped = nullptr, WalkEnd end = WalkEnd::Iend);

}  // namespace jx::pngenc
