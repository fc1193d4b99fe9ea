#include "fileio/targa_graphic.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <istream>
#include <ostream>
#include <string>

#include "fileio/graphic_compression.h"
#include "fileio/stream_io.h"

namespace jx {

namespace {

using namespace streamio;

struct TTargaHeader {
    uint8_t IDLength = 0;
    uint8_t ColorMapType = 0;
    uint8_t ImageType = 0;
    uint16_t ColorMapOrigin = 0;
    uint16_t ColorMapLength = 0;
    uint8_t ColorMapEntrySize = 0;
    uint16_t XOrigin = 0, YOrigin = 0;
    uint16_t Width = 0, Height = 0;
    uint8_t PixelSize = 0;
    uint8_t Descriptor = 0;
};

TTargaHeader ParseHeader(const uint8_t* b) {
    TTargaHeader h;
    h.IDLength = b[0];
    h.ColorMapType = b[1];
    h.ImageType = b[2];
    h.ColorMapOrigin = LittleEndian16(b + 3);
    h.ColorMapLength = LittleEndian16(b + 5);
    h.ColorMapEntrySize = b[7];
    h.XOrigin = LittleEndian16(b + 8);
    h.YOrigin = LittleEndian16(b + 10);
    h.Width = LittleEndian16(b + 12);
    h.Height = LittleEndian16(b + 14);
    h.PixelSize = b[16];
    h.Descriptor = b[17];
    return h;
}

TTargaHeader ReadHeader(std::istream& in) {
    uint8_t b[18];
    ReadExact(in, b, sizeof b);
    return ParseHeader(b);
}

bool ValidMapEntrySize(uint8_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// The combinations of image type and depth this reader decodes.
bool Supported(const TTargaHeader& h) {
    if (h.ColorMapType > 1) return false;
    if (h.ColorMapType == 1 && !ValidMapEntrySize(h.ColorMapEntrySize)) return false;
    switch (h.ImageType) {
        case 1:
        case 9: return h.PixelSize == 8 && h.ColorMapType == 1;
        case 3:
        case 11: return h.PixelSize == 8;
        case 2:
        case 10:
            return h.PixelSize == 15 || h.PixelSize == 16 || h.PixelSize == 24 || h.PixelSize == 32;
        default: return false;
    }
}

[[noreturn]] void InvalidTarga() { GraphicError(kInvalidImageFormat, "TGA"); }

void SetUpColorManager(TColorManager& cm, const TImageProperties& p) {
    cm.SetSourceSampleCount(p.SamplesPerPixel);
    cm.SetTargetSampleCount(p.SamplesPerPixel);
    cm.SetSourceScheme(p.ColorScheme);
    cm.SourceFlags = 0;
    cm.SetTargetScheme(ssBGR);
    cm.SetSourceSampleBits(p.BitsPerSample);
    cm.SetTargetSampleBits(p.BitsPerSample);
}

// A colour map is always consumed so the pixels are read from their place; its first entry
// stands for the index given by the map origin.
TPalette ReadColorMap(std::istream& stream, const TTargaHeader& h, TColorManager& cm) {
    const size_t entry_bytes = size_t((h.ColorMapEntrySize + 1) / 8);
    const std::vector<uint8_t> map = ReadBytes(stream, int64_t(h.ColorMapLength) * int64_t(entry_bytes));
    const int first = h.ColorMapOrigin;
    const int count = std::max(0, std::min<int>(h.ColorMapLength, 256 - first));
    std::vector<uint8_t> table(256 * 3, 0);  // B, G, R for indices 0..255
    for (int k = 0; k < count; ++k) {
        const uint8_t* e = map.data() + size_t(k) * entry_bytes;
        uint8_t* t = table.data() + size_t(first + k) * 3;
        if (entry_bytes >= 3) {
            std::memcpy(t, e, 3);
        } else {
            const unsigned v = LittleEndian16(e);
            t[2] = uint8_t((v & 0x7C00) >> 7);
            t[1] = uint8_t((v & 0x3E0) >> 2);
            t[0] = uint8_t((v << 3) & 255);
        }
    }
    const uint8_t* data[1] = {table.data()};
    return cm.MakeColorPalette(data, 0, 256, true);
}

size_t PixelBytes(const TTargaHeader& h) { return size_t((h.PixelSize + 1) / 8); }

// The file must hold at least the smallest encoding of the pixels it claims before anything is
// allocated for them.
void CheckPixelDataFits(std::istream& stream, const TTargaHeader& h) {
    const uint64_t image_bytes = uint64_t(h.Width) * PixelBytes(h) * uint64_t(h.Height);
    const int64_t pixel_count = int64_t(h.Width) * h.Height;
    const int64_t least = h.ImageType < 4 ? int64_t(image_bytes)
                                          : (pixel_count + 127) / 128 * int64_t(PixelBytes(h) + 1);
    if (least > BytesLeft(stream)) throw EReadError();
}

// Where the image data may end: a version 2 file's footer, and the extension and developer
// areas it points to, follow the pixels and are not part of them.
int64_t ImageDataEnd(std::istream& stream) {
    const int64_t here = Position(stream);
    const int64_t end = here + BytesLeft(stream);
    if (end - here < 26) return end;
    Seek(stream, end - 26);
    uint8_t footer[26];
    ReadExact(stream, footer, sizeof footer);
    Seek(stream, here);
    if (std::memcmp(footer + 8, "TRUEVISION-XFILE.", 18) != 0) return end;
    int64_t data_end = end - 26;
    for (const int64_t area : {int64_t(LittleEndian32(footer)), int64_t(LittleEndian32(footer + 4))})
        if (area >= here && area < data_end) data_end = area;
    return data_end;
}

std::string SizeText(const TTargaHeader& h) { return std::to_string(h.Width) + "x" + std::to_string(h.Height); }

using TRowDone = std::function<void(int row)>;

uint8_t* TargetRow(TBitmap& image, const TTargaHeader& h, int r) {
    const bool top_first = (h.Descriptor & 0x20) != 0;
    return image.ScanLine(top_first ? r : h.Height - 1 - r);
}

void ReadRawRows(std::istream& stream, const TTargaHeader& h, TBitmap& image, const TRowDone& rowDone,
                 std::vector<std::string>& warnings) {
    const size_t row_bytes = size_t(h.Width) * PixelBytes(h);
    for (int r = 0; r < h.Height; ++r) {
        ReadExact(stream, TargetRow(image, h, r), row_bytes);
        rowDone(r);
    }
    // A few bytes of padding are no damage; a whole row more is.
    const int64_t past = ImageDataEnd(stream) - Position(stream);
    if (past >= int64_t(row_bytes))
        warnings.push_back("the file holds " + std::to_string(past) + " bytes of pixel data past the " + SizeText(h) +
                           " image (the width or height may be damaged)");
}

// Packets may cross scan lines, so the whole image is one run of pixels.
void ReadPackedRows(std::istream& stream, const TTargaHeader& h, TBitmap& image, const TRowDone& rowDone,
                    std::vector<std::string>& warnings) {
    const size_t pixel_bytes = PixelBytes(h);
    const size_t row_bytes = size_t(h.Width) * pixel_bytes;
    const int64_t pixels = int64_t(h.Width) * h.Height;
    // Packets for one row more are read along, to tell whether the stream goes on past the image.
    const int64_t worst = (pixels + h.Width) * int64_t(pixel_bytes + 1);
    const int64_t data_end = ImageDataEnd(stream);
    const int64_t available = std::min(BytesLeft(stream), worst);
    const int64_t packed_start = Position(stream);
    const std::vector<uint8_t> packed = ReadBytes(stream, available);
    std::vector<uint8_t> unpacked(static_cast<size_t>(uint64_t(row_bytes) * uint64_t(h.Height)));
    TTargaRLEDecoder decoder(h.PixelSize);
    const uint8_t* in = packed.data();
    uint8_t* out = unpacked.data();
    decoder.Decode(in, out, int32_t(std::min<int64_t>(available, INT32_MAX)),
                   int32_t(std::min<int64_t>(pixels, INT32_MAX)));
    if (decoder.DecodedCount() != pixels) throw EReadError();
    const int64_t consumed = in - packed.data();
    Seek(stream, packed_start + consumed);
    // Whole packets for a further row, before the footer's areas, are data past the image.
    const int64_t rest = std::min(available, data_end - packed_start) - consumed;
    if (rest > 0) {
        std::vector<uint8_t> scratch(row_bytes);
        uint8_t* spare = scratch.data();
        decoder.Decode(in, spare, int32_t(std::min<int64_t>(rest, INT32_MAX)), h.Width);
        if (decoder.DecodedCount() == h.Width)
            warnings.push_back("the run-length data goes on past the last row of the " + SizeText(h) +
                               " image (the width or height may be damaged)");
    }
    for (int r = 0; r < h.Height; ++r) {
        std::memcpy(TargetRow(image, h, r), unpacked.data() + size_t(r) * row_bytes, row_bytes);
        rowDone(r);
    }
}

// Alpha bytes that are all zero carry no alpha: such files open opaque.
void OpaqueWithoutAlpha(TBitmap& image) {
    const int width = image.Width(), height = image.Height();
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = image.ScanLine(y);
        for (int x = 0; x < width; ++x)
            if (row[4 * x + 3] != 0) return;
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.ScanLine(y);
        for (int x = 0; x < width; ++x) row[4 * x + 3] = 255;
    }
}

}  // namespace

const TGraphicClass& TTargaGraphic::ClassInfo() {
    static const TGraphicClass info{
        "TTargaGraphic", []() -> std::unique_ptr<TBitmap> { return std::make_unique<TTargaGraphic>(); }};
    return info;
}

bool TTargaGraphic::CheckStreamHeader(std::istream& stream) {
    const int64_t start = Position(stream);
    if (BytesLeft(stream) <= 18) return false;
    uint8_t b[18];
    ReadExact(stream, b, sizeof b);
    Seek(stream, start);
    const TTargaHeader h = ParseHeader(b);
    // The map entry size only matters when a map is present.
    const bool map_ok = h.ColorMapType == 0 || (h.ColorMapType == 1 && ValidMapEntrySize(h.ColorMapEntrySize));
    const bool depth_ok = h.PixelSize == 8 || h.PixelSize == 15 || h.PixelSize == 16 ||
                          h.PixelSize == 24 || h.PixelSize == 32;
    return (h.ImageType < 4 || (h.ImageType >= 9 && h.ImageType <= 11)) && map_ok && depth_ok;
}

bool TTargaGraphic::ReadImageInfo(std::istream& stream) {
    TFormatGraphic::ReadImageInfo(stream);
    const TTargaHeader h = ReadHeader(stream);
    TImageProperties& p = image_properties_;
    p.Width = h.Width;
    p.Height = h.Height;
    p.BitsPerSample = 8;
    switch (h.PixelSize) {
        case 8:
            p.ColorScheme = (h.ImageType == 3 || h.ImageType == 11) ? ssGray : ssIndexed;
            p.SamplesPerPixel = 1;
            break;
        case 15:
        case 16:
            p.ColorScheme = ssRGB;
            p.BitsPerSample = 5;
            p.SamplesPerPixel = 3;
            break;
        case 24:
            p.ColorScheme = ssRGB;
            p.SamplesPerPixel = 3;
            break;
        case 32:
            p.ColorScheme = ssRGBA;
            p.SamplesPerPixel = 4;
            break;
        default: break;
    }
    p.BitsPerPixel = uint8_t(p.SamplesPerPixel * p.BitsPerSample);
    p.Compression = (h.ImageType >= 9 && h.ImageType <= 11) ? ctRLE : ctNone;
    return true;
}

void TTargaGraphic::LoadFromStream(std::istream& stream) {
    FreeImage();
    Warnings.clear();
    base_position_ = Position(stream);
    Progress(TProgressStage::psStarting, 0, "Preparing...");
    ReadImageInfo(stream);
    Seek(stream, base_position_);
    const TTargaHeader h = ReadHeader(stream);
    if (!Supported(h) || h.Width == 0 || h.Height == 0) InvalidTarga();
    Skip(stream, h.IDLength);

    TColorManager& cm = color_manager_;
    SetUpColorManager(cm, image_properties_);
    TBitmap image;  // decoded aside and committed at the end
    image.SetPixelFormat(cm.PixelFormatFor(1));
    TPalette palette;
    if (h.ColorMapType == 1) palette = ReadColorMap(stream, h, cm);
    if (h.ImageType == 3 || h.ImageType == 11) palette = cm.MakeGrayPalette(false);
    if (!palette.Entries.empty()) image.SetPalette(palette);

    CheckPixelDataFits(stream, h);
    image.SetSize(h.Width, h.Height);
    Progress(TProgressStage::psEnding, 0, "");
    Progress(TProgressStage::psStarting, 0, "Transfering...");
    const int height = h.Height;
    const TRowDone rowDone = [&](int r) { Progress(TProgressStage::psRunning, int(int64_t(r) * 100 / height), ""); };
    if (h.ImageType < 4)
        ReadRawRows(stream, h, image, rowDone, Warnings);
    else
        ReadPackedRows(stream, h, image, rowDone, Warnings);
    if (h.PixelSize == 32) OpaqueWithoutAlpha(image);
    TBitmap::Assign(image);
    Progress(TProgressStage::psEnding, 100, "");
}

void TTargaGraphic::SaveToStream(std::ostream& stream) {
    if (Empty()) return;
    if (Width() > 65535 || Height() > 65535) throw ERangeError();
    TBitmap image;
    image.Assign(*this);
    switch (image.PixelFormat()) {
        case TPixelFormat::pf1bit:
        case TPixelFormat::pf4bit: image.SetPixelFormat(TPixelFormat::pf8bit); break;
        // Targa words are 5-5-5; a 5-6-5 bitmap is written as 24 bits.
        case TPixelFormat::pf16bit: image.SetPixelFormat(TPixelFormat::pf24bit); break;
        default: break;
    }
    int pixel_bytes = 3;
    switch (image.PixelFormat()) {
        case TPixelFormat::pf8bit: pixel_bytes = 1; break;
        case TPixelFormat::pf15bit: pixel_bytes = 2; break;
        case TPixelFormat::pf32bit: pixel_bytes = 4; break;
        default: pixel_bytes = 3; break;
    }
    Progress(TProgressStage::psStarting, 0, "Preparing...");
    Progress(TProgressStage::psEnding, 0, "");
    uint8_t header[18] = {};
    const bool mapped = pixel_bytes == 1;
    header[1] = mapped ? 1 : 0;
    header[2] = uint8_t((mapped ? 1 : 2) + (Compressed ? 8 : 0));
    if (mapped) {
        header[5] = 0;  // 256 entries
        header[6] = 1;
        header[7] = 24;
    }
    header[12] = uint8_t(image.Width() & 0xFF);
    header[13] = uint8_t(image.Width() >> 8);
    header[14] = uint8_t(image.Height() & 0xFF);
    header[15] = uint8_t(image.Height() >> 8);
    header[16] = uint8_t(8 * pixel_bytes);
    header[17] = 0x28;
    WriteExact(stream, header, sizeof header);
    if (mapped) {
        uint8_t map[256 * 3] = {};
        const auto& entries = image.Palette().Entries;
        for (size_t i = 0; i < entries.size() && i < 256; ++i) {
            map[3 * i] = entries[i].Blue;
            map[3 * i + 1] = entries[i].Green;
            map[3 * i + 2] = entries[i].Red;
        }
        WriteExact(stream, map, sizeof map);
    }
    Progress(TProgressStage::psStarting, 0, "Transfering...");
    const size_t row_bytes = size_t(image.Width()) * size_t(pixel_bytes);
    TTargaRLEDecoder encoder(uint32_t(8 * pixel_bytes));
    std::vector<uint8_t> packed(Compressed ? row_bytes * 2 + 2 : 0);
    for (int y = 0; y < image.Height(); ++y) {
        if (Compressed) {
            uint32_t stored = 0;
            encoder.Encode(image.ScanLine(y), packed.data(), uint32_t(image.Width()), stored);
            WriteExact(stream, packed.data(), stored);
        } else {
            WriteExact(stream, image.ScanLine(y), row_bytes);
        }
        Progress(TProgressStage::psRunning, int(int64_t(y) * 100 / image.Height()), "");
    }
    Progress(TProgressStage::psEnding, 100, "");
}

}  // namespace jx
