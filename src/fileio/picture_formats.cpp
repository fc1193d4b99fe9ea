#include "fileio/picture_formats.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "fileio/open_decoders.h"
#include "fileio/tool_bitmaps.h"
#include "platform/ascii.h"

namespace jx {
namespace {

// The readers that decode a whole file by name, as 32-bit pictures with their alpha.
template <TDecodedImage (*Decode)(const std::string&)>
std::unique_ptr<TBitmap> LoadDecoded(const std::filesystem::path& path) {
    const TDecodedImage decoded = Decode(path.string());
    auto picture = std::make_unique<TBitmap>();
    picture->SetPixelFormat(TPixelFormat::pf32bit);
    picture->SetSize(static_cast<int>(decoded.Pixels.Width()), static_cast<int>(decoded.Pixels.Height()));
    for (int y = 0; y < picture->Height(); ++y) {
        uint8_t* row = picture->ScanLine(y);
        const TPixelRec* in = decoded.Pixels[y];
        for (int x = 0; x < picture->Width(); ++x, row += 4) {
            row[0] = in[x].B;
            row[1] = in[x].G;
            row[2] = in[x].R;
            row[3] = in[x].A;
        }
    }
    return picture;
}

const TGraphicClass kBitmapClass{"TBitmap", nullptr, &LoadDecoded<DecodeBmpFile>};
const TGraphicClass kPngClass{"TPngImage", nullptr, &LoadDecoded<DecodePngFile>};
const TGraphicClass kGifClass{"TGifImage", nullptr, &LoadDecoded<DecodeGifFile>};
const TGraphicClass kJpegImageClass{"TJPEGImage", nullptr, &LoadDecoded<DecodeJpegFile>};

const TStartupClasses kStartupClasses{&kBitmapClass, nullptr, nullptr, &kJpegImageClass};

struct TProgramFormats {
    TPictureRegistry Registry;
    TFileFormatList List{Registry};
    TProgramFormats() {
        Registry.Register("png", "Portable Network Graphics", &kPngClass);
        Registry.Register("gif", "GIF Image", &kGifClass);
        RegisterImageFormats(List, kStartupClasses);
        RegisterToolFormats(Registry);
    }
    ~TProgramFormats() {
        UnregisterToolFormats(Registry);
        UnregisterImageFormats(List, kStartupClasses);
    }
    TProgramFormats(const TProgramFormats&) = delete;
    TProgramFormats& operator=(const TProgramFormats&) = delete;
};

}  // namespace

const TPictureRegistry& PictureFormats() {
    static const TProgramFormats formats;
    return formats.Registry;
}

std::string GraphicFilter(const TPictureRegistry& registry) {
    std::vector<const TPictureRegistry::TEntry*> listed;
    std::vector<std::string> seen;
    for (const TPictureRegistry::TEntry& e : registry.Entries()) {
        const std::string ext = AsciiLower(e.Extension);
        if (ext.empty() || std::find(seen.begin(), seen.end(), ext) != seen.end()) continue;
        seen.push_back(ext);
        listed.push_back(&e);
    }
    std::string masks;
    for (const std::string& ext : seen) masks += (masks.empty() ? "*." : ";*.") + ext;
    std::string filter = "All (" + masks + ")|" + masks;
    for (size_t i = 0; i < listed.size(); ++i)
        filter += "|" + listed[i]->Description + " (*." + seen[i] + ")|*." + seen[i];
    return filter;
}

}  // namespace jx
