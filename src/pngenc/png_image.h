#pragma once
// The PNG image object both programs write through: the pixels at their PNG colour type and
// bit depth, palette, transparency and ancillary chunks, and the encoder settings of the
// image-data writer (row filters, cost heuristics, deflate parameters, lossy residuals).
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "pngenc/errors.h"

namespace jx {

// PNG colour types as IHDR holds them.
enum PngColorType : uint8_t {
    kPngGrey = 0,
    kPngRgb = 2,
    kPngPalette = 3,
    kPngGreyAlpha = 4,
    kPngRgba = 6,
};

// Row filter types and the FilterSet bits that allow them.
enum PngFilter : uint8_t { kFilterNone = 0, kFilterSub = 1, kFilterUp = 2, kFilterAverage = 3, kFilterPaeth = 4 };
inline constexpr uint8_t kFilterSetAll = 0x1F;
constexpr uint8_t FilterBit(PngFilter f) { return uint8_t(1u << f); }

// Largest pixel storage an image may take; sizes from files and callers are checked against it.
inline constexpr uint64_t kPngMaxImageBytes = uint64_t(1) << 30;

struct PngRgb {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const PngRgb&) const = default;
};

// tRNS of grey and RGB images: the one sample value (or RGB triple) that is transparent,
// at the image's bit depth.
struct PngKey {
    uint16_t Grey = 0, R = 0, G = 0, B = 0;
    bool operator==(const PngKey&) const = default;
};

// Where an ancillary chunk goes in the written file.
enum class PngChunkPlace : uint8_t { BeforePlte, BeforeIdat, AfterIdat };

// One ancillary chunk, kept as its raw data. IHDR, PLTE, tRNS, IDAT and IEND are never held
// here: the image object writes them from its own fields.
struct PngChunk {
    std::string Name;            // four letters
    std::vector<uint8_t> Data;   // chunk data without length, name and CRC
    PngChunkPlace Place = PngChunkPlace::BeforeIdat;
};

// What a fingerprint-only run returns: the filter choices and their fingerprint, no stream.
struct PngFilterChoice {
    std::vector<uint8_t> RowFilters;      // per image row (interlaced: its last pass's row)
    std::vector<uint8_t> PassRowFilters;  // every encoded row in stream order
    uint32_t Fingerprint = 0;
};

// Rows handed out one at a time, for a reader that keeps only part of them (Decode keeps none).
class PngRowReader {
public:
    virtual ~PngRowReader() = default;
    // The header, once the file's structure and image data size are checked and before any pixel
    // memory is taken; may throw to refuse. Interlaced rows are complete only at the last pass, so
    // Decode refuses an interlaced file after this returns.
    virtual void Start(uint32_t width, uint32_t height, bool interlaced) = 0;
    // Row y, top to bottom: width x 4 bytes of 8-bit B, G, R, A (palette, grey and tRNS expanded,
    // 16-bit samples cut to their high byte, alpha 255 where the file has none).
    virtual void Row(uint32_t y, const uint8_t* bgra) = 0;
};

// How Decode reads: a gamma correction to apply, and a size check of the caller's own.
struct PngDecodeOptions {
    // Above 0: the samples of grey and RGB images are corrected from the file's gAMA to this
    // display gamma (as libpng does it); palette images and files without gAMA are read as stored.
    double ScreenGamma = 0;
    // Called with the header's size before any pixel memory is taken; may throw to refuse.
    std::function<void(uint32_t width, uint32_t height)> CheckSize;
    // When set, an ancillary chunk with a bad CRC is dropped and its name added here; otherwise
    // any bad CRC refuses the file. A critical chunk with a bad CRC is always refused.
    std::vector<std::string>* DroppedChunks = nullptr;
    // When set, image data past what the header's size holds (inflated bytes after the last row,
    // bytes after the end of the compressed stream) is described here; the rows are read all the
    // same. libpng notes it on its one pass over the image data.
    std::vector<std::string>* Warnings = nullptr;
    // Off, the row filters (RowFilters, PassRowFilters, FiltersUsed, Fingerprint) are not read,
    // which saves one inflate of the image data for a reader that wants the pixels alone; short
    // or damaged image data is refused all the same.
    bool ReadRowFilters = true;
    // Either of these keeps no pixels: the image Decode returns holds no size and no rows, only
    // the palette, transparency and chunks (HeaderOnly: nothing). No storage limit applies then;
    // CheckSize carries the caller's. Nothing past the image data is read. HeaderOnly stops once
    // the header and the image data size are checked, and checks no CRC; with Rows, the rows go to the reader instead, without ScreenGamma (libpng's
    // default cap on width and height bounds its row buffers).
    bool HeaderOnly = false;
    PngRowReader* Rows = nullptr;
};

class PngImage {
public:
    PngImage() = default;
    PngImage(uint32_t width, uint32_t height, uint8_t colorType, uint8_t bitDepth);

    // Sets size and format and allocates zeroed pixel rows; palette, key and chunks are kept.
    // Refuses combinations PNG does not allow and sizes past kPngMaxImageBytes.
    void SetHeader(uint32_t width, uint32_t height, uint8_t colorType, uint8_t bitDepth);

    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    uint8_t ColorType() const { return colorType_; }
    uint8_t BitDepth() const { return bitDepth_; }
    unsigned Channels() const;           // samples per pixel
    unsigned BitsPerPixel() const;       // at the storage depth
    size_t RowBytes() const { return rowBytes_; }
    bool HasAlphaChannel() const { return colorType_ == kPngGreyAlpha || colorType_ == kPngRgba; }
    bool Empty() const { return width_ == 0 || height_ == 0; }

    // Pixel rows at the storage depth in PNG byte order (sub-byte samples packed from the most
    // significant bit, 16-bit samples big-endian).
    uint8_t* Row(uint32_t y) { return pixels_.data() + size_t(y) * rowBytes_; }
    const uint8_t* Row(uint32_t y) const { return pixels_.data() + size_t(y) * rowBytes_; }
    std::span<uint8_t> Pixels() { return pixels_; }
    std::span<const uint8_t> Pixels() const { return pixels_; }

    // One sample (channel c of pixel x in row y) at the storage depth. Not range-checked.
    uint16_t Sample(uint32_t x, uint32_t y, unsigned c) const;
    void SetSample(uint32_t x, uint32_t y, unsigned c, uint16_t value);

    // Palette (PLTE) and its alpha values (tRNS of a palette image; may be shorter than the palette).
    std::vector<PngRgb> Palette;
    std::vector<uint8_t> PaletteAlpha;
    // tRNS of a grey or RGB image.
    std::optional<PngKey> Key;

    // Ancillary chunks in file order (tRNS excepted, see above).
    std::vector<PngChunk> Chunks;
    const PngChunk* FindChunk(const std::string& name) const;
    // Adds a chunk at the place PNG requires for its name (chunks that must precede PLTE go
    // before it, the rest before IDAT). Refuses the names the object writes itself.
    void AddChunk(const std::string& name, std::vector<uint8_t> data);
    void RemoveChunks(const std::string& name);
    // gAMA as stored (gamma × 100000).
    std::optional<uint32_t> Gamma() const;
    void SetGamma(uint32_t value);
    // tEXt (compressed = false) or zTXt chunk data for a keyword of 1..79 Latin-1 characters.
    void AddText(const std::string& keyword, const std::string& text, bool compressed);
    // Keyword and text of a tEXt or zTXt chunk; a damaged one raises PngError.
    static std::pair<std::string, std::string> ReadText(const PngChunk& chunk);

    // Names of every chunk of the decoded file in file order, critical ones included.
    std::vector<std::string> FileChunkNames;

    // --- Encoder settings (defaults as the object is created) ---
    uint8_t FilterSet = kFilterSetAll;     // bit f allows filter f
    uint8_t CompressionLevel = 7;          // zlib level 0..9
    uint8_t UseDeflateInit2 = 0;           // 1: WindowBits, MemoryLevel and Strategy apply
    uint8_t WindowBits = 15;               // 8..15
    uint8_t MemoryLevel = 8;               // 1..9
    uint8_t Strategy = 0;                  // 0 default, 1 filtered, 2 Huffman only, 3 RLE, 4 fixed
    uint8_t Heuristic = 2;                 // row cost heuristic 0..9, others act as 0
    uint8_t JxHeuristic = 0;               // 1: jx's own scoring of heuristic 2
    uint8_t LossyQuality = 0;              // 0 lossless; 8-bit non-palette rows only
    uint8_t LossyMethod = 0;               // 0 uniform, 1 level list
    std::vector<int32_t> LossyLevels;      // levels of lossy method 1
    uint8_t OutputBitDepth = 0;            // 0 or BitDepth(): as stored; 2: 4-bit rows written at 2 bits
    int32_t MaxIdatSize = 65535;           // data bytes of every IDAT but the last, at least 1
    uint8_t Interlace = 0;                 // 0 none, 1 Adam7; others are refused
    uint8_t FingerprintOnly = 0;           // 1: Encode refuses; use ChooseFilters

    // The setter of the optimiser: values below 65535 are stored as 65535.
    void SetMaxIdatSize(int32_t value) { MaxIdatSize = value < 65535 ? 65535 : value; }
    // jx's encoder: every setting at its default, with jx's heuristic 2.
    void UseJxDefaults();

    // --- Results of the last encode, ChooseFilters or Decode ---
    std::vector<uint8_t> RowFilters;       // filter per image row, sized to the height
    std::vector<uint8_t> PassRowFilters;   // filter of every stored row in stream order
    uint32_t Fingerprint = 0;              // sum of (row + 1) × filter, mod 2^32 (interlaced: last pass)
    std::array<uint8_t, 5> FiltersUsed{};  // decode: 1 for each filter type the file's rows use
    uint32_t IdatSize = 0;                 // data length of the first IDAT chunk
    uint64_t IdatTotalSize = 0;            // data length of all IDAT chunks

    // Writes the whole PNG file. Settings out of range raise PngError.
    std::vector<uint8_t> Encode();
    // Filters and chooses every row as Encode would, compresses nothing.
    PngFilterChoice ChooseFilters();
    // Encode, written to a temporary name beside path and renamed into place.
    void SaveFile(const std::filesystem::path& path);

    // Reads a PNG file into an object at the file's colour type, bit depth and interlace,
    // with its palette, tRNS and ancillary chunks, and the filters its rows use.
    // Damaged or truncated files raise PngError, before any pixel memory is taken when the
    // image data is too short for the size the header claims.
    static PngImage Decode(std::span<const uint8_t> file, const PngDecodeOptions& options = {});
    static PngImage DecodeFile(const std::filesystem::path& path, const PngDecodeOptions& options = {});

    // Names of the chunks of a PNG stream in order (no CRC check); PngError if it is no PNG.
    static std::vector<std::string> ListChunks(std::span<const uint8_t> file);

private:
    // Refuses what SetHeader refuses and returns the bytes of one row; allocates nothing. Without
    // limitStorage, sizes past kPngMaxImageBytes pass (for readers that keep no pixels).
    static size_t CheckHeader(uint32_t width, uint32_t height, uint8_t colorType, uint8_t bitDepth,
                              bool limitStorage = true);

    uint32_t width_ = 0, height_ = 0;
    uint8_t colorType_ = kPngRgb, bitDepth_ = 8;
    size_t rowBytes_ = 0;
    std::vector<uint8_t> pixels_;
};

}  // namespace jx
