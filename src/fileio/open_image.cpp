#include "fileio/open_image.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "fileio/errors.h"
#include "fileio/file_bytes.h"
#include "fileio/png_probe.h"
#include "fileio/save_image.h"
#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/edge_map.h"
#include "imaging/quantize.h"
#include "platform/ascii.h"
#include "platform/file_size.h"

namespace jx {

namespace {

bool IsIconExtension(const std::string& ext) { return ext == ".ico" || ext == ".cur"; }

const TImageDecoder kWebpDecoder = DecodeWebpFile;

const char* FormatName(TImageDecoder decode) {
    if (decode == DecodeTgaFile) return "TGA";
    if (decode == DecodePsdFile) return "PSD";
    if (decode == DecodePngFile) return "PNG";
    if (decode == DecodeBmpFile) return "BMP";
    if (decode == DecodeGifFile) return "GIF";
    if (decode == DecodeJpegFile) return "JPEG";
    if (decode == kWebpDecoder) return "WebP";
    return "image";
}

// "Cannot open "x.gif" as GIF: <cause>"; a cause that already begins with the format's tag drops it.
std::string OpenFailureText(const std::string& fileName, const std::string& format, std::string cause) {
    const std::string tag = format + ": ";
    if (cause.size() > tag.size() && std::equal(tag.begin(), tag.end(), cause.begin(), [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        }))
        cause.erase(0, tag.size());
    return "Cannot open \"" + fileName + "\" as " + format + ": " + cause;
}

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
    return AsciiLower(std::filesystem::path(fileName).extension().string());
}

std::array<std::string, 4> OpenStatusTexts(const EngineState& state, const TOpenedFile& current) {
    return {current.Name,
            "Dimension: " + std::to_string(state.ImageWidth()) + "x" + std::to_string(state.ImageHeight()),
            "Unique colors: " + std::to_string(state.UniqueColorCount),
            "File size: " + std::to_string(current.Size) + " bytes"};
}

bool OpenImage(TOpenTarget& target, const std::string& fileName) {
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
    TDecodedImage decoded;
    const std::string format = FormatName(it->Decode);
    try {
        decoded = it->Decode == kWebpDecoder ? DecodeWebpFile(fileName, target.Tools) : it->Decode(fileName);
    } catch (const std::runtime_error& e) {
        throw FileIoError(OpenFailureText(fileName, format, e.what()));
    }
    if (decoded.Pixels.Empty()) throw FileIoError(OpenFailureText(fileName, format, "the file holds no image"));

    const std::vector<std::string> warnings = std::move(decoded.Warnings);
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
    // The conversion rides on the colour count: each distinct colour is converted once. An
    // unknown colour space keeps the current converter.
    if (applySpace) SelectColorSpace(state, target.Settings.ColorSpace);
    BuildUniqueColors(state, applySpace);

    if (applySpace) {
        state.PaletteSize = state.UniqueColorCount > 256 ? -1 : state.UniqueColorCount;
        const std::string text = state.PaletteSize < 0 ? "TrueColor" : std::to_string(state.PaletteSize);
        target.Settings.ColorCount = text;
        observer.ShowColorCount(text);
        BuildEdgeMap(state);
    }
    if (!target.BatchMode) observer.SaveUndoState(true, true, state.UniqueColorCount <= 256);

    Quantize(state, target.Settings, observer);

    const auto texts = OpenStatusTexts(state, target.Current);
    for (int32_t i = 0; i < 4; ++i) observer.StatusText(i, texts[static_cast<size_t>(i)]);
    for (const std::string& w : warnings) observer.OpenWarning(name + ": " + w);
    return true;
}

std::vector<uint8_t> EncodeBmp24(const TClipboardBitmap& bitmap) {
    const uint64_t w = static_cast<uint64_t>(std::max(bitmap.Width, 0));
    const uint64_t h = static_cast<uint64_t>(std::max(bitmap.Height, 0));
    if (bitmap.Bgr.size() < w * h * 3 || w * h * 3 > 0x7FFFFFFF - 54) throw FileIoError("Bitmap too large or incomplete");
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(bitmap.Width, bitmap.Height);
    for (uint64_t y = 0; y < h; ++y)
        std::copy_n(bitmap.Bgr.begin() + static_cast<ptrdiff_t>(y * w * 3), w * 3, b.ScanLine(static_cast<int>(y)));
    return EncodeBmp(b);
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
        WriteFileBytes(path, EncodeBmp24(bitmap));
        target.Observer.ClearFileTabs();
        return OpenImage(target, path);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace jx
