#include "fileio/picture_preview.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "fileio/bitmap.h"
#include "fileio/errors.h"
#include "fileio/exchange_files.h"
#include "fileio/icon_file.h"
#include "fileio/file_bytes.h"
#include "fileio/jpeg_decode.h"
#include "fileio/open_decoders.h"
#include "fileio/open_image.h"
#include "fileio/png_probe.h"
#include "fileio/preview_resample.h"
#include "fileio/tool_commands.h"
#include "platform/file_size.h"
#include "platform/process.h"
#include "platform/temp_name.h"
#include "platform/byte_order.h"
#include "pngenc/png_image.h"

namespace jx {
namespace {

// Short names: the header sniffers read many fields.
constexpr auto Le16 = LittleEndian16;
constexpr auto Le32 = LittleEndian32;
constexpr auto Be32 = BigEndian32;
uint32_t Le24(const uint8_t* p) { return uint32_t(Le16(p)) | uint32_t(p[2]) << 16; }

std::vector<uint8_t> ReadHead(const std::string& fileName, size_t bytes) {
    std::vector<uint8_t> head(bytes);
    FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) return {};
    head.resize(std::fread(head.data(), 1, bytes, f));
    std::fclose(f);
    return head;
}

// Every n-th pixel so that neither side passes maxSide.
int32_t StepFor(int32_t width, int32_t height, int32_t maxSide) {
    const int32_t side = std::max(width, height);
    return maxSide <= 0 ? 1 : std::max(1, (side + maxSide - 1) / maxSide);
}

void OpaqueWhenAllClear(TPreviewImage& p) {
    for (size_t i = 3; i < p.Bgra.size(); i += 4)
        if (p.Bgra[i] != 0) return;
    for (size_t i = 3; i < p.Bgra.size(); i += 4) p.Bgra[i] = 255;
}

TPreviewImage FromDecoded(const TDecodedImage& d) {
    TPreviewImage p;
    p.Width = p.FileWidth = d.Pixels.Width();
    p.Height = p.FileHeight = d.Pixels.Height();
    p.Bgra.resize(size_t(p.Width) * size_t(p.Height) * 4);
    size_t i = 0;
    for (int32_t y = 0; y < p.Height; ++y)
        for (int32_t x = 0; x < p.Width; ++x, i += 4) {
            const TPixelRec& s = d.Pixels[y][x];
            p.Bgra[i] = s.B;
            p.Bgra[i + 1] = s.G;
            p.Bgra[i + 2] = s.R;
            p.Bgra[i + 3] = d.HasAlpha ? s.A : 255;
        }
    return p;
}

// ---- PNG, every step-th row and column ----

class TPngPreview : public PngRowReader {
public:
    TPngPreview(int32_t maxSide, TPreviewImage& out) : maxSide_(maxSide), out_(out) {}

    void Start(uint32_t width, uint32_t height, bool interlaced) override {
        // Adam7 needs the whole image in memory before any row is complete.
        if (interlaced) throw PngError("an interlaced PNG this large has no preview");
        step_ = StepFor(int32_t(width), int32_t(height), maxSide_);
        out_.Width = int32_t((width + uint32_t(step_) - 1) / uint32_t(step_));
        out_.Height = int32_t((height + uint32_t(step_) - 1) / uint32_t(step_));
        out_.FileWidth = int32_t(width);
        out_.FileHeight = int32_t(height);
        out_.Bgra.assign(size_t(out_.Width) * size_t(out_.Height) * 4, 0);
    }
    void Row(uint32_t y, const uint8_t* bgra) override {
        if (y % uint32_t(step_) != 0) return;
        uint8_t* o = out_.Bgra.data() + size_t(y / uint32_t(step_)) * size_t(out_.Width) * 4;
        for (int32_t x = 0; x < out_.Width; ++x) std::memcpy(o + size_t(x) * 4, bgra + size_t(x) * size_t(step_) * 4, 4);
    }

private:
    int32_t maxSide_;
    TPreviewImage& out_;
    int32_t step_ = 1;
};

bool DecodePngScaled(const std::vector<uint8_t>& file, int32_t maxSide, TPreviewImage& out, std::string& error) {
    TPngPreview preview(maxSide, out);
    PngDecodeOptions options;
    options.Rows = &preview;
    options.ReadRowFilters = false;
    // A damaged ancillary chunk does not spoil the picture.
    std::vector<std::string> dropped;
    options.DroppedChunks = &dropped;
    try {
        PngImage::Decode(file, options);
        return true;
    } catch (const PngError& e) {
        error = e.what();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    return false;
}

// ---- JPEG with libjpeg's own scaling ----

// Scaled by libjpeg (1/2, 1/4, 1/8), then, past 1/8, every further n-th pixel of the scaled rows.
class TJpegPreview : public TJpegSink {
public:
    TJpegPreview(int32_t maxSide, TPreviewImage& out) : maxSide_(maxSide), out_(out) {}

    unsigned Header(uint32_t width, uint32_t height, bool fitsData, std::string& error) override {
        if (!fitsData) {
            error = "file is truncated";
            return 0;
        }
        out_.FileWidth = int32_t(width);
        out_.FileHeight = int32_t(height);
        const int32_t step = StepFor(out_.FileWidth, out_.FileHeight, maxSide_);
        return step >= 8 ? 8 : step >= 4 ? 4 : step >= 2 ? 2 : 1;
    }
    bool Start(uint32_t width, uint32_t height, std::string&) override {
        const int32_t dw = int32_t(width), dh = int32_t(height);
        sub_ = StepFor(dw, dh, maxSide_);
        out_.Width = (dw + sub_ - 1) / sub_;
        out_.Height = (dh + sub_ - 1) / sub_;
        out_.Bgra.assign(size_t(out_.Width) * size_t(out_.Height) * 4, 255);
        return true;
    }
    void Row(uint32_t y, const TJpegLine& line) override {
        if (int32_t(y) % sub_ != 0) return;
        uint8_t* o = out_.Bgra.data() + size_t(int32_t(y) / sub_) * size_t(out_.Width) * 4;
        for (int32_t x = 0; x < out_.Width; ++x, o += 4) line.Bgr(size_t(x) * size_t(sub_), o);
    }

private:
    int32_t maxSide_;
    TPreviewImage& out_;
    int32_t sub_ = 1;
};

bool DecodeJpegScaled(const std::vector<uint8_t>& file, int32_t maxSide, TPreviewImage& out, std::string& error) {
    TJpegPreview sink(maxSide, out);
    return DecodeJpeg(file, sink, error);
}

// ---- WebP through dwebp, bounded in size and time ----

TPreviewImage DecodeWebpPreview(const std::string& fileName, int32_t fw, int32_t fh, const TPreviewLimits& limits) {
    const int32_t step = StepFor(fw, fh, limits.MaxSide);
    ScratchFolder scratch(limits.SessionFolder);
    TempStem t(scratch.Path());
    const std::string png = t.With(".png");
    const ExchangeFilesGuard gone({png});
    const std::string decoder =
        limits.SessionFolder.empty() ? std::string("dwebp") : FolderPrefix(limits.SessionFolder) + "dwebp";
    std::vector<std::string> argv{decoder, fileName, "-o", png};
    if (step > 1) {
        argv.insert(argv.end(), {"-resize", std::to_string(std::max(1, fw / step)), std::to_string(std::max(1, fh / step))});
    }
    RunOptions options;
    options.cancel = limits.Cancel;
    options.pump = limits.Pump;
    options.timeLimitMs = limits.ToolTimeLimitMs;
    const RunResult r = RunAndWait(argv, options);
    if (!r.Succeeded() || FileSizeOf(png) <= 0) throw FileIoError("Decode error: " + r.Describe("dwebp"));
    TPreviewImage p;
    std::string error;
    const std::vector<uint8_t> bytes = ReadFileBytes(png);
    if (!DecodePngScaled(bytes, limits.MaxSide, p, error)) throw FileIoError("Decode error: " + error);
    p.FileWidth = fw;
    p.FileHeight = fh;
    return p;
}

bool WebpSize(const std::vector<uint8_t>& h, int32_t& w, int32_t& ht) {
    if (h.size() < 30 || std::memcmp(h.data(), "RIFF", 4) != 0 || std::memcmp(h.data() + 8, "WEBP", 4) != 0) return false;
    const uint8_t* c = h.data() + 12;
    if (std::memcmp(c, "VP8 ", 4) == 0) {
        w = int32_t(Le16(h.data() + 26) & 0x3FFF);
        ht = int32_t(Le16(h.data() + 28) & 0x3FFF);
    } else if (std::memcmp(c, "VP8L", 4) == 0) {
        const uint32_t bits = Le32(h.data() + 21);
        w = int32_t((bits & 0x3FFF) + 1);
        ht = int32_t(((bits >> 14) & 0x3FFF) + 1);
    } else if (std::memcmp(c, "VP8X", 4) == 0) {
        w = int32_t(Le24(h.data() + 24) + 1);
        ht = int32_t(Le24(h.data() + 27) + 1);
    } else {
        return false;
    }
    return w > 0 && ht > 0;
}

bool JpegSize(const std::string& fileName, int32_t& w, int32_t& h) {
    // The frame header lies within the first markers; 64 KB covers any normal file's head.
    const std::vector<uint8_t> d = ReadHead(fileName, 1 << 16);
    if (d.size() < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
    size_t i = 2;
    while (i + 9 < d.size()) {
        if (d[i] != 0xFF) return false;
        const uint8_t m = d[i + 1];
        if (m == 0xFF) {
            ++i;
            continue;
        }
        const size_t len = size_t(d[i + 2]) << 8 | d[i + 3];
        if ((m >= 0xC0 && m <= 0xCF) && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            h = int32_t(d[i + 5]) << 8 | d[i + 6];
            w = int32_t(d[i + 7]) << 8 | d[i + 8];
            return w > 0 && h > 0;
        }
        i += 2 + len;
    }
    return false;
}

// ---- icons ----

void CheckPixels(int64_t w, int64_t h, const TPreviewLimits& limits) {
    if (w <= 0 || h <= 0 || w * h > limits.MaxFullDecodePixels) throw FileIoError("The picture is too large to preview.");
}

}  // namespace

TSaveOptionPanels SaveOptionPanels(int32_t filterIndex) {
    TSaveOptionPanels p;
    p.ForcedRgb = p.Optimization = filterIndex == 1;
    p.Lossy = filterIndex == 5;
    return p;
}

bool ProbePictureSize(const std::string& fileName, int32_t& width, int32_t& height) {
    const std::string ext = LowerExtension(fileName);
    const std::vector<uint8_t> h = ReadHead(fileName, 64);
    width = height = 0;
    if (ext == ".png") {
        if (h.size() < 24 || h[1] != 'P' || h[2] != 'N' || h[3] != 'G') return false;
        width = int32_t(Be32(&h[16]));
        height = int32_t(Be32(&h[20]));
    } else if (ext == ".gif") {
        if (h.size() < 10 || std::memcmp(h.data(), "GIF8", 4) != 0) return false;
        width = int32_t(Le16(&h[6]));
        height = int32_t(Le16(&h[8]));
    } else if (ext == ".bmp") {
        if (h.size() < 26 || h[0] != 'B' || h[1] != 'M') return false;
        if (Le32(&h[14]) == 12) {
            width = int32_t(Le16(&h[18]));
            height = int32_t(Le16(&h[20]));
        } else {
            width = int32_t(Le32(&h[18]));
            // Negated in 64 bits: INT32_MIN has no 32-bit counterpart and no picture that tall exists.
            const int64_t signedHeight = int32_t(Le32(&h[22]));
            const int64_t rows = signedHeight < 0 ? -signedHeight : signedHeight;
            if (rows > INT32_MAX) return false;
            height = int32_t(rows);
        }
    } else if (ext == ".tga" || ext == ".vst" || ext == ".icb" || ext == ".vda" || ext == ".win") {
        if (h.size() < 18) return false;
        width = int32_t(Le16(&h[12]));
        height = int32_t(Le16(&h[14]));
    } else if (ext == ".psd" || ext == ".pdd") {
        if (h.size() < 26 || std::memcmp(h.data(), "8BPS", 4) != 0) return false;
        height = int32_t(Be32(&h[14]));
        width = int32_t(Be32(&h[18]));
    } else if (ext == ".webp") {
        return WebpSize(h, width, height);
    } else if (ext == ".jpg" || ext == ".jpe" || ext == ".jpeg") {
        return JpegSize(fileName, width, height);
    } else {
        return false;
    }
    return width > 0 && height > 0;
}

TPreviewImage LoadPreview(const std::string& fileName, const TPreviewLimits& limits) {
    const std::string ext = LowerExtension(fileName);
    TPreviewImage p;
    const int64_t bytes = FileSizeOf(fileName);
    if (bytes < 0 || bytes > limits.MaxFileBytes) throw FileIoError("The file is too large to preview.");
    if (ext == ".ico" || ext == ".cur") return DecodeIconPreview(ReadFileBytes(fileName), limits, fileName);
    if (ext == ".dib") return p;
    int32_t w = 0, h = 0;
    const bool known = ProbePictureSize(fileName, w, h);
    const bool large = known && std::max(w, h) > limits.MaxSide;
    std::string error;
    if (ext == ".png") {
        if (!known) throw FileIoError("Not a PNG file.");
        if (large) {
            if (!DecodePngScaled(ReadFileBytes(fileName), limits.MaxSide, p, error)) throw FileIoError(error);
        } else {
            p = FromDecoded(DecodePngFile(fileName));
        }
    } else if (ext == ".jpg" || ext == ".jpe" || ext == ".jpeg") {
        if (!DecodeJpegScaled(ReadFileBytes(fileName), limits.MaxSide, p, error)) throw FileIoError(error);
    } else if (ext == ".webp") {
        if (!known) throw FileIoError("Not a WebP file.");
        p = DecodeWebpPreview(fileName, w, h, limits);
    } else if (ext == ".gif" || ext == ".bmp" || ext == ".psd" || ext == ".pdd" || ext == ".tga" || ext == ".vst" ||
               ext == ".icb" || ext == ".vda" || ext == ".win") {
        if (!known) throw FileIoError("Unknown picture header.");
        CheckPixels(w, h, limits);
        TDecodedImage d = ext == ".gif"   ? DecodeGifFile(fileName)
                          : ext == ".bmp" ? DecodeBmpFile(fileName)
                          : (ext == ".psd" || ext == ".pdd") ? DecodePsdFile(fileName)
                                                             : DecodeTgaFile(fileName);
        p = FromDecoded(d);
    } else {
        return p;
    }
    OpaqueWhenAllClear(p);
    return p;
}

TPreviewImage DecodeIconPreview(std::span<const uint8_t> file, const TPreviewLimits& limits, const std::string& fileName) {
    // The frames as the icon dialog reads them: a file it refuses has no preview either.
    const TIconDirectory directory = ReadIconDirectory(file, fileName);
    int32_t cw = 0, ch = 0, cb = 0;
    const TIconEntry* choice = nullptr;
    for (const TIconEntry& e : directory.Entries) {
        if (!e.Damage.empty()) continue;
        const TIconFrameInfo& f = e.Info;
        if (f.Width > cw || f.Height > ch || f.Bits > cb) {
            cw = f.Width;
            ch = f.Height;
            cb = f.Bits;
            choice = &e;
        }
    }
    if (!choice) throw FileIoError("The icon holds no readable frame.");
    const TIconFrameInfo& f = choice->Info;
    TPreviewImage p;
    if (f.IsPng) {
        const auto d = file.subspan(size_t(choice->Offset), size_t(choice->Size));
        std::vector<uint8_t> png(d.begin(), d.end());
        std::string error;
        if (!DecodePngScaled(png, limits.MaxSide, p, error)) throw FileIoError(error);
    } else {
        CheckPixels(f.Width, f.Height, limits);
        // The frame file that opening the frame reads, and its mask side file's bytes.
        TDecodedImage dec = DecodeBmpBytes(BitmapFrameFile(*choice, file));
        if (f.MaskSize != 0) {
            ApplyMaskSideFile(file.subspan(size_t(choice->Offset + choice->Size) - size_t(f.MaskSize), size_t(f.MaskSize)),
                              dec.Pixels);
            dec.HasAlpha = true;
        } else if (f.Bits == 32) {
            dec.HasAlpha = true;
        }
        p = FromDecoded(dec);
    }
    OpaqueWhenAllClear(p);
    return p;
}

void PreviewScaledSize(int32_t width, int32_t height, int32_t boxWidth, int32_t& newWidth, int32_t& newHeight) {
    const double scale = width <= 0 ? 1.0 : std::min(1.0, double(boxWidth) / double(width));
    newWidth = std::max(1, int32_t(std::nearbyint(width * scale)));
    newHeight = std::max(1, int32_t(std::nearbyint(height * scale)));
}

TPreviewImage RenderPreview(const TPreviewImage& preview, int32_t boxWidth, int32_t cellSize, const TPixelRec grid[2]) {
    if (preview.Empty()) return {};
    int32_t nw = 0, nh = 0;
    PreviewScaledSize(preview.Width, preview.Height, boxWidth, nw, nh);
    TPreviewImage scaled = preview;
    OpaqueWhenAllClear(scaled);
    if (nw < preview.Width && nh < preview.Height) {
        TBitmap colour, alpha, colourOut, alphaOut;
        colour.SetPixelFormat(TPixelFormat::pf24bit);
        colour.SetSize(preview.Width, preview.Height);
        alpha.SetPixelFormat(TPixelFormat::pf24bit);
        alpha.SetSize(preview.Width, preview.Height);
        for (int32_t y = 0; y < preview.Height; ++y) {
            uint8_t* c = colour.ScanLine(y);
            uint8_t* a = alpha.ScanLine(y);
            const uint8_t* s = scaled.Bgra.data() + size_t(y) * size_t(preview.Width) * 4;
            for (int32_t x = 0; x < preview.Width; ++x, s += 4, c += 3, a += 3) {
                c[0] = s[0];
                c[1] = s[1];
                c[2] = s[2];
                a[0] = a[1] = a[2] = s[3];
            }
        }
        ResampleBitmap(nw, nh, sfLanczos3, colourOut, colour);
        ResampleBitmap(nw, nh, sfLanczos3, alphaOut, alpha);
        scaled.Width = nw;
        scaled.Height = nh;
        scaled.Bgra.assign(size_t(nw) * size_t(nh) * 4, 0);
        for (int32_t y = 0; y < nh; ++y) {
            const uint8_t* c = colourOut.ScanLine(y);
            const uint8_t* a = alphaOut.ScanLine(y);
            uint8_t* o = scaled.Bgra.data() + size_t(y) * size_t(nw) * 4;
            for (int32_t x = 0; x < nw; ++x, o += 4) {
                o[0] = c[x * 3];
                o[1] = c[x * 3 + 1];
                o[2] = c[x * 3 + 2];
                o[3] = a[x * 3];
            }
        }
    }
    const int32_t cell = std::max(1, cellSize);
    for (int32_t y = 0; y < scaled.Height; ++y) {
        uint8_t* o = scaled.Bgra.data() + size_t(y) * size_t(scaled.Width) * 4;
        for (int32_t x = 0; x < scaled.Width; ++x, o += 4) {
            const TPixelRec& bg = grid[((x / cell) ^ (y / cell)) & 1];
            const double a = o[3] / 255.0;
            o[0] = uint8_t(std::nearbyint(o[0] * a + (1 - a) * bg.B));
            o[1] = uint8_t(std::nearbyint(o[1] * a + (1 - a) * bg.G));
            o[2] = uint8_t(std::nearbyint(o[2] * a + (1 - a) * bg.R));
            o[3] = 255;
        }
    }
    return scaled;
}

}  // namespace jx
