// The trial measurement the output stage decides by: encoded sizes at level 6, side by side,
// each given up as soon as it cannot win.
#include <algorithm>
#include <mutex>

#include "pngopt/output_internal.h"
#include "pngopt/trial_engine.h"

namespace jx::quillox::detail {

EncodeSettings Measurer::Settings(const OutputImage& image, uint8_t filterSet, int strategy) const {
    EncodeSettings s;
    s.filterSet = filterSet;
    s.level = 6;
    s.memLevel = 8;
    s.strategy = strategy;
    s.windowBits = 15;
    s.heuristic = o_.heuristicByColorType ? ((image.colorType == kPngGrey || image.colorType == kPngPalette) ? 2 : 7) : o_.heuristic;
    return s;
}

std::optional<Measurer::Measured> Measurer::Winner(const std::vector<const OutputImage*>& images,
                                                   const std::vector<std::pair<uint8_t, int>>& settings, const SizeLimit& limit,
                                                   const SizeSeen& seen) const {
    const size_t n = images.size(), k = settings.size();
    std::mutex mutex;
    std::vector<std::optional<uint64_t>> sizes(n * k);
    auto bound = [&](size_t image, size_t setting) {
        uint64_t b = limit ? limit() : UINT64_MAX;
        std::lock_guard lock(mutex);
        for (size_t j = 0; j < n; ++j)
            for (size_t t = 0; t < k; ++t) {
                const std::optional<uint64_t>& v = sizes[j * k + t];
                if (!v || (j == image && t == setting)) continue;
                b = std::min(b, j > image ? *v + 1 : *v);
            }
        return b;
    };
    // Settings-major: each image's first encoding early, so the bounds tighten soon.
    ParallelFor(pool_, n * k, [&](size_t job) {
        const size_t image = job % n, setting = job / n;
        const OutputImage& out = *images[image];
        std::optional<uint64_t> size = MeasureEncodedSize(out, Settings(out, settings[setting].first, settings[setting].second),
                                                          [&] { return bound(image, setting); });
        if (size && seen) seen(*size);
        std::lock_guard lock(mutex);
        sizes[image * k + setting] = size;
    });
    std::optional<Measured> best;
    for (size_t i = 0; i < n; ++i) {
        std::optional<uint64_t> size;
        for (size_t t = 0; t < k; ++t)
            if (sizes[i * k + t] && (!size || *sizes[i * k + t] < *size)) size = sizes[i * k + t];
        if (size && (!best || *size < best->size)) best = Measured{i, *size};
    }
    return best;
}

std::optional<Candidate> Measure(OutputImage image, const Measurer& m, const SizeLimit& limit, const SizeSeen& seen) {
    std::optional<Measurer::Measured> w = m.Winner({&image}, Measurer::NoneAndAll(), limit, seen);
    if (!w) return std::nullopt;
    return Candidate{std::move(image), w->size};
}

}  // namespace jx::quillox::detail
