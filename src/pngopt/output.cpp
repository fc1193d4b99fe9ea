#include "pngopt/output.h"

#include <algorithm>

namespace jx::quillox {
namespace {

int ChannelsOf(int colorType) {
    switch (colorType) {
        case 0: return 1;
        case 2: return 3;
        case 3: return 1;
        case 4: return 2;
        default: return 4;
    }
}

void Allocate(OutputImage& out) {
    uint64_t bitsPerPixel = uint64_t(ChannelsOf(out.colorType)) * out.bitDepth;
    out.rowBytes = (uint64_t(out.width) * bitsPerPixel + 7) / 8;
    CheckImageSize(out.width, out.height);
    try {
        out.rows.assign(out.rowBytes * out.height, 0);
    } catch (const std::bad_alloc&) {
        throw InputError("Not enough memory for the output image");
    }
}

// Stores one sample of `depth` bits (1..16) at sample position i of a row.
void PutSample(uint8_t* row, uint64_t i, int depth, uint32_t v) {
    if (depth == 16) {
        row[2 * i] = uint8_t(v >> 8);
        row[2 * i + 1] = uint8_t(v);
    } else if (depth == 8) {
        row[i] = uint8_t(v);
    } else {
        uint64_t bit = i * depth;
        row[bit / 8] |= uint8_t(v << (8 - depth - bit % 8));
    }
}

OutputImage PaletteOutput(const WorkImage& image) {
    OutputImage out;
    out.width = image.width;
    out.height = image.height;
    out.colorType = 3;
    out.bitDepth = image.pngBitDepth;
    out.palette = image.palette;
    Allocate(out);
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint32_t x = 0; x < image.width; ++x)
            PutSample(row, x, out.bitDepth, image.indices[uint64_t(y) * image.width + x]);
    }
    return out;
}

// Grey or RGB at the input's depth with its tRNS key, when every pixel fits that layout.
bool TryKeyedOrPlain(const WorkImage& image, int colorType, int depth, OutputImage& out) {
    const Analysis& a = image.analysis;
    if (a.partial) return false;
    if (colorType == 0 && !a.grey) return false;
    const bool keyed = a.transparent > 0;
    if (keyed && !image.hasTrns) return false;
    const bool wide = image.sampleDepth == 16;
    if ((depth == 16) != wide) return false;
    const uint32_t scale = depth == 1 ? 255 : depth == 2 ? 85 : depth == 4 ? 17 : 1;
    auto fileValue = [&](uint16_t v, uint32_t& fv) {
        if (wide) {
            fv = v;
            return true;
        }
        if (v & 0xFF) return false;
        uint32_t hi = v >> 8;
        if (hi % scale) return false;
        fv = hi / scale;
        return true;
    };
    out = OutputImage{};
    out.width = image.width;
    out.height = image.height;
    out.colorType = colorType;
    out.bitDepth = depth;
    Allocate(out);
    uint32_t key[3] = {0, 0, 0};
    if (keyed) {
        const uint16_t k[3] = {image.key.r, image.key.g, image.key.b};
        for (int c = 0; c < 3; ++c)
            if (!fileValue(k[c], key[c])) return false;
        out.hasKey = true;
        out.key = colorType == 0 ? Rgb16{uint16_t(key[0]), uint16_t(key[0]), uint16_t(key[0])}
                                 : Rgb16{uint16_t(key[0]), uint16_t(key[1]), uint16_t(key[2])};
    }
    const int channels = colorType == 0 ? 1 : 3;
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint16_t* p = image.Pixel(x, y);
            uint32_t v[3];
            if (p[3] == 0) {
                std::copy(key, key + 3, v);
            } else {
                for (int c = 0; c < channels; ++c)
                    if (!fileValue(p[c], v[c])) return false;
                // An opaque pixel that equals the key would turn transparent.
                if (keyed && v[0] == key[0] && (channels == 1 || (v[1] == key[1] && v[2] == key[2]))) return false;
            }
            for (int c = 0; c < channels; ++c) PutSample(row, uint64_t(x) * channels + c, depth, v[c]);
        }
    }
    return true;
}

OutputImage PlainOutput(const WorkImage& image) {
    const Analysis& a = image.analysis;
    OutputImage out;
    out.width = image.width;
    out.height = image.height;
    const bool alpha = a.transparent || a.partial;
    out.colorType = a.grey ? (alpha ? 4 : 0) : (alpha ? 6 : 2);
    out.bitDepth = image.sampleDepth;
    Allocate(out);
    const bool wide = out.bitDepth == 16;
    const int channels = ChannelsOf(out.colorType);
    for (uint32_t y = 0; y < image.height; ++y) {
        uint8_t* row = &out.rows[uint64_t(y) * out.rowBytes];
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint16_t* p = image.Pixel(x, y);
            uint16_t s[4];
            if (a.grey) {
                s[0] = p[0];
                s[1] = p[3];
            } else {
                std::copy(p, p + 4, s);
            }
            for (int c = 0; c < channels; ++c) {
                uint16_t v = s[c];
                // 8-bit alpha 0xFF00 and 0xFFxx both mean full.
                PutSample(row, uint64_t(x) * channels + c, out.bitDepth, wide ? v : uint32_t(v >> 8));
            }
        }
    }
    return out;
}

uint32_t To16(uint16_t v, int depth) { return depth == 16 ? v : uint32_t(v >> 8) * 257; }

}  // namespace

OutputImage BuildOutputImage(const WorkImage& image, const Options& options) {
    OutputImage out;
    bool built = false;
    if (image.kind == InputKind::Png) {
        const int type = image.pngColorType;
        if (type == 3 && !image.indices.empty()) {
            out = PaletteOutput(image);
            built = true;
        } else if (type == 0 || type == 2) {
            built = TryKeyedOrPlain(image, type, image.pngBitDepth, out);
        }
    }
    if (!built) out = PlainOutput(image);
    out.interlace = options.interlace < 0 ? image.interlaced : (options.interlace % 2 == 0);
    if (image.hasGamma && options.gammaMode == 2) {
        out.hasGamma = true;
        out.gamma = image.gamma;
    }
    return out;
}

bool DecodesToSamePixels(const std::vector<uint8_t>& encoded, const WorkImage& image, const Options& options,
                         std::string* why) {
    auto fail = [&](const std::string& text) {
        if (why) *why = text;
        return false;
    };
    WorkImage decoded;
    try {
        decoded = ReadPng(encoded, ReadSettings{2, false});
    } catch (const std::exception& e) {
        return fail(std::string("result does not decode: ") + e.what());
    }
    if (decoded.width != image.width || decoded.height != image.height) return fail("result has another size");
    const bool colorMayChange = options.cleanTransparent || options.optimizeTransparent;
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* a = &image.rgba[i];
        const uint16_t* b = &decoded.rgba[i];
        uint32_t alphaA = a[3] == image.OpaqueAlpha() ? 0xFFFF : To16(a[3], image.sampleDepth);
        uint32_t alphaB = b[3] == decoded.OpaqueAlpha() ? 0xFFFF : To16(b[3], decoded.sampleDepth);
        if (alphaA != alphaB) return fail("result differs in alpha at pixel " + std::to_string(i / 4));
        if (alphaA == 0 && colorMayChange) continue;
        for (int c = 0; c < 3; ++c)
            if (To16(a[c], image.sampleDepth) != To16(b[c], decoded.sampleDepth))
                return fail("result differs in colour at pixel " + std::to_string(i / 4));
    }
    return true;
}

}  // namespace jx::quillox
