// Our own BMP/DIB reader. Every size and offset from the file is checked in 64 bits before a
// byte is read, so a damaged header gives a message, never a read past the data.
#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <vector>

#include "fileio/errors.h"
#include "fileio/file_bytes.h"
#include "fileio/open_decoders.h"
#include "fileio/png_probe.h"
#include "platform/byte_order.h"

namespace jx {

namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;

// Below this many pixels an image is too small for its run-length data to be judged by how
// much of it the data covers.
constexpr uint64_t kRleSlackPixels = 1 << 16;
// End-of-line codes and deltas skip pixels without coding them, so a few bytes could claim
// gigabytes: past this many pixels a byte (a blank row of 8192 in one end-of-line code) the
// image is refused before it takes any memory.
constexpr uint64_t kMaxRlePixelsPerByte = 4096;
// Some writers pad the file after the last row; fewer bytes than this past it are not a row.
constexpr uint64_t kTrailingPadding = 8;

[[noreturn]] void Fail(const std::string& what) { throw FileIoError("BMP: " + what); }

uint16_t Le16(std::span<const uint8_t> b, size_t at) {
    if (at + 2 > b.size()) Fail("file is truncated");
    return LittleEndian16(b.data() + at);
}
uint32_t Le32(std::span<const uint8_t> b, size_t at) {
    if (at + 4 > b.size()) Fail("file is truncated");
    return LittleEndian32(b.data() + at);
}

// One channel described by a bit mask, widened to 8 bits.
struct TChannel {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit TChannel(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (bits < 32 - shift && ((m >> (shift + bits)) & 1)) ++bits;
    }
    uint8_t Get(uint32_t v) const {
        if (!mask) return 0;
        const uint32_t x = (v & mask) >> shift;
        if (bits >= 8) return static_cast<uint8_t>(x >> (bits - 8));
        // Repeat the bits so that the largest value gives 255.
        uint32_t r = 0;
        int have = 0;
        while (have < 8) {
            r = (r << bits) | x;
            have += bits;
        }
        return static_cast<uint8_t>(r >> (have - 8));
    }
};

// One walk over RLE4/RLE8 codes, shared by the check and the decode so that the two never read a
// stream differently. The visitor sees each run and literal at the position it starts, each
// end-of-line at the position it ends, each delta where it starts, and the end-of-bitmap code where
// it stands. Returns whether the stream ended with that code or reached the last row, and where
// the walk stopped in `stop`; data cut inside a code is refused.
template <class Visitor>
bool WalkRle(std::span<const uint8_t> b, size_t pos, int64_t h, bool four, Visitor& visit, size_t* stop = nullptr) {
    int64_t x = 0, y = 0;
    while (pos + 2 <= b.size() && y < h) {
        const uint8_t n = b[pos], v = b[pos + 1];
        pos += 2;
        if (n > 0) {
            visit.Run(x, y, n, v);
            x += n;
        } else if (v == 0) {
            visit.EndOfLine(x, y);
            x = 0;
            ++y;
        } else if (v == 1) {
            visit.EndOfBitmap(x, y);
            if (stop) *stop = pos;
            return true;
        } else if (v == 2) {
            if (pos + 2 > b.size()) Fail("the pixel data is cut short");
            visit.Delta(x, y, b[pos], b[pos + 1]);
            x += b[pos];
            y += b[pos + 1];
            pos += 2;
        } else {
            const size_t bytes = four ? (v + 1u) / 2 : v;
            if (pos + bytes > b.size()) Fail("the pixel data is cut short");
            visit.Literal(x, y, b.data() + pos, v);
            x += v;
            pos += (bytes + 1) & ~size_t{1};
        }
    }
    if (stop) *stop = pos;
    return y >= h;
}

// Rows that codes after the last row would paint: 0 when the stream only ends there. Read past
// the image, the codes need not make sense: a cut stops the count, never the file.
int64_t RowsPastTheImage(std::span<const uint8_t> b, size_t pos, bool four) {
    struct {
        int64_t rows = 0;
        void Run(int64_t, int64_t y, uint8_t, uint8_t) { rows = y + 1; }
        void Literal(int64_t, int64_t y, const uint8_t*, uint8_t) { rows = y + 1; }
        void EndOfLine(int64_t, int64_t) {}
        void Delta(int64_t, int64_t, uint8_t, uint8_t) {}
        void EndOfBitmap(int64_t, int64_t) {}
    } tail;
    try {
        WalkRle(b, pos, std::numeric_limits<int64_t>::max(), four, tail);
    } catch (const FileIoError&) {
    }
    return tail.rows;
}

// Refuses damaged data before the image takes any memory. A stream must end with its
// end-of-bitmap code or reach the last row, keep its runs inside their stored rows, and account for a
// fair share of the image: painted pixels, rows it ends while still empty and the jumps of its
// deltas. Rows of end-of-line codes (a blank sparse image) account for every row; a header whose
// width or height was damaged leaves most of the image unaccounted for. A shape the codes make
// doubtful without proving it wrong is returned as warnings.
std::vector<std::string> CheckRle(std::span<const uint8_t> b, size_t pos, int64_t w, int64_t h, bool four) {
    // Common encoders code each row over its stored width, padding pixels included; those are
    // dropped, and only a run past the stored width proves the width wrong.
    const int64_t stored = four ? (w + 7) / 8 * 8 : (w + 3) / 4 * 4;
    struct {
        int64_t w, h, stored;
        uint64_t accounted = 0;
        int64_t rowsReached = -1;      // set by the end-of-bitmap code
        int64_t lineEnd = -1;          // the one column every non-empty row's end-of-line came at
        bool lineEndsDiffer = false;
        int64_t lineEnds = 0;
        std::string jumpOut;  // the first delta that leaves the image
        void Paint(int64_t x, int64_t n, const char* what) {
            if (x + n > stored)
                Fail(std::string(what) + " of " + std::to_string(n) + " pixels at column " + std::to_string(x) +
                     " crosses the end of a " + std::to_string(w) + "-pixel row");
            accounted += uint64_t(n);
        }
        void Run(int64_t x, int64_t, uint8_t n, uint8_t) { Paint(x, n, "a run"); }
        void Literal(int64_t x, int64_t, const uint8_t*, uint8_t n) { Paint(x, n, "an absolute block"); }
        void EndOfLine(int64_t x, int64_t) {
            if (x == 0) {
                accounted += uint64_t(w);
                return;
            }
            ++lineEnds;
            if (lineEnd >= 0 && lineEnd != x) lineEndsDiffer = true;
            lineEnd = x;
        }
        void Delta(int64_t x, int64_t y, uint8_t dx, uint8_t dy) {
            accounted += uint64_t(dx) + uint64_t(dy) * uint64_t(w);
            const int64_t toX = x + dx, toY = y + dy;
            if (jumpOut.empty() && (toX > stored || toY > h || (toY == h && toX > 0)))
                jumpOut = "a delta at column " + std::to_string(x) + " of row " + std::to_string(y) + " jumps to column " +
                          std::to_string(toX) + " of row " + std::to_string(toY) + ", outside the " +
                          std::to_string(w) + "x" + std::to_string(h) + " image (the width or height may be damaged)";
        }
        void EndOfBitmap(int64_t x, int64_t y) { rowsReached = std::min(h, y + (x > 0 ? 1 : 0)); }
    } account{w, h, stored};
    size_t stop = pos;
    if (!WalkRle(b, pos, h, four, account, &stop)) Fail("the pixel data is cut short");
    const uint64_t area = uint64_t(w) * uint64_t(h);
    if (area > kRleSlackPixels && account.accounted < area / 16)
        Fail("the run-length data cannot fill a " + std::to_string(w) + "x" + std::to_string(h) +
             " image (its width or height is damaged)");
    std::vector<std::string> warnings;
    const int64_t reached = account.rowsReached < 0 ? h : account.rowsReached;
    if ((h - reached) * 2 >= h)
        warnings.push_back("the run-length data reaches only " + std::to_string(reached) + " of " +
                           std::to_string(h) + " rows (the height may be damaged)");
    if (account.lineEnds > 0 && !account.lineEndsDiffer && account.lineEnd < w && account.lineEnds * 2 >= reached)
        warnings.push_back("every row of the run-length data ends at column " + std::to_string(account.lineEnd) +
                           " of " + std::to_string(w) + " (the width may be damaged)");
    if (!account.jumpOut.empty()) warnings.push_back(account.jumpOut);
    if (account.rowsReached < 0)
        if (const int64_t more = RowsPastTheImage(b, stop, four); more > 0)
            warnings.push_back("the run-length data goes on for " + std::to_string(more) + (more == 1 ? " row" : " rows") +
                               " past the last of " + std::to_string(h) + " rows (the height may be damaged)");
    return warnings;
}

// RLE4/RLE8 into one index byte per pixel, rows bottom-up; pixels the stream skips stay 0. The
// stream was checked by CheckRle.
std::vector<uint8_t> DecodeRle(std::span<const uint8_t> b, size_t pos, int64_t w, int64_t h, bool four) {
    struct {
        std::vector<uint8_t> out;
        int64_t w, h;
        bool four;
        void Put(int64_t x, int64_t y, uint8_t v) {
            if (x < w && y < h) out[static_cast<size_t>(y * w + x)] = v;
        }
        void Run(int64_t x, int64_t y, uint8_t n, uint8_t v) {
            for (int i = 0; i < n; ++i) Put(x + i, y, four ? ((i & 1) ? v & 15 : v >> 4) : v);
        }
        void Literal(int64_t x, int64_t y, const uint8_t* p, uint8_t n) {
            for (int i = 0; i < n; ++i) Put(x + i, y, four ? ((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
        }
        void EndOfLine(int64_t, int64_t) {}
        void Delta(int64_t, int64_t, uint8_t, uint8_t) {}
        void EndOfBitmap(int64_t, int64_t) {}
    } image{std::vector<uint8_t>(static_cast<size_t>(w * h), 0), w, h, four};
    WalkRle(b, pos, h, four, image);
    return std::move(image.out);
}

// What the headers say, before any of it is trusted beyond the bytes it was read from.
struct TBmpHeader {
    uint64_t offBits = 0;
    uint32_t headerSize = 0;
    int64_t width = 0, height = 0;
    bool topDown = false;
    uint32_t bpp = 0, compression = kBiRgb, colorsUsed = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    size_t paletteAt = 0, entryBytes = 4;

    bool Rle() const { return compression == kBiRle8 || compression == kBiRle4; }
    bool Fields() const { return compression == kBiBitfields || compression == kBiAlphaBitfields; }
};

TBmpHeader ReadHeader(std::span<const uint8_t> b) {
    if (b.size() < 14 + 12 || b[0] != 'B' || b[1] != 'M') Fail("not a bitmap file");
    TBmpHeader h;
    h.offBits = Le32(b, 10);
    h.headerSize = Le32(b, 14);
    if (h.headerSize == 12) {
        h.width = Le16(b, 18);
        h.height = static_cast<int16_t>(Le16(b, 20));
        h.bpp = Le16(b, 24);
        h.paletteAt = 26;
        h.entryBytes = 3;
    } else if (h.headerSize >= 40 && h.headerSize <= 0xFFFF) {
        h.width = static_cast<int32_t>(Le32(b, 18));
        h.height = static_cast<int32_t>(Le32(b, 22));
        h.bpp = Le16(b, 28);
        h.compression = Le32(b, 30);
        h.colorsUsed = Le32(b, 46);
        h.paletteAt = 14 + size_t{h.headerSize};
        if (h.Fields()) {
            const int n = h.compression == kBiAlphaBitfields ? 4 : 3;
            // Version 2 and later headers hold the masks; a 40-byte one is followed by them.
            size_t at = h.headerSize >= 52 ? 54 : h.paletteAt;
            for (int i = 0; i < n; ++i) h.masks[i] = Le32(b, at + 4 * size_t(i));
            if (h.headerSize >= 56) h.masks[3] = Le32(b, 66);
            if (h.headerSize < 52) h.paletteAt += 4 * size_t(n);
        }
    } else {
        Fail("unsupported header size " + std::to_string(h.headerSize));
    }
    if (Le16(b, h.headerSize == 12 ? 22 : 26) != 1) Fail("bad plane count");
    h.topDown = h.height < 0;
    if (h.topDown) h.height = -h.height;
    return h;
}

// Size, bit depth and compression, each refused with its own message before anything is read.
void CheckHeader(const TBmpHeader& h, const TBmpReadOptions& options) {
    if (h.width <= 0 || h.height <= 0) Fail("bad image size");
    try {
        CheckImageSize(h.width, h.height);
    } catch (const ImagingError& e) {
        Fail(e.what());
    }
    if (options.CheckSize) options.CheckSize(h.width, h.height);
    if (h.Rle() && !((h.compression == kBiRle8 && h.bpp == 8) || (h.compression == kBiRle4 && h.bpp == 4)))
        Fail("run-length compression does not match the bit depth");
    // Run-length codes count their rows from the bottom; a top-down height has no meaning for them.
    if (h.Rle() && h.topDown) Fail("run-length data cannot be stored top-down (the height is negative)");
    if (h.Fields() && h.bpp != 16 && h.bpp != 32) Fail("bit fields need 16 or 32 bits a pixel");
    if (!h.Rle() && !h.Fields() && h.compression != kBiRgb)
        Fail("unsupported compression " + std::to_string(h.compression));
    if (h.bpp != 1 && h.bpp != 4 && h.bpp != 8 && h.bpp != 16 && h.bpp != 24 && h.bpp != 32)
        Fail("unsupported bit depth " + std::to_string(h.bpp));
}

// The colour table; indices past its end read as black, or refuse the file.
class TColorTable {
public:
    TColorTable(std::span<const uint8_t> b, const TBmpHeader& h, const TBmpReadOptions& options) {
        for (auto& e : table_) e.A = 255;
        if (h.bpp <= 8) {
            uint64_t count = h.colorsUsed ? h.colorsUsed : (uint64_t{1} << h.bpp);
            if (count > 256) count = 256;
            for (uint64_t i = 0; i < count; ++i) {
                const uint64_t at = h.paletteAt + i * h.entryBytes;
                if (at + 3 > b.size() || (h.offBits >= h.paletteAt && at + 3 > h.offBits)) break;
                table_[i].B = b[at];
                table_[i].G = b[at + 1];
                table_[i].R = b[at + 2];
                ++size_;
            }
        }
        refusePast_ = options.IndexPastTable == TIndexPastTable::Refuse && h.bpp <= 8;
    }

    const TPixelRec& Entry(uint32_t index) const {
        if (refusePast_ && index >= size_) Fail("colour index " + std::to_string(index) + " is past the colour table");
        return table_[index];
    }

private:
    std::array<TPixelRec, 256> table_{};
    uint32_t size_ = 0;
    bool refusePast_ = false;
};

// Bytes after the last stored row that could be more rows: up to the file's end, or to the end
// its file header gives, or to a version 5 header's profile when that follows the pixels. An icon's
// bitmap frame keeps its AND mask past the end its file header gives.
uint64_t PixelBytesPastTheRows(std::span<const uint8_t> b, const TBmpHeader& h, uint64_t stride) {
    const uint64_t rowsEnd = h.offBits + stride * uint64_t(h.height);
    uint64_t end = b.size();
    if (const uint64_t fileSize = Le32(b, 2); fileSize >= rowsEnd) end = std::min(end, fileSize);
    if (h.headerSize >= 124) {
        const uint64_t profileAt = 14 + uint64_t(Le32(b, 14 + 112)), profileSize = Le32(b, 14 + 116);
        if (profileSize > 0 && profileAt >= rowsEnd) end = std::min(end, profileAt);
    }
    return end - rowsEnd;
}

// The pixel data must be able to hold the image before the image is allocated: rows as stored,
// or run-length codes that end properly and cover the image. Returns the stored row stride; what
// makes the header's shape doubtful goes to `warnings`.
uint64_t CheckPixelData(std::span<const uint8_t> b, const TBmpHeader& h, std::vector<std::string>& warnings) {
    if (h.offBits > b.size()) Fail("pixel data lies past the end of the file");
    if (h.offBits < h.paletteAt) Fail("the pixel data starts inside its headers");
    const uint64_t dataBytes = b.size() - h.offBits;
    const uint64_t stride = ((uint64_t(h.width) * h.bpp + 31) / 32) * 4;
    if (h.Rle()) {
        const uint64_t pixels = uint64_t(h.width) * uint64_t(h.height);
        if (pixels > dataBytes * kMaxRlePixelsPerByte + kRleSlackPixels)
            Fail("a " + std::to_string(h.width) + "x" + std::to_string(h.height) + " image is too large for " +
                 std::to_string(dataBytes) + " bytes of run-length data (at most " +
                 std::to_string(kMaxRlePixelsPerByte) + " pixels a byte)");
        warnings = CheckRle(b, h.offBits, h.width, h.height, h.compression == kBiRle4);
    } else if (stride * uint64_t(h.height) > dataBytes) {
        Fail("the pixel data is cut short");
    } else if (const uint64_t more = PixelBytesPastTheRows(b, h, stride); more >= std::max(stride, kTrailingPadding)) {
        warnings.push_back("the pixel data holds " + std::to_string(more) + " bytes (" + std::to_string(more / stride) +
                           (more / stride == 1 ? " row" : " rows") + ") more than a " + std::to_string(h.width) + "x" +
                           std::to_string(h.height) + " image needs (the width or height may be damaged)");
    }
    return stride;
}

void TransferRle(std::span<const uint8_t> b, const TBmpHeader& h, const TColorTable& table, TPixelImage& image) {
    const int32_t w = image.Width(), ht = image.Height();
    const auto idx = DecodeRle(b, h.offBits, w, ht, h.compression == kBiRle4);
    for (int32_t r = 0; r < ht; ++r) {
        TPixelRec* row = image[ht - 1 - r];
        for (int32_t x = 0; x < w; ++x) row[x] = table.Entry(idx[size_t(r) * size_t(w) + size_t(x)]);
    }
}

// Rows as stored. Returns whether any 32-bit pixel has a fourth byte other than 0.
bool TransferRows(std::span<const uint8_t> b, const TBmpHeader& h, uint64_t stride, const TColorTable& table,
                  TPixelImage& image) {
    const uint32_t bpp = h.bpp;
    const bool fields = h.Fields();
    uint32_t masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
    TChannel red, green, blue, alpha;
    if (bpp == 16) {
        if (!fields) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F, masks[3] = 0;
        red = TChannel(masks[0]), green = TChannel(masks[1]), blue = TChannel(masks[2]), alpha = TChannel(masks[3]);
    } else if (bpp == 32 && fields) {
        red = TChannel(masks[0]), green = TChannel(masks[1]), blue = TChannel(masks[2]), alpha = TChannel(masks[3]);
    }
    const int32_t w = image.Width(), ht = image.Height();
    bool anyAlpha = false;
    for (int32_t r = 0; r < ht; ++r) {
        const uint8_t* s = b.data() + h.offBits + stride * uint64_t(r);
        TPixelRec* row = image[h.topDown ? r : ht - 1 - r];
        for (int32_t x = 0; x < w; ++x) {
            TPixelRec& p = row[x];
            switch (bpp) {
                case 1: p = table.Entry((s[x >> 3] >> (7 - (x & 7))) & 1); break;
                case 4: p = table.Entry((x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4); break;
                case 8: p = table.Entry(s[x]); break;
                case 16: {
                    const uint32_t v = uint32_t(s[2 * x]) | uint32_t(s[2 * x + 1]) << 8;
                    p.R = red.Get(v), p.G = green.Get(v), p.B = blue.Get(v), p.A = 255;
                    break;
                }
                case 24: p.B = s[3 * x], p.G = s[3 * x + 1], p.R = s[3 * x + 2], p.A = 255; break;
                default: {
                    const uint8_t* q = s + 4 * x;
                    if (fields) {
                        const uint32_t v = uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24;
                        p.R = red.Get(v), p.G = green.Get(v), p.B = blue.Get(v), p.A = alpha.Get(v);
                    } else {
                        p.B = q[0], p.G = q[1], p.R = q[2], p.A = q[3];
                    }
                    anyAlpha |= p.A != 0;
                }
            }
        }
    }
    return anyAlpha;
}

}  // namespace

TDecodedImage DecodeBmpBytes(std::span<const uint8_t> b, const TBmpReadOptions& options) {
    const TBmpHeader h = ReadHeader(b);
    CheckHeader(h, options);
    const TColorTable table(b, h, options);
    TDecodedImage out;
    const uint64_t stride = CheckPixelData(b, h, out.Warnings);

    out.SourceBits = static_cast<int32_t>(h.bpp);
    out.Pixels.Resize(h.width, h.height);
    if (h.Rle()) {
        TransferRle(b, h, table, out.Pixels);
        return out;
    }
    const bool anyAlpha = TransferRows(b, h, stride, table, out.Pixels);
    if (h.bpp == 32) {
        // A 32-bit bitmap whose fourth bytes are all 0 carries no alpha at all.
        out.HasAlpha = anyAlpha;
        if (!anyAlpha)
            for (TPixelRec& p : out.Pixels.Vector()) p.A = 255;
    }
    return out;
}

std::string MaskSideFileName(const std::string& bitmapFileName) {
    const std::filesystem::path p(bitmapFileName);
    std::filesystem::path name = p.filename();
    name.replace_extension(".dat");
    return (p.parent_path() / ("mask" + name.string())).string();
}

void ApplyMaskSideFile(std::span<const uint8_t> mask, TPixelImage& image) {
    const int32_t w = image.Width(), h = image.Height();
    const uint64_t stride = ((uint64_t(w) + 31) / 32) * 4;
    for (int32_t y = 0; y < h; ++y) {
        TPixelRec* row = image[y];
        const uint64_t base = uint64_t(h - 1 - y) * stride;
        for (int32_t x = 0; x < w; ++x) {
            const uint64_t at = base + uint64_t(x >> 3);
            const bool set = at < mask.size() && ((mask[at] >> (7 - (x & 7))) & 1);
            row[x].A = set ? 0 : 255;
        }
    }
}

TDecodedImage DecodeBmpFile(const std::string& fileName) {
    const std::vector<uint8_t> bytes = ReadFileBytes(fileName);
    TDecodedImage out = DecodeBmpBytes(bytes);
    if (out.SourceBits == 32) return out;
    const std::string maskName = MaskSideFileName(fileName);
    std::error_code ec;
    if (std::filesystem::is_regular_file(maskName, ec)) {
        ApplyMaskSideFile(ReadFileBytes(maskName), out.Pixels);
        out.HasAlpha = true;
    }
    return out;
}

}  // namespace jx
