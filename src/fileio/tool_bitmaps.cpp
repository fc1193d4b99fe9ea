#include "fileio/tool_bitmaps.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>

#include "fileio/exchange_files.h"
#include "fileio/file_bytes.h"
#include "fileio/jpeg_decode.h"
#include "fileio/png_chain.h"
#include "fileio/png_probe.h"
#include "fileio/save_image.h"
#include "fileio/tool_commands.h"
#include "platform/file_size.h"
#include "platform/process.h"
#include "platform/temp_name.h"

namespace fs = std::filesystem;

namespace jx {
namespace {

std::vector<uint8_t> ReadStream(std::istream& stream) {
    std::vector<uint8_t> bytes;
    char buf[65536];
    while (stream.read(buf, sizeof buf) || stream.gcount() > 0) {
        bytes.insert(bytes.end(), buf, buf + stream.gcount());
        if (bytes.size() > static_cast<std::size_t>(kMaxBitmapBytes)) throw EReadError("Image file is too large");
    }
    return bytes;
}

void WriteStream(std::ostream& stream, const std::vector<uint8_t>& bytes) {
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!stream) throw FileIoError("Cannot write the encoded image");
}

// The pixels as 8-bit RGBA rows; alpha is the fourth byte of a 32-bit bitmap, else opaque.
std::vector<uint8_t> ToRgba(const TBitmap& b) {
    std::vector<uint8_t> rgba(static_cast<std::size_t>(b.Width()) * b.Height() * 4);
    const bool alpha = b.PixelFormat() == TPixelFormat::pf32bit;
    std::size_t i = 0;
    for (int y = 0; y < b.Height(); ++y) {
        for (int x = 0; x < b.Width(); ++x, i += 4) {
            TBitmap::TBgra p = b.Pixel(x, y);
            rgba[i] = p.R;
            rgba[i + 1] = p.G;
            rgba[i + 2] = p.B;
            rgba[i + 3] = alpha ? p.A : 255;
        }
    }
    return rgba;
}

// A bottom-up 24-bit BMP of the bitmap's colours.
std::vector<uint8_t> EncodeBmp24(const TBitmap& b) {
    TBitmap copy = b;
    copy.SetPixelFormat(TPixelFormat::pf24bit);
    return EncodeBmp(copy);
}

// Decodes into a 24-bit bitmap, refusing sizes the bitmap cannot hold before any pixel memory is
// taken.
class TJpegBitmapSink : public TJpegSink {
public:
    TJpegBitmapSink(size_t fileBytes, TBitmap& target) : fileBytes_(fileBytes), target_(target) {}

    unsigned Header(uint32_t width, uint32_t height, bool fitsData, std::string& error) override {
        if (!fitsData || width > kMaxBitmapSide || height > kMaxBitmapSide) {
            error = "file is truncated (" + std::to_string(fileBytes_) + " bytes cannot hold " + std::to_string(width) +
                    "x" + std::to_string(height) + " pixels)";
            return 0;
        }
        return 1;
    }
    bool Start(uint32_t width, uint32_t height, std::string& error) override {
        if (width > kMaxBitmapSide || height > kMaxBitmapSide || uint64_t{width} * 3 * height > uint64_t(kMaxBitmapBytes)) {
            error = "Image size is out of range.";
            return false;
        }
        target_.SetPixelFormat(TPixelFormat::pf24bit);
        target_.SetSize(static_cast<int>(width), static_cast<int>(height));
        width_ = static_cast<int>(width);
        return true;
    }
    void Row(uint32_t y, const TJpegLine& line) override {
        uint8_t* out = target_.Bits() + size_t{y} * target_.Stride();
        for (int x = 0; x < width_; ++x) line.Bgr(size_t(x), out + x * 3);
    }

private:
    size_t fileBytes_;
    TBitmap& target_;
    int width_ = 0;
};

std::unique_ptr<TBitmap> MakeWebp() { return std::make_unique<TWEBPBitmap>(); }
std::unique_ptr<TBitmap> MakeJpeg() { return std::make_unique<TJPEGBitmap>(); }

}  // namespace

const TGraphicClass kWebpGraphicClass{"TWEBPBitmap", &MakeWebp};
const TGraphicClass kJpegGraphicClass{"TJPEGBitmap", &MakeJpeg};

void RegisterToolFormats(TPictureRegistry& registry) {
    registry.Register("webp", "WEBP Image", &kWebpGraphicClass);
    registry.Register("jpg", "JPEG Image", &kJpegGraphicClass);
}

void UnregisterToolFormats(TPictureRegistry& registry) {
    registry.Unregister(&kJpegGraphicClass);
    registry.Unregister(&kWebpGraphicClass);
}

TToolBitmap::TToolBitmap(std::string sessionFolder) : folder_(std::move(sessionFolder)) {}

std::string TToolBitmap::ToolPath(const std::string& name) const {
    return folder_.empty() ? name : FolderPrefix(folder_) + name;
}

bool TToolBitmap::RunTool(const std::vector<std::string>& argv, std::string& problem, int timeLimitMs) const {
    RunOptions options;
    options.cancel = Cancel;
    options.pump = Pump;
    options.timeLimitMs = timeLimitMs;
    RunResult r = RunAndWait(argv, options);
    if (r.Succeeded()) return true;
    problem = r.Describe(fs::path(argv[0]).filename().string());
    return false;
}

// ---- WebP ----

TWEBPBitmap::TWEBPBitmap(std::string sessionFolder)
    : TToolBitmap(std::move(sessionFolder)), Encoder(ToolPath("cwebp")), Decoder(ToolPath("dwebp")) {}

void TWEBPBitmap::LoadFromStream(std::istream& stream) {
    if (Decoder.empty()) throw EWEBPError("Decoder is not specified");
    std::vector<uint8_t> file = ReadStream(stream);
    ScratchFolder scratch(Folder());
    TempStem t(scratch.Path());
    ExchangeFilesGuard cleanup({t.With(".webp"), t.With(".png")});
    WriteFileBytes(t.With(".webp"), file);
    std::string problem;
    if (!RunTool(DwebpCommand(Decoder, t.Stem()).argv, problem, DecodeTimeLimitMs))
        throw EWEBPError("Decode error: " + problem);
    const std::string tool = fs::path(Decoder).filename().string();
    if (FileSizeOf(t.With(".png")) <= 0) throw EWEBPError("Decode error: " + tool + " wrote no image");
    std::vector<uint8_t> png = ReadFileBytes(t.With(".png"));
    std::optional<RgbaImage> image = DecodePngRgba(png);
    if (!image) throw EWEBPError("Decode error: " + tool + " wrote a damaged PNG");
    if (image->width > kMaxBitmapSide || image->height > kMaxBitmapSide)
        throw EWEBPError("Decode error: the image is larger than " + std::to_string(kMaxBitmapSide) + " pixels a side");
    // Colour type sits in IHDR, byte 25 of the file.
    const bool rgba = png[25] == 6;
    TBitmap decoded;
    decoded.SetPixelFormat(rgba ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    decoded.SetSize(static_cast<int>(image->width), static_cast<int>(image->height));
    const int bpp = rgba ? 4 : 3;
    for (uint32_t y = 0; y < image->height; ++y) {
        uint8_t* out = decoded.ScanLine(static_cast<int>(y));
        const uint8_t* in = image->rgba.data() + std::size_t{y} * image->width * 4;
        for (uint32_t x = 0; x < image->width; ++x, out += bpp, in += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            if (rgba) out[3] = in[3];
        }
    }
    TBitmap::Assign(decoded);
}

void TWEBPBitmap::SaveToStream(std::ostream& stream) {
    if (Encoder.empty()) throw EWEBPError("Encoder is not specified");
    if (Empty()) throw EWEBPError("There is no image to save");
    WebpEncodeSettings s;
    s.preset = Preset;
    s.quality = Quality;
    s.alphaQuality = AlphaQuality;
    s.filterStrength = FilterStrength;
    s.spatialNoiseShaping = SpatialNoiseShaping;
    s.autoFilter = AutoFilter != 0;
    s.lossless = Lossless != 0;
    s.alphaFilter = AlphaFilter;
    s.alphaCleanup = AlphaCleanup != 0;
    s.method = Method;
    try {
        CwebpCommand(Encoder, s, {});  // the settings are checked before any file is made
    } catch (const FileIoError& e) {
        throw EWEBPError(e.what());
    }
    ScratchFolder scratch(Folder());
    TempStem t(scratch.Path());
    ExchangeFilesGuard cleanup({t.With(".png"), t.With(".webp")});
    const bool alpha = PixelFormat() == TPixelFormat::pf32bit;
    WriteFileBytes(t.With(".png"), EncodeJxPng(static_cast<uint32_t>(Width()), static_cast<uint32_t>(Height()), alpha,
                                               ToRgba(*this)));
    std::string problem;
    if (!RunTool(CwebpCommand(Encoder, s, t.Stem()).argv, problem)) throw EWEBPError("Encode error: " + problem);
    if (FileSizeOf(t.With(".webp")) <= 0) throw EWEBPError("Encode error: no WebP file was written");
    std::vector<uint8_t> encoded = ReadFileBytes(t.With(".webp"));
    std::exception_ptr reloadError;
    try {
        LoadFromFile(t.With(".webp"));
    } catch (...) {
        reloadError = std::current_exception();
    }
    WriteStream(stream, encoded);
    EncodedSize = static_cast<int32_t>(encoded.size());
    if (reloadError) std::rethrow_exception(reloadError);
}

// ---- JPEG ----

TJPEGBitmap::TJPEGBitmap(std::string sessionFolder) : TToolBitmap(std::move(sessionFolder)), Encoder(ToolPath("cjpeg")) {}

void TJPEGBitmap::LoadFromStream(std::istream& stream) {
    Warning.clear();
    std::vector<uint8_t> file = ReadStream(stream);
    TBitmap decoded;
    std::string error, warning;
    TJpegBitmapSink sink(file.size(), decoded);
    if (file.empty() || !DecodeJpeg(file, sink, error, &warning)) {
        throw EJPEGError("Cannot load JPEG image" + (error.empty() ? std::string() : ": " + error));
    }
    TBitmap::Assign(decoded);
    Warning = warning;
}

void TJPEGBitmap::SaveToStream(std::ostream& stream) {
    if (Encoder.empty()) throw EJPEGError("Encoder is not specified");
    if (Empty()) throw EJPEGError("There is no image to save");
    JpegEncodeSettings s;
    s.quality = Quality;
    s.chromaQuality = ChromaQuality;
    s.subsampling = Subsampling;
    s.optimize = Optimize != 0;
    s.progressive = Progressive != 0;
    s.quantTable = QuantTable;
    s.rgb = RGB != 0;
    s.smooth = Smooth;
    s.arithmetic = Arithmetic != 0;
    s.trellis = Trellis != 0;
    s.grayscale = Grayscale != 0;
    std::string tables;
    if (NeedsQuantTableFile(s.quantTable)) {
        try {
            tables = QuantTableFileText(s.quantTable);
        } catch (const FileIoError& e) {
            throw EJPEGError(e.what());
        }
    }
    ScratchFolder scratch(Folder());
    TempStem t(scratch.Path());
    ExchangeFilesGuard cleanup({t.With(".bmp"), t.With(".jpg"), t.With(".qt")});
    WriteFileBytes(t.With(".bmp"), EncodeBmp24(*this));
    if (!tables.empty()) WriteFileBytes(t.With(".qt"), std::vector<uint8_t>(tables.begin(), tables.end()));
    ToolCommand cmd = CjpegCommand(Encoder, s, t.Stem(), t.With(".qt"));
    // The settings keep what the command builder decided (RGB output clears the chroma settings).
    Subsampling = s.subsampling;
    ChromaQuality = s.chromaQuality;
    std::string problem;
    if (!RunTool(cmd.argv, problem)) throw EJPEGError("Encode error: " + problem);
    if (FileSizeOf(t.With(".jpg")) <= 0) throw EJPEGError("Encode error: no JPEG file was written");
    std::vector<uint8_t> encoded = ReadFileBytes(t.With(".jpg"));
    std::exception_ptr reloadError;
    try {
        LoadFromFile(t.With(".jpg"));
    } catch (...) {
        reloadError = std::current_exception();
    }
    WriteStream(stream, encoded);
    EncodedSize = static_cast<int32_t>(encoded.size());
    if (reloadError) std::rethrow_exception(reloadError);
}

}  // namespace jx
