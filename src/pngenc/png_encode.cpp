// The image-data writer: rows filtered and chosen here, deflated with zlib directly, and the
// file framed by libpng around IDAT chunks of the chosen size.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pngenc/image_data.h"
#include "pngenc/png_guard.h"
#include "pngenc/png_image.h"
#include "pngenc/png_layout.h"
#include "pngenc/row_filter.h"
#include "platform/errors.h"
#include "platform/replace_file.h"

namespace jx {

namespace {

using pngenc::kAdam7;
using pngenc::PassSize;

// The deflate stream of the image data, growing its output as it goes.
class ImageDeflater {
public:
    ImageDeflater(const PngImage& img, uint64_t rawBytes) {
        int rc = img.UseDeflateInit2
                     ? deflateInit2(&z_, img.CompressionLevel, Z_DEFLATED, img.WindowBits, img.MemoryLevel, img.Strategy)
                     : deflateInit(&z_, img.CompressionLevel);
        if (rc != Z_OK) throw PngError("PNG: cannot start deflate with these parameters");
        uint64_t bound = deflateBound(&z_, uLong(rawBytes));
        out_.resize(size_t(std::min<uint64_t>(bound + 64, uint64_t(64) << 20)));
        z_.next_out = out_.data();
        z_.avail_out = uInt(out_.size());
    }
    ~ImageDeflater() { deflateEnd(&z_); }
    ImageDeflater(const ImageDeflater&) = delete;
    ImageDeflater& operator=(const ImageDeflater&) = delete;

    void Feed(const uint8_t* data, size_t n) {
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = uInt(n);
        while (z_.avail_in > 0) {
            if (z_.avail_out == 0) Grow();
            if (deflate(&z_, Z_NO_FLUSH) != Z_OK) throw PngError("PNG: deflate failed");
        }
    }

    std::vector<uint8_t> Finish() {
        for (;;) {
            if (z_.avail_out == 0) Grow();
            int rc = deflate(&z_, Z_FINISH);
            if (rc == Z_STREAM_END) break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) throw PngError("PNG: deflate failed");
        }
        out_.resize(size_t(z_.total_out));
        return std::move(out_);
    }

private:
    void Grow() {
        size_t used = out_.size();
        out_.resize(used + used / 2 + 65536);
        z_.next_out = out_.data() + used;
        z_.avail_out = uInt(std::min<size_t>(out_.size() - used, 0x7FFFFFFF));
    }

    z_stream z_{};
    std::vector<uint8_t> out_;
};

unsigned OutputDepthOf(const PngImage& img) {
    return img.OutputBitDepth == 0 ? img.BitDepth() : img.OutputBitDepth;
}

void CheckSettings(const PngImage& img) {
    if (img.Empty()) throw PngError("PNG: there is no image to encode");
    if (img.Interlace > 1) {
        throw PngError("PNG: interlace method " + std::to_string(img.Interlace) + " is not supported (0 or 1)");
    }
    if (img.CompressionLevel > 9) {
        throw PngError("PNG: compression level " + std::to_string(img.CompressionLevel) + " is out of range (0..9)");
    }
    const uint8_t h = img.Heuristic > 9 ? 0 : img.Heuristic;
    if (img.UseDeflateInit2 || h == 7) {
        if (img.WindowBits < 8 || img.WindowBits > 15) {
            throw PngError("PNG: window bits " + std::to_string(img.WindowBits) + " are out of range (8..15)");
        }
        if (img.MemoryLevel < 1 || img.MemoryLevel > 9) {
            throw PngError("PNG: memory level " + std::to_string(img.MemoryLevel) + " is out of range (1..9)");
        }
        if (img.Strategy > 4) {
            throw PngError("PNG: deflate strategy " + std::to_string(img.Strategy) + " is out of range (0..4)");
        }
    }
    if (img.LossyMethod > 1) {
        throw PngError("PNG: lossy method " + std::to_string(img.LossyMethod) + " is out of range (0..1)");
    }
    if (img.MaxIdatSize < 1) throw PngError("PNG: IDAT chunk size must be at least 1");
    const unsigned out = OutputDepthOf(img);
    const bool lowGrey = img.ColorType() == kPngGrey || img.ColorType() == kPngPalette;
    if (out != img.BitDepth() && !(out == 2 && img.BitDepth() == 4 && lowGrey)) {
        throw PngError("PNG: output bit depth " + std::to_string(out) + " cannot be written from " +
                       std::to_string(img.BitDepth()) + "-bit rows");
    }
    if (img.ColorType() == kPngPalette) {
        if (img.Palette.empty() || img.Palette.size() > (size_t(1) << out)) {
            throw PngError("PNG: a palette of " + std::to_string(img.Palette.size()) + " entries does not fit " +
                           std::to_string(out) + "-bit indices");
        }
        if (img.PaletteAlpha.size() > img.Palette.size()) {
            throw PngError("PNG: more transparency entries than palette entries");
        }
        if (img.Key) throw PngError("PNG: a palette image takes no transparent key colour");
    } else {
        if (!img.PaletteAlpha.empty()) throw PngError("PNG: palette transparency needs a palette image");
        if (!img.Palette.empty() && img.ColorType() != kPngRgb && img.ColorType() != kPngRgba) {
            throw PngError("PNG: a grey image takes no palette");
        }
        if (img.Palette.size() > 256) throw PngError("PNG: a palette holds at most 256 entries");
        if (img.Key) {
            if (img.HasAlphaChannel()) throw PngError("PNG: an image with an alpha channel takes no key colour");
            const uint32_t max = (1u << out) - 1;
            const PngKey& k = *img.Key;
            bool fits = img.ColorType() == kPngGrey ? k.Grey <= max : (k.R <= max && k.G <= max && k.B <= max);
            if (!fits) throw PngError("PNG: the transparent key colour exceeds the bit depth");
        }
    }
}

// One stored row, or one Adam7 pass row, in PNG byte order at the output depth.
void PackRow(const PngImage& img, uint32_t y, uint32_t x0, uint32_t dx, uint32_t count, unsigned outDepth,
             uint8_t* out, size_t n) {
    const uint8_t* row = img.Row(y);
    const unsigned depth = img.BitDepth();
    if (depth >= 8) {
        const size_t pixel = img.BitsPerPixel() / 8;
        if (dx == 1) {
            std::memcpy(out, row + size_t(x0) * pixel, n);
        } else if (pixel == 4) {
            for (uint32_t k = 0; k < count; ++k) std::memcpy(out + size_t(k) * 4, row + (size_t(x0) + size_t(k) * dx) * 4, 4);
        } else {
            for (uint32_t k = 0; k < count; ++k) {
                std::memcpy(out + size_t(k) * pixel, row + (size_t(x0) + size_t(k) * dx) * pixel, pixel);
            }
        }
        return;
    }
    if (dx == 1 && x0 == 0 && outDepth == depth) {
        std::memcpy(out, row, n);
        return;
    }
    // Sub-byte samples: every pass and the 2-bit output are packed to the output depth,
    // keeping the low bits of each stored sample.
    std::memset(out, 0, n);
    const unsigned mask = (1u << outDepth) - 1;
    for (uint32_t k = 0; k < count; ++k) {
        size_t sbit = (size_t(x0) + size_t(k) * dx) * depth;
        unsigned s = (row[sbit >> 3] >> (8 - depth - unsigned(sbit & 7))) & mask;
        size_t obit = size_t(k) * outDepth;
        out[obit >> 3] |= uint8_t(s << (8 - outDepth - unsigned(obit & 7)));
    }
}

// Filters, chooses and (with a deflater) compresses every row; fills the choice results.
void WriteRows(PngImage& img, ImageDeflater* deflater, PngFilterChoice& choice) {
    const unsigned outDepth = OutputDepthOf(img);
    const unsigned channels = img.Channels();
    const uint32_t w = img.Width(), h = img.Height();
    const bool interlaced = img.Interlace == 1;
    // Interlaced images are written losslessly, and the field records it.
    if (interlaced) img.LossyQuality = 0;
    const bool lossyRows = outDepth == 8 && img.ColorType() != kPngPalette;

    pngenc::ChooserSettings s;
    s.FilterSet = img.FilterSet;
    s.Heuristic = img.Heuristic;
    s.JxHeuristic = img.JxHeuristic != 0;
    s.CompressionLevel = img.CompressionLevel;
    s.WindowBits = img.WindowBits;
    s.MemoryLevel = img.MemoryLevel;
    s.Strategy = img.Strategy;
    s.LossyQuality = lossyRows ? img.LossyQuality : 0;
    s.LossyMethod = img.LossyMethod;
    s.LossyLevels = img.LossyLevels;

    const size_t fullRow = (size_t(w) * channels * outDepth + 7) / 8;
    const unsigned bpp = std::max(1u, channels * outDepth / 8);
    pngenc::RowFilterChooser chooser(s, fullRow, bpp);

    choice.RowFilters.assign(h, 0);
    choice.PassRowFilters.clear();
    choice.Fingerprint = 0;

    const int passes = interlaced ? 7 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const pngenc::PassInfo p = interlaced ? kAdam7[pass] : pngenc::PassInfo{0, 0, 1, 1};
        const auto [pw, ph] = PassSize(p, w, h);
        if (pw == 0 || ph == 0) continue;
        const size_t n = (size_t(pw) * channels * outDepth + 7) / 8;
        chooser.StartPass();
        if (interlaced) choice.Fingerprint = 0;
        for (uint32_t k = 0; k < ph; ++k) {
            const uint32_t y = p.y0 + k * p.dy;
            PackRow(img, y, p.x0, p.dx, pw, outDepth, chooser.RawRow(), n);
            const uint8_t f = chooser.Choose(n);
            choice.RowFilters[y] = f;
            choice.PassRowFilters.push_back(f);
            choice.Fingerprint += (y + 1) * uint32_t(f);
            if (deflater) deflater->Feed(chooser.Output(f), n + 1);
            chooser.Advance();
        }
    }
    img.RowFilters = choice.RowFilters;
    img.PassRowFilters = choice.PassRowFilters;
    img.Fingerprint = choice.Fingerprint;
}

uint64_t RawSize(const PngImage& img) {
    const unsigned outDepth = OutputDepthOf(img);
    uint64_t total = 0;
    const int passes = img.Interlace == 1 ? 7 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const pngenc::PassInfo p = img.Interlace == 1 ? kAdam7[pass] : pngenc::PassInfo{0, 0, 1, 1};
        const auto [pw, ph] = PassSize(p, img.Width(), img.Height());
        if (pw == 0 || ph == 0) continue;
        total += uint64_t(ph) * (1 + (uint64_t(pw) * img.Channels() * outDepth + 7) / 8);
    }
    return total;
}

void SinkWrite(png_structp png, png_bytep data, size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bool ok = true;
    try {
        out->insert(out->end(), data, data + length);
    } catch (...) {
        ok = false;
    }
    if (!ok) png_error(png, "out of memory");
}

void SinkFlush(png_structp) {}

// Frames the compressed image data: signature, IHDR, PLTE and tRNS through libpng, the raw
// ancillary chunks in their places, IDAT chunks of MaxIdatSize bytes, IEND.
std::vector<uint8_t> Frame(const PngImage& img, const std::vector<uint8_t>& stream) {
    std::vector<png_color> palette;
    for (const PngRgb& c : img.Palette) palette.push_back(png_color{c.R, c.G, c.B});
    png_color_16 key{};
    if (img.Key) {
        key.gray = img.Key->Grey;
        key.red = img.Key->R;
        key.green = img.Key->G;
        key.blue = img.Key->B;
    }
    std::vector<uint8_t> file;
    size_t estimate = stream.size() + stream.size() / size_t(img.MaxIdatSize) * 12 + 1024 + palette.size() * 4;
    for (const PngChunk& c : img.Chunks) estimate += c.Data.size() + 12;
    file.reserve(estimate);

    pngenc::PngGuard guard(pngenc::PngGuard::kWrite);
    png_structp png = guard.png();
    png_infop info = guard.info();
    const size_t idat = size_t(img.MaxIdatSize);
    auto writeChunks = [&](PngChunkPlace place) {
        for (const PngChunk& c : img.Chunks) {
            if (c.Place == place) {
                png_write_chunk(png, reinterpret_cast<png_const_bytep>(c.Name.c_str()), c.Data.data(), c.Data.size());
            }
        }
    };
    auto body = [&] {
        png_set_write_fn(png, &file, SinkWrite, SinkFlush);
        png_set_IHDR(png, info, img.Width(), img.Height(), int(OutputDepthOf(img)), img.ColorType(), img.Interlace,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
        if (!img.PaletteAlpha.empty()) {
            png_set_tRNS(png, info, img.PaletteAlpha.data(), int(img.PaletteAlpha.size()), nullptr);
        } else if (img.Key) {
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
        png_write_info_before_PLTE(png, info);
        writeChunks(PngChunkPlace::BeforePlte);
        png_write_info(png, info);
        writeChunks(PngChunkPlace::BeforeIdat);
        for (size_t pos = 0; pos < stream.size(); pos += idat) {
            png_write_chunk(png, reinterpret_cast<png_const_bytep>("IDAT"), stream.data() + pos,
                            std::min(idat, stream.size() - pos));
        }
        writeChunks(PngChunkPlace::AfterIdat);
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
    };
    guard.Run(body, "PNG: cannot write the file: ");
    return file;
}

}  // namespace

std::vector<uint8_t> PngImage::Encode() {
    if (FingerprintOnly) {
        throw PngError("PNG: fingerprint-only mode writes no file; ChooseFilters gives the choices");
    }
    CheckSettings(*this);
    ImageDeflater deflater(*this, RawSize(*this));
    PngFilterChoice choice;
    WriteRows(*this, &deflater, choice);
    std::vector<uint8_t> stream = deflater.Finish();
    IdatTotalSize = stream.size();
    IdatSize = uint32_t(std::min<size_t>(stream.size(), size_t(MaxIdatSize)));
    return Frame(*this, stream);
}

PngFilterChoice PngImage::ChooseFilters() {
    CheckSettings(*this);
    PngFilterChoice choice;
    WriteRows(*this, nullptr, choice);
    return choice;
}

void PngImage::SaveFile(const std::filesystem::path& path) {
    std::vector<uint8_t> file = Encode();
    try {
        ReplaceFileBytes(path.string(), file);
    } catch (const PlatformError& e) {
        throw PngError(std::string("PNG: ") + e.what());
    }
}

namespace pngenc {

void PackImageRow(const PngImage& img, uint32_t y, uint32_t x0, uint32_t dx, uint32_t count, uint8_t* out, size_t n) {
    PackRow(img, y, x0, dx, count, OutputDepthOf(img), out, n);
}

std::vector<uint8_t> FrameImageData(const PngImage& img, const std::vector<uint8_t>& stream) {
    CheckSettings(img);
    return Frame(img, stream);
}

}  // namespace pngenc

}  // namespace jx
