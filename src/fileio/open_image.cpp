#include "fileio/open_image.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "fileio/errors.h"
#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/quantize.h"
#include "platform/file_size.h"

namespace jx {

namespace {

bool IsIconExtension(const std::string& ext) { return ext == ".ico" || ext == ".cur"; }

}  // namespace

const std::vector<TImageLoader>& ImageLoaders() {
    // Looked up by exact lower-case extension; the first match wins. A new format joins with one
    // line here.
    static const std::vector<TImageLoader> loaders = {
        {".tga", DecodeTgaFile}, {".vst", DecodeTgaFile}, {".icb", DecodeTgaFile},
        {".vda", DecodeTgaFile}, {".win", DecodeTgaFile},
        {".psd", DecodePsdFile}, {".pdd", DecodePsdFile},
        {".png", DecodePngFile},
        {".bmp", DecodeBmpFile}, {".dib", DecodeBmpFile},
        {".gif", DecodeGifFile},
        {".ico", nullptr}, {".cur", nullptr},  // the icon frame dialog
        {".jpg", DecodeJpegFile}, {".jpeg", DecodeJpegFile}, {".jpe", DecodeJpegFile},
        {".webp", DecodeWebpFile},
    };
    return loaders;
}

std::string LowerExtension(const std::string& fileName) {
    std::string ext = std::filesystem::path(fileName).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

std::array<std::string, 4> OpenStatusTexts(const EngineState& state, const TOpenedFile& current) {
    return {current.Name,
            "Dimension: " + std::to_string(state.ImageWidth()) + "x" + std::to_string(state.ImageHeight()),
            "Unique colors: " + std::to_string(state.UniqueColorCount),
            "File size: " + std::to_string(current.Size) + " bytes"};
}

bool OpenImage(TOpenTarget& target, const std::string& fileName, uint8_t /*fromBatch*/) {
    EngineState& state = target.State;
    OpenImageObserver& observer = target.Observer;
    std::error_code ec;
    if (!observer.ToolBarEnabled() || !std::filesystem::is_regular_file(fileName, ec)) return false;

    const std::string ext = LowerExtension(fileName);
    const auto& loaders = ImageLoaders();
    const auto it = std::find_if(loaders.begin(), loaders.end(),
                                 [&](const TImageLoader& l) { return ext == l.Extension; });
    if (ext.empty() || it == loaders.end()) return false;
    if (IsIconExtension(ext)) {
        observer.ShowIconDialog(fileName);
        return false;
    }
    if (!it->Decode) throw FileIoError("Opening " + ext + " files is not available in this build");

    // Decode first: a damaged file must leave the current image and the editing state alone.
    TDecodedImage decoded = it->Decode(fileName);
    if (decoded.Pixels.Empty()) throw FileIoError("The file holds no image: " + fileName);

    observer.LeaveEditingModes();
    state.HasAlpha = decoded.HasAlpha;
    // The colour-space pass below converts the image and builds its edge map; converting here
    // as well would do that work twice.
    const bool applySpace = !(state.BatchQuantize && target.Settings.ColorCount != "TrueColor");
    state.SetSourceImage(std::move(decoded.Pixels),
                         applySpace ? TSourceConversion::Deferred : TSourceConversion::Now);

    const std::string name = std::filesystem::path(fileName).filename().string();
    if (name != "Alpha.bmp") {
        target.Current.Name = name;
        target.Current.Size = FileSizeOf(fileName);
    }

    observer.SourceReplaced(state.ImageWidth(), state.ImageHeight(), state.HasAlpha);
    state.ReconvertPending = true;
    BuildUniqueColors(state);

    if (applySpace) {
        state.PaletteSize = state.UniqueColorCount > 256 ? -1 : state.UniqueColorCount;
        const std::string text = state.PaletteSize < 0 ? "TrueColor" : std::to_string(state.PaletteSize);
        target.Settings.ColorCount = text;
        observer.ShowColorCount(text);
        ApplyColorSpace(state, target.Settings.ColorSpace);
    }
    if (!target.BatchMode) observer.SaveUndoState(true, true, state.UniqueColorCount <= 256);

    Quantize(state, target.Settings, observer);

    const auto texts = OpenStatusTexts(state, target.Current);
    for (int32_t i = 0; i < 4; ++i) observer.StatusText(i, texts[static_cast<size_t>(i)]);
    return true;
}

std::vector<uint8_t> EncodeBmp24(const TClipboardBitmap& bitmap) {
    const uint64_t w = static_cast<uint64_t>(std::max(bitmap.Width, 0));
    const uint64_t h = static_cast<uint64_t>(std::max(bitmap.Height, 0));
    const uint64_t stride = (w * 3 + 3) & ~uint64_t{3};
    const uint64_t dataSize = stride * h;
    if (bitmap.Bgr.size() < w * h * 3 || dataSize > 0x7FFFFFFF - 54)
        throw FileIoError("Bitmap too large or incomplete");
    std::vector<uint8_t> out(54 + dataSize, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + size_t(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    out[26] = 1;
    out[28] = 24;
    put32(34, static_cast<uint32_t>(dataSize));
    for (uint64_t y = 0; y < h; ++y)
        std::copy_n(bitmap.Bgr.begin() + static_cast<ptrdiff_t>(y * w * 3), w * 3,
                    out.begin() + static_cast<ptrdiff_t>(54 + (h - 1 - y) * stride));
    return out;
}

bool PasteClick(TOpenTarget& target, const TClipboardBitmap& bitmap, const std::string& sessionFolder) {
    EngineState& state = target.State;
    if (bitmap.Width <= 0 || bitmap.Height <= 0 ||
        bitmap.Bgr.size() < uint64_t(bitmap.Width) * uint64_t(bitmap.Height) * 3)
        return false;
    try {
        if (target.Observer.MaskEditing()) {
            if (!state.HasImage() || bitmap.Width < state.ImageWidth() || bitmap.Height < state.ImageHeight())
                return false;
            for (int32_t y = 0; y < state.ImageHeight(); ++y)
                for (int32_t x = 0; x < state.ImageWidth(); ++x)
                    state.QualityMask[y][x] = bitmap.Bgr[(size_t(y) * size_t(bitmap.Width) + size_t(x)) * 3];
            target.Observer.MaskPasted();
            return true;
        }
        const std::string path = (std::filesystem::path(sessionFolder) / "Clipboard.bmp").string();
        const std::vector<uint8_t> bytes = EncodeBmp24(bitmap);
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            if (!out) return false;
        }
        target.Observer.ClearFileTabs();
        return OpenImage(target, path);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace jx
