#include "fileio/psd_graphic.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <istream>

#include "fileio/graphic_compression.h"
#include "fileio/stream_io.h"

namespace jx {

namespace {

using namespace streamio;

enum TPSDMode : uint16_t {
    pmBitmap = 0,
    pmGray = 1,
    pmIndexed = 2,
    pmRGB = 3,
    pmCMYK = 4,
    pmMultichannel = 7,
    pmDuotone = 8,
    pmLab = 9,
};

struct TPSDHeader {
    char Signature[4] = {};
    uint16_t Version = 0;
    uint16_t Channels = 0;
    uint32_t Height = 0, Width = 0;
    uint16_t Depth = 0;
    uint16_t Mode = 0;
};

TPSDHeader ParseHeader(const uint8_t* b) {
    TPSDHeader h;
    std::memcpy(h.Signature, b, 4);
    h.Version = BigEndian16(b + 4);
    h.Channels = BigEndian16(b + 12);
    h.Height = BigEndian32(b + 14);
    h.Width = BigEndian32(b + 18);
    h.Depth = BigEndian16(b + 22);
    h.Mode = BigEndian16(b + 24);
    return h;
}

TPSDHeader ReadHeader(std::istream& in) {
    uint8_t b[26];
    ReadExact(in, b, sizeof b);
    return ParseHeader(b);
}

[[noreturn]] void InvalidPSD() { GraphicError(kInvalidImageFormat, "PSD or PDD"); }

// Channels the flattened image needs for its mode; 0 for an unsupported mode.
int RequiredChannels(uint16_t mode) {
    switch (mode) {
        case pmBitmap:
        case pmGray:
        case pmDuotone:
        case pmIndexed: return 1;
        case pmRGB:
        case pmMultichannel:
        case pmLab: return 3;
        case pmCMYK: return 4;
        default: return 0;
    }
}

bool DepthSupported(uint16_t mode, uint16_t depth) {
    switch (mode) {
        case pmBitmap: return depth == 1;
        case pmIndexed: return depth == 8;
        default: return depth == 8 || depth == 16;
    }
}

// Validates what the header says before any of it is used.
void CheckHeader(const TPSDHeader& h) {
    if (std::memcmp(h.Signature, "8BPS", 4) != 0 || h.Version != 1) InvalidPSD();
    const int required = RequiredChannels(h.Mode);
    if (required == 0 || h.Channels < required || h.Channels > 56) InvalidPSD();
    if (!DepthSupported(h.Mode, h.Depth)) InvalidPSD();
    if (h.Width == 0 || h.Height == 0 || h.Width > kMaxBitmapSide || h.Height > kMaxBitmapSide)
        InvalidPSD();
}

}  // namespace

const TGraphicClass& TPSDGraphic::ClassInfo() {
    static const TGraphicClass info{
        "TPSDGraphic", []() -> std::unique_ptr<TBitmap> { return std::make_unique<TPSDGraphic>(); }};
    return info;
}

bool TPSDGraphic::CheckStreamHeader(std::istream& stream) {
    const int64_t start = Position(stream);
    if (BytesLeft(stream) <= 26) return false;
    uint8_t b[26];
    ReadExact(stream, b, sizeof b);
    Seek(stream, start);
    const TPSDHeader h = ParseHeader(b);
    char signature[4];
    for (int i = 0; i < 4; ++i) signature[i] = char(std::toupper(static_cast<unsigned char>(h.Signature[i])));
    return std::memcmp(signature, "8BPS", 4) == 0 && h.Version == 1;
}

bool TPSDGraphic::ReadImageInfo(std::istream& stream) {
    TFormatGraphic::ReadImageInfo(stream);
    const TPSDHeader h = ReadHeader(stream);
    if (std::memcmp(h.Signature, "8BPS", 4) != 0) return false;
    TImageProperties& p = image_properties_;
    p.Options = uint32_t(ioBigEndian) | (h.Mode == pmBitmap ? uint32_t(ioMinIsWhite) : 0u);
    p.BitsPerSample = uint8_t(std::min<uint16_t>(h.Depth, 255));
    p.ChannelCount = uint8_t(std::min<uint16_t>(h.Channels, 255));
    p.SamplesPerPixel = uint8_t(h.Channels < 5 ? h.Channels : 4);
    switch (h.Mode) {
        case pmBitmap:
        case pmGray:
        case pmDuotone:
            // A second channel of a grey image is its alpha.
            p.ColorScheme = h.Channels >= 2 && h.Mode != pmBitmap ? ssGrayAlpha : ssGray;
            p.SamplesPerPixel = p.ColorScheme == ssGrayAlpha ? 2 : 1;
            break;
        case pmIndexed:
            p.ColorScheme = ssIndexed;
            p.SamplesPerPixel = 1;
            break;
        case pmRGB:
        case pmMultichannel:
            p.ColorScheme = h.Channels == 3 ? ssRGB : ssRGBA;
            break;
        case pmCMYK:
            p.ColorScheme = ssCMYK;
            p.SamplesPerPixel = 4;
            break;
        case pmLab:
            p.ColorScheme = ssLab;
            p.SamplesPerPixel = 3;
            break;
        default: p.ColorScheme = ssUnknown; break;
    }
    p.BitsPerPixel = uint8_t(std::min(p.SamplesPerPixel * p.BitsPerSample, 255));
    p.Width = h.Width;
    p.Height = h.Height;
    // The sections are skipped to reach the compression word.
    for (int section = 0; section < 3; ++section) Skip(stream, ReadBigEndian32(stream));
    p.Compression = ReadBigEndian16(stream) == 1 ? ctPackedBits : ctNone;
    return true;
}

void TPSDGraphic::LoadFromStream(std::istream& stream) {
    FreeImage();
    base_position_ = Position(stream);
    if (!ReadImageInfo(stream)) InvalidPSD();
    Progress(TProgressStage::psStarting, 0, "Preparing...");
    Seek(stream, base_position_);
    const TPSDHeader h = ReadHeader(stream);
    CheckHeader(h);
    const TImageProperties& p = image_properties_;
    const int width = int(h.Width), height = int(h.Height);
    const int depth = h.Depth;
    const TSampleScheme scheme = p.ColorScheme;

    // Colour mode data: the indexed mode's table, skipped otherwise.
    TBitmap image;
    TColorManager& cm = color_manager_;
    cm.SourceFlags = cfSwapBytes;
    const uint32_t mode_data_length = ReadBigEndian32(stream);
    std::vector<uint8_t> colour_table;
    if (h.Mode == pmIndexed) {
        if (mode_data_length != 768) InvalidPSD();
        colour_table = ReadBytes(stream, 768);
    } else {
        Skip(stream, mode_data_length);
    }
    Skip(stream, ReadBigEndian32(stream));  // image resources
    Skip(stream, ReadBigEndian32(stream));  // layer and mask information
    const uint16_t compression = ReadBigEndian16(stream);
    if (compression > 1) InvalidPSD();

    // Channels actually decoded, and bytes per row of one channel.
    int used = 1;
    switch (scheme) {
        case ssGrayAlpha: used = 2; break;
        case ssRGB:
        case ssLab: used = 3; break;
        case ssRGBA:
        case ssCMYK: used = 4; break;
        default: used = 1; break;
    }
    const int64_t row_bytes = depth == 1 ? (int64_t(width) + 7) / 8 : int64_t(width) * (depth / 8);
    const int64_t plane_bytes = row_bytes * height;
    if (plane_bytes * used > kMaxBitmapBytes) InvalidPSD();

    std::vector<uint8_t> planes;
    if (compression == 1) {
        // Row-length table of every channel; only the used channels' rows are read.
        const int64_t table_entries = int64_t(h.Channels) * height;
        const std::vector<uint8_t> table = ReadBytes(stream, table_entries * 2);
        const int64_t used_rows = int64_t(used) * height;
        int64_t packed_total = 0;
        for (int64_t i = 0; i < used_rows; ++i) {
            const int64_t length = BigEndian16(table.data() + 2 * i);
            // A packet pair of two bytes yields at most 128 bytes.
            if (row_bytes > length * 64) InvalidPSD();
            packed_total += length;
        }
        const std::vector<uint8_t> packed = ReadBytes(stream, packed_total);
        planes.assign(size_t(plane_bytes * used), 0);
        TPackbitsRLEDecoder decoder;
        const uint8_t* in = packed.data();
        for (int64_t i = 0; i < used_rows; ++i) {
            const int32_t length = BigEndian16(table.data() + 2 * i);
            uint8_t* out = planes.data() + size_t(i * row_bytes);
            decoder.Decode(in, out, length, int32_t(row_bytes));
            in += length;
        }
    } else {
        planes = ReadBytes(stream, plane_bytes * used);
    }
    const uint8_t* plane[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int c = 0; c < used; ++c) plane[c] = planes.data() + size_t(plane_bytes * c);

    Progress(TProgressStage::psEnding, 0, "");
    Progress(TProgressStage::psStarting, 0, "Transfering...");
    auto step = [&](int y) { Progress(TProgressStage::psRunning, int(int64_t(y) * 100 / height), ""); };
    auto sample8 = [depth](const uint8_t* row, int x) {
        return depth == 16 ? uint8_t(BigEndian16(row + 2 * x) / 257) : row[x];
    };

    if (scheme == ssIndexed || scheme == ssGray) {
        cm.SetSourceSampleBits(uint8_t(depth));
        cm.SetTargetSampleBits(uint8_t(depth == 16 ? 8 : depth));
        cm.SetSourceSampleCount(1);
        cm.SetTargetSampleCount(1);
        cm.SetSourceScheme(scheme);
        cm.SetTargetScheme(scheme);
        image.SetPixelFormat(cm.PixelFormatFor(1));
        image.SetSize(width, height);
        if (scheme == ssIndexed) {
            const uint8_t* data[3] = {colour_table.data(), colour_table.data() + 256,
                                      colour_table.data() + 512};
            image.SetPalette(cm.MakeColorPalette(data, 2, 256, false));
        } else {
            image.SetPalette(cm.MakeGrayPalette(h.Mode == pmBitmap));
        }
        for (int y = 0; y < height; ++y) {
            const uint8_t* src = plane[0] + size_t(row_bytes * y);
            uint8_t* dst = image.ScanLine(y);
            if (depth == 16)
                for (int x = 0; x < width; ++x) dst[x] = sample8(src, x);
            else
                std::memcpy(dst, src, size_t(row_bytes));
            step(y);
        }
    } else if (scheme == ssGrayAlpha) {
        image.SetPixelFormat(TPixelFormat::pf32bit);
        image.SetSize(width, height);
        for (int y = 0; y < height; ++y) {
            const uint8_t* grey = plane[0] + size_t(row_bytes * y);
            const uint8_t* alpha = plane[1] + size_t(row_bytes * y);
            uint8_t* dst = image.ScanLine(y);
            for (int x = 0; x < width; ++x) {
                const uint8_t g = sample8(grey, x);
                dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = g;
                dst[4 * x + 3] = sample8(alpha, x);
            }
            step(y);
        }
    } else {
        TSampleScheme target = ssBGR;
        uint8_t target_count = uint8_t(used);
        if (scheme == ssRGBA) target = ssBGRA;
        if (scheme == ssCMYK) target_count = 3;
        if (scheme == ssLab) cm.SourceFlags |= cfLightnessByte | cfChromaBias;
        cm.SetSourceSampleBits(uint8_t(depth));
        cm.SetTargetSampleBits(8);
        cm.SetSourceSampleCount(uint8_t(used));
        cm.SetTargetSampleCount(target_count);
        cm.SetSourceScheme(scheme);
        cm.SetTargetScheme(target);
        image.SetPixelFormat(cm.PixelFormatFor(1));
        image.SetSize(width, height);
        if (scheme == ssCMYK)
            for (uint8_t& b : planes) b = uint8_t(~b);
        for (int y = 0; y < height; ++y) {
            const uint8_t* rows[4];
            for (int c = 0; c < used; ++c) rows[c] = plane[c] + size_t(row_bytes * y);
            cm.ConvertPixelRow(rows, used, image.ScanLine(y), uint32_t(width), 0xFF);
            step(y);
        }
    }
    TBitmap::Assign(image);
    Progress(TProgressStage::psEnding, 100, "");
}

}  // namespace jx
