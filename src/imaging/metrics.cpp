#include "imaging/metrics.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace jx {

std::string FormatMetric(double value) {
    if (std::isinf(value)) return "inf";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", value);
    return buf;
}

TErrorMetrics ShowErrorMetrics(const EngineState& state, TErrorMetric metric, int32_t viewTab, bool batch) {
    TErrorMetrics m;
    if (!state.HasImage() || !state.WorkingImage.SameShape(state.SourceImage)) return m;
    if (batch) metric = TErrorMetric::Rmse;
    const bool absolute = metric == TErrorMetric::Msad;

    std::array<uint64_t, 4> sum{};
    const TPixelRec* src = state.SourceImage.Data();
    const TPixelRec* out = state.WorkingImage.Data();
    for (int64_t i = 0, n = state.SourceImage.Count(); i < n; ++i) {
        const TPixelRec& s = src[i];
        const TPixelRec& o = out[i];
        if ((viewTab == 1 && s.A != 255) || (viewTab == 2 && s.A == 255)) continue;
        auto add = [&](size_t k, int d) { sum[k] += absolute ? uint64_t(std::abs(d)) : uint64_t(d * d); };
        ++m.AlphaPixels;
        add(3, int(s.A) - int(o.A));
        if (o.A == 0) continue;
        ++m.ColorPixels;
        add(0, int(s.c1) - int(o.c1));
        add(1, int(s.c2) - int(o.c2));
        add(2, int(s.c3) - int(o.c3));
    }
    std::array<double, 4> mean{};
    for (size_t k = 0; k < 4; ++k) {
        const int64_t count = k == 3 ? m.AlphaPixels : m.ColorPixels;
        mean[k] = count ? double(sum[k]) / double(count) : 0.0;
        m.Value[k] = mean[k];
        if (metric == TErrorMetric::Psnr)
            m.Value[k] = mean[k] == 0 ? INFINITY : 10.0 * std::log10(65025.0 / mean[k]);
    }
    m.Rmse = std::sqrt(mean[0] + mean[1] + mean[2] + mean[3]);
    if (batch) m.BatchRmse = m.AlphaPixels ? FormatMetric(m.Rmse) : "-";

    const std::string suffix = metric == TErrorMetric::Psnr ? " dB" : "";
    auto text = [&](double v, int64_t count) { return count ? FormatMetric(v) + suffix : std::string("-"); };
    const bool rmse = metric == TErrorMetric::Rmse;
    if (state.IsGrey || rmse) {
        // A grey image's error lies in its lightness alone: c2 and c3 of grey colours are constant.
        m.Labels[0] = rmse ? text(m.Rmse, m.AlphaPixels) : text(m.Value[0], m.ColorPixels);
        m.Labels[1].assign(1, '-');
        m.Labels[2].assign(1, '-');
        m.Labels[3] = state.HasAlpha && !rmse ? text(m.Value[3], m.AlphaPixels) : "-";
    } else {
        auto label = [&](const char* name, size_t k, int64_t count) {
            if (!count) return std::string("-");
            std::string t = name;
            t.append(":\t").append(FormatMetric(m.Value[k])).append(suffix);
            return t;
        };
        m.Labels[0] = label("y", 0, m.ColorPixels);
        m.Labels[1] = label("cr", 1, m.ColorPixels);
        m.Labels[2] = label("cb", 2, m.ColorPixels);
        m.Labels[3] = state.HasAlpha ? label("a", 3, m.AlphaPixels) : "-";
    }
    return m;
}

}  // namespace jx
