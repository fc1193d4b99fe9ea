#pragma once
// Common base of the format library's readers, and the tables that tie file
// extensions to picture classes.
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "fileio/bitmap.h"
#include "fileio/graphic_color.h"

namespace jx {

// Raises EInvalidGraphic with the template's "%s" replaced by the argument.
[[noreturn]] void GraphicError(const std::string& message_template, const std::string& argument);

// "Cannot load image. Invalid or unexpected %s image format."
extern const char* const kInvalidImageFormat;

enum TCompressionType : uint8_t {
    ctUnknown = 0,
    ctNone = 1,
    ctRLE = 2,
    ctPackedBits = 3,
};

// Options of TImageProperties.
enum TImageOption : uint32_t {
    ioTiled = 1,
    ioBigEndian = 2,
    ioMinIsWhite = 4,
};

struct TImageProperties {
    uint32_t Version = 0;
    uint32_t Options = 0;
    uint32_t Width = 0;
    uint32_t Height = 0;
    TSampleScheme ColorScheme = ssUnknown;
    uint8_t BitsPerSample = 0;
    uint8_t SamplesPerPixel = 0;
    uint8_t BitsPerPixel = 0;
    TCompressionType Compression = ctUnknown;
    float FileGamma = 1.0f;
    uint8_t ChannelCount = 0;  // PSD only
};

// A picture class as the registries know it: a name and a way to make one.
struct TGraphicClass {
    std::string Name;
    std::unique_ptr<TBitmap> (*Create)() = nullptr;
    // A class whose reader takes a whole file by name rather than a stream loads through this.
    std::unique_ptr<TBitmap> (*LoadFile)(const std::filesystem::path&) = nullptr;
};

// The picture registry: extensions to classes, searched from the most recent
// registration backwards so that the later of two registrations wins.
class TPictureRegistry {
public:
    struct TEntry {
        std::string Extension;  // without the dot, as registered
        std::string Description;
        const TGraphicClass* Class = nullptr;
    };

    void Register(const std::string& extension, const std::string& description,
                  const TGraphicClass* graphic_class);
    // Removes every registration of the class.
    void Unregister(const TGraphicClass* graphic_class);
    // Extension with or without a leading dot, any case; null when unknown.
    const TGraphicClass* FindClass(const std::string& extension) const;
    const std::vector<TEntry>& Entries() const { return entries_; }

    // Makes the class registered for the file's extension and loads the file
    // into it; raises EInvalidGraphic for an unknown extension.
    std::unique_ptr<TBitmap> LoadFromFile(const std::filesystem::path& path) const;

private:
    std::vector<TEntry> entries_;
};

// Format types of a registration (a set).
enum TFormatType : uint8_t {
    ftLayered = 2,
    ftRaster = 8,
    ftVector = 16,
};

class TFileFormatList {
public:
    explicit TFileFormatList(TPictureRegistry& registry) : registry_(registry) {}
    ~TFileFormatList();
    TFileFormatList(const TFileFormatList&) = delete;
    TFileFormatList& operator=(const TFileFormatList&) = delete;

    struct TClassEntry {
        const TGraphicClass* Class = nullptr;
        std::string Description;
        int32_t Count = 0;
    };
    struct TExtensionEntry {
        std::string Extension;
        std::string Description;
        uint8_t FormatTypes = 0;
        const TGraphicClass* Class = nullptr;
    };

    int IndexOfExtension(const std::string& extension) const;
    int IndexOfClass(const TGraphicClass* graphic_class) const;
    void AddFormat(const std::string& extension, const std::string& common_description,
                   const std::string& individual_description, uint8_t format_types,
                   bool replace, bool register_default, const TGraphicClass* graphic_class);
    // An empty extension removes every extension of the class.
    void RemoveFormat(const std::string& extension, const TGraphicClass* graphic_class);
    void Clear();

    const std::vector<TClassEntry>& Classes() const { return classes_; }

private:
    void ReleaseClass(const TGraphicClass* graphic_class);

    TPictureRegistry& registry_;
    std::vector<TClassEntry> classes_;
    std::vector<TExtensionEntry> extensions_;
};

// Classes the start-up registrations tie to extensions besides the format
// library's own; a null member leaves its rows out.
struct TStartupClasses {
    const TGraphicClass* Bitmap = nullptr;    // bmp, rle, dib
    const TGraphicClass* Icon = nullptr;      // ico
    const TGraphicClass* Metafile = nullptr;  // wmf, emf
    const TGraphicClass* JpegImage = nullptr; // jfif, jpg, jpe, jpeg
};

// The start-up registrations in their order, then the finalisation.
void RegisterImageFormats(TFileFormatList& list, const TStartupClasses& classes);
void UnregisterImageFormats(TFileFormatList& list, const TStartupClasses& classes);

class TFormatGraphic : public TBitmap {
public:
    TFormatGraphic() = default;

    // Copies the image properties when the source is a TFormatGraphic too.
    void Assign(const TBitmap& source) override;

    // Does the stream at its position hold this format; the position is restored.
    virtual bool CheckStreamHeader(std::istream& stream);
    // Fills ImageProperties from the stream. Base: clears them, returns false.
    virtual bool ReadImageInfo(std::istream& stream);

    TColorManager& ColorManager() { return color_manager_; }
    const TColorManager& ColorManager() const { return color_manager_; }

    // What the last load read past without refusing the file: data the header's size does not
    // fit, worded for the user.
    std::vector<std::string> Warnings;

protected:
    TColorManager color_manager_;
    TImageProperties image_properties_;
    int64_t base_position_ = 0;  // where loading began
};

}  // namespace jx
