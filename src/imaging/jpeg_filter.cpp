#include "imaging/jpeg_filter.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "imaging/errors.h"

namespace jx {

int32_t JpegFilterLimit(int32_t m) {
    const double l = std::log10((255.0 - m) / 256.0);
    const int32_t v = static_cast<int32_t>(std::trunc(l * l * 65536 + 4));
    return v * v;
}

bool JpegFilter(const TPixelImage& source, TPixelImage& out, const TJpegFilterSettings& s,
                const TRowCallback& rowDone) {
    if (s.BlockSize < 1 || s.BlockSize > 8)
        throw ImagingError("Search area must lie in 1..8, not " + std::to_string(s.BlockSize));
    if (s.MaxError < 1 || s.MaxError > 32)
        throw ImagingError("Filter strength must lie in 1..32, not " + std::to_string(s.MaxError));
    if (s.LumaShift > 5) throw ImagingError("Luma shift must lie in 0..5");
    const int32_t limit = JpegFilterLimit(s.MaxError);
    const int32_t w = source.Width(), h = source.Height(), b = s.BlockSize;
    out = source;
    std::vector<int32_t> dist(static_cast<size_t>((2 * b + 1) * (2 * b + 1)));
    for (int32_t y = 0; y < h; ++y) {
        const int32_t y0 = std::max(0, y - b), y1 = std::min(h - 1, y + b);
        for (int32_t x = 0; x < w; ++x) {
            const int32_t x0 = std::max(0, x - b), x1 = std::min(w - 1, x + b);
            const TPixelRec& p = source[y][x];
            int32_t largest = 0;
            size_t k = 0;
            for (int32_t qy = y0; qy <= y1; ++qy)
                for (int32_t qx = x0; qx <= x1; ++qx) {
                    const int32_t d = ColorDistance(p, source[qy][qx], s.LumaShift, s.HasAlpha);
                    dist[k++] = d;
                    if (d <= limit && d > largest) largest = d;
                }
            const int32_t use = s.Aggressive ? limit : largest / 2;
            uint64_t sum[7] = {};
            int64_t count = 0;
            k = 0;
            for (int32_t qy = y0; qy <= y1; ++qy)
                for (int32_t qx = x0; qx <= x1; ++qx) {
                    if (dist[k++] > use) continue;
                    const TPixelRec& q = source[qy][qx];
                    sum[0] += q.R, sum[1] += q.G, sum[2] += q.B, sum[3] += q.A;
                    sum[4] += q.c1, sum[5] += q.c2, sum[6] += q.c3;
                    ++count;
                }
            // The pixel itself always counts (its distance is 0), so count >= 1.
            uint8_t v[7];
            for (int i = 0; i < 7; ++i)
                v[i] = static_cast<uint8_t>(std::nearbyint(static_cast<double>(sum[i]) / static_cast<double>(count)));
            TPixelRec& o = out[y][x];
            o.R = v[0], o.G = v[1], o.B = v[2], o.A = v[3], o.c1 = v[4], o.c2 = v[5], o.c3 = v[6];
        }
        if (rowDone && !rowDone(y)) return false;
    }
    return true;
}

}  // namespace jx
