#include "fileio/format_graphic.h"

#include "fileio/ppm_graphic.h"
#include "fileio/psd_graphic.h"
#include "fileio/targa_graphic.h"
#include "platform/ascii.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <istream>

namespace jx {

const char* const kInvalidImageFormat = "Cannot load image. Invalid or unexpected %s image format.";

void GraphicError(const std::string& message_template, const std::string& argument) {
    std::string text = message_template;
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    throw EInvalidGraphic(text);
}

namespace {

std::string StripDot(const std::string& extension) {
    return !extension.empty() && extension[0] == '.' ? extension.substr(1) : extension;
}

}  // namespace

// ---- picture registry ----

void TPictureRegistry::Register(const std::string& extension, const std::string& description,
                                const TGraphicClass* graphic_class) {
    entries_.push_back({StripDot(extension), description, graphic_class});
}

void TPictureRegistry::Unregister(const TGraphicClass* graphic_class) {
    std::erase_if(entries_, [&](const TEntry& e) { return e.Class == graphic_class; });
}

const TGraphicClass* TPictureRegistry::FindClass(const std::string& extension) const {
    const std::string wanted = AsciiLower(StripDot(extension));
    if (wanted.empty()) return nullptr;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (AsciiLower(it->Extension) == wanted) return it->Class;
    return nullptr;
}

std::unique_ptr<TBitmap> TPictureRegistry::LoadFromFile(const std::filesystem::path& path) const {
    const TGraphicClass* graphic_class = FindClass(path.extension().string());
    if (graphic_class && graphic_class->LoadFile) return graphic_class->LoadFile(path);
    if (!graphic_class || !graphic_class->Create)
        GraphicError("Unknown picture file extension (.%s)", StripDot(path.extension().string()));
    std::unique_ptr<TBitmap> picture = graphic_class->Create();
    picture->LoadFromFile(path);
    return picture;
}

// ---- file-format list ----

TFileFormatList::~TFileFormatList() { Clear(); }

int TFileFormatList::IndexOfExtension(const std::string& extension) const {
    if (extension.empty()) return -1;
    const std::string wanted = AsciiLower(extension);
    for (size_t i = 0; i < extensions_.size(); ++i)
        if (AsciiLower(extensions_[i].Extension) == wanted) return int(i);
    return -1;
}

int TFileFormatList::IndexOfClass(const TGraphicClass* graphic_class) const {
    for (size_t i = 0; i < classes_.size(); ++i)
        if (classes_[i].Class == graphic_class) return int(i);
    return -1;
}

void TFileFormatList::AddFormat(const std::string& extension, const std::string& common_description,
                                const std::string& individual_description, uint8_t format_types,
                                bool replace, bool /*register_default*/,
                                const TGraphicClass* graphic_class) {
    if (extension.empty()) return;
    int class_index = IndexOfClass(graphic_class);
    if (class_index < 0) {
        classes_.push_back({graphic_class, std::string(), 0});
        class_index = int(classes_.size()) - 1;
    }
    if (!common_description.empty()) classes_[size_t(class_index)].Description = common_description;

    const int ext_index = IndexOfExtension(extension);
    if (ext_index < 0) {
        extensions_.push_back({extension, individual_description, format_types, graphic_class});
        ++classes_[size_t(class_index)].Count;
    } else {
        if (!replace) {
            // A class entry made just for this call must not linger.
            if (classes_[size_t(class_index)].Count == 0)
                classes_.erase(classes_.begin() + class_index);
            GraphicError("Attempt to register %s twice.", extension);
        }
        TExtensionEntry& entry = extensions_[size_t(ext_index)];
        if (entry.Class != graphic_class) {
            const TGraphicClass* old_class = entry.Class;
            entry.Class = graphic_class;
            ++classes_[size_t(class_index)].Count;
            ReleaseClass(old_class);
        }
        entry.Description = individual_description;
        entry.FormatTypes = format_types;
    }
    class_index = IndexOfClass(graphic_class);
    const std::string& description = individual_description.empty()
                                         ? classes_[size_t(class_index)].Description
                                         : individual_description;
    registry_.Register(extension, description, graphic_class);
}

// Drops one reference to the class; the last one unregisters it.
void TFileFormatList::ReleaseClass(const TGraphicClass* graphic_class) {
    const int index = IndexOfClass(graphic_class);
    if (index < 0) return;
    if (--classes_[size_t(index)].Count <= 0) {
        registry_.Unregister(graphic_class);
        classes_.erase(classes_.begin() + index);
    }
}

void TFileFormatList::RemoveFormat(const std::string& extension,
                                   const TGraphicClass* graphic_class) {
    if (!extension.empty()) {
        const int index = IndexOfExtension(extension);
        if (index < 0) return;
        const TGraphicClass* owner = extensions_[size_t(index)].Class;
        extensions_.erase(extensions_.begin() + index);
        ReleaseClass(owner);
        return;
    }
    const int class_index = IndexOfClass(graphic_class);
    for (size_t i = extensions_.size(); i-- > 0;)
        if (extensions_[i].Class == graphic_class) extensions_.erase(extensions_.begin() + long(i));
    if (class_index >= 0) classes_.erase(classes_.begin() + class_index);
    registry_.Unregister(graphic_class);
}

void TFileFormatList::Clear() {
    for (const TClassEntry& entry : classes_) registry_.Unregister(entry.Class);
    classes_.clear();
    extensions_.clear();
}

// ---- start-up registrations ----

void RegisterImageFormats(TFileFormatList& list, const TStartupClasses& c) {
    auto add = [&](const char* ext, const char* common, const char* individual, uint8_t types,
                   const TGraphicClass* cls) {
        if (cls) list.AddFormat(ext, common, individual, types, false, false, cls);
    };
    add("bmp", "Windows bitmaps", "", ftRaster, c.Bitmap);
    add("ico", "Windows icons", "", ftRaster, c.Icon);
    add("wmf", "Windows metafiles", "", ftVector, c.Metafile);
    add("emf", "Windows metafiles", "Windows enhanced meta files", ftVector, c.Metafile);
    add("jfif", "JPG images", "JFIF images", ftRaster, c.JpegImage);
    add("jpg", "", "JPG images", ftRaster, c.JpegImage);
    add("jpe", "", "JPE images", ftRaster, c.JpegImage);
    add("jpeg", "", "JPEG images", ftRaster, c.JpegImage);
    add("rle", "Windows bitmaps", "Run length encoded Windows bitmaps", ftRaster, c.Bitmap);
    add("dib", "", "Device independant Windows bitmaps", ftRaster, c.Bitmap);
    const TGraphicClass* tga = &TTargaGraphic::ClassInfo();
    add("win", "Truevision images", "", ftRaster, tga);
    for (const char* ext : {"vst", "vda", "tga", "icb"}) add(ext, "", "", ftRaster, tga);
    const TGraphicClass* psd = &TPSDGraphic::ClassInfo();
    add("psd", "Photoshop images", "", ftRaster | ftLayered, psd);
    add("pdd", "", "", ftRaster | ftLayered, psd);
    const TGraphicClass* ppm = &TPPMGraphic::ClassInfo();
    add("ppm", "Portable map images", "Portable pixel map images", ftRaster, ppm);
    add("pgm", "", "Portable gray map images", ftRaster, ppm);
    add("pbm", "", "Portable bitmap images", ftRaster, ppm);
}

void UnregisterImageFormats(TFileFormatList& list, const TStartupClasses& c) {
    list.RemoveFormat("", &TPSDGraphic::ClassInfo());
    list.RemoveFormat("", &TTargaGraphic::ClassInfo());
    list.RemoveFormat("", &TPPMGraphic::ClassInfo());
    if (c.Bitmap) {
        list.RemoveFormat("rle", c.Bitmap);
        list.RemoveFormat("dib", c.Bitmap);
    }
    list.Clear();
}

// ---- graphic base ----

void TFormatGraphic::Assign(const TBitmap& source) {
    if (const auto* graphic = dynamic_cast<const TFormatGraphic*>(&source))
        image_properties_ = graphic->image_properties_;
    TBitmap::Assign(source);
}

bool TFormatGraphic::CheckStreamHeader(std::istream&) { return false; }

bool TFormatGraphic::ReadImageInfo(std::istream&) {
    image_properties_ = TImageProperties{};
    image_properties_.FileGamma = 1.0f;
    return false;
}

}  // namespace jx
