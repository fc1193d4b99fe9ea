#include "imaging/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "imaging/effects.h"
#include "imaging/errors.h"

namespace jx {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr int kShift = 14;
constexpr int32_t kOne = 1 << kShift;  // the weights of one target sample sum to exactly this

struct FilterInfo {
    const char* name;
    double radius;
};
constexpr FilterInfo kFilters[kResampleFilterCount] = {
    {"Nearest", 0},  {"Box", 0.5},    {"Bilinear", 1}, {"Hann", 1},      {"Hamming", 1},  {"Hermite", 1},
    {"Bell", 1.5},   {"Catrom", 2},   {"Bicubic", 2},  {"Spline2", 2},   {"Mitchell", 2}, {"Gaussian", 2},
    {"Spline3", 3},  {"SinC3", 3},    {"Lanczos3", 3}, {"Blackman3", 3},
};

void CheckFilter(int filter) {
    if (filter < 0 || filter >= kResampleFilterCount)
        throw ImagingError("Unknown resampling filter: " + std::to_string(filter));
}

// Rounds by the weight sum, which is exactly kOne, so a flat image keeps its value.
inline uint8_t Finish(int32_t acc) {
    const int32_t v = (acc + kOne / 2) >> kShift;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The in-source part of each window, ready for the passes. Weights stay below 2 * kOne in magnitude
// (see BuildContributions), so they fit 16 bits and the compiler can use its widening multiplies.
struct Plan {
    std::vector<int> lo, count, offset;
    std::vector<int16_t> weights;
};

Plan MakePlan(int targetLength, int sourceLength, int filter, float scale) {
    const TContributions c = BuildContributions(targetLength, sourceLength, filter, scale);
    Plan p;
    p.lo.resize(static_cast<size_t>(targetLength));
    p.count.resize(static_cast<size_t>(targetLength));
    p.offset.resize(static_cast<size_t>(targetLength));
    for (int x = 0; x < targetLength; ++x) {
        const int first = c.first[static_cast<size_t>(x)];
        const int lo = std::max(first, 0), hi = std::min(first + c.windowWidth, sourceLength);
        p.lo[static_cast<size_t>(x)] = lo;
        p.count[static_cast<size_t>(x)] = hi - lo;
        p.offset[static_cast<size_t>(x)] = static_cast<int>(p.weights.size());
        for (int i = lo; i < hi; ++i) p.weights.push_back(static_cast<int16_t>(c.Weight(x, i - first)));
    }
    return p;
}

// Rows go through the horizontal pass in strips of kStrip, stored column by column, unless a strip
// would take more memory than this.
constexpr size_t kMaxStripBytes = size_t{32} << 20;

// C channels read from pixels of SP bytes and written to pixels of DP bytes; a fourth byte the source
// lacks is written as 255. In a strip each tap adds one short contiguous run of samples, the same
// shape as the vertical pass.
template <int C, int SP, int DP>
void HorizontalPass(const TDibBuffer& src, TDibBuffer& dst, const Plan& plan) {
    constexpr int kStrip = 8;
    constexpr int L = kStrip * C;
    const int width = dst.Width(), srcWidth = src.Width(), height = dst.AbsHeight();
    if (static_cast<size_t>(srcWidth) * L * sizeof(int16_t) > kMaxStripBytes) {
        for (int y = 0; y < height; ++y) {
            const uint8_t* in = src.Line(y);
            uint8_t* out = dst.Line(y);
            for (int x = 0; x < width; ++x) {
                const int16_t* w = plan.weights.data() + plan.offset[static_cast<size_t>(x)];
                const uint8_t* p = in + static_cast<ptrdiff_t>(plan.lo[static_cast<size_t>(x)]) * SP;
                int32_t acc[C] = {};
                for (int j = 0; j < plan.count[static_cast<size_t>(x)]; ++j)
                    for (int ch = 0; ch < C; ++ch) acc[ch] += w[j] * p[j * SP + ch];
                for (int ch = 0; ch < C; ++ch) out[x * DP + ch] = Finish(acc[ch]);
                if constexpr (DP == 4 && C == 3) out[x * DP + 3] = 255;
            }
        }
        return;
    }
    std::vector<int16_t> strip(static_cast<size_t>(srcWidth) * L);
    for (int y0 = 0; y0 < height; y0 += kStrip) {
        const int rows = std::min(kStrip, height - y0);
        if (rows < kStrip) std::fill(strip.begin(), strip.end(), int16_t{0});
        for (int r = 0; r < rows; ++r) {
            const uint8_t* in = src.Line(y0 + r);
            int16_t* col = strip.data() + r * C;
            for (int i = 0; i < srcWidth; ++i)
                for (int ch = 0; ch < C; ++ch) col[static_cast<size_t>(i) * L + ch] = in[i * SP + ch];
        }
        for (int x = 0; x < width; ++x) {
            const int16_t* w = plan.weights.data() + plan.offset[static_cast<size_t>(x)];
            const int16_t* p = strip.data() + static_cast<size_t>(plan.lo[static_cast<size_t>(x)]) * L;
            const int n = plan.count[static_cast<size_t>(x)];
            int32_t acc[L] = {};
            for (int j = 0; j < n; ++j, p += L) {
                const int32_t wj = w[j];
                for (int l = 0; l < L; ++l) acc[l] += wj * p[l];
            }
            for (int r = 0; r < rows; ++r) {
                uint8_t* out = dst.Line(y0 + r) + x * DP;
                for (int ch = 0; ch < C; ++ch) out[ch] = Finish(acc[r * C + ch]);
                if constexpr (DP == 4 && C == 3) out[3] = 255;
            }
        }
    }
}

template <int C, int SP, int DP>
void VerticalPass(const TDibBuffer& src, TDibBuffer& dst, const Plan& plan) {
    const int width = dst.Width();
    const int n = width * C;
    std::vector<int32_t> accRow(static_cast<size_t>(n));
    std::vector<uint8_t> packed(SP == C ? 0 : static_cast<size_t>(n));
    int32_t* acc = accRow.data();
    // Rows whose pixels carry a byte the pass skips are packed first.
    auto samples = [&](int row) -> const uint8_t* {
        const uint8_t* in = src.Line(row);
        if constexpr (SP == C) {
            return in;
        } else {
            for (int x = 0; x < width; ++x)
                for (int ch = 0; ch < C; ++ch) packed[static_cast<size_t>(x * C + ch)] = in[x * SP + ch];
            return packed.data();
        }
    };
    for (int y = 0; y < dst.AbsHeight(); ++y) {
        const int16_t* w = plan.weights.data() + plan.offset[static_cast<size_t>(y)];
        const int lo = plan.lo[static_cast<size_t>(y)];
        const int count = plan.count[static_cast<size_t>(y)];
        std::fill(accRow.begin(), accRow.end(), 0);
        int j = 0;
        if constexpr (SP == C) {
            for (; j + 1 < count; j += 2) {
                const uint8_t* r0 = src.Line(lo + j);
                const uint8_t* r1 = src.Line(lo + j + 1);
                const int32_t w0 = w[j], w1 = w[j + 1];
                for (int i = 0; i < n; ++i)
                    acc[i] += w0 * static_cast<int16_t>(r0[i]) + w1 * static_cast<int16_t>(r1[i]);
            }
        }
        for (; j < count; ++j) {
            const uint8_t* r0 = samples(lo + j);
            const int32_t w0 = w[j];
            for (int i = 0; i < n; ++i) acc[i] += w0 * static_cast<int16_t>(r0[i]);
        }
        uint8_t* out = dst.Line(y);
        if constexpr (DP == C) {
            for (int i = 0; i < n; ++i) out[i] = Finish(acc[i]);
        } else {
            for (int x = 0; x < width; ++x) {
                for (int ch = 0; ch < C; ++ch) out[x * DP + ch] = Finish(acc[x * C + ch]);
                if constexpr (DP == 4 && C == 3) out[x * DP + 3] = 255;
            }
        }
    }
}

using PassFn = void (*)(const TDibBuffer&, TDibBuffer&, const Plan&);

// The routines of one pair of byte layouts: the horizontal pass, the vertical pass that follows it
// (over the intermediate image), the vertical pass straight from the source, and the intermediate depth.
struct Passes {
    PassFn horizontal, verticalAfter, verticalOnly;
    int intermediateBpp;
};

// Two passes: source into an intermediate of destination width and source height, then into the
// destination; one pass when a side keeps its length (sizes, not the rounded scales, decide, so that
// every target pixel is written).
void RunPasses(const Passes& passes, const TDibBuffer& src, TDibBuffer& dst, int filter, TDibBuffer* scratch) {
    const int sw = src.Width(), sh = src.AbsHeight(), dw = dst.Width(), dh = dst.AbsHeight();
    const float scaleX = static_cast<float>(static_cast<double>(dw) / sw);
    const float scaleY = static_cast<float>(static_cast<double>(dh) / sh);
    const bool horizontal = dw != sw, vertical = dh != sh;
    if (horizontal && !vertical) {
        passes.horizontal(src, dst, MakePlan(dw, sw, filter, scaleX));
        return;
    }
    if (!horizontal) {
        passes.verticalOnly(src, dst, MakePlan(dh, sh, filter, scaleY));
        return;
    }
    TDibBuffer own, view;
    TDibBuffer* inter = &own;
    if (scratch != nullptr && scratch != &src && scratch != &dst) {
        scratch->GrowToFit(dw, -sh, 0, nullptr, passes.intermediateBpp);
        if (view.MakeSubView(*scratch, 0, 0, dw, sh) && view.Width() == dw && view.AbsHeight() == sh &&
            !MemoryOverlaps(view, src) && !MemoryOverlaps(view, dst))
            inter = &view;
    }
    if (inter == &own) own.SetSize(dw, -sh, passes.intermediateBpp);
    passes.horizontal(src, *inter, MakePlan(dw, sw, filter, scaleX));
    passes.verticalAfter(*inter, dst, MakePlan(dh, sh, filter, scaleY));
}

// 8 bits on both sides: one sample (a grey level or an index) per pixel.
void Resample8(const TDibBuffer& src, TDibBuffer& dst, int filter, TDibBuffer* scratch) {
    RunPasses({HorizontalPass<1, 1, 1>, VerticalPass<1, 1, 1>, VerticalPass<1, 1, 1>, 8}, src, dst, filter,
              scratch);
}

void Resample24(const TDibBuffer& src, TDibBuffer& dst, int filter, TDibBuffer* scratch) {
    RunPasses({HorizontalPass<3, 3, 3>, VerticalPass<3, 3, 3>, VerticalPass<3, 3, 3>, 24}, src, dst, filter,
              scratch);
}

// 32 bits on either side: alpha is resampled from 32 bits, 255 when the source has 24 bits, and dropped
// for a 24-bit destination.
void Resample32(const TDibBuffer& src, TDibBuffer& dst, int filter, TDibBuffer* scratch) {
    const int sb = src.BitsPerPixel(), db = dst.BitsPerPixel();
    if (sb == 32 && db == 32)
        RunPasses({HorizontalPass<4, 4, 4>, VerticalPass<4, 4, 4>, VerticalPass<4, 4, 4>, 32}, src, dst, filter,
                  scratch);
    else if (db == 32)
        RunPasses({HorizontalPass<3, 3, 4>, VerticalPass<4, 4, 4>, VerticalPass<3, 3, 4>, 32}, src, dst, filter,
                  scratch);
    else
        RunPasses({HorizontalPass<3, 4, 3>, VerticalPass<3, 3, 3>, VerticalPass<3, 4, 3>, 24}, src, dst, filter,
                  scratch);
}

// Any other pair: 16-bit pixels widen through Table16To24 and narrow through Table24To16, 8-bit pixels
// widen through their colour table.
void ResampleGeneric(TDibBuffer& source, TDibBuffer& destination, int filter, TDibBuffer* scratch) {
    TDibBuffer wideSource;
    const TDibBuffer* src = &source;
    if (source.BitsPerPixel() == 16) {
        const uint8_t* table = source.Table16To24();
        wideSource.SetSize(source.Width(), -source.AbsHeight(), 24);
        for (int y = 0; y < source.AbsHeight(); ++y) {
            const uint8_t* in = source.Line(y);
            uint8_t* out = wideSource.Line(y);
            for (int x = 0; x < source.Width(); ++x) {
                uint16_t p;
                std::memcpy(&p, in + 2 * x, 2);
                std::memcpy(out + 3 * x, table + 3 * p, 3);
            }
        }
        src = &wideSource;
    } else if (source.BitsPerPixel() == 8) {
        wideSource.SetSize(source.Width(), -source.AbsHeight(), 24);
        source.DrawTo(wideSource, 0, 0);
        src = &wideSource;
    }
    if (destination.BitsPerPixel() != 16) {
        if (destination.BitsPerPixel() == 32 || src->BitsPerPixel() == 32)
            Resample32(*src, destination, filter, scratch);
        else
            Resample24(*src, destination, filter, scratch);
        return;
    }
    TDibBuffer wide;
    wide.SetSize(destination.Width(), -destination.AbsHeight(), 24);
    if (src->BitsPerPixel() == 32)
        Resample32(*src, wide, filter, scratch);
    else
        Resample24(*src, wide, filter, scratch);
    const TTable24To16& t = destination.Table24To16();
    for (int y = 0; y < destination.AbsHeight(); ++y) {
        const uint8_t* in = wide.Line(y);
        uint8_t* out = destination.Line(y);
        for (int x = 0; x < destination.Width(); ++x) {
            const uint16_t p =
                static_cast<uint16_t>(t.blue[in[3 * x]] + t.green[in[3 * x + 1]] + t.red[in[3 * x + 2]]);
            std::memcpy(out + 2 * x, &p, 2);
        }
    }
}

}  // namespace

const char* ResampleFilterName(int filter) {
    CheckFilter(filter);
    return kFilters[filter].name;
}

double ResampleFilterRadius(int filter) {
    CheckFilter(filter);
    return kFilters[filter].radius;
}

double Sinc(double x) {
    if (x == 0) return 1;
    const double px = kPi * x;
    return std::sin(px) / px;
}

double ResampleKernel(int filter, double x) {
    CheckFilter(filter);
    x = std::fabs(x);
    const double R = kFilters[filter].radius;
    switch (filter) {
        case 0: return 1;
        case 1: return x <= R ? 1 : 0;
        case 2: return x < R ? 1 - x : 0;
        case 3: return x < R ? 0.5 + 0.5 * std::cos(kPi * x) : 0;
        case 4: return x < R ? 0.54 + 0.46 * std::cos(kPi * x) : 0;
        case 5: return x < R ? x * x * (2 * x - 3) + 1 : 0;
        case 6:
            if (x < 0.5) return 0.75 - x * x;
            if (x < 1.5) return 0.5 * (x - 1.5) * (x - 1.5);
            return 0;
        case 7:
            if (x < 1) return 0.5 * (x * x * (3 * x - 5) + 2);
            if (x < 2) return 0.5 * (x * (x * (5 - x) - 8) + 4);
            return 0;
        case 8:
            if (x < 1) return x * x * x / 2 - x * x + 2.0 / 3.0;
            if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
            return 0;
        case 9: {
            if (x < 1) return x * (x * (x - 1.8) - 0.2) + 1;
            const double l = x - 1;
            if (x < 2) return l * (l * (-l / 3 + 0.8) - 7.0 / 15.0);
            return 0;
        }
        case 10:
            if (x < 1) return x * x * (7 * x / 6 - 2) + 8.0 / 9.0;
            if (x < 2) return x * (x * (-7 * x / 18 + 2) - 10.0 / 3.0) + 16.0 / 9.0;
            return 0;
        case 11: return x < R ? (1.5957691216057307 / R) * std::exp(-8 * (x / R) * (x / R)) : 0;
        case 12: {
            if (x < 1) return x * (x * (13 * x / 11 - 453.0 / 209.0) - 3.0 / 209.0) + 1;
            if (x < 2) {
                const double l = x - 1;
                return l * (l * (-6 * l / 11 + 270.0 / 209.0) - 156.0 / 209.0);
            }
            if (x < 3) {
                const double u = x - 2;
                return u * (u * (u / 11 - 45.0 / 209.0) + 26.0 / 209.0);
            }
            return 0;
        }
        case 13: return x < R ? Sinc(x) : 0;
        case 14: return x < R ? Sinc(x) * Sinc(x / R) : 0;
        default:
            return x < R ? (0.42 + 0.5 * std::cos(kPi * x / R) + 0.08 * std::cos(2 * kPi * x / R)) * Sinc(x) : 0;
    }
}

int KernelWindowWidth(double scale, double radius) {
    const double f = std::min(scale, 1.0);
    const double half = std::trunc(radius / f);
    if (!(f > 0) || half > (INT32_MAX - 1) / 2) throw ImagingError("Resampling window out of range");
    return 2 * static_cast<int>(half) + 1;
}

TContributions BuildContributions(int targetLength, int sourceLength, int filter, float scale) {
    CheckFilter(filter);
    if (targetLength < 0 || sourceLength < 1 || !(scale > 0))
        throw ImagingError("Invalid resampling lengths " + std::to_string(sourceLength) + " -> " +
                           std::to_string(targetLength));
    const double s = scale;
    const double f = std::min(s, 1.0);
    const double R = kFilters[filter].radius;
    TContributions c;
    c.windowWidth = KernelWindowWidth(s, R);
    const int w = c.windowWidth;
    if (static_cast<double>(targetLength) * w > double{1 << 27}) throw ImagingError("Resampling window too large");
    c.first.resize(static_cast<size_t>(targetLength));
    c.sums.resize(static_cast<size_t>(targetLength));
    c.weights.assign(static_cast<size_t>(targetLength) * static_cast<size_t>(w), 0);
    std::vector<double> fw(static_cast<size_t>(w)), err(static_cast<size_t>(w));
    std::vector<int> order;
    for (int x = 0; x < targetLength; ++x) {
        const double t = x / s - (1 - 1 / s) / 2;
        int64_t first = w < 2 ? static_cast<int64_t>(std::nearbyint(t)) : Ceiling(t - R / f);
        // A window that misses the source entirely (rounding at the far edges) is moved onto it.
        first = std::clamp<int64_t>(first, 1 - int64_t{w}, sourceLength - 1);
        double sum = 0;
        int inside = 0;
        for (int j = 0; j < w; ++j) {
            const int64_t i = first + j;
            double v = 0;
            if (i >= 0 && i < sourceLength) {
                // Downscaling stretches the kernel by 1/f and scales it by f to keep its area.
                v = f * ResampleKernel(filter, f * std::fabs(t - static_cast<double>(i)));
                sum += v;
                ++inside;
            }
            fw[static_cast<size_t>(j)] = v;
        }
        // Normalising by division keeps positive kernels positive, so nothing overshoots at the borders.
        bool degenerate = !(sum > 0.5);
        for (int j = 0; j < w && !degenerate; ++j) degenerate = std::fabs(fw[static_cast<size_t>(j)] / sum) >= 1.99;
        int32_t isum = 0;
        int32_t* iw = c.weights.data() + static_cast<size_t>(x) * static_cast<size_t>(w);
        for (int j = 0; j < w; ++j) {
            const int64_t i = first + j;
            if (i < 0 || i >= sourceLength) continue;
            const double v = (degenerate ? 1.0 / inside : fw[static_cast<size_t>(j)] / sum) * kOne;
            iw[j] = static_cast<int32_t>(std::nearbyint(v));
            err[static_cast<size_t>(j)] = v - iw[j];
            isum += iw[j];
        }
        // The rounding remainder goes, one unit each, to the weights that rounding moved furthest the
        // other way, so that the weights sum to exactly kOne and a flat image stays flat.
        int32_t rest = kOne - isum;
        if (rest != 0) {
            order.clear();
            for (int j = 0; j < w; ++j)
                if (first + j >= 0 && first + j < sourceLength) order.push_back(j);
            const double sign = rest > 0 ? 1 : -1;
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                return sign * err[static_cast<size_t>(a)] > sign * err[static_cast<size_t>(b)];
            });
            const int32_t step = rest > 0 ? 1 : -1;
            for (size_t k = 0; rest != 0; k = (k + 1) % order.size()) {
                iw[order[k]] += step;
                rest -= step;
            }
        }
        c.first[static_cast<size_t>(x)] = static_cast<int>(first);
        c.sums[static_cast<size_t>(x)] = kOne;
    }
    return c;
}

void FilteredResize(TDibBuffer& source, TDibBuffer& destination, int filter, TDibBuffer* scratch) {
    CheckFilter(filter);
    const int sbpp = source.BitsPerPixel(), dbpp = destination.BitsPerPixel();
    if (source.Empty() || destination.Empty() || source.Width() == 0 || source.AbsHeight() == 0 ||
        destination.Width() == 0 || destination.AbsHeight() == 0)
        return;
    if (sbpp < 8 || dbpp < 8 || (sbpp > 8 && dbpp == 8)) return;
    if (source.Width() == destination.Width() && source.AbsHeight() == destination.AbsHeight()) {
        source.DrawTo(destination, 0, 0);
        return;
    }
    if (MemoryOverlaps(source, destination)) {
        TDibBuffer copy;
        source.CloneTo(copy);
        FilteredResize(copy, destination, filter, scratch);
        return;
    }

    if (sbpp == 8 && dbpp == 8)
        Resample8(source, destination, filter, scratch);
    else if (sbpp == 24 && dbpp == 24)
        Resample24(source, destination, filter, scratch);
    else if ((sbpp == 24 || sbpp == 32) && (dbpp == 24 || dbpp == 32))
        Resample32(source, destination, filter, scratch);
    else
        ResampleGeneric(source, destination, filter, scratch);
}

}  // namespace jx
