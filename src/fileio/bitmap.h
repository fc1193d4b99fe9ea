#pragma once
// The picture type every image class of the program derives from: a plain
// in-memory bitmap with a pixel format, rows top first, and a palette for the
// indexed formats. Pixels of 24 and 32 bits lie as B, G, R(, A); 15 bits is a
// little-endian word 0RRRRRGGGGGBBBBB; 1, 4 and 8 bits are palette indices,
// the first pixel in the most significant bits of its byte.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "fileio/errors.h"
#include "imaging/pixel.h"

namespace jx {

// Raised for picture data a class cannot interpret.
class EInvalidGraphic : public FileIoError {
public:
    explicit EInvalidGraphic(const std::string& message) : FileIoError(message) {}
};

// Raised when a stream ends before the bytes a reader needs.
class EReadError : public FileIoError {
public:
    EReadError() : FileIoError("the file is cut short") {}
    explicit EReadError(const std::string& message) : FileIoError(message) {}
};

// Raised when a value does not fit where it has to be stored.
class ERangeError : public FileIoError {
public:
    ERangeError() : FileIoError("Range check error") {}
    explicit ERangeError(const std::string& message) : FileIoError(message) {}
};

enum class TPixelFormat : uint8_t {
    pfDevice,  // no pixels yet
    pf1bit,
    pf4bit,
    pf8bit,
    pf15bit,
    pf16bit,  // 5-6-5 word
    pf24bit,
    pf32bit,
    pfCustom,
};

// Bits one pixel of the format occupies (0 for pfDevice and pfCustom).
int BitsPerPixel(TPixelFormat format);

// A logical palette: version 0x300, at most 256 entries.
struct TPalette {
    uint16_t Version = 0x300;
    std::vector<TPaletteEntry> Entries;
    friend bool operator==(const TPalette&, const TPalette&) = default;
};

enum class TProgressStage : uint8_t { psStarting, psRunning, psEnding };

// Progress of a long load or save; Percent is 0..100.
using TProgressEvent =
    std::function<void(TProgressStage stage, int percent, const std::string& message)>;

// Largest pixel count (and width or height) any bitmap may take.
inline constexpr int64_t kMaxBitmapSide = 1 << 20;
inline constexpr int64_t kMaxBitmapBytes = int64_t(1) << 31;

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(const TBitmap&) = default;
    TBitmap& operator=(const TBitmap&) = default;
    virtual ~TBitmap() = default;

    int Width() const { return width_; }
    int Height() const { return height_; }
    TPixelFormat PixelFormat() const { return format_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    // Bytes from one row to the next: rows are padded to 4 bytes.
    size_t Stride() const { return stride_; }
    static size_t StrideFor(int width, TPixelFormat format);

    // Sets the format. Existing pixels are converted: to pf24bit or pf32bit
    // from every format, and from pf1bit or pf4bit to pf8bit; other changes
    // of a non-empty bitmap raise FileIoError. Converting to pf32bit gives
    // alpha 255; converting from pf32bit drops alpha.
    void SetPixelFormat(TPixelFormat format);
    // Sizes the bitmap; the pixels are zero. Checks the size against the limits.
    void SetSize(int width, int height);
    // Frees the pixels and the palette; the format becomes pfDevice.
    void FreeImage();

    uint8_t* ScanLine(int y) { return pixels_.data() + size_t(y) * stride_; }
    const uint8_t* ScanLine(int y) const { return pixels_.data() + size_t(y) * stride_; }
    uint8_t* Bits() { return pixels_.data(); }
    const uint8_t* Bits() const { return pixels_.data(); }

    const TPalette& Palette() const { return palette_; }
    // At most 256 entries are kept.
    void SetPalette(TPalette palette);

    // Colour of one pixel as B, G, R, A (alpha 255 for formats without it).
    struct TBgra {
        uint8_t B = 0, G = 0, R = 0, A = 255;
        friend bool operator==(const TBgra&, const TBgra&) = default;
    };
    TBgra Pixel(int x, int y) const;

    virtual void Assign(const TBitmap& source);

    // The base class knows no file format: these raise EInvalidGraphic.
    virtual void LoadFromStream(std::istream& stream);
    virtual void SaveToStream(std::ostream& stream);
    void LoadFromFile(const std::filesystem::path& path);
    void SaveToFile(const std::filesystem::path& path);

    TProgressEvent OnProgress;

protected:
    void Progress(TProgressStage stage, int percent, const std::string& message) const {
        if (OnProgress) OnProgress(stage, percent, message);
    }

private:
    int width_ = 0;
    int height_ = 0;
    TPixelFormat format_ = TPixelFormat::pfDevice;
    size_t stride_ = 0;
    std::vector<uint8_t> pixels_;
    TPalette palette_;
};

}  // namespace jx
