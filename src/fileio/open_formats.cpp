// The format classes that have their own readers, mapped to pixel records for OpenImage.
#include <cmath>
#include <type_traits>

#include "fileio/errors.h"
#include "fileio/open_decoders.h"
#include "fileio/open_image.h"
#include "fileio/psd_graphic.h"
#include "fileio/targa_graphic.h"
#include "fileio/tool_bitmaps.h"

namespace jx {

namespace {

// 32-bit bitmaps keep their alpha; every other format is made 24-bit and opaque.
TDecodedImage FromBitmap(TBitmap& bmp) {
    TDecodedImage out;
    const bool alpha = bmp.PixelFormat() == TPixelFormat::pf32bit;
    if (!alpha) bmp.SetPixelFormat(TPixelFormat::pf24bit);
    try {
        out.Pixels.Resize(bmp.Width(), bmp.Height());
    } catch (const ImagingError& e) {
        throw FileIoError(e.what());
    }
    const int step = alpha ? 4 : 3;
    for (int y = 0; y < bmp.Height(); ++y) {
        const uint8_t* s = bmp.ScanLine(y);
        TPixelRec* row = out.Pixels[y];
        for (int x = 0; x < bmp.Width(); ++x, s += step) {
            row[x].B = s[0];
            row[x].G = s[1];
            row[x].R = s[2];
            row[x].A = alpha ? s[3] : 255;
        }
    }
    out.HasAlpha = alpha;
    out.SourceBits = alpha ? 32 : 24;
    return out;
}

template <class Graphic>
TDecodedImage Load(Graphic& g, const std::string& fileName) {
    g.LoadFromFile(fileName);
    TDecodedImage out = FromBitmap(g);
    if constexpr (std::is_base_of_v<TFormatGraphic, Graphic>)
        out.Warnings.insert(out.Warnings.end(), g.Warnings.begin(), g.Warnings.end());
    return out;
}

}  // namespace

uint8_t UnblendFromWhite(uint8_t s, uint8_t a) {
    const double v = std::nearbyint((double(s) - 255.0) * (255.0 / a) + 255.0);
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

TDecodedImage DecodeTgaFile(const std::string& fileName) {
    TTargaGraphic g;
    return Load(g, fileName);
}

TDecodedImage DecodePsdFile(const std::string& fileName) {
    TPSDGraphic g;
    TDecodedImage out = Load(g, fileName);
    if (out.HasAlpha)
        for (TPixelRec& p : out.Pixels.Vector()) {
            if (p.A == 0) {
                p.R = p.G = p.B = 0;
                continue;
            }
            p.R = UnblendFromWhite(p.R, p.A);
            p.G = UnblendFromWhite(p.G, p.A);
            p.B = UnblendFromWhite(p.B, p.A);
        }
    return out;
}

TDecodedImage DecodeJpegFile(const std::string& fileName) {
    TJPEGBitmap g;
    TDecodedImage out = Load(g, fileName);
    if (!g.Warning.empty()) out.Warnings.push_back(g.Warning);
    // JPEG has no alpha, whatever the reader's buffer layout.
    out.HasAlpha = false;
    for (TPixelRec& p : out.Pixels.Vector()) p.A = 255;
    return out;
}

TDecodedImage DecodeWebpFile(const std::string& fileName) { return DecodeWebpFile(fileName, TOpenTools{}); }

TDecodedImage DecodeWebpFile(const std::string& fileName, const TOpenTools& tools) {
    TWEBPBitmap g(tools.SessionFolder);
    g.Cancel = tools.Cancel;
    g.Pump = tools.Pump;
    return Load(g, fileName);
}

}  // namespace jx
