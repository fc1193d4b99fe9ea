// Our own BMP/DIB reader. Every size and offset from the file is checked in 64 bits before a
// byte is read, so a damaged header gives a message, never a read past the data.
#include <algorithm>
#include <array>
#include <filesystem>
#include <vector>

#include "fileio/errors.h"
#include "fileio/open_decoders.h"
#include "fileio/png_probe.h"

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

[[noreturn]] void Fail(const std::string& what) { throw FileIoError("BMP: " + what); }

uint16_t Le16(std::span<const uint8_t> b, size_t at) {
    if (at + 2 > b.size()) Fail("file is truncated");
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t Le32(std::span<const uint8_t> b, size_t at) {
    if (at + 4 > b.size()) Fail("file is truncated");
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
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

// Walks RLE4/RLE8 codes without writing a pixel, so that damaged data is refused before the
// image takes any memory. A stream must end with its end-of-bitmap code or reach the last row,
// and must account for a fair share of the image: painted pixels, rows it ends while still empty
// and the jumps of its deltas. Rows of end-of-line codes (a blank sparse image) account for every
// row; a header whose width or height was damaged leaves most of the image unaccounted for.
void CheckRle(std::span<const uint8_t> b, size_t pos, int64_t w, int64_t h, bool four) {
    int64_t x = 0, y = 0;
    uint64_t accounted = 0;
    auto paint = [&](int64_t n) {
        if (y < h && x < w) accounted += uint64_t(std::min<int64_t>(n, w - x));
        x += n;
    };
    bool ended = false;
    while (pos + 2 <= b.size() && y < h) {
        const uint8_t n = b[pos], v = b[pos + 1];
        pos += 2;
        if (n > 0) {
            paint(n);
            continue;
        }
        if (v == 0) {
            if (x == 0) accounted += uint64_t(w);
            x = 0;
            ++y;
        } else if (v == 1) {
            ended = true;
            break;
        } else if (v == 2) {
            if (pos + 2 > b.size()) Fail("the pixel data is cut short");
            accounted += uint64_t(b[pos]) + uint64_t(b[pos + 1]) * uint64_t(w);
            x += b[pos];
            y += b[pos + 1];
            pos += 2;
        } else {
            const size_t bytes = four ? (v + 1u) / 2 : v;
            if (pos + bytes > b.size()) Fail("the pixel data is cut short");
            paint(v);
            pos += (bytes + 1) & ~size_t{1};
        }
    }
    if (!ended && y < h) Fail("the pixel data is cut short");
    const uint64_t area = uint64_t(w) * uint64_t(h);
    if (area > kRleSlackPixels && accounted < area / 16)
        Fail("the run-length data cannot fill a " + std::to_string(w) + "x" + std::to_string(h) +
             " image (its width or height is damaged)");
}

// RLE4/RLE8 into one index byte per pixel, rows bottom-up; pixels the stream skips stay 0. The
// stream was checked by CheckRle.
std::vector<uint8_t> DecodeRle(std::span<const uint8_t> b, size_t pos, int64_t w, int64_t h, bool four) {
    std::vector<uint8_t> out(static_cast<size_t>(w * h), 0);
    int64_t x = 0, y = 0;
    auto put = [&](uint8_t v) {
        if (x < w && y < h) out[static_cast<size_t>(y * w + x)] = v;
        ++x;
    };
    while (pos + 2 <= b.size() && y < h) {
        const uint8_t n = b[pos], v = b[pos + 1];
        pos += 2;
        if (n > 0) {
            for (int i = 0; i < n; ++i) put(four ? ((i & 1) ? v & 15 : v >> 4) : v);
            continue;
        }
        if (v == 0) {
            x = 0;
            ++y;
        } else if (v == 1) {
            break;
        } else if (v == 2) {
            if (pos + 2 > b.size()) break;
            x += b[pos];
            y += b[pos + 1];
            pos += 2;
        } else {
            const size_t bytes = four ? (v + 1u) / 2 : v;
            if (pos + bytes > b.size()) Fail("the pixel data is cut short");
            for (int i = 0; i < v; ++i) put(four ? ((i & 1) ? b[pos + i / 2] & 15 : b[pos + i / 2] >> 4) : b[pos + i]);
            pos += (bytes + 1) & ~size_t{1};
        }
    }
    return out;
}

}  // namespace

TDecodedImage DecodeBmpBytes(std::span<const uint8_t> b, const TBmpReadOptions& options) {
    if (b.size() < 14 + 12 || b[0] != 'B' || b[1] != 'M') Fail("not a bitmap file");
    const uint64_t offBits = Le32(b, 10);
    const uint32_t headerSize = Le32(b, 14);
    int64_t width, height;
    uint32_t bpp, compression = kBiRgb, colorsUsed = 0;
    uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    size_t paletteAt, entryBytes = 4;
    if (headerSize == 12) {
        width = Le16(b, 18);
        height = static_cast<int16_t>(Le16(b, 20));
        bpp = Le16(b, 24);
        paletteAt = 26;
        entryBytes = 3;
    } else if (headerSize >= 40 && headerSize <= 0xFFFF) {
        width = static_cast<int32_t>(Le32(b, 18));
        height = static_cast<int32_t>(Le32(b, 22));
        bpp = Le16(b, 28);
        compression = Le32(b, 30);
        colorsUsed = Le32(b, 46);
        paletteAt = 14 + size_t{headerSize};
        if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
            const int n = compression == kBiAlphaBitfields ? 4 : 3;
            // Version 2 and later headers hold the masks; a 40-byte one is followed by them.
            size_t at = headerSize >= 52 ? 54 : paletteAt;
            for (int i = 0; i < n; ++i) masks[i] = Le32(b, at + 4 * size_t(i));
            if (headerSize >= 56) masks[3] = Le32(b, 66);
            if (headerSize < 52) paletteAt += 4 * size_t(n);
        }
    } else {
        Fail("unsupported header size " + std::to_string(headerSize));
    }
    if (Le16(b, headerSize == 12 ? 22 : 26) != 1) Fail("bad plane count");
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0) Fail("bad image size");
    try {
        CheckImageSize(width, height);
    } catch (const ImagingError& e) {
        Fail(e.what());
    }
    if (options.CheckSize) options.CheckSize(width, height);
    const bool rle = compression == kBiRle8 || compression == kBiRle4;
    if (rle && !((compression == kBiRle8 && bpp == 8) || (compression == kBiRle4 && bpp == 4)))
        Fail("run-length compression does not match the bit depth");
    const bool fields = compression == kBiBitfields || compression == kBiAlphaBitfields;
    if (fields && bpp != 16 && bpp != 32) Fail("bit fields need 16 or 32 bits a pixel");
    if (!rle && !fields && compression != kBiRgb) Fail("unsupported compression " + std::to_string(compression));
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        Fail("unsupported bit depth " + std::to_string(bpp));

    // Colour table; indices past its end read as black, or refuse the file.
    std::array<TPixelRec, 256> table{};
    for (auto& e : table) e.A = 255;
    uint32_t tableSize = 0;
    if (bpp <= 8) {
        uint64_t count = colorsUsed ? colorsUsed : (uint64_t{1} << bpp);
        if (count > 256) count = 256;
        for (uint64_t i = 0; i < count; ++i) {
            const uint64_t at = paletteAt + i * entryBytes;
            if (at + 3 > b.size() || (offBits >= paletteAt && at + 3 > offBits)) break;
            table[i].B = b[at];
            table[i].G = b[at + 1];
            table[i].R = b[at + 2];
            ++tableSize;
        }
    }
    const bool refusePast = options.IndexPastTable == TIndexPastTable::Refuse && bpp <= 8;
    auto entry = [&](uint32_t index) -> const TPixelRec& {
        if (refusePast && index >= tableSize) Fail("colour index " + std::to_string(index) + " is past the colour table");
        return table[index];
    };

    // The pixel data must be able to hold the image before the image is allocated: rows as
    // stored, or run-length codes that end properly and cover the image.
    if (offBits > b.size()) Fail("pixel data lies past the end of the file");
    if (offBits < paletteAt) Fail("the pixel data starts inside its headers");
    const uint64_t dataBytes = b.size() - offBits;
    const uint64_t stride = ((uint64_t(width) * bpp + 31) / 32) * 4;
    if (rle) {
        const uint64_t pixels = uint64_t(width) * uint64_t(height);
        if (pixels > dataBytes * kMaxRlePixelsPerByte + kRleSlackPixels)
            Fail("a " + std::to_string(width) + "x" + std::to_string(height) + " image is too large for " +
                 std::to_string(dataBytes) + " bytes of run-length data (at most " +
                 std::to_string(kMaxRlePixelsPerByte) + " pixels a byte)");
        CheckRle(b, offBits, width, height, compression == kBiRle4);
    } else if (stride * uint64_t(height) > dataBytes) {
        Fail("the pixel data is cut short");
    }

    TDecodedImage out;
    out.SourceBits = static_cast<int32_t>(bpp);
    out.Pixels.Resize(width, height);
    const int32_t w = out.Pixels.Width(), h = out.Pixels.Height();
    if (rle) {
        const auto idx = DecodeRle(b, offBits, w, h, compression == kBiRle4);
        for (int32_t r = 0; r < h; ++r) {
            TPixelRec* row = out.Pixels[topDown ? r : h - 1 - r];
            for (int32_t x = 0; x < w; ++x) row[x] = entry(idx[size_t(r) * size_t(w) + size_t(x)]);
        }
        return out;
    }
    TChannel red, green, blue, alpha;
    if (bpp == 16) {
        if (!fields) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F, masks[3] = 0;
        red = TChannel(masks[0]), green = TChannel(masks[1]), blue = TChannel(masks[2]), alpha = TChannel(masks[3]);
    } else if (bpp == 32 && fields) {
        red = TChannel(masks[0]), green = TChannel(masks[1]), blue = TChannel(masks[2]), alpha = TChannel(masks[3]);
    }
    bool anyAlpha = false;
    for (int32_t r = 0; r < h; ++r) {
        const uint8_t* s = b.data() + offBits + stride * uint64_t(r);
        TPixelRec* row = out.Pixels[topDown ? r : h - 1 - r];
        for (int32_t x = 0; x < w; ++x) {
            TPixelRec& p = row[x];
            switch (bpp) {
                case 1: p = entry((s[x >> 3] >> (7 - (x & 7))) & 1); break;
                case 4: p = entry((x & 1) ? s[x >> 1] & 15 : s[x >> 1] >> 4); break;
                case 8: p = entry(s[x]); break;
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
    if (bpp == 32) {
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
