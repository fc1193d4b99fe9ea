#include "fileio/lossy_preview.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "fileio/errors.h"
#include "fileio/file_bytes.h"
#include "fileio/png_probe.h"
#include "fileio/replace_file.h"
#include "fileio/tool_bitmaps.h"
#include "fileio/tool_commands.h"

namespace jx {
namespace {

void RemoveFile(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// The encoder's pixels, as it reloaded them, into WorkingImage.
void TakeDecoded(EngineState& state, const TBitmap& b, bool keepAlpha) {
    if (b.Width() != state.ImageWidth() || b.Height() != state.ImageHeight())
        throw FileIoError("The encoder returned a picture of another size.");
    for (int32_t y = 0; y < b.Height(); ++y)
        for (int32_t x = 0; x < b.Width(); ++x) {
            const TBitmap::TBgra c = b.Pixel(x, y);
            TPixelRec& w = state.WorkingImage[y][x];
            w.R = c.R;
            w.G = c.G;
            w.B = c.B;
            w.A = keepAlpha ? c.A : 255;
        }
}

}  // namespace

void FollowJpegQuality(TLossySettings& s, int32_t quality) {
    s.JpegQuality = quality;
    s.ChromaQuality = quality / 2;
}

uint8_t MatteBlend(uint8_t src, uint8_t alpha, uint8_t matte) {
    const double f = alpha / 255.0;
    return static_cast<uint8_t>(std::nearbyint(src * f + (1.0 - f) * matte));
}

std::string LossyTestFile(const std::string& sessionFolder, bool webp) {
    return FolderPrefix(sessionFolder) + (webp ? "test.webp" : "test.jpg");
}

int32_t RenderLossy(EngineState& state, const TLossySettings& s, const TLossyJob& job) {
    if (!state.HasImage()) throw FileIoError("There is no image to encode.");
    if (job.TestFile.empty()) throw FileIoError("There is no test file to encode into.");
    // A failed render must not leave the previous result for Save to copy.
    RemoveFile(job.TestFile);
    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    std::ostringstream encoded;
    if (!job.Webp) {
        TJPEGBitmap b(job.SessionFolder);
        b.Cancel = job.Cancel;
        b.Pump = job.Pump;
        b.SetPixelFormat(TPixelFormat::pf24bit);
        b.SetSize(w, h);
        const uint8_t mr = uint8_t(state.BackgroundColor), mg = uint8_t(state.BackgroundColor >> 8),
                      mb = uint8_t(state.BackgroundColor >> 16);
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = b.ScanLine(y);
            for (int32_t x = 0; x < w; ++x, row += 3) {
                const TPixelRec& p = state.SourceImage[y][x];
                const uint8_t a = state.HasAlpha ? p.A : 255;
                TPixelRec& o = state.WorkingImage[y][x];
                o.R = row[2] = MatteBlend(p.R, a, mr);
                o.G = row[1] = MatteBlend(p.G, a, mg);
                o.B = row[0] = MatteBlend(p.B, a, mb);
                o.A = 255;
            }
        }
        b.Quality = uint8_t(std::clamp(s.JpegQuality, 1, 100));
        if (s.Chroma == 1) {
            b.Subsampling = uint8_t(std::clamp(s.Subsampling, 0, 2));
            b.ChromaQuality = 0;
        } else {
            b.Subsampling = 0;
            b.ChromaQuality = uint8_t(std::clamp(s.ChromaQuality, 1, int32_t(b.Quality)));
        }
        b.Progressive = s.Progressive ? 1 : 0;
        b.RGB = s.Space == 0 ? 1 : 0;
        b.Grayscale = state.IsGrey ? 1 : 0;
        b.QuantTable = uint8_t(std::clamp(s.QuantTable, 0, 5));
        b.SaveToStream(encoded);
        TakeDecoded(state, b, false);
    } else {
        TWEBPBitmap b(job.SessionFolder);
        b.Cancel = job.Cancel;
        b.Pump = job.Pump;
        b.SetPixelFormat(state.HasAlpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
        b.SetSize(w, h);
        const int bpp = state.HasAlpha ? 4 : 3;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = b.ScanLine(y);
            for (int32_t x = 0; x < w; ++x, row += bpp) {
                const TPixelRec& p = state.SourceImage[y][x];
                row[0] = p.B;
                row[1] = p.G;
                row[2] = p.R;
                if (state.HasAlpha) row[3] = p.A;
            }
        }
        b.Quality = uint8_t(std::clamp(s.WebpQuality, 1, 100));
        b.AlphaQuality = uint8_t(std::clamp(s.AlphaQuality, 1, 100));
        b.Preset = s.Preset;
        b.SaveToStream(encoded);
        TakeDecoded(state, b, state.HasAlpha && b.PixelFormat() == TPixelFormat::pf32bit);
    }
    const std::string bytes = encoded.str();
    WriteFileBytes(job.TestFile, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    return static_cast<int32_t>(bytes.size());
}

void SaveLossyTestFile(const std::string& testFile, const std::string& destination) {
    std::error_code ec;
    if (testFile.empty() || !std::filesystem::is_regular_file(testFile, ec))
        throw FileIoError("Nothing was written: there is no encoded picture to save (\"" + destination + "\").");
    const std::vector<uint8_t> bytes = ReadFileBytes(testFile);
    ReplaceFileWithBytes(destination, bytes);
}

}  // namespace jx
