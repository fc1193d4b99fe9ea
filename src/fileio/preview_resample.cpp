#include "fileio/preview_resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fileio/graphic_color.h"

namespace jx {

namespace {

struct TContributor {
    int Pixel;
    int32_t Weight;
};
using TContributorList = std::vector<std::vector<TContributor>>;

float Sinc(float x) {
    if (x == 0.0f) return 1.0f;
    const float px = float(M_PI) * x;
    return std::sin(px) / px;
}

// Mirrors an index at the borders, then keeps it inside even when the kernel
// reaches further than the source is long.
int MirrorIndex(int64_t j, int n) {
    if (j < 0) j = -j;
    if (j >= n) j = 2 * int64_t(n) - j - 1;
    return int(std::clamp<int64_t>(j, 0, n - 1));
}

TContributorList Contributors(int out_length, int in_length, double scale,
                              TResamplingFilter filter, float radius) {
    TContributorList list(static_cast<size_t>(out_length));
    const bool reducing = scale < 1.0;
    const double width = reducing ? radius / scale : radius;
    for (int i = 0; i < out_length; ++i) {
        const double centre = i / scale;
        const int64_t left = int64_t(std::floor(centre - width));
        const int64_t right = int64_t(std::ceil(centre + width));
        auto& entries = list[size_t(i)];
        for (int64_t j = left; j <= right; ++j) {
            float value;
            if (reducing)
                value = FilterValue(filter, float((centre - double(j)) * scale)) * float(scale);
            else
                value = FilterValue(filter, float(centre - double(j)));
            const int32_t weight = int32_t(std::nearbyint(value * 256.0f));
            if (weight == 0) continue;
            entries.push_back({MirrorIndex(j, in_length), weight});
        }
    }
    return list;
}

uint8_t Resolve(int64_t sum, int64_t weights) {
    const int64_t v = weights == 0 ? sum / 256 : sum / weights;
    return ClampByte(int(std::clamp<int64_t>(v, -1, 256)));
}

}  // namespace

float DefaultFilterRadius(TResamplingFilter filter) {
    switch (filter) {
        case sfBox: return 0.5f;
        case sfTriangle:
        case sfHermite: return 1.0f;
        case sfBell: return 1.5f;
        case sfSpline: return 2.0f;
        case sfLanczos3: return 3.0f;
        case sfMitchell: return 2.0f;
    }
    return 1.0f;
}

float FilterValue(TResamplingFilter filter, float x) {
    const float ax = std::fabs(x);
    switch (filter) {
        case sfBox: return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
        case sfTriangle: return ax < 1.0f ? 1.0f - ax : 0.0f;
        case sfHermite: return ax < 1.0f ? (2.0f * ax - 3.0f) * ax * ax + 1.0f : 0.0f;
        case sfBell:
            if (ax < 0.5f) return 0.75f - x * x;
            if (ax < 1.5f) return 0.5f * (ax - 1.5f) * (ax - 1.5f);
            return 0.0f;
        case sfSpline:
            if (ax < 1.0f) return 0.5f * ax * ax * ax - x * x + 2.0f / 3.0f;
            if (ax < 2.0f) return (2.0f - ax) * (2.0f - ax) * (2.0f - ax) / 6.0f;
            return 0.0f;
        case sfLanczos3: return ax < 3.0f ? Sinc(x) * Sinc(x / 3.0f) : 0.0f;
        case sfMitchell:
            if (ax < 1.0f) return (7.0f * ax * ax * ax - 12.0f * x * x + 16.0f / 3.0f) / 6.0f;
            if (ax < 2.0f)
                return (-7.0f / 3.0f * ax * ax * ax + 12.0f * x * x - 20.0f * ax + 32.0f / 3.0f) /
                       6.0f;
            return 0.0f;
    }
    return 0.0f;
}

void ResampleBitmap(int new_width, int new_height, TResamplingFilter filter, TBitmap& target,
                    TBitmap& source, float radius) {
    const int sw = source.Width(), sh = source.Height();
    if (new_width <= 0 || new_height <= 0 || sw <= 0 || sh <= 0) return;
    if (filter < sfBox || filter > sfMitchell) filter = sfLanczos3;
    if (!(radius > 0.0f)) radius = DefaultFilterRadius(filter);
    source.SetPixelFormat(TPixelFormat::pf24bit);
    const int dw = new_width, dh = new_height;
    // A one-pixel side on either end has no spacing to match: scale by the sizes.
    const double xs = (sw == 1 || dw == 1) ? double(dw) / sw : double(dw - 1) / (sw - 1);
    const double ys = (sh == 1 || dh == 1) ? double(dh) / sh : double(dh - 1) / (sh - 1);

    TBitmap work;
    work.SetPixelFormat(TPixelFormat::pf24bit);
    work.SetSize(dw, sh);
    std::vector<int32_t> red, green, blue;

    const TContributorList columns = Contributors(dw, sw, xs, filter, radius);
    red.resize(size_t(sw));
    green.resize(size_t(sw));
    blue.resize(size_t(sw));
    for (int y = 0; y < sh; ++y) {
        const uint8_t* row = source.ScanLine(y);
        for (int x = 0; x < sw; ++x) {
            blue[size_t(x)] = row[3 * x];
            green[size_t(x)] = row[3 * x + 1];
            red[size_t(x)] = row[3 * x + 2];
        }
        uint8_t* out = work.ScanLine(y);
        for (int x = 0; x < dw; ++x) {
            int64_t r = 0, g = 0, b = 0, weights = 0;
            for (const TContributor& c : columns[size_t(x)]) {
                r += int64_t(c.Weight) * red[size_t(c.Pixel)];
                g += int64_t(c.Weight) * green[size_t(c.Pixel)];
                b += int64_t(c.Weight) * blue[size_t(c.Pixel)];
                weights += c.Weight;
            }
            out[3 * x] = Resolve(b, weights);
            out[3 * x + 1] = Resolve(g, weights);
            out[3 * x + 2] = Resolve(r, weights);
        }
    }

    TBitmap result;
    result.SetPixelFormat(TPixelFormat::pf24bit);
    result.SetSize(dw, dh);
    const TContributorList rows = Contributors(dh, sh, ys, filter, radius);
    red.assign(size_t(sh), 0);
    green.assign(size_t(sh), 0);
    blue.assign(size_t(sh), 0);
    for (int x = 0; x < dw; ++x) {
        for (int y = 0; y < sh; ++y) {
            const uint8_t* p = work.ScanLine(y) + 3 * x;
            blue[size_t(y)] = p[0];
            green[size_t(y)] = p[1];
            red[size_t(y)] = p[2];
        }
        for (int y = 0; y < dh; ++y) {
            int64_t r = 0, g = 0, b = 0, weights = 0;
            for (const TContributor& c : rows[size_t(y)]) {
                r += int64_t(c.Weight) * red[size_t(c.Pixel)];
                g += int64_t(c.Weight) * green[size_t(c.Pixel)];
                b += int64_t(c.Weight) * blue[size_t(c.Pixel)];
                weights += c.Weight;
            }
            uint8_t* p = result.ScanLine(y) + 3 * x;
            p[0] = Resolve(b, weights);
            p[1] = Resolve(g, weights);
            p[2] = Resolve(r, weights);
        }
    }
    target.FreeImage();
    target.Assign(result);
}

}  // namespace jx
