#include "imaging/alpha_convert.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "imaging/errors.h"
#include "imaging/remap.h"

namespace jx {
namespace {

void DiffuseAlpha(TPixelImage& out, int32_t method, double amount) {
    const TDiffusionKernel& kernel = DiffusionKernels()[static_cast<size_t>(method)];
    const int32_t w = out.Width(), h = out.Height();
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            TPixelRec& p = out[y][x];
            const int32_t old = p.A;
            const int32_t now = old >= 128 ? 255 : 0;
            p.A = static_cast<uint8_t>(now);
            const int32_t e = old - now;
            if (e == 0) continue;
            for (const TDiffusionKernelEntry& k : kernel.entries) {
                const int32_t nx = x + k.dx, ny = y + k.dy;
                if (nx < 0 || nx >= w || ny >= h) continue;
                TPixelRec& n = out[ny][nx];
                const double v = std::nearbyint(e * amount * k.k / kernel.divisor + n.A);
                n.A = ClampByte(static_cast<int32_t>(v));
            }
        }
    }
}

void BayerAlpha(const TPixelImage& source, TPixelImage& out, double amount, const std::vector<int32_t>& m) {
    if (m.size() != 256) throw ImagingError("The 16x16 dither matrix is missing");
    for (int32_t y = 0; y < out.Height(); ++y)
        for (int32_t x = 0; x < out.Width(); ++x) {
            const int32_t a = source[y][x].A;
            const double t = m[static_cast<size_t>((x % 16) * 16 + y % 16)] * amount;
            out[y][x].A = (a != 0 && a >= t) ? 255 : 0;
        }
}

}  // namespace

int32_t AlphaBarPosition(const TAlphaConvertSettings& s) {
    if (s.Method == 0) return s.Threshold;
    return static_cast<int32_t>(std::nearbyint(std::clamp(s.Amount, 0.0, 1.0) * 255));
}

TPixelImage ConvertAlpha(const TPixelImage& source, const TAlphaConvertSettings& s,
                         const std::vector<int32_t>& bayer16) {
    if (s.Method < 0 || s.Method >= kAlphaMethodCount)
        throw ImagingError("Unknown alpha dithering method " + std::to_string(s.Method));
    if (s.Threshold < 0 || s.Threshold > 255)
        throw ImagingError("Alpha threshold must lie in 0..255, not " + std::to_string(s.Threshold));
    const double amount = std::clamp(s.Amount, 0.0, 1.0);
    const int32_t bar = AlphaBarPosition(s);
    const double mr = s.MatteColor & 0xFF, mg = (s.MatteColor >> 8) & 0xFF, mb = (s.MatteColor >> 16) & 0xFF;

    TPixelImage out = source;
    const TPixelRec* in = source.Data();
    TPixelRec* o = out.Data();
    for (int64_t i = 0, n = source.Count(); i < n; ++i) {
        o[i].A = in[i].A < bar ? 0 : 255;
        if (s.Matte) {
            // Over 255, so an opaque pixel keeps its colour exactly.
            const double x = in[i].A / 255.0;
            o[i].R = ClampByte(static_cast<int32_t>(std::nearbyint(in[i].R * x + (1 - x) * mr)));
            o[i].G = ClampByte(static_cast<int32_t>(std::nearbyint(in[i].G * x + (1 - x) * mg)));
            o[i].B = ClampByte(static_cast<int32_t>(std::nearbyint(in[i].B * x + (1 - x) * mb)));
        }
    }
    if (s.Method == 0) return out;
    for (int64_t i = 0, n = source.Count(); i < n; ++i) o[i].A = in[i].A;
    if (s.Method == static_cast<int32_t>(TAlphaMethod::Bayer))
        BayerAlpha(source, out, amount, bayer16);
    else
        DiffuseAlpha(out, s.Method, amount);
    return out;
}

void RefreshSourcePixels(const EngineState& state, TPixelImage& image, std::optional<bool> hasAlpha) {
    const bool alpha = hasAlpha.value_or(state.HasAlpha);
    TPixelRec* px = image.Data();
    for (int64_t i = 0, n = image.Count(); i < n; ++i) {
        if (px[i].A == 0) {
            px[i].R = px[i].G = px[i].B = 0;
            px[i].Weight = 0;
        }
        state.ColorConverter(px[i], alpha, state.AlphaBackground);
    }
}

}  // namespace jx
