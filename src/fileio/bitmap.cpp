#include "fileio/bitmap.h"
#include "fileio/replace_file.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <utility>

namespace jx {

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return 1;
        case TPixelFormat::pf4bit: return 4;
        case TPixelFormat::pf8bit: return 8;
        case TPixelFormat::pf15bit:
        case TPixelFormat::pf16bit: return 16;
        case TPixelFormat::pf24bit: return 24;
        case TPixelFormat::pf32bit: return 32;
        default: return 0;
    }
}

size_t TBitmap::StrideFor(int width, TPixelFormat format) {
    const uint64_t bits = uint64_t(std::max(width, 0)) * uint64_t(BitsPerPixel(format));
    return size_t((bits + 31) / 32 * 4);
}

void TBitmap::SetSize(int width, int height) {
    if (width < 0 || height < 0 || width > kMaxBitmapSide || height > kMaxBitmapSide)
        throw ERangeError("Image size is out of range.");
    if (format_ == TPixelFormat::pfDevice || format_ == TPixelFormat::pfCustom)
        format_ = TPixelFormat::pf24bit;
    const size_t stride = StrideFor(width, format_);
    const uint64_t bytes = uint64_t(stride) * uint64_t(height);
    if (bytes > uint64_t(kMaxBitmapBytes)) throw ERangeError("Image size is out of range.");
    std::vector<uint8_t> pixels(size_t(bytes), 0);
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    stride_ = stride;
}

void TBitmap::FreeImage() {
    pixels_.clear();
    pixels_.shrink_to_fit();
    width_ = height_ = 0;
    stride_ = 0;
    format_ = TPixelFormat::pfDevice;
    palette_ = TPalette{};
}

void TBitmap::SetPalette(TPalette palette) {
    if (palette.Entries.size() > 256) palette.Entries.resize(256);
    palette_ = std::move(palette);
}

TBitmap::TBgra TBitmap::Pixel(int x, int y) const {
    const uint8_t* row = ScanLine(y);
    auto from_palette = [&](unsigned index) {
        TBgra c;
        if (index < palette_.Entries.size()) {
            const TPaletteEntry& e = palette_.Entries[index];
            c.B = e.Blue;
            c.G = e.Green;
            c.R = e.Red;
        }
        return c;
    };
    switch (format_) {
        case TPixelFormat::pf1bit: return from_palette((row[x >> 3] >> (7 - (x & 7))) & 1);
        case TPixelFormat::pf4bit: return from_palette((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
        case TPixelFormat::pf8bit: return from_palette(row[x]);
        case TPixelFormat::pf15bit: {
            const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
            TBgra c;
            c.R = uint8_t(((v >> 10) & 31) * 255 / 31);
            c.G = uint8_t(((v >> 5) & 31) * 255 / 31);
            c.B = uint8_t((v & 31) * 255 / 31);
            return c;
        }
        case TPixelFormat::pf16bit: {
            const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
            TBgra c;
            c.R = uint8_t(((v >> 11) & 31) * 255 / 31);
            c.G = uint8_t(((v >> 5) & 63) * 255 / 63);
            c.B = uint8_t((v & 31) * 255 / 31);
            return c;
        }
        case TPixelFormat::pf24bit: return TBgra{row[3 * x], row[3 * x + 1], row[3 * x + 2], 255};
        case TPixelFormat::pf32bit:
            return TBgra{row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
        default: return TBgra{};
    }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == format_) return;
    if (Empty() || pixels_.empty()) {
        format_ = format;
        if (width_ > 0 || height_ > 0) SetSize(width_, height_);
        return;
    }
    const bool to_true_colour = format == TPixelFormat::pf24bit || format == TPixelFormat::pf32bit;
    const bool index_widening =
        format == TPixelFormat::pf8bit &&
        (format_ == TPixelFormat::pf1bit || format_ == TPixelFormat::pf4bit);
    if (!to_true_colour && !index_widening)
        throw FileIoError("Pixel format conversion is not supported.");

    TBitmap converted;
    converted.format_ = format;
    converted.SetSize(width_, height_);
    converted.palette_ = palette_;
    for (int y = 0; y < height_; ++y) {
        const uint8_t* src = ScanLine(y);
        uint8_t* dst = converted.ScanLine(y);
        if (index_widening) {
            for (int x = 0; x < width_; ++x)
                dst[x] = format_ == TPixelFormat::pf1bit ? (src[x >> 3] >> (7 - (x & 7))) & 1
                                                         : (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
            continue;
        }
        const int step = format == TPixelFormat::pf32bit ? 4 : 3;
        for (int x = 0; x < width_; ++x) {
            const TBgra c = Pixel(x, y);
            dst[step * x] = c.B;
            dst[step * x + 1] = c.G;
            dst[step * x + 2] = c.R;
            if (step == 4) dst[step * x + 3] = c.A;
        }
    }
    if (to_true_colour) converted.palette_ = TPalette{};
    pixels_ = std::move(converted.pixels_);
    stride_ = converted.stride_;
    format_ = format;
    palette_ = std::move(converted.palette_);
}

void TBitmap::Assign(const TBitmap& source) {
    if (&source == this) return;
    width_ = source.width_;
    height_ = source.height_;
    format_ = source.format_;
    stride_ = source.stride_;
    pixels_ = source.pixels_;
    palette_ = source.palette_;
}

void TBitmap::LoadFromStream(std::istream&) {
    throw EInvalidGraphic("Bitmap image is not valid");
}

void TBitmap::SaveToStream(std::ostream&) {
    throw EInvalidGraphic("Bitmap image is not valid");
}

void TBitmap::LoadFromFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw FileIoError("Cannot open file \"" + path.string() + "\".");
    LoadFromStream(in);
}

void TBitmap::SaveToFile(const std::filesystem::path& path) {
    ReplaceFileWithStream(path.string(), [&](std::ostream& out) { SaveToStream(out); });
}

}  // namespace jx
