#include "fileio/ppm_graphic.h"

#include <cmath>
#include <istream>

#include "fileio/stream_io.h"

namespace jx {

namespace {

using namespace streamio;

const char* const kHeaderKind = "PBM, PGM or PPM";

// The header: magic, then whitespace- or comment-separated numbers that may
// share lines with the magic and with each other.
using TPPMHeader = TPPMRaster;

class TPPMParser {
public:
    explicit TPPMParser(std::span<const uint8_t> data) : data_(data) {}

    bool AtEnd() const { return pos_ >= data_.size(); }
    size_t Position() const { return pos_; }
    size_t Left() const { return data_.size() - pos_; }
    const uint8_t* Here() const { return data_.data() + pos_; }
    void Advance(size_t n) { pos_ += n; }

    static bool IsSpace(uint8_t c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    }

    // Skips whitespace and comments (from "#" to the end of its line).
    void SkipSeparators() {
        while (!AtEnd()) {
            const uint8_t c = data_[pos_];
            if (c == '#') {
                while (!AtEnd() && data_[pos_] != '\n' && data_[pos_] != '\r') ++pos_;
            } else if (IsSpace(c)) {
                ++pos_;
            } else {
                break;
            }
        }
    }

    // A decimal number of the header; anything else, or a value past the
    // limit, is a damaged header.
    int64_t HeaderNumber(int64_t limit) {
        SkipSeparators();
        if (AtEnd()) GraphicError(kInvalidImageFormat, "PPM");
        if (data_[pos_] < '0' || data_[pos_] > '9') GraphicError(kInvalidImageFormat, kHeaderKind);
        int64_t value = 0;
        while (!AtEnd() && data_[pos_] >= '0' && data_[pos_] <= '9') {
            value = value * 10 + (data_[pos_] - '0');
            if (value > limit) GraphicError(kInvalidImageFormat, kHeaderKind);
            ++pos_;
        }
        return value;
    }

    // A sample of an ASCII map.
    int64_t SampleNumber(int64_t max_value) {
        SkipSeparators();
        if (AtEnd()) GraphicError(kInvalidImageFormat, "PPM");
        if (data_[pos_] < '0' || data_[pos_] > '9') GraphicError(kInvalidImageFormat, "PPM");
        int64_t value = 0;
        while (!AtEnd() && data_[pos_] >= '0' && data_[pos_] <= '9') {
            value = std::min<int64_t>(value * 10 + (data_[pos_] - '0'), int64_t(1) << 32);
            ++pos_;
        }
        return std::min(value, max_value);
    }

    // One digit of an ASCII bitmap: digits need no separators between them.
    int BitDigit() {
        SkipSeparators();
        if (AtEnd()) GraphicError(kInvalidImageFormat, "PPM");
        const uint8_t c = data_[pos_++];
        if (c != '0' && c != '1') GraphicError(kInvalidImageFormat, "PPM");
        return c - '0';
    }

    TPPMHeader Header() {
        TPPMHeader h;
        if (Left() < 2 || data_[0] != 'P' || data_[1] < '1' || data_[1] > '6')
            GraphicError(kInvalidImageFormat, kHeaderKind);
        h.Type = data_[1] - '0';
        pos_ = 2;
        if (!AtEnd() && !IsSpace(data_[pos_]) && data_[pos_] != '#')
            GraphicError(kInvalidImageFormat, kHeaderKind);
        h.Width = HeaderNumber(kMaxBitmapSide);
        h.Height = HeaderNumber(kMaxBitmapSide);
        if (h.Type != 1 && h.Type != 4) h.MaxValue = HeaderNumber(65535);
        if (h.Width == 0 || h.Height == 0 || h.MaxValue == 0)
            GraphicError(kInvalidImageFormat, kHeaderKind);
        // Binary data starts after exactly one whitespace character.
        if (h.Type >= 4) {
            if (AtEnd()) GraphicError(kInvalidImageFormat, "PPM");
            if (!IsSpace(data_[pos_])) GraphicError(kInvalidImageFormat, kHeaderKind);
            ++pos_;
        }
        return h;
    }

private:
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
};

// Reads the first bytes of the stream that a header can occupy.
std::vector<uint8_t> ReadAll(std::istream& stream) { return ReadBytes(stream, BytesLeft(stream)); }

}  // namespace

TPPMRaster ReadPPMHeader(std::span<const uint8_t> bytes) {
    TPPMParser parser(bytes);
    TPPMRaster h = parser.Header();
    h.DataOffset = parser.Position();
    const int samples = (h.Type == 3 || h.Type == 6) ? 3 : 1;
    // Each sample needs at least one byte (ASCII) or its binary size.
    int64_t needed = 0;
    if (h.Type == 4)
        needed = (h.Width + 7) / 8 * h.Height;
    else if (h.Type >= 5)
        needed = h.Width * h.Height * samples * (h.MaxValue > 255 ? 2 : 1);
    else
        needed = h.Width * h.Height * samples;
    if (needed > int64_t(parser.Left())) GraphicError(kInvalidImageFormat, "PPM");
    return h;
}

const TGraphicClass& TPPMGraphic::ClassInfo() {
    static const TGraphicClass info{
        "TPPMGraphic", []() -> std::unique_ptr<TBitmap> { return std::make_unique<TPPMGraphic>(); }};
    return info;
}

bool TPPMGraphic::CheckStreamHeader(std::istream& stream) {
    const int64_t start = Position(stream);
    if (BytesLeft(stream) <= 10) return false;
    uint8_t b[2];
    ReadExact(stream, b, 2);
    Seek(stream, start);
    return b[0] == 'P' && b[1] >= '1' && b[1] <= '6';
}

bool TPPMGraphic::ReadImageInfo(std::istream& stream) {
    TFormatGraphic::ReadImageInfo(stream);
    const std::vector<uint8_t> bytes = ReadAll(stream);
    TPPMParser parser(bytes);
    TPPMHeader h;
    try {
        h = parser.Header();
    } catch (const EInvalidGraphic&) {
        return false;
    }
    TImageProperties& p = image_properties_;
    p.Compression = ctNone;
    p.Width = uint32_t(h.Width);
    p.Height = uint32_t(h.Height);
    switch (h.Type) {
        case 1:
        case 4:
            p.SamplesPerPixel = 1;
            p.BitsPerSample = 1;
            p.ColorScheme = ssIndexed;
            break;
        case 2:
        case 5:
            p.SamplesPerPixel = 1;
            p.BitsPerSample = 8;
            p.ColorScheme = ssIndexed;
            break;
        default:
            p.SamplesPerPixel = 3;
            p.BitsPerSample = 8;
            p.ColorScheme = ssRGB;
            break;
    }
    p.BitsPerPixel = uint8_t(p.SamplesPerPixel * p.BitsPerSample);
    return true;
}

void TPPMGraphic::LoadFromStream(std::istream& stream) {
    FreeImage();
    base_position_ = Position(stream);
    if (!ReadImageInfo(stream)) {
        // A header cut short reports the end of the data.
        Seek(stream, base_position_);
        const std::vector<uint8_t> bytes = ReadAll(stream);
        TPPMParser(bytes).Header();
        GraphicError(kInvalidImageFormat, kHeaderKind);
    }
    Seek(stream, base_position_);
    const std::vector<uint8_t> bytes = ReadAll(stream);
    const TPPMRaster h = ReadPPMHeader(bytes);
    TPPMParser parser(bytes);
    parser.Advance(h.DataOffset);
    Progress(TProgressStage::psStarting, 0, "Transfering...");

    const int width = int(h.Width), height = int(h.Height);
    const int64_t max_value = h.MaxValue;
    const bool wide = max_value > 255;

    TColorManager& cm = color_manager_;
    TBitmap image;
    if (h.Type == 1 || h.Type == 4) {
        image.SetPixelFormat(TPixelFormat::pf1bit);
        cm.SetTargetSampleCount(1);
        cm.SetTargetSampleBits(1);
        image.SetPalette(cm.MakeGrayPalette(true));
    } else if (h.Type == 2 || h.Type == 5) {
        image.SetPixelFormat(TPixelFormat::pf8bit);
        cm.SetTargetSampleCount(1);
        cm.SetTargetSampleBits(8);
        image.SetPalette(cm.MakeGrayPalette(false));
    } else {
        image.SetPixelFormat(TPixelFormat::pf24bit);
    }
    image.SetSize(width, height);

    auto scale = [max_value](int64_t v) -> uint8_t {
        if (v > max_value) v = max_value;
        if (max_value == 255) return uint8_t(v);
        return uint8_t(std::nearbyint(double(v) * 255.0 / double(max_value)));
    };
    auto binary_sample = [&]() -> int64_t {
        const uint8_t* p = parser.Here();
        parser.Advance(wide ? 2 : 1);
        return wide ? BigEndian16(p) : p[0];
    };

    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.ScanLine(y);
        switch (h.Type) {
            case 1:
                for (int x = 0; x < width; ++x)
                    if (parser.BitDigit()) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
                break;
            case 2:
                for (int x = 0; x < width; ++x) row[x] = scale(parser.SampleNumber(max_value));
                break;
            case 3:
                for (int x = 0; x < width; ++x) {
                    const uint8_t r = scale(parser.SampleNumber(max_value));
                    const uint8_t g = scale(parser.SampleNumber(max_value));
                    const uint8_t b = scale(parser.SampleNumber(max_value));
                    row[3 * x] = b;
                    row[3 * x + 1] = g;
                    row[3 * x + 2] = r;
                }
                break;
            case 4: {
                const size_t bytes = (size_t(width) + 7) / 8;
                std::copy_n(parser.Here(), bytes, row);
                parser.Advance(bytes);
                // Bits past the last pixel stay clear.
                if (width & 7) row[bytes - 1] &= uint8_t(0xFF00u >> (width & 7));
                break;
            }
            case 5:
                for (int x = 0; x < width; ++x) row[x] = scale(binary_sample());
                break;
            case 6:
                for (int x = 0; x < width; ++x) {
                    const uint8_t r = scale(binary_sample());
                    const uint8_t g = scale(binary_sample());
                    const uint8_t b = scale(binary_sample());
                    row[3 * x] = b;
                    row[3 * x + 1] = g;
                    row[3 * x + 2] = r;
                }
                break;
        }
        Progress(TProgressStage::psRunning, int(int64_t(y) * 100 / height), "");
    }
    // Leave the stream after the image, as the other readers do.
    Seek(stream, base_position_ + int64_t(parser.Position()));
    TBitmap::Assign(image);
    Progress(TProgressStage::psEnding, 100, "");
}

}  // namespace jx
