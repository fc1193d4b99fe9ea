#include "pngopt/encoder.h"


#include "pngenc/errors.h"
#include "pngenc/png_image.h"

namespace jx::quillox {

PngImage MakeEncoderImage(const OutputImage& image, const EncodeSettings& settings) {
    PngImage png(image.width, image.height, static_cast<uint8_t>(image.colorType), static_cast<uint8_t>(image.bitDepth));
    if (png.RowBytes() != image.rowBytes || png.Pixels().size() != image.rows.size())
        throw PngError("Internal error: row layout differs from the encoder's");
    std::copy(image.rows.begin(), image.rows.end(), png.Pixels().begin());
    if (image.colorType == kPngPalette) {
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
    for (const PngChunk& c : image.chunks) png.Chunks.push_back(c);
    png.FilterSet = settings.filterSet;
    png.CompressionLevel = static_cast<uint8_t>(settings.level);
    png.UseDeflateInit2 = 1;
    png.WindowBits = static_cast<uint8_t>(settings.windowBits);
    png.MemoryLevel = static_cast<uint8_t>(settings.memLevel);
    png.Strategy = static_cast<uint8_t>(settings.strategy);
    png.Heuristic = static_cast<uint8_t>(settings.heuristic);
    png.SetMaxIdatSize(settings.maxIdatSize);
    png.Interlace = image.interlace ? 1 : 0;
    return png;
}

EncodedPng EncodePngJx(const OutputImage& image, const EncodeSettings& settings) {
    PngImage png = MakeEncoderImage(image, settings);
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

PngEncodeFn DefaultPngEncoder() { return EncodePngJx; }

bool IsPngEncoderJx(const PngEncodeFn& encode) {
    using Fn = EncodedPng (*)(const OutputImage&, const EncodeSettings&);
    const Fn* target = encode.target<Fn>();
    return target && *target == &EncodePngJx;
}

}  // namespace jx::quillox
