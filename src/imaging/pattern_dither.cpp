// "Pattern (PS)" and "Bayer (Ordered)": each pixel decided from its own values and its place in
// the tiled index matrix; no error reaches the neighbours.
#include <cmath>

#include "imaging/remap_pass.h"
#include "imaging/sort.h"

namespace jx {
namespace {

inline int32_t RoundProduct(int32_t e, float f) { return static_cast<int32_t>(std::nearbyint(double(e) * double(f))); }

// The entry a pixel p takes when the dithered candidate chose e. The threshold methods push alpha as
// far as the other channels, so next to a translucent entry an opaque pixel could land on a fully
// transparent one (a hole), or a transparent pixel on an opaque one: such a pixel takes its own
// nearest entry instead.
inline TPixelRec& KeepOpacity(TRemapPass& pass, const TPixelRec& p, TPixelRec& e) {
    if ((p.A == 255 && e.A == 0) || (p.A == 0 && e.A == 255)) return pass.NearestEntry(p);
    return e;
}

inline int32_t MatrixValue(const TRemapPass& pass, int32_t x, int32_t y) {
    const std::vector<int32_t>& m = pass.state.BayerMatrices[static_cast<size_t>(pass.settings.PatternSize)];
    return m[static_cast<size_t>((x % pass.side) * pass.side + y % pass.side)];
}

}  // namespace

TPixelRec PatternDitherPixel(TRemapPass& pass, const TPixelRec& p, int32_t x, int32_t y) {
    if (!pass.listBuilt || !SameRgba(p, pass.owner)) {
        const float s = static_cast<float>(pass.state.DitherAmount / (pass.side * 0.5));
        int32_t eA = 0, e1 = 0, e2 = 0, e3 = 0;
        for (int32_t i = 0; i < pass.cells; ++i) {
            TPixelRec c = p;
            c.A = ClampByte(p.A + RoundProduct(eA, s));
            c.c1 = ClampByte(p.c1 + RoundProduct(e1, s));
            c.c2 = pass.ClampC2(p.c2 + RoundProduct(e2, s));
            c.c3 = pass.ClampC3(p.c3 + RoundProduct(e3, s));
            if (pass.settings.Delicate) {
                c.c2 = static_cast<uint8_t>((7u * p.c2 + c.c2) / 8u);
                c.c3 = static_cast<uint8_t>((7u * p.c3 + c.c3) / 8u);
            }
            const TPixelRec chosen = pass.Count(KeepOpacity(pass, p, pass.NearestEntry(c)));
            pass.candidates[static_cast<size_t>(i)] = chosen;
            eA += p.A - chosen.A;
            e1 += p.c1 - chosen.c1;
            e2 += p.c2 - chosen.c2;
            e3 += p.c3 - chosen.c3;
        }
        SortPixels(pass.candidates.data(), pass.cells, SortByLuminance);
        pass.owner = p;
        pass.listBuilt = true;
    }
    if (pass.Bypassed(x, y)) return pass.Nearest(p, true);
    return pass.candidates[static_cast<size_t>(MatrixValue(pass, x, y))];
}

TPixelRec BayerDitherPixel(TRemapPass& pass, const TPixelRec& p, int32_t x, int32_t y) {
    const TPixelRec q = pass.Nearest(p, false);
    const int32_t n = pass.cells;
    const int32_t t = MatrixValue(pass, x, y);
    const float o = static_cast<float>((8.0 * (t - n / 2)) / (n + 1) * pass.state.DitherAmount);
    TPixelRec c = q;
    c.c1 = ClampByte(p.c1 + RoundProduct(std::abs(p.c1 - q.c1), o));
    c.c2 = pass.ClampC2(p.c2 + RoundProduct(std::abs(p.c2 - q.c2), o));
    c.c3 = pass.ClampC3(p.c3 + RoundProduct(std::abs(p.c3 - q.c3), o));
    if (pass.state.HasAlpha) c.A = ClampByte(p.A + RoundProduct(std::abs(p.A - q.A), o));
    const TPixelRec r = pass.Count(KeepOpacity(pass, p, pass.NearestEntry(c)));
    if (pass.Bypassed(x, y)) return pass.Nearest(p, true);
    return r;
}

}  // namespace jx
