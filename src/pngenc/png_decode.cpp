// Reading PNG files: an own walk over the chunks (structure, CRCs, the header, the row filter
// bytes of the image data), then the pixels through libpng.
#include <zlib.h>

#include <cstring>
#include <iterator>

#include "pngenc/png_chunks.h"
#include "pngenc/png_guard.h"
#include "pngenc/png_image.h"
#include "pngenc/png_layout.h"
#include "platform/byte_order.h"
#include "platform/read_file.h"

namespace jx {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};


bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

namespace pngenc {

std::vector<ChunkRef> WalkChunks(std::span<const uint8_t> file, bool checkCrc, std::vector<std::string>* dropped,
                                 WalkEnd end) {
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) {
        throw PngError("PNG: not a PNG file (bad signature)");
    }
    std::vector<ChunkRef> chunks;
    size_t pos = 8;
    bool sawEnd = false;
    for (;;) {
        if (end == WalkEnd::ImageData && !chunks.empty() && chunks.back().name == "IDAT" &&
            (file.size() - pos < 8 || std::memcmp(file.data() + pos + 4, "IDAT", 4) != 0)) {
            return chunks;
        }
        if (sawEnd && pos == file.size()) return chunks;
        if (file.size() - pos < 12) {
            throw PngError(pos == file.size() ? "PNG: file is truncated (no IEND chunk)"
                                              : "PNG: file is truncated (incomplete chunk at the end)");
        }
        const uint8_t* p = file.data() + pos;
        const uint32_t length = BigEndian32(p);
        if (!IsLetter(p[4]) || !IsLetter(p[5]) || !IsLetter(p[6]) || !IsLetter(p[7])) {
            throw PngError("PNG: damaged chunk name at offset " + std::to_string(pos));
        }
        std::string name(reinterpret_cast<const char*>(p + 4), 4);
        if (length > 0x7FFFFFFFu) throw PngError("PNG: damaged length of chunk " + name);
        if (length > file.size() - pos - 12) throw PngError("PNG: file is truncated in chunk " + name);
        if (checkCrc) {
            uLong crc = crc32(0, p + 4, uInt(length) + 4);
            if (crc != BigEndian32(p + 8 + length)) {
                if (!dropped || (name[0] & 0x20) == 0) throw PngError("PNG: bad CRC in chunk " + name);
                dropped->push_back(name);
                pos += size_t(length) + 12;
                continue;
            }
        }
        chunks.push_back(ChunkRef{name, pos + 8, length});
        pos += size_t(length) + 12;
        if (name == "IEND") {
            if (end != WalkEnd::FileEnd) return chunks;
            sawEnd = true;
        }
    }
}

}  // namespace pngenc

namespace {

using pngenc::ChunkRef;
using pngenc::WalkChunks;

struct Header {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0, colorType = 0, interlace = 0;
};

Header ParseHeader(std::span<const uint8_t> file, const std::vector<ChunkRef>& chunks) {
    if (chunks.empty() || chunks[0].name != "IHDR") throw PngError("PNG: damaged file (IHDR is not the first chunk)");
    if (chunks[0].length != 13) throw PngError("PNG: damaged IHDR chunk (length)");
    const uint8_t* d = file.data() + chunks[0].data;
    Header h;
    h.width = BigEndian32(d);
    h.height = BigEndian32(d + 4);
    h.depth = d[8];
    h.colorType = d[9];
    if (h.width == 0 || h.height == 0) throw PngError("PNG: damaged IHDR chunk (width or height is zero)");
    if (h.width > 0x7FFFFFFFu || h.height > 0x7FFFFFFFu) {
        throw PngError("PNG: damaged IHDR chunk (width or height out of range)");
    }
    if (d[10] != 0) throw PngError("PNG: unknown compression method " + std::to_string(d[10]));
    if (d[11] != 0) throw PngError("PNG: unknown filter method " + std::to_string(d[11]));
    if (d[12] > 1) throw PngError("PNG: unknown interlace method " + std::to_string(d[12]));
    h.interlace = d[12];
    // SetHeader checks the colour type, the depth and the size against the limit.
    return h;
}

// The filter byte of every stored row, read from the inflated image data. Inflating stops once
// every row is seen, so the output is bounded by what the header promises.
void ScanRowFilters(std::span<const uint8_t> file, const std::vector<ChunkRef>& idat, PngImage& img) {
    struct Pass {
        uint32_t rows, y0, dy;
        uint64_t rowLength;
    };
    std::vector<Pass> passes;
    const bool interlaced = img.Interlace == 1;
    for (int i = 0; i < (interlaced ? 7 : 1); ++i) {
        const pngenc::PassInfo p = interlaced ? pngenc::kAdam7[i] : pngenc::PassInfo{0, 0, 1, 1};
        const auto [pw, ph] = pngenc::PassSize(p, img.Width(), img.Height());
        if (pw == 0 || ph == 0) continue;
        passes.push_back(Pass{ph, p.y0, p.dy, 1 + (uint64_t(pw) * img.BitsPerPixel() + 7) / 8});
    }
    img.RowFilters.assign(img.Height(), 0);
    img.PassRowFilters.clear();
    img.FiltersUsed.fill(0);
    img.Fingerprint = 0;

    size_t passIndex = 0;
    uint32_t rowInPass = 0;
    uint64_t nextFilter = 0;  // stream offset of the next row's filter byte
    uint64_t produced = 0;
    bool done = false;

    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw PngError("PNG: cannot start inflate");
    std::vector<uint8_t> out(65536);
    std::string failure;
    size_t chunk = 0;
    z.avail_in = 0;
    // Hands inflate the next IDAT chunk's data; false (with the failure set) when none is left.
    auto feedNextChunk = [&]() {
        if (chunk == idat.size()) {
            failure = "PNG: image data is truncated";
            return false;
        }
        z.next_in = const_cast<Bytef*>(file.data() + idat[chunk].data);
        z.avail_in = uInt(idat[chunk].length);
        ++chunk;
        return true;
    };
    auto damaged = [&] { return std::string("PNG: damaged image data (") + (z.msg ? z.msg : "inflate failed") + ")"; };
    // Once every filter byte is seen, the rows' last bytes must still be present.
    while (failure.empty() && !(done && produced >= nextFilter)) {
        if (z.avail_in == 0) {
            if (!feedNextChunk()) break;
            continue;
        }
        const bool filling = done;
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        int rc = inflate(&z, Z_NO_FLUSH);
        const uint64_t got = out.size() - z.avail_out;
        while (!done && nextFilter < produced + got) {
            const uint8_t f = out[size_t(nextFilter - produced)];
            if (f > 4) {
                failure = "PNG: damaged image data (row filter type " + std::to_string(f) + ")";
                break;
            }
            const Pass& p = passes[passIndex];
            const uint32_t y = p.y0 + rowInPass * p.dy;
            img.RowFilters[y] = f;
            img.PassRowFilters.push_back(f);
            img.FiltersUsed[f] = 1;
            img.Fingerprint += (y + 1) * uint32_t(f);
            nextFilter += p.rowLength;
            if (++rowInPass == p.rows) {
                rowInPass = 0;
                if (++passIndex == passes.size()) done = true;
                else if (interlaced) img.Fingerprint = 0;
            }
        }
        produced += got;
        if (!failure.empty()) break;
        if (filling) {
            if (produced >= nextFilter) break;
            if (rc == Z_STREAM_END) failure = "PNG: image data is truncated";
            else if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0)) failure = damaged();
            continue;
        }
        if (rc == Z_STREAM_END) {
            if (!done || produced < nextFilter) failure = "PNG: image data is truncated";
            break;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0) continue;
        if (rc != Z_OK) failure = damaged();
    }
    inflateEnd(&z);
    if (!failure.empty()) throw PngError(failure);
}

// What libpng met past the rows of the header's size while it read them (inflated bytes after
// the last row: a height or width damaged smaller; bytes after the end of the compressed stream),
// worded for the user. Noted on the one decode, so a sound file pays nothing for it.
void ReportImageDataPastRows(const std::vector<std::string>& libpngWarnings, uint64_t unreadImageData,
                             std::vector<std::string>& warnings) {
    bool tooMuch = false, afterEnd = false;
    for (const std::string& w : libpngWarnings) {
        tooMuch |= w.find("Too much image data") != std::string::npos;
        afterEnd |= w.find("Extra compressed data") != std::string::npos || w.find("Too many IDAT") != std::string::npos;
    }
    if (tooMuch)
        warnings.push_back("the image data holds more than the header's size (the width or height may be damaged)");
    if (afterEnd)
        warnings.push_back("image data follows the end of the compressed stream");
    else if (unreadImageData > 0)
        warnings.push_back(std::to_string(unreadImageData) + " bytes of image data follow the end of the compressed stream");
}

struct MemoryReader {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (length > r->size - r->pos) png_error(png, "file is truncated");
    std::memcpy(out, r->data + r->pos, length);
    r->pos += length;
}

PngChunkPlace PlaceOf(const std::string& name, bool beforePlte, bool afterIdat) {
    if (afterIdat) return PngChunkPlace::AfterIdat;
    static const char* const kBeforePlte[] = {"gAMA", "cHRM", "sRGB", "iCCP", "sBIT"};
    for (const char* n : kBeforePlte) {
        if (name == n) return PngChunkPlace::BeforePlte;
    }
    if (name == "bKGD" || name == "hIST") return PngChunkPlace::BeforeIdat;
    return beforePlte ? PngChunkPlace::BeforePlte : PngChunkPlace::BeforeIdat;
}

// Deflate writes at most about 1032 bytes for every byte it reads (258-byte matches in one-bit
// codes); image data shorter than that bound cannot hold the rows, whatever the header says.
constexpr uint64_t kMaxInflateRatio = 1032;

// Inflated size of the image data of a header that CheckHeader accepted.
uint64_t StoredBytes(const Header& h) {
    static const uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    const uint64_t bits = uint64_t(kChannels[h.colorType]) * h.depth;
    uint64_t total = 0;
    for (int i = 0; i < (h.interlace ? 7 : 1); ++i) {
        const pngenc::PassInfo p = h.interlace ? pngenc::kAdam7[i] : pngenc::PassInfo{0, 0, 1, 1};
        const auto [pw, ph] = pngenc::PassSize(p, h.width, h.height);
        if (pw && ph) total += uint64_t(ph) * (1 + (uint64_t(pw) * bits + 7) / 8);
    }
    return total;
}

// The palette and transparency libpng read, into the image's fields.
void TakePaletteAndKey(png_structp png, png_infop info, uint8_t colorType, PngImage& img) {
    png_colorp palette = nullptr;
    int paletteSize = 0;
    png_bytep alpha = nullptr;
    int alphaSize = 0;
    png_color_16p key = nullptr;
    if (png_get_valid(png, info, PNG_INFO_PLTE)) png_get_PLTE(png, info, &palette, &paletteSize);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_get_tRNS(png, info, &alpha, &alphaSize, &key);
    for (int i = 0; i < paletteSize; ++i) img.Palette.push_back(PngRgb{palette[i].red, palette[i].green, palette[i].blue});
    if (colorType == kPngPalette) {
        if (alpha && alphaSize > 0) img.PaletteAlpha.assign(alpha, alpha + alphaSize);
    } else if (key && (colorType == kPngGrey || colorType == kPngRgb)) {
        img.Key = PngKey{key->gray, key->red, key->green, key->blue};
    }
}

// The rows one at a time as 8-bit BGRA to the reader; nothing past the last row is read.
PngImage ReadRows(std::span<const uint8_t> file, const Header& h, PngRowReader& rows, PngImage img) {
    rows.Start(h.width, h.height, h.interlace != 0);
    if (h.interlace) throw PngError("PNG: an interlaced image cannot be read row by row");
    pngenc::PngGuard guard(pngenc::PngGuard::kRead);
    png_structp png = guard.png();
    png_infop info = guard.info();
    MemoryReader reader{file.data(), file.size(), 0};
    size_t rowBytes = 0;
    auto readInfo = [&] {
        png_set_read_fn(png, &reader, ReadFromMemory);
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_set_bgr(png);
        png_read_update_info(png, info);
        rowBytes = png_get_rowbytes(png, info);
    };
    guard.Run(readInfo, "PNG: damaged file: ");
    if (rowBytes != size_t(h.width) * 4) throw PngError("PNG: damaged file (row size)");
    std::vector<uint8_t> row(rowBytes);
    png_bytep out = row.data();
    auto readRow = [&] { png_read_row(png, out, nullptr); };
    for (uint32_t y = 0; y < h.height; ++y) {
        guard.Run(readRow, "PNG: damaged file: ");
        rows.Row(y, out);
    }
    TakePaletteAndKey(png, info, h.colorType, img);
    return img;
}

}  // namespace

PngImage PngImage::Decode(std::span<const uint8_t> file, const PngDecodeOptions& options) {
    // A row or header reader reads nothing past the image data, so damage there is not its to
    // judge; nor are the CRCs of chunks whose data a header reader never uses.
    const std::vector<ChunkRef> chunks =
        WalkChunks(file, !options.HeaderOnly, options.DroppedChunks,
                   options.Rows != nullptr || options.HeaderOnly ? pngenc::WalkEnd::ImageData : pngenc::WalkEnd::Iend);
    const Header h = ParseHeader(file, chunks);
    uint64_t idatBytes = 0;
    for (const ChunkRef& c : chunks)
        if (c.name == "IDAT") idatBytes += c.length;
    const bool keepPixels = !options.HeaderOnly && !options.Rows;
    CheckHeader(h.width, h.height, h.colorType, h.depth, keepPixels);
    if (options.CheckSize) options.CheckSize(h.width, h.height);
    if (StoredBytes(h) > idatBytes * kMaxInflateRatio + 1024) {
        throw PngError("PNG: image data is truncated (" + std::to_string(idatBytes) + " bytes cannot hold " +
                       std::to_string(h.width) + "x" + std::to_string(h.height) + " pixels)");
    }
    PngImage img;
    if (options.HeaderOnly) return img;
    if (keepPixels) img.SetHeader(h.width, h.height, h.colorType, h.depth);
    img.Interlace = h.interlace;

    // Structure: one IHDR, PLTE before the image data, IDAT chunks in one run.
    std::vector<ChunkRef> idat;
    bool sawPlte = false, idatEnded = false;
    size_t plteAt = chunks.size();
    for (size_t i = 0; i < chunks.size(); ++i) {
        const ChunkRef& c = chunks[i];
        img.FileChunkNames.push_back(c.name);
        if (c.name == "IDAT") {
            if (idatEnded) throw PngError("PNG: damaged file (IDAT chunks are not consecutive)");
            idat.push_back(c);
            continue;
        }
        if (!idat.empty()) idatEnded = true;
        if (c.name == "IHDR") {
            if (i != 0) throw PngError("PNG: damaged file (second IHDR chunk)");
        } else if (c.name == "PLTE") {
            if (sawPlte || !idat.empty()) throw PngError("PNG: damaged file (misplaced PLTE chunk)");
            sawPlte = true;
            plteAt = i;
        } else if (c.name == "IEND" || c.name == "tRNS") {
        } else if (c.name[0] >= 'A' && c.name[0] <= 'Z') {
            throw PngError("PNG: unknown critical chunk " + c.name);
        } else {
            std::vector<uint8_t> data(file.begin() + long(c.data), file.begin() + long(c.data + c.length));
            img.Chunks.push_back(PngChunk{c.name, std::move(data), PlaceOf(c.name, i < plteAt, idatEnded)});
        }
    }
    if (idat.empty()) throw PngError("PNG: no image data (IDAT chunk missing)");
    if (h.colorType == kPngPalette && !sawPlte) throw PngError("PNG: palette image without PLTE chunk");
    if (options.Rows) return ReadRows(file, h, *options.Rows, std::move(img));
    if (options.ReadRowFilters) ScanRowFilters(file, idat, img);
    else img.RowFilters.assign(img.Height(), 0);

    // Pixels through libpng, untransformed: the rows as stored, deinterlaced.
    pngenc::PngGuard guard(pngenc::PngGuard::kRead);
    png_structp png = guard.png();
    png_infop info = guard.info();
    MemoryReader reader{file.data(), file.size(), 0};
    size_t rowBytes = 0;
    std::vector<png_bytep> rows(img.Height());
    for (uint32_t y = 0; y < img.Height(); ++y) rows[y] = img.Row(y);
    auto readInfo = [&] {
        png_set_read_fn(png, &reader, ReadFromMemory);
        png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
        png_read_info(png, info);
        double fileGamma = 0;
        if (options.ScreenGamma > 0 && h.colorType != kPngPalette && png_get_gAMA(png, info, &fileGamma))
            png_set_gamma(png, options.ScreenGamma, fileGamma);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        rowBytes = png_get_rowbytes(png, info);
    };
    guard.Run(readInfo, "PNG: damaged file: ");
    if (rowBytes != img.RowBytes()) throw PngError("PNG: damaged file (row size)");

    // By the last row libpng has read all of the stream but its tail (the end of the last block,
    // the checksum, maybe an empty flush block): IDAT chunks it has not reached by then, beyond
    // what such a tail takes, lie past the stream's end.
    constexpr uint64_t kStreamTail = 16;
    uint64_t unreadImageData = 0;
    auto readRows = [&] {
        png_read_image(png, rows.data());
        for (const ChunkRef& c : idat)
            if (c.data >= reader.pos) unreadImageData += c.length;
        if (unreadImageData <= kStreamTail) unreadImageData = 0;
        png_read_end(png, nullptr);
    };
    guard.Run(readRows, "PNG: damaged file: ");
    if (options.Warnings) ReportImageDataPastRows(guard.warnings(), unreadImageData, *options.Warnings);
    TakePaletteAndKey(png, info, h.colorType, img);
    return img;
}

PngImage PngImage::DecodeFile(const std::filesystem::path& path, const PngDecodeOptions& options) {
    // One read of the whole file: a photograph's file is tens of megabytes.
    std::vector<uint8_t> bytes;
    const FileReadFailure failure = ReadWholeFile(path.string(), UINT64_MAX, bytes);
    if (failure == FileReadFailure::CannotOpen) throw PngError("PNG: cannot open " + path.string());
    if (failure != FileReadFailure::None) throw PngError("PNG: cannot read " + path.string());
    return Decode(bytes, options);
}

std::vector<std::string> PngImage::ListChunks(std::span<const uint8_t> file) {
    std::vector<std::string> names;
    for (const ChunkRef& c : WalkChunks(file, false)) names.push_back(c.name);
    return names;
}

}  // namespace jx
