// The one PNG decoder, as quillox calls it (row filters read, damaged ancillary chunks dropped)
// and as jx opens a file (pixels mapped to records).
#include "fileio/open_decoders.h"
#include "fuzz_common.h"
#include "pngenc/png_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> dropped;
    jx::PngDecodeOptions options;
    options.DroppedChunks = &dropped;
    options.CheckSize = [](uint32_t w, uint32_t h) {
        if (uint64_t(w) * h > (uint64_t{1} << 22)) throw jx::PngError("larger than the fuzz run takes");
    };
    const bool refused = fuzz::Refused([&] { (void)jx::PngImage::Decode(std::span(data, size), options); });
    if (!refused) {
        const std::string path = fuzz::Scratch::Get().Put("in.png", data, size);
        fuzz::Refused([&] { (void)jx::DecodePngFile(path); });
    }
    return 0;
}
