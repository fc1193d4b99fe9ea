#pragma once
// The optimiser's working image: every input format is read into 16-bit RGBA, then analysed.
#include <cstdint>
#include <string>
#include <vector>

#include "pngenc/errors.h"
#include "pngopt/options.h"
#include "pngenc/png_image.h"

namespace jx::quillox {

// Input faults (damaged, unsupported, too large) are reported per file with this message text.
class InputError : public PngError {
public:
    using PngError::PngError;
};

enum class InputKind { Png, Bmp, Ppm, Unsupported };

// By exact, case-blind extension: ".png", ".bmp", ".ppm".
InputKind InputKindOf(const std::string& fileName);

struct Rgb16 {
    uint16_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb16&) const = default;
};

struct PaletteEntry {
    uint8_t r = 0, g = 0, b = 0, a = 255;
};

struct ColorUse {
    uint64_t rgba = 0;  // R << 48 | G << 32 | B << 16 | A
    uint64_t count = 0;
};

struct Analysis {
    int colorCount = 0;                // distinct RGBA values, 257 meaning more than 256
    std::vector<ColorUse> colorTable;  // first appearance order, at most 256 entries
    bool grey = true;
    bool eightBitEnough = true;
    uint64_t transparent = 0, partial = 0, opaque = 0;
    Rgb16 lastTransparent;
};

// An ancillary chunk of a PNG input, as stored in the file.
struct RawChunk {
    std::string name;
    std::vector<uint8_t> data;
    bool afterImageData = false;
};

struct WorkImage {
    uint32_t width = 0, height = 0;
    int sampleDepth = 8;          // 8: samples are v * 256; 16: as they are
    std::vector<uint16_t> rgba;   // width * height * 4

    InputKind kind = InputKind::Png;
    // What the PNG input was, kept for the output-format choice and the reports.
    PngColorType pngColorType = kPngRgba;
    int pngBitDepth = 8;
    bool interlaced = false;
    bool hasGamma = false;
    uint32_t gamma = 0;  // gAMA value * 100000
    bool hasTrns = false;
    Rgb16 key;           // grey inputs keep their key in r
    std::vector<PaletteEntry> palette;   // palette input: PLTE with tRNS alphas
    std::vector<uint8_t> indices;        // palette input: one index per pixel
    std::vector<std::string> chunkNames; // every sound chunk in file order
    std::vector<RawChunk> chunks;        // ancillary chunks in file order (tRNS excepted)
    std::vector<uint8_t> filtersUsed;    // 5 flags, one per row filter type the file uses
    std::vector<uint8_t> rowFilters;     // the filter type of every row as stored
    std::vector<std::string> warnings;   // damage read past: dropped chunks, data the size does not fit
    uint64_t fileSize = 0;

    Analysis analysis;

    uint16_t* Pixel(uint32_t x, uint32_t y) { return &rgba[(uint64_t(y) * width + x) * 4]; }
    const uint16_t* Pixel(uint32_t x, uint32_t y) const { return &rgba[(uint64_t(y) * width + x) * 4]; }
    uint16_t OpaqueAlpha() const { return sampleDepth == 16 ? 0xFFFF : 0xFF00; }
};

// Width * height * 8 bytes must stay below this; larger images are refused before allocation.
constexpr uint64_t kMaxImageBytes = uint64_t(1) << 32;
void CheckImageSize(uint64_t width, uint64_t height);

// The memory a run needs for an image of this size with this many trial threads; refused with
// a message naming both figures when it exceeds what is available (0: not known, not checked).
uint64_t WorkingMemory(uint64_t width, uint64_t height, size_t threads);
void CheckWorkingMemory(uint64_t width, uint64_t height, size_t threads, uint64_t available);

struct ReadSettings {
    GammaMode gammaMode = GammaMode::Keep;
    bool cleanTransparent = true;
    size_t threads = 1;  // trial threads the run will use, for the memory estimate
};

WorkImage ReadPng(const std::vector<uint8_t>& bytes, const ReadSettings& settings);
WorkImage ReadBmp(const std::vector<uint8_t>& bytes, const ReadSettings& settings);
WorkImage ReadPpm(const std::vector<uint8_t>& bytes, const ReadSettings& settings);
// Every reader checks the header's size (and the memory the run would need) before it allocates.
// Reads by extension, then analyses.
WorkImage ReadInputFile(const std::string& fileName, const ReadSettings& settings);

// The whole file; InputError when it cannot be read.
std::vector<uint8_t> ReadInputBytes(const std::string& fileName);

// Every pixel with A = 0 of a non-palette input becomes all zero.
void CleanTransparentPixels(WorkImage& image);
void Analyze(WorkImage& image);

}  // namespace jx::quillox
