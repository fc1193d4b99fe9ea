// The JPEG reader, through its file entry point; damage it reads past comes back as a warning.
#include "fileio/open_decoders.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::Scratch::Get().Put("in.jpg", data, size);
    jx::TDecodedImage image;
    if (fuzz::Refused([&] { image = jx::DecodeJpegFile(path); })) return 0;
    for (const std::string& w : image.Warnings)
        if (w.empty()) fuzz::Finding("an empty warning");
    return 0;
}
