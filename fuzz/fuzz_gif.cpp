// The GIF reader, through its file entry point, and the frame count the batch takes of every GIF.
#include "fileio/open_decoders.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::Scratch::Get().Put("in.gif", data, size);
    fuzz::Refused([&] { (void)jx::DecodeGifFile(path); });
    fuzz::Refused([&] { (void)jx::CountGifFrames(path); });
    return 0;
}
