// quillox's input, read, analysed and written out again: PNG and BMP by their signature, PPM
// otherwise. The freshly written PNG must decode to the same pixels, and a PNG input's
// kept chunks must leave a file the decoder accepts with every CRC sound.
#include "fuzz_common.h"
#include "pngopt/chunks.h"
#include "pngopt/encoder.h"
#include "pngopt/image.h"
#include "pngopt/output.h"
#include "pngenc/png_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string ext = fuzz::ExtensionOf(data, size);
    const std::string path =
        fuzz::Scratch::Get().Put(ext == ".png" || ext == ".bmp" ? "in" + ext : std::string("in.ppm"), data, size);
    jx::quillox::WorkImage image;
    if (fuzz::Refused([&] { image = jx::quillox::ReadInputFile(path, jx::quillox::ReadSettings{}); })) return 0;
    // Large images only slow the run down.
    if (uint64_t(image.width) * image.height > (uint64_t{1} << 16)) return 0;
    jx::quillox::Analyze(image);
    const jx::quillox::Options options = jx::quillox::SetDefaultOptions();
    jx::quillox::OutputImage out = jx::quillox::BuildOutputImage(image, options);
    std::vector<std::string> warnings;
    jx::quillox::CopyMetadataChunks(image, out, options, &warnings);
    jx::quillox::EncodeSettings fast;
    fast.level = 1;
    fast.filterSet = 1;
    const std::vector<uint8_t> bytes = jx::quillox::EncodePngJx(out, fast).bytes;
    try {
        (void)jx::PngImage::Decode(bytes);
    } catch (const std::exception& e) {
        fuzz::Finding(std::string("quillox wrote a PNG its own decoder refuses: ") + e.what());
    }
    std::string why;
    if (!jx::quillox::DecodesToSamePixels(bytes, image, options, &why)) fuzz::Finding("the written pixels differ: " + why);
    return 0;
}
