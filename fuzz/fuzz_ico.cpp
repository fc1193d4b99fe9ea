// Icon and cursor files: split into frame files as the icon dialog does, each frame opened as the
// main window would, written back and read again; and the open dialog's in-memory preview.
#include "fileio/icon_file.h"
#include "fileio/open_decoders.h"
#include "fileio/picture_preview.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Scratch& scratch = fuzz::Scratch::Get();
    const std::string session = scratch.Folder() + "/session";
    std::filesystem::create_directories(session);
    jx::TPreviewLimits limits;
    limits.MaxSide = 256;
    limits.MaxFullDecodePixels = int64_t(1) << 20;
    fuzz::Refused([&] { (void)jx::DecodeIconPreview(std::span(data, size), limits); });

    const std::string path = scratch.Put("in.ico", data, size);
    jx::TIconFile icon(session);
    if (fuzz::Refused([&] { icon.ReadIconFile(path); })) {
        if (!std::filesystem::is_empty(session)) fuzz::Finding("a refused icon left frame files behind");
        return 0;
    }
    std::vector<int32_t> order;
    for (size_t k = 0; k < icon.Frames().size() && k < 8; ++k) {
        const jx::TIconFrames& f = icon.Frames()[k];
        order.push_back(int32_t(k));
        fuzz::Refused([&] { (void)(f.IsPng ? jx::DecodePngFile(f.FrameFile) : jx::DecodeBmpFile(f.FrameFile)); });
    }
    std::string written;
    if (!fuzz::Refused([&] { written = icon.WriteIconFile(scratch.Folder() + "/out.ico", 1, order); })) {
        jx::TIconFile again(scratch.Folder() + "/again");
        std::filesystem::create_directories(scratch.Folder() + "/again");
        if (fuzz::Refused([&] { again.ReadIconFile(written); })) fuzz::Finding("a written icon does not read again");
    }
    icon.DeleteFrameFiles();
    return 0;
}
