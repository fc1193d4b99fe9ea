#include "pngopt/image.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <unordered_map>

namespace jx::quillox {
namespace {

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

void AllocatePixels(WorkImage& image) {
    CheckImageSize(image.width, image.height);
    try {
        image.rgba.assign(uint64_t(image.width) * image.height * 4, 0);
    } catch (const std::bad_alloc&) {
        throw InputError("Not enough memory for the image");
    }
}

// libpng reports errors through longjmp; the message is kept here and thrown once back in C++.
struct PngErrorState {
    jmp_buf jump;
    char message[256] = "Damaged PNG file";
    const std::vector<uint8_t>* bytes = nullptr;
    size_t pos = 0;
};

void PngErrorFn(png_structp png, png_const_charp msg) {
    auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", msg ? msg : "Damaged PNG file");
    longjmp(state->jump, 1);
}
void PngWarningFn(png_structp, png_const_charp) {}

void PngReadFn(png_structp png, png_bytep out, png_size_t length) {
    auto* state = static_cast<PngErrorState*>(png_get_io_ptr(png));
    if (length > state->bytes->size() - state->pos) png_error(png, "Unexpected end of PNG file");
    std::memcpy(out, state->bytes->data() + state->pos, length);
    state->pos += length;
}

// The decoded rows of one PNG, one byte or one 16-bit sample pair per channel, low depths unpacked.
struct DecodedPng {
    uint32_t width = 0, height = 0;
    int colorType = 0, bitDepth = 0, channels = 0;
    bool interlaced = false;
    bool hasGamma = false;
    double gamma = 0;
    std::vector<PaletteEntry> palette;
    int trnsCount = 0;
    Rgb16 key;
    bool hasKey = false;
    uint8_t* rows = nullptr;  // malloc'ed by the decoder, freed by its owner
    size_t rowBytes = 0;
    png_bytep* rowPointers = nullptr;
    ~DecodedPng() {
        std::free(rows);
        std::free(rowPointers);
    }
};

// Kept free of C++ objects with destructors between setjmp and every longjmp.
// The decoder derives a gamma from sRGB and iCCP as well; only a gAMA chunk counts here.
bool DecodePng(PngErrorState& state, GammaMode gammaMode, bool gamaChunk, DecodedPng& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, PngErrorFn, PngWarningFn);
    if (!png) {
        std::snprintf(state.message, sizeof state.message, "Not enough memory for the PNG reader");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(state.message, sizeof state.message, "Not enough memory for the PNG reader");
        return false;
    }
    if (setjmp(state.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &state, PngReadFn);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &w, &h, &depth, &colorType, &interlace, nullptr, nullptr);
    out.width = w;
    out.height = h;
    out.colorType = colorType;
    out.bitDepth = depth;
    out.interlaced = interlace != PNG_INTERLACE_NONE;
    if (uint64_t(w) * h * 8 >= kMaxImageBytes) png_error(png, "Image too large");

    double fileGamma = 0;
    if (gamaChunk && png_get_gAMA(png, info, &fileGamma)) {
        out.hasGamma = true;
        out.gamma = fileGamma;
        if (gammaMode == GammaMode::ApplyAndRemove) png_set_gamma(png, 2.2, fileGamma);
    }
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp plte = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &plte, &count)) {
            out.palette.resize(static_cast<size_t>(count));
            for (int i = 0; i < count; ++i) out.palette[i] = {plte[i].red, plte[i].green, plte[i].blue, 255};
        }
    }
    png_bytep trnsAlpha = nullptr;
    int trnsCount = 0;
    png_color_16p trnsColor = nullptr;
    if (png_get_tRNS(png, info, &trnsAlpha, &trnsCount, &trnsColor)) {
        if (colorType == PNG_COLOR_TYPE_PALETTE) {
            // A tRNS shorter than the palette leaves the rest opaque.
            out.trnsCount = std::min<int>(trnsCount, static_cast<int>(out.palette.size()));
            for (int i = 0; i < out.trnsCount; ++i) out.palette[i].a = trnsAlpha[i];
        } else if (trnsColor) {
            out.hasKey = true;
            out.key = colorType == PNG_COLOR_TYPE_GRAY ? Rgb16{trnsColor->gray, trnsColor->gray, trnsColor->gray}
                                                       : Rgb16{trnsColor->red, trnsColor->green, trnsColor->blue};
        }
    }
    if (depth < 8) png_set_packing(png);
    if (out.interlaced) png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out.channels = png_get_channels(png, info);
    out.rowBytes = png_get_rowbytes(png, info);
    if (uint64_t(out.rowBytes) * h >= kMaxImageBytes) png_error(png, "Image too large");
    out.rows = static_cast<uint8_t*>(std::malloc(out.rowBytes * h));
    if (!out.rows) png_error(png, "Not enough memory for the image");
    out.rowPointers = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
    if (!out.rowPointers) png_error(png, "Not enough memory for the image");
    for (png_uint_32 y = 0; y < h; ++y) out.rowPointers[y] = out.rows + uint64_t(y) * out.rowBytes;
    png_read_image(png, out.rowPointers);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

InputKind InputKindOf(const std::string& fileName) {
    size_t slash = fileName.rfind('/');
    size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return InputKind::Unsupported;
    std::string ext = Lower(fileName.substr(dot));
    if (ext == ".png") return InputKind::Png;
    if (ext == ".bmp") return InputKind::Bmp;
    if (ext == ".ppm") return InputKind::Ppm;
    return InputKind::Unsupported;
}

void CheckImageSize(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) throw InputError("Image has no pixels");
    if (width > 0x7fffffff || height > 0x7fffffff || width * height * 8 >= kMaxImageBytes)
        throw InputError("Image too large: " + std::to_string(width) + "x" + std::to_string(height));
}

bool ChunkCrcMatches(const uint8_t* chunk) {
    const uint32_t length = Be32(chunk);
    const uint32_t crc = uint32_t(crc32(crc32(0, nullptr, 0), chunk + 4, length + 4));
    return crc == Be32(chunk + 8 + length);
}

std::vector<ChunkInfo> WalkChunks(const std::vector<uint8_t>& bytes) {
    static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) throw InputError("Not a PNG file");
    std::vector<ChunkInfo> chunks;
    uint64_t pos = 8;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 12) throw InputError("Truncated PNG chunk");
        uint32_t length = Be32(&bytes[pos]);
        if (length > 0x7fffffff || length > bytes.size() - pos - 12) throw InputError("Damaged PNG chunk length");
        ChunkInfo c;
        c.name.assign(reinterpret_cast<const char*>(&bytes[pos + 4]), 4);
        for (char ch : c.name)
            if (!std::isalpha(static_cast<unsigned char>(ch))) throw InputError("Damaged PNG chunk name");
        c.offset = pos + 8;
        c.length = length;
        c.crcOk = ChunkCrcMatches(&bytes[pos]);
        chunks.push_back(c);
        pos += uint64_t(length) + 12;
        if (chunks.back().name == "IEND") break;
    }
    return chunks;
}

WorkImage ReadPng(const std::vector<uint8_t>& bytes, const ReadSettings& settings) {
    std::vector<ChunkInfo> chunks = WalkChunks(bytes);
    WorkImage image;
    image.kind = InputKind::Png;
    image.fileSize = bytes.size();
    bool gamaChunk = false;
    for (const ChunkInfo& c : chunks) {
        if (!c.crcOk) {
            if (IsCriticalChunk(c.name)) throw InputError(c.name + ": CRC error");
            // The decoder leaves it out as well, so the image is read as if it were absent.
            image.warnings.push_back(c.name + ": CRC error, chunk dropped");
            continue;
        }
        image.chunkNames.push_back(c.name);
        if (c.name == "gAMA") gamaChunk = true;
        if (c.name == "acTL") throw InputError("APNG not supported.");
        if (c.name != "IHDR" && c.name != "PLTE" && c.name != "IDAT" && c.name != "IEND" && c.name != "tRNS")
            image.chunks.push_back({c.name, std::vector<uint8_t>(bytes.begin() + c.offset,
                                                                 bytes.begin() + c.offset + c.length)});
    }
    if (chunks.empty() || chunks.front().name != "IHDR" || chunks.front().length != 13)
        throw InputError("Damaged PNG header");
    const uint8_t* ihdr = &bytes[chunks.front().offset];
    CheckImageSize(Be32(ihdr), Be32(ihdr + 4));

    DecodedPng d;
    PngErrorState state;
    state.bytes = &bytes;
    if (!DecodePng(state, settings.gammaMode, gamaChunk, d)) throw InputError(state.message);

    image.width = d.width;
    image.height = d.height;
    image.pngColorType = static_cast<PngColorType>(d.colorType);
    image.pngBitDepth = d.bitDepth;
    image.interlaced = d.interlaced;
    image.hasGamma = d.hasGamma;
    image.gamma = static_cast<uint32_t>(d.gamma * 100000 + 0.5);
    image.sampleDepth = d.bitDepth == 16 ? 16 : 8;
    AllocatePixels(image);

    const bool wide = d.bitDepth == 16;
    const int grayScale = d.bitDepth == 1 ? 255 : d.bitDepth == 2 ? 85 : d.bitDepth == 4 ? 17 : 1;
    if (d.hasKey) {
        // The key is held in working units, so pixels compare with it directly.
        image.hasTrns = true;
        image.key = d.key;
        if (!wide) {
            auto unit = [&](uint16_t k) { return uint16_t(std::min<uint32_t>((k & 0xFF) * grayScale, 255) << 8); };
            image.key = {unit(d.key.r), unit(d.key.g), unit(d.key.b)};
        }
    }
    if (d.colorType == PNG_COLOR_TYPE_PALETTE) {
        image.palette = d.palette;
        image.hasTrns = d.trnsCount > 0;
        image.indices.resize(uint64_t(d.width) * d.height);
    }
    const uint16_t opaque = image.OpaqueAlpha();
    auto sample = [&](const uint8_t* row, uint64_t i) -> uint16_t {
        return wide ? uint16_t(row[2 * i] << 8 | row[2 * i + 1]) : uint16_t(row[i] << 8);
    };
    auto keyed = [](uint16_t v, uint16_t k) { return v == k; };
    for (uint32_t y = 0; y < d.height; ++y) {
        const uint8_t* row = d.rows + uint64_t(y) * d.rowBytes;
        for (uint32_t x = 0; x < d.width; ++x) {
            uint16_t* p = image.Pixel(x, y);
            switch (d.colorType) {
                case PNG_COLOR_TYPE_PALETTE: {
                    uint8_t index = row[x];
                    if (index >= d.palette.size()) throw InputError("Palette index out of range");
                    image.indices[uint64_t(y) * d.width + x] = index;
                    const PaletteEntry& e = d.palette[index];
                    p[0] = uint16_t(e.r << 8);
                    p[1] = uint16_t(e.g << 8);
                    p[2] = uint16_t(e.b << 8);
                    p[3] = uint16_t(e.a << 8);
                    break;
                }
                case PNG_COLOR_TYPE_GRAY: {
                    uint16_t v = wide ? sample(row, x) : uint16_t((row[x] * grayScale) << 8);
                    p[0] = p[1] = p[2] = v;
                    p[3] = (d.hasKey && keyed(v, image.key.r)) ? 0 : opaque;
                    break;
                }
                case PNG_COLOR_TYPE_GRAY_ALPHA:
                    p[0] = p[1] = p[2] = sample(row, uint64_t(x) * 2);
                    p[3] = sample(row, uint64_t(x) * 2 + 1);
                    break;
                case PNG_COLOR_TYPE_RGB:
                    for (int c = 0; c < 3; ++c) p[c] = sample(row, uint64_t(x) * 3 + c);
                    p[3] = (d.hasKey && keyed(p[0], image.key.r) && keyed(p[1], image.key.g) &&
                            keyed(p[2], image.key.b))
                               ? 0
                               : opaque;
                    break;
                default:
                    for (int c = 0; c < 4; ++c) p[c] = sample(row, uint64_t(x) * 4 + c);
                    break;
            }
        }
    }
    if (settings.cleanTransparent && d.colorType != PNG_COLOR_TYPE_PALETTE) CleanTransparentPixels(image);
    return image;
}

WorkImage ReadBmp(const std::vector<uint8_t>& bytes, const ReadSettings& settings) {
    const uint64_t size = bytes.size();
    if (size < 18 || bytes[0] != 'B' || bytes[1] != 'M') throw InputError("Not a BMP file");
    const uint32_t dataOffset = Le32(&bytes[10]);
    const uint32_t headerSize = Le32(&bytes[14]);
    if (headerSize < 12 || uint64_t(14) + headerSize > size) throw InputError("Damaged BMP header");
    const uint8_t* h = &bytes[14];
    int64_t width, height;
    int bits;
    uint32_t compression = 0, colorsUsed = 0;
    if (headerSize == 12) {
        width = Le16(h + 4);
        height = Le16(h + 6);
        bits = Le16(h + 10);
    } else {
        if (headerSize < 40) throw InputError("Damaged BMP header");
        width = static_cast<int32_t>(Le32(h + 4));
        height = static_cast<int32_t>(Le32(h + 8));
        bits = Le16(h + 14);
        compression = Le32(h + 16);
        colorsUsed = Le32(h + 32);
    }
    const bool topDown = height < 0;
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0) throw InputError("Damaged BMP size");
    uint32_t masks[4] = {0, 0, 0, 0};
    bool haveMasks = false;
    if (compression == 3 || compression == 6) {
        // Bit fields follow a 40-byte header, or sit inside a larger one.
        uint64_t at = headerSize >= 52 ? 14 + 40 : 14 + uint64_t(headerSize);
        int count = compression == 6 || headerSize >= 56 ? 4 : 3;
        if (at + 4 * count > size) throw InputError("Damaged BMP bit fields");
        for (int i = 0; i < count; ++i) masks[i] = Le32(&bytes[at + 4 * i]);
        haveMasks = true;
    } else if (compression != 0) {
        throw InputError("Unsupported BMP compression");
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        throw InputError("Unsupported BMP bit depth");
    if (haveMasks && bits != 16 && bits != 32) throw InputError("Damaged BMP bit fields");
    if (!haveMasks && bits == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    if (!haveMasks && bits == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
        masks[3] = 0xFF000000;
    }

    std::vector<PaletteEntry> palette;
    if (bits <= 8) {
        uint64_t entries = colorsUsed ? colorsUsed : (uint64_t(1) << bits);
        entries = std::min<uint64_t>(entries, uint64_t(1) << bits);
        const int entrySize = headerSize == 12 ? 3 : 4;
        uint64_t at = 14 + uint64_t(headerSize);
        if (at + entries * entrySize > size) throw InputError("Damaged BMP colour table");
        for (uint64_t i = 0; i < entries; ++i) {
            const uint8_t* e = &bytes[at + i * entrySize];
            palette.push_back({e[2], e[1], e[0], 255});
        }
    }

    WorkImage image;
    image.kind = InputKind::Bmp;
    image.fileSize = size;
    image.width = static_cast<uint32_t>(width);
    image.height = static_cast<uint32_t>(height);
    image.sampleDepth = 8;
    image.pngColorType = kPngRgba;
    CheckImageSize(image.width, image.height);
    const uint64_t stride = ((uint64_t(width) * bits + 31) / 32) * 4;
    if (dataOffset > size || stride * uint64_t(height) > size - dataOffset) throw InputError("Truncated BMP pixel data");
    AllocatePixels(image);

    auto field = [](uint32_t v, uint32_t mask) -> uint8_t {
        if (!mask) return 0;
        int shift = __builtin_ctz(mask);
        uint32_t m = mask >> shift;
        uint32_t value = (v >> shift) & m;
        return static_cast<uint8_t>((value * 255 + m / 2) / m);
    };
    bool anyAlpha = false;
    for (int64_t row = 0; row < height; ++row) {
        const uint8_t* src = &bytes[dataOffset + uint64_t(row) * stride];
        uint32_t y = static_cast<uint32_t>(topDown ? row : height - 1 - row);
        for (uint32_t x = 0; x < image.width; ++x) {
            uint8_t r, g, b, a = 255;
            if (bits <= 8) {
                uint32_t bitPos = x * bits;
                uint32_t index = (src[bitPos / 8] >> (8 - bits - bitPos % 8)) & ((1u << bits) - 1);
                if (index >= palette.size()) throw InputError("BMP colour index out of range");
                r = palette[index].r;
                g = palette[index].g;
                b = palette[index].b;
            } else if (bits == 24) {
                b = src[x * 3];
                g = src[x * 3 + 1];
                r = src[x * 3 + 2];
            } else {
                uint32_t v = bits == 16 ? Le16(src + x * 2) : Le32(src + uint64_t(x) * 4);
                r = field(v, masks[0]);
                g = field(v, masks[1]);
                b = field(v, masks[2]);
                a = masks[3] ? field(v, masks[3]) : 255;
                if (masks[3] && a) anyAlpha = true;
            }
            uint16_t* p = image.Pixel(x, y);
            p[0] = uint16_t(r << 8);
            p[1] = uint16_t(g << 8);
            p[2] = uint16_t(b << 8);
            p[3] = uint16_t(a << 8);
        }
    }
    // A fourth byte that is 0 everywhere is padding, not alpha: such a bitmap is opaque.
    if (bits == 32 && masks[3] && !anyAlpha)
        for (uint64_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 0xFF00;
    if (settings.cleanTransparent) CleanTransparentPixels(image);
    return image;
}

WorkImage ReadPpm(const std::vector<uint8_t>& bytes, const ReadSettings& settings) {
    size_t pos = 0;
    auto token = [&]() -> std::string {
        for (;;) {
            while (pos < bytes.size() && std::isspace(bytes[pos])) ++pos;
            if (pos < bytes.size() && bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n' && bytes[pos] != '\r') ++pos;
                continue;
            }
            break;
        }
        std::string t;
        while (pos < bytes.size() && !std::isspace(bytes[pos]) && bytes[pos] != '#' && t.size() < 32)
            t += static_cast<char>(bytes[pos++]);
        return t;
    };
    auto number = [&](const char* what) -> uint64_t {
        std::string t = token();
        if (t.empty() || t.size() > 10 || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
            throw InputError(std::string("Damaged PPM header: ") + what);
        return std::stoull(t);
    };
    if (token() != "P6") throw InputError("Unsupported PPM format (only binary P6 is read)");
    uint64_t width = number("width");
    uint64_t height = number("height");
    uint64_t maxValue = number("maximum value");
    if (maxValue == 0 || maxValue > 65535) throw InputError("Damaged PPM header: maximum value");
    if (pos >= bytes.size() || !std::isspace(bytes[pos])) throw InputError("Truncated PPM file");
    ++pos;  // the single white-space character before the samples
    CheckImageSize(width, height);
    const int sampleBytes = maxValue > 255 ? 2 : 1;
    const uint64_t need = width * height * 3 * sampleBytes;
    if (need > bytes.size() - pos) throw InputError("Truncated PPM pixel data");

    WorkImage image;
    image.kind = InputKind::Ppm;
    image.fileSize = bytes.size();
    image.width = static_cast<uint32_t>(width);
    image.height = static_cast<uint32_t>(height);
    image.sampleDepth = sampleBytes == 2 ? 16 : 8;
    image.pngColorType = kPngRgb;
    image.pngBitDepth = image.sampleDepth;
    AllocatePixels(image);
    const uint16_t opaque = image.OpaqueAlpha();
    const uint8_t* src = bytes.data() + pos;
    for (uint64_t i = 0; i < width * height; ++i) {
        uint16_t* p = &image.rgba[i * 4];
        for (int c = 0; c < 3; ++c) {
            uint64_t v = sampleBytes == 2 ? uint64_t(src[0] << 8 | src[1]) : src[0];
            src += sampleBytes;
            if (v > maxValue) throw InputError("PPM sample above the maximum value");
            if (sampleBytes == 2) p[c] = static_cast<uint16_t>((v * 65535 + maxValue / 2) / maxValue);
            else p[c] = static_cast<uint16_t>(((v * 255 + maxValue / 2) / maxValue) << 8);
        }
        p[3] = opaque;
    }
    if (settings.cleanTransparent) CleanTransparentPixels(image);
    return image;
}

std::vector<uint8_t> ReadFileBytes(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary | std::ios::ate);
    if (!in) throw InputError("Cannot open file");
    std::streamoff size = in.tellg();
    if (size < 0) throw InputError("Cannot read file");
    if (uint64_t(size) > (uint64_t(1) << 31)) throw InputError("File too large");
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        throw InputError("Not enough memory for the file");
    }
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    if (!in) throw InputError("Cannot read file");
    return bytes;
}

WorkImage ReadInputFile(const std::string& fileName, const ReadSettings& settings) {
    InputKind kind = InputKindOf(fileName);
    if (kind == InputKind::Unsupported) throw InputError("Unsupported file type");
    std::vector<uint8_t> bytes = ReadFileBytes(fileName);
    WorkImage image = kind == InputKind::Png   ? ReadPng(bytes, settings)
                      : kind == InputKind::Bmp ? ReadBmp(bytes, settings)
                                               : ReadPpm(bytes, settings);
    Analyze(image);
    return image;
}

void CleanTransparentPixels(WorkImage& image) {
    for (uint64_t i = 0; i < image.rgba.size(); i += 4)
        if (image.rgba[i + 3] == 0) image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = 0;
}

void Analyze(WorkImage& image) {
    Analysis a;
    std::unordered_map<uint64_t, uint32_t> index;
    index.reserve(512);
    const bool wide = image.sampleDepth == 16;
    const uint16_t opaque = image.OpaqueAlpha();
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* p = &image.rgba[i];
        if (p[3] == 0) a.lastTransparent = {p[0], p[1], p[2]};
        if (p[0] != p[1] || p[1] != p[2]) a.grey = false;
        if (wide && a.eightBitEnough)
            for (int c = 0; c < 4; ++c)
                if ((p[c] >> 8) != (p[c] & 0xFF)) a.eightBitEnough = false;
        if (a.colorCount <= 256) {
            uint64_t v = uint64_t(p[0]) << 48 | uint64_t(p[1]) << 32 | uint64_t(p[2]) << 16 | p[3];
            auto it = index.find(v);
            if (it != index.end()) {
                ++a.colorTable[it->second].count;
            } else if (a.colorCount < 256) {
                index.emplace(v, static_cast<uint32_t>(a.colorTable.size()));
                a.colorTable.push_back({v, 1});
                ++a.colorCount;
            } else {
                a.colorCount = 257;  // more than 256: the table stays as it is
            }
        }
        if (p[3] == 0) ++a.transparent;
        else if (wide ? p[3] != 0xFFFF : p[3] < opaque) ++a.partial;
        else ++a.opaque;
    }
    image.analysis = std::move(a);
}

}  // namespace jx::quillox
