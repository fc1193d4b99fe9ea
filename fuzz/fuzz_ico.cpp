// Icon and cursor files: split into frame files as the icon dialog does, each frame opened as the
// main window would, written back and read again with the same frames; and the open dialog's
// in-memory preview.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "fileio/icon_file.h"
#include "fileio/open_decoders.h"
#include "fileio/picture_preview.h"
#include "fuzz_common.h"

namespace {

std::string Contents(const std::string& path) {
    if (path.empty()) return {};
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// What a frame reads back as: its directory entry (but for the size and offset the writer sets),
// its kind, size and depth, and its frame and mask files.
bool SameFrame(const jx::TIconFrames& a, const jx::TIconFrames& b) {
    return std::equal(a.Entry.begin(), a.Entry.begin() + 8, b.Entry.begin()) && a.IsPng == b.IsPng &&
           a.Width == b.Width && a.Height == b.Height && a.Bits == b.Bits && a.MaskSize == b.MaskSize &&
           Contents(a.FrameFile) == Contents(b.FrameFile) && Contents(a.MaskFile) == Contents(b.MaskFile);
}

}  // namespace

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
        if (!f.Damage.empty()) {
            if (!f.FrameFile.empty() || !f.MaskFile.empty()) fuzz::Finding("a damaged frame has frame files");
            continue;
        }
        order.push_back(int32_t(k));
        fuzz::Refused([&] { (void)(f.IsPng ? jx::DecodePngFile(f.FrameFile) : jx::DecodeBmpFile(f.FrameFile)); });
    }
    std::string written;
    if (!fuzz::Refused([&] { written = icon.WriteIconFile(scratch.Folder() + "/out.ico", 1, order); })) {
        jx::TIconFile again(scratch.Folder() + "/again");
        std::filesystem::create_directories(scratch.Folder() + "/again");
        if (fuzz::Refused([&] { again.ReadIconFile(written); })) fuzz::Finding("a written icon does not read again");
        if (again.Frames().size() != order.size()) fuzz::Finding("a written icon reads back with another frame count");
        for (size_t k = 0; k < order.size() && k < again.Frames().size(); ++k)
            if (!SameFrame(icon.Frames()[size_t(order[k])], again.Frames()[k]))
                fuzz::Finding("a written icon reads back with another frame");
    }
    icon.DeleteFrameFiles();
    return 0;
}
