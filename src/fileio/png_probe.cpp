#include "fileio/png_probe.h"

#include <png.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "fileio/errors.h"
#include "fileio/file_bytes.h"
#include "pngenc/png_image.h"

namespace jx {
namespace {

// False when the header claims more pixels than the limit or more rows than the file's image data
// can inflate to, or the chunks up to the image data's end are cut or misnamed. Takes no pixel
// memory, so a small file cannot make the decoder allocate for a huge image; the CRCs and all else
// are left to the decoder.
bool SizeFitsData(std::span<const uint8_t> bytes) {
    PngDecodeOptions options;
    options.HeaderOnly = true;
    options.CheckSize = [](uint32_t width, uint32_t height) {
        if (uint64_t{width} * height > MaxProbePixels) throw PngError("PNG: too many pixels");
    };
    try {
        PngImage::Decode(bytes, options);
        return true;
    } catch (const PngError&) {
        return false;
    }
}

}  // namespace

// The pixels come through libpng's simplified reader, not the PNG layer's decoder: on the way to
// 8-bit sRGB it corrects gAMA (palette entries too) and rounds 16-bit samples in its own way, which
// no option of the decoder repeats (its display gamma of 2.2 with rounded 16-bit samples gives the
// same bytes for only 60 of the 161 valid files of the PNG suite). What the PNG chain compares and
// what the WebP reader gives depend on these bytes.
std::optional<RgbaImage> DecodePngRgba(std::span<const uint8_t> bytes) {
    if (!SizeFitsData(bytes)) return std::nullopt;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (bytes.empty() || !png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
        png_image_free(&image);
        return std::nullopt;
    }
    uint64_t pixels = uint64_t{image.width} * image.height;
    if (pixels == 0 || pixels > MaxProbePixels) {
        png_image_free(&image);
        return std::nullopt;
    }
    RgbaImage out;
    out.width = image.width;
    out.height = image.height;
    out.hasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
    image.format = PNG_FORMAT_RGBA;
    out.rgba.resize(static_cast<std::size_t>(pixels) * 4);
    // finish_read frees the image's internals on success and on failure.
    if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) return std::nullopt;
    return out;
}

std::optional<RgbaImage> DecodePngFileRgba(const std::string& path) {
    std::vector<uint8_t> bytes;
    try {
        bytes = ReadFileBytes(path);
    } catch (const FileIoError&) {
        return std::nullopt;
    }
    return DecodePngRgba(bytes);
}

std::vector<uint8_t> EncodePngRgba(uint32_t width, uint32_t height, bool withAlpha, std::span<const uint8_t> rgba) {
    if (width == 0 || height == 0 || uint64_t{width} * height > MaxProbePixels ||
        rgba.size() != std::size_t{width} * height * 4) {
        throw FileIoError("Cannot write a PNG of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    }
    std::vector<uint8_t> rgb;
    if (!withAlpha) {
        rgb.reserve(rgba.size() / 4 * 3);
        for (std::size_t i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), &rgba[i], &rgba[i] + 3);
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = withAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    const void* pixels = withAlpha ? static_cast<const void*>(rgba.data()) : rgb.data();
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr)) {
        throw FileIoError(std::string("Cannot write a PNG: ") + image.message);
    }
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels, 0, nullptr)) {
        throw FileIoError(std::string("Cannot write a PNG: ") + image.message);
    }
    out.resize(size);
    return out;
}

bool SameImage(const RgbaImage& a, const RgbaImage& b) {
    if (a.width != b.width || a.height != b.height || a.rgba.size() != b.rgba.size()) return false;
    for (std::size_t i = 0; i < a.rgba.size(); i += 4) {
        if (a.rgba[i + 3] != b.rgba[i + 3]) return false;
        if (a.rgba[i + 3] != 0 && std::memcmp(&a.rgba[i], &b.rgba[i], 3) != 0) return false;
    }
    return true;
}

}  // namespace jx
