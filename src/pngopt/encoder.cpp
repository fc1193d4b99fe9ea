#include "pngopt/encoder.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "pngopt/pngenc/errors.h"
#include "pngopt/pngenc/png_image.h"

namespace jx::quillox {
namespace {

struct WriteState {
    jmp_buf jump;
    char message[256] = "PNG write failed";
    std::vector<uint8_t>* out = nullptr;
    bool failedAlloc = false;
};

void WriteFn(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<WriteState*>(png_get_io_ptr(png));
    try {
        state->out->insert(state->out->end(), data, data + length);
    } catch (...) {
        state->failedAlloc = true;
        png_error(png, "Not enough memory for the PNG stream");
    }
}
void FlushFn(png_structp) {}
void ErrorFn(png_structp png, png_const_charp msg) {
    auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", msg ? msg : "PNG write failed");
    longjmp(state->jump, 1);
}
void WarningFn(png_structp, png_const_charp) {}

bool WriteWithLibpng(WriteState& state, const OutputImage& image, const EncodeSettings& s, png_bytep* rowPointers) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, ErrorFn, WarningFn);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(state.jump)) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &state, WriteFn, FlushFn);
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colorType,
                 image.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (image.colorType == 3) {
        png_color plte[256];
        png_byte alpha[256];
        int trns = 0;
        const int n = static_cast<int>(image.palette.size());
        for (int i = 0; i < n; ++i) {
            plte[i] = {image.palette[i].r, image.palette[i].g, image.palette[i].b};
            alpha[i] = image.palette[i].a;
            if (alpha[i] != 255) trns = i + 1;
        }
        png_set_PLTE(png, info, plte, n);
        if (trns) png_set_tRNS(png, info, alpha, trns, nullptr);
    } else if (image.hasKey) {
        png_color_16 key{};
        key.gray = image.key.r;
        key.red = image.key.r;
        key.green = image.key.g;
        key.blue = image.key.b;
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    if (image.hasGamma) png_set_gAMA_fixed(png, info, image.gamma);
    int filters = 0;
    if (s.filterSet & 1) filters |= PNG_FILTER_NONE;
    if (s.filterSet & 2) filters |= PNG_FILTER_SUB;
    if (s.filterSet & 4) filters |= PNG_FILTER_UP;
    if (s.filterSet & 8) filters |= PNG_FILTER_AVG;
    if (s.filterSet & 16) filters |= PNG_FILTER_PAETH;
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filters ? filters : PNG_FILTER_NONE);
    png_set_compression_level(png, s.level);
    png_set_compression_mem_level(png, s.memLevel);
    png_set_compression_strategy(png, s.strategy);
    png_set_compression_window_bits(png, s.windowBits);
    png_set_compression_buffer_size(png, static_cast<size_t>(s.maxIdatSize));
    png_write_info(png, info);
    png_write_image(png, rowPointers);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

uint32_t FirstIdatSize(const std::vector<uint8_t>& png) {
    uint64_t pos = 8;
    while (pos + 12 <= png.size()) {
        uint32_t length = Be32(&png[pos]);
        if (length > png.size() - pos - 12) break;
        if (std::memcmp(&png[pos + 4], "IDAT", 4) == 0) return length;
        pos += uint64_t(length) + 12;
    }
    return 0;
}

EncodedPng EncodePng(const OutputImage& image, const EncodeSettings& settings) {
    EncodedPng result;
    result.fingerprint = settings.filterSet;
    if (settings.fingerprintOnly) return result;
    std::vector<png_bytep> rows(image.height);
    for (uint32_t y = 0; y < image.height; ++y)
        rows[y] = const_cast<png_bytep>(image.rows.data() + uint64_t(y) * image.rowBytes);
    WriteState state;
    state.out = &result.bytes;
    if (!WriteWithLibpng(state, image, settings, rows.data())) throw PngError(state.message);
    result.idatSize = FirstIdatSize(result.bytes);
    return result;
}

EncodedPng EncodePngJx(const OutputImage& image, const EncodeSettings& settings) {
    PngImage png(image.width, image.height, static_cast<uint8_t>(image.colorType), static_cast<uint8_t>(image.bitDepth));
    if (png.RowBytes() != image.rowBytes || png.Pixels().size() != image.rows.size())
        throw PngError("Internal error: row layout differs from the encoder's");
    std::copy(image.rows.begin(), image.rows.end(), png.Pixels().begin());
    if (image.colorType == 3) {
        size_t trns = 0;
        for (size_t i = 0; i < image.palette.size(); ++i) {
            png.Palette.push_back({image.palette[i].r, image.palette[i].g, image.palette[i].b});
            if (image.palette[i].a != 255) trns = i + 1;
        }
        for (size_t i = 0; i < trns; ++i) png.PaletteAlpha.push_back(image.palette[i].a);
    } else if (image.hasKey) {
        png.Key = PngKey{image.key.r, image.key.r, image.key.g, image.key.b};
    }
    if (image.hasGamma) png.SetGamma(image.gamma);
    png.FilterSet = settings.filterSet;
    png.CompressionLevel = static_cast<uint8_t>(settings.level);
    png.UseDeflateInit2 = 1;
    png.WindowBits = static_cast<uint8_t>(settings.windowBits);
    png.MemoryLevel = static_cast<uint8_t>(settings.memLevel);
    png.Strategy = static_cast<uint8_t>(settings.strategy);
    png.Heuristic = static_cast<uint8_t>(settings.heuristic);
    png.SetMaxIdatSize(settings.maxIdatSize);
    png.Interlace = image.interlace ? 1 : 0;
    EncodedPng result;
    if (settings.fingerprintOnly) {
        result.fingerprint = png.ChooseFilters().Fingerprint;
        return result;
    }
    result.bytes = png.Encode();
    result.idatSize = png.IdatSize;
    result.fingerprint = png.Fingerprint;
    return result;
}

PngEncodeFn DefaultPngEncoder() {
    OutputImage probe;
    probe.width = probe.height = 1;
    probe.colorType = 0;
    probe.rowBytes = 1;
    probe.rows = {0};
    try {
        EncodePngJx(probe, EncodeSettings{});
        return EncodePngJx;
    } catch (const std::exception&) {
        return EncodePng;
    }
}

}  // namespace jx::quillox
