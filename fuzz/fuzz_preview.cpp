// The picture dialogs' size probe and preview over the formats that need no outside tool, the
// extension chosen by the file's signature.
#include "fileio/picture_preview.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string ext = fuzz::ExtensionOf(data, size);
    if (ext == ".ppm") return 0;  // no preview
    const std::string path = fuzz::Scratch::Get().Put("in" + ext, data, size);
    int32_t w = 0, h = 0;
    if (jx::ProbePictureSize(path, w, h) && (w <= 0 || h <= 0)) fuzz::Finding("a probed size that is not positive");
    jx::TPreviewLimits limits;
    limits.MaxSide = 256;
    limits.MaxFullDecodePixels = int64_t(1) << 20;
    jx::TPreviewImage preview;
    if (fuzz::Refused([&] { preview = jx::LoadPreview(path, limits); }) || preview.Empty()) return 0;
    const jx::TPixelRec grid[2] = {{255, 255, 255, 255}, {204, 204, 204, 255}};
    fuzz::Refused([&] { (void)jx::RenderPreview(preview, 64, 8, grid); });
    return 0;
}
