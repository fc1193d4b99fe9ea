#include "fileio/psd_graphic.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <istream>
#include <string>

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

namespace {

// Channels the colour scheme decodes.
int UsedChannels(TSampleScheme scheme) {
    switch (scheme) {
        case ssGrayAlpha: return 2;
        case ssRGB:
        case ssLab: return 3;
        case ssRGBA:
        case ssCMYK: return 4;
        default: return 1;
    }
}

// The colour mode data: the indexed mode's table, skipped otherwise. Then the image resources and
// the layers are skipped; returns the compression word.
uint16_t ReadSectionsBeforeImage(std::istream& stream, const TPSDHeader& h, std::vector<uint8_t>& colourTable) {
    const uint32_t mode_data_length = ReadBigEndian32(stream);
    if (h.Mode == pmIndexed) {
        if (mode_data_length != 768) InvalidPSD();
        colourTable = ReadBytes(stream, 768);
    } else {
        Skip(stream, mode_data_length);
    }
    Skip(stream, ReadBigEndian32(stream));  // image resources
    Skip(stream, ReadBigEndian32(stream));  // layer and mask information
    const uint16_t compression = ReadBigEndian16(stream);
    if (compression > 1) InvalidPSD();
    return compression;
}

// The used channels' planes one after another, each row_bytes x height, unpacked. Rows whose
// packed data stands for other than row_bytes, and data past the last row of every channel, are
// reported: the width or height may be damaged.
std::vector<uint8_t> ReadPlanes(std::istream& stream, const TPSDHeader& h, uint16_t compression, int used,
                                int64_t row_bytes, std::vector<std::string>& warnings) {
    const int64_t height = h.Height;
    const int64_t plane_bytes = row_bytes * height;
    const std::string size = std::to_string(h.Width) + "x" + std::to_string(h.Height);
    // Channels the image does not use follow the used ones.
    auto reportPast = [&](int64_t past, int64_t least) {
        if (past >= least)
            warnings.push_back("the file holds " + std::to_string(past) + " bytes past the last row of the " + size +
                               " image (the height may be damaged)");
    };
    if (compression != 1) {
        std::vector<uint8_t> planes = ReadBytes(stream, plane_bytes * used);
        reportPast(BytesLeft(stream) - plane_bytes * (int64_t(h.Channels) - used), row_bytes);
        return planes;
    }
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
    int64_t unused_total = 0;
    for (int64_t i = used_rows; i < table_entries; ++i) unused_total += BigEndian16(table.data() + 2 * i);
    const std::vector<uint8_t> packed = ReadBytes(stream, packed_total);
    std::vector<uint8_t> planes(size_t(plane_bytes * used), 0);
    TPackbitsRLEDecoder decoder;
    const uint8_t* in = packed.data();
    int64_t misfits = 0;
    for (int64_t i = 0; i < used_rows; ++i) {
        const int32_t length = BigEndian16(table.data() + 2 * i);
        uint8_t* out = planes.data() + size_t(i * row_bytes);
        decoder.Decode(in, out, length, int32_t(row_bytes));
        if (decoder.PackedLength() != row_bytes) ++misfits;
        in += length;
    }
    if (misfits > 0)
        warnings.push_back(std::to_string(misfits) + " of " + std::to_string(used_rows) +
                           " run-length rows do not unpack to the " + std::to_string(row_bytes) + " bytes of a " +
                           size + " image's row (the width or height may be damaged)");
    // A padding word is no damage; the packed data of one row more is.
    reportPast(BytesLeft(stream) - unused_total, std::max<int64_t>(4, 2 * ((row_bytes + 127) / 128)));
    return planes;
}

// What the transfer of the planes into the bitmap needs.
struct TPlanes {
    const TPSDHeader& Header;
    TSampleScheme Scheme;
    int Used;
    int64_t RowBytes;
    const uint8_t* Plane[4];
    std::function<void(int y)> Step;  // after each row, for the progress event

    int Width() const { return int(Header.Width); }
    int Height() const { return int(Header.Height); }
    int Depth() const { return Header.Depth; }
    const uint8_t* Row(int c, int y) const { return Plane[c] + size_t(RowBytes * y); }
    uint8_t Sample8(const uint8_t* row, int x) const {
        return Depth() == 16 ? uint8_t(BigEndian16(row + 2 * x) / 257) : row[x];
    }
};

// One-channel images keep their indices or grey levels, 16 bits cut to 8.
void TransferIndexedOrGray(const TPlanes& p, const std::vector<uint8_t>& colourTable, TColorManager& cm,
                           TBitmap& image) {
    const int depth = p.Depth();
    cm.SetSourceSampleBits(uint8_t(depth));
    cm.SetTargetSampleBits(uint8_t(depth == 16 ? 8 : depth));
    cm.SetSourceSampleCount(1);
    cm.SetTargetSampleCount(1);
    cm.SetSourceScheme(p.Scheme);
    cm.SetTargetScheme(p.Scheme);
    image.SetPixelFormat(cm.PixelFormatFor(1));
    image.SetSize(p.Width(), p.Height());
    if (p.Scheme == ssIndexed) {
        const uint8_t* data[3] = {colourTable.data(), colourTable.data() + 256, colourTable.data() + 512};
        image.SetPalette(cm.MakeColorPalette(data, 2, 256, false));
    } else {
        image.SetPalette(cm.MakeGrayPalette(p.Header.Mode == pmBitmap));
    }
    for (int y = 0; y < p.Height(); ++y) {
        const uint8_t* src = p.Row(0, y);
        uint8_t* dst = image.ScanLine(y);
        if (depth == 16)
            for (int x = 0; x < p.Width(); ++x) dst[x] = p.Sample8(src, x);
        else
            std::memcpy(dst, src, size_t(p.RowBytes));
        p.Step(y);
    }
}

void TransferGrayAlpha(const TPlanes& p, TBitmap& image) {
    image.SetPixelFormat(TPixelFormat::pf32bit);
    image.SetSize(p.Width(), p.Height());
    for (int y = 0; y < p.Height(); ++y) {
        const uint8_t* grey = p.Row(0, y);
        const uint8_t* alpha = p.Row(1, y);
        uint8_t* dst = image.ScanLine(y);
        for (int x = 0; x < p.Width(); ++x) {
            const uint8_t g = p.Sample8(grey, x);
            dst[4 * x] = dst[4 * x + 1] = dst[4 * x + 2] = g;
            dst[4 * x + 3] = p.Sample8(alpha, x);
        }
        p.Step(y);
    }
}

// RGB, RGBA, CMYK and Lab through the colour manager; CMYK planes are stored inverted.
void TransferColour(const TPlanes& p, std::vector<uint8_t>& planes, TColorManager& cm, TBitmap& image) {
    TSampleScheme target = ssBGR;
    uint8_t target_count = uint8_t(p.Used);
    if (p.Scheme == ssRGBA) target = ssBGRA;
    if (p.Scheme == ssCMYK) target_count = 3;
    if (p.Scheme == ssLab) cm.SourceFlags |= cfLightnessByte | cfChromaBias;
    cm.SetSourceSampleBits(uint8_t(p.Depth()));
    cm.SetTargetSampleBits(8);
    cm.SetSourceSampleCount(uint8_t(p.Used));
    cm.SetTargetSampleCount(target_count);
    cm.SetSourceScheme(p.Scheme);
    cm.SetTargetScheme(target);
    image.SetPixelFormat(cm.PixelFormatFor(1));
    image.SetSize(p.Width(), p.Height());
    if (p.Scheme == ssCMYK)
        for (uint8_t& b : planes) b = uint8_t(~b);
    for (int y = 0; y < p.Height(); ++y) {
        const uint8_t* rows[4];
        for (int c = 0; c < p.Used; ++c) rows[c] = p.Row(c, y);
        cm.ConvertPixelRow(rows, p.Used, image.ScanLine(y), uint32_t(p.Width()), 0xFF);
        p.Step(y);
    }
}

}  // namespace

void TPSDGraphic::LoadFromStream(std::istream& stream) {
    FreeImage();
    Warnings.clear();
    base_position_ = Position(stream);
    if (!ReadImageInfo(stream)) InvalidPSD();
    Progress(TProgressStage::psStarting, 0, "Preparing...");
    Seek(stream, base_position_);
    const TPSDHeader h = ReadHeader(stream);
    CheckHeader(h);
    const TSampleScheme scheme = image_properties_.ColorScheme;
    TColorManager& cm = color_manager_;
    cm.SourceFlags = cfSwapBytes;

    std::vector<uint8_t> colour_table;
    const uint16_t compression = ReadSectionsBeforeImage(stream, h, colour_table);
    const int used = UsedChannels(scheme);
    const int64_t row_bytes = h.Depth == 1 ? (int64_t(h.Width) + 7) / 8 : int64_t(h.Width) * (h.Depth / 8);
    const int64_t plane_bytes = row_bytes * h.Height;
    if (plane_bytes * used > kMaxBitmapBytes) InvalidPSD();
    std::vector<uint8_t> planes = ReadPlanes(stream, h, compression, used, row_bytes, Warnings);

    Progress(TProgressStage::psEnding, 0, "");
    Progress(TProgressStage::psStarting, 0, "Transfering...");
    const int height = int(h.Height);
    TPlanes p{h, scheme, used, row_bytes, {nullptr, nullptr, nullptr, nullptr},
              [&](int y) { Progress(TProgressStage::psRunning, int(int64_t(y) * 100 / height), ""); }};
    for (int c = 0; c < used; ++c) p.Plane[c] = planes.data() + size_t(plane_bytes * c);

    TBitmap image;
    if (scheme == ssIndexed || scheme == ssGray)
        TransferIndexedOrGray(p, colour_table, cm, image);
    else if (scheme == ssGrayAlpha)
        TransferGrayAlpha(p, image);
    else
        TransferColour(p, planes, cm, image);
    TBitmap::Assign(image);
    Progress(TProgressStage::psEnding, 100, "");
}

}  // namespace jx
