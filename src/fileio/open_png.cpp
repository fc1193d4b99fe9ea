// PNG files through the encoder layer's libpng reader, mapped to pixel records.
#include <algorithm>
#include <array>
#include <string>

#include "fileio/errors.h"
#include "fileio/open_decoders.h"
#include "fileio/file_bytes.h"
#include "platform/byte_order.h"
#include "pngenc/png_chunks.h"
#include "pngenc/png_image.h"

namespace jx {

namespace {

// Sub-byte grey samples widened to 8 bits.
uint8_t ScaleGrey(uint16_t v, uint8_t depth) {
    switch (depth) {
        case 1: return static_cast<uint8_t>(v * 255);
        case 2: return static_cast<uint8_t>(v * 85);
        case 4: return static_cast<uint8_t>(v * 17);
        case 16: return static_cast<uint8_t>(v >> 8);
        default: return static_cast<uint8_t>(v);
    }
}

uint8_t Byte(uint16_t v, uint8_t depth) { return depth == 16 ? static_cast<uint8_t>(v >> 8) : static_cast<uint8_t>(v); }

void MapPalette(const PngImage& png, TDecodedImage& out) {
    const int32_t w = out.Pixels.Width(), h = out.Pixels.Height();
    out.HasAlpha = !png.PaletteAlpha.empty();
    // Indices past PLTE read as opaque black rather than past the table.
    std::array<TPixelRec, 256> table{};
    for (auto& e : table) e.A = 255;
    for (size_t i = 0; i < png.Palette.size() && i < 256; ++i) {
        table[i].R = png.Palette[i].R;
        table[i].G = png.Palette[i].G;
        table[i].B = png.Palette[i].B;
        if (i < png.PaletteAlpha.size()) table[i].A = png.PaletteAlpha[i];
    }
    const size_t entries = std::min<size_t>(png.Palette.size(), 256);
    unsigned highest = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const unsigned index = png.Sample(uint32_t(x), uint32_t(y), 0) & 0xFF;
            highest = std::max(highest, index);
            out.Pixels[y][x] = table[index];
        }
    if (highest >= entries)
        out.Warnings.push_back("pixels use palette index " + std::to_string(highest) + " but the palette holds " +
                               std::to_string(entries) + (entries == 1 ? " entry" : " entries") +
                               "; those pixels show black");
}

// The common photograph: straight from the stored rows.
void MapRgba8(const PngImage& png, TDecodedImage& out) {
    const int32_t w = out.Pixels.Width(), h = out.Pixels.Height();
    bool translucent = false;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = png.Row(uint32_t(y));
        TPixelRec* dst = out.Pixels[y];
        for (int32_t x = 0; x < w; ++x, row += 4) {
            TPixelRec& p = dst[x];
            p.R = row[0];
            p.G = row[1];
            p.B = row[2];
            p.A = row[3];
            translucent |= row[3] != 255;
        }
    }
    out.HasAlpha = translucent;
}

// Grey + alpha, and 16-bit RGBA.
void MapAlphaChannel(const PngImage& png, TDecodedImage& out) {
    const int32_t w = out.Pixels.Width(), h = out.Pixels.Height();
    const uint8_t depth = png.BitDepth();
    const bool grey = png.ColorType() == kPngGreyAlpha;
    const unsigned a = grey ? 1 : 3;
    bool translucent = false;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            TPixelRec& p = out.Pixels[y][x];
            const uint32_t ux = uint32_t(x), uy = uint32_t(y);
            p.R = Byte(png.Sample(ux, uy, 0), depth);
            p.G = grey ? p.R : Byte(png.Sample(ux, uy, 1), depth);
            p.B = grey ? p.R : Byte(png.Sample(ux, uy, 2), depth);
            p.A = Byte(png.Sample(ux, uy, a), depth);
            translucent |= p.A != 255;
        }
    out.HasAlpha = translucent;
}

// 8-bit RGB without a transparent key, straight from the stored rows.
void MapRgb8(const PngImage& png, TDecodedImage& out) {
    const int32_t w = out.Pixels.Width(), h = out.Pixels.Height();
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = png.Row(uint32_t(y));
        TPixelRec* dst = out.Pixels[y];
        for (int32_t x = 0; x < w; ++x, row += 3) {
            TPixelRec& p = dst[x];
            p.R = row[0];
            p.G = row[1];
            p.B = row[2];
            p.A = 255;
        }
    }
    out.HasAlpha = false;
}

// Grey, and RGB with a transparent key or 16 bits.
void MapKeyed(const PngImage& png, TDecodedImage& out) {
    const int32_t w = out.Pixels.Width(), h = out.Pixels.Height();
    const uint8_t depth = png.BitDepth();
    const bool grey = png.ColorType() == kPngGrey;
    out.HasAlpha = png.Key.has_value();
    const PngKey key = png.Key.value_or(PngKey{});
    // The key is compared with the samples at the file's own depth: scaled to 8 bits a 2-bit key
    // of 1 would never meet the sample 85 it stands for.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            TPixelRec& p = out.Pixels[y][x];
            const uint32_t ux = uint32_t(x), uy = uint32_t(y);
            bool keyed;
            if (grey) {
                const uint16_t v = png.Sample(ux, uy, 0);
                p.R = p.G = p.B = ScaleGrey(v, depth);
                keyed = v == key.Grey;
            } else {
                const uint16_t r = png.Sample(ux, uy, 0), g = png.Sample(ux, uy, 1), b = png.Sample(ux, uy, 2);
                p.R = Byte(r, depth);
                p.G = Byte(g, depth);
                p.B = Byte(b, depth);
                keyed = r == key.R && g == key.G && b == key.B;
            }
            p.A = out.HasAlpha && keyed ? 0 : 255;
        }
}

TDecodedImage MapPng(const PngImage& png) {
    TDecodedImage out;
    CheckImageSize(png.Width(), png.Height());
    out.Pixels.Resize(png.Width(), png.Height());
    const uint8_t depth = png.BitDepth();
    switch (png.ColorType()) {
        case kPngPalette: MapPalette(png, out); break;
        case kPngRgba:
            if (depth == 8)
                MapRgba8(png, out);
            else
                MapAlphaChannel(png, out);
            break;
        case kPngGreyAlpha: MapAlphaChannel(png, out); break;
        case kPngRgb:
            if (depth == 8 && !png.Key.has_value())
                MapRgb8(png, out);
            else
                MapKeyed(png, out);
            break;
        case kPngGrey: MapKeyed(png, out); break;
        default:
            throw FileIoError("PNG: unsupported colour type " + std::to_string(png.ColorType()));
    }
    return out;
}

}  // namespace

TDecodedImage DecodePngFile(const std::string& fileName) {
    PngImage png;
    std::vector<std::string> dropped, extra;
    try {
        PngDecodeOptions options;
        options.ReadRowFilters = false;  // the editor never looks at them
        options.DroppedChunks = &dropped;
        options.Warnings = &extra;
        png = PngImage::DecodeFile(fileName, options);
    } catch (const PngError& e) {
        throw FileIoError(e.what());
    }
    TDecodedImage out;
    try {
        out = MapPng(png);
    } catch (const ImagingError& e) {
        throw FileIoError(std::string("PNG: ") + e.what());
    }
    for (const std::string& name : dropped) out.Warnings.push_back("chunk " + name + " has a bad CRC and was left out");
    out.Warnings.insert(out.Warnings.end(), extra.begin(), extra.end());
    return out;
}

uint32_t CountPngFrames(const std::string& fileName) {
    const std::vector<uint8_t> file = ReadFileBytes(fileName);
    try {
        for (const pngenc::ChunkRef& c : pngenc::WalkChunks(file, false, nullptr, pngenc::WalkEnd::ImageData)) {
            if (c.name == "IDAT") break;
            if (c.name == "acTL" && c.length >= 8) return std::max<uint32_t>(1, BigEndian32(&file[c.data]));
        }
    } catch (const PngError& e) {
        throw FileIoError(e.what());
    }
    return 1;
}

}  // namespace jx
