#pragma once
// Row filtering, the per-row cost heuristics and the lossy residual quantizers of the encoder.
// Used by PngImage; exposed so the choices can be tested row by row.
#include <zlib.h>

#include <array>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace jx::pngenc {

// The settings a chooser works with, taken from the image object once per encode.
struct ChooserSettings {
    uint8_t FilterSet = 0x1F;
    uint8_t Heuristic = 2;
    bool JxHeuristic = false;
    uint8_t CompressionLevel = 7;
    uint8_t WindowBits = 15;
    uint8_t MemoryLevel = 8;
    uint8_t Strategy = 0;
    uint8_t LossyQuality = 0;  // 0: lossless
    uint8_t LossyMethod = 0;
    std::vector<int32_t> LossyLevels;
};

// The Paeth predictor of left a, up b and upper-left c (bytes). Written with selects only, so the
// row loop vectorises.
inline uint8_t PaethPredict(int a, int b, int c) {
    int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    int bc = pb <= pc ? b : c;
    return uint8_t(pa <= pb && pa <= pc ? a : bc);
}

// zlib level heuristic 7 uses for a stored compression level.
int TrialLevel(uint8_t compressionLevel);

// One row deflated alone, reusing its stream and buffer from row to row.
class RowDeflater {
public:
    RowDeflater(int level, int windowBits, int memoryLevel, int strategy, size_t maxRowBytes);
    ~RowDeflater();
    RowDeflater(const RowDeflater&) = delete;
    RowDeflater& operator=(const RowDeflater&) = delete;
    // Compressed size of the row, 0 when deflate fails.
    size_t Size(const uint8_t* row, size_t n);

private:
    z_stream z_{};
    std::vector<uint8_t> out_;
};

// Lossy quantizer Q(d) for residuals d in -255..255, tabulated once per encode.
class ResidualQuantizer {
public:
    ResidualQuantizer(uint8_t quality, uint8_t method, const std::vector<int32_t>& levels);
    uint8_t operator()(int d) const { return table_[size_t(d + 255)]; }
    bool KeepsExtremes() const { return method_ == 0; }

private:
    std::array<uint8_t, 511> table_{};
    uint8_t method_ = 0;
};

// Filters rows and chooses one filter per row. The caller fills RawRow() with n bytes,
// calls Choose(n), writes Output(f) (the filter byte followed by n residual bytes), then Advance().
class RowFilterChooser {
public:
    RowFilterChooser(const ChooserSettings& settings, size_t maxRowBytes, unsigned bpp);
    ~RowFilterChooser();

    void StartPass();  // the previous row becomes zeros
    uint8_t* RawRow() { return raw_ + 1; }
    uint8_t Choose(size_t n);
    const uint8_t* Output(uint8_t f) const { return out_[f]; }
    void Advance();

    // Cost of one residual row under the configured heuristic (exposed for tests).
    uint32_t Cost(uint8_t filter, const uint8_t* row, size_t n);

    // Lossless rows with every filter allowed at construction: the cost of each of the five
    // residual rows of the current row, which is what Choose compares for any filter set.
    void CostAll(size_t n, std::array<uint32_t, 5>& costs);
    // Lossless: the current row under filter f alone, the filter byte followed by n bytes.
    const uint8_t* Filter(uint8_t f, size_t n);

private:
    void ComputeLossless(size_t n, unsigned set);
    void ComputeLossy(size_t n, unsigned set);
    uint8_t Pick(size_t n, unsigned set);

    ChooserSettings s_;
    size_t max_;
    unsigned bpp_;
    bool lossy_;
    std::vector<uint8_t> store_;
    uint8_t* raw_ = nullptr;   // [filter byte][n]
    uint8_t* prev_ = nullptr;  // previous raw row (lossless) or kept reconstruction (lossy)
    std::array<uint8_t*, 5> res_{};    // residual rows with their filter byte, Sub..Paeth (and None when lossy)
    std::array<uint8_t*, 5> recon_{};  // lossy reconstructions per filter
    std::array<uint8_t*, 5> out_{};
    uint8_t chosen_ = 0;
    std::unique_ptr<ResidualQuantizer> quant_;
    std::unique_ptr<RowDeflater> deflater_;
};

}  // namespace jx::pngenc
