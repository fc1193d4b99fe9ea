#include "pngopt/quantize.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "imaging/resample.h"

namespace jx::quillox {
namespace {

struct Slot {
    int64_t index;
    int64_t weight;
};
struct Contribution {
    std::vector<Slot> slots;
    int64_t sum = 1;
};

std::vector<Contribution> Contributions(uint32_t target, uint32_t source, int filter) {
    const double s = double(target) / double(source);
    const double radius = ResampleFilterRadius(filter);
    const double d = s >= 1 ? radius : radius / s;
    const int64_t e = int64_t(d);
    std::vector<Contribution> list(target);
    for (uint32_t x = 0; x < target; ++x) {
        const double t = x / s - (1 - 1 / s) / 2;
        int64_t first;
        if (e < 1) {
            first = int64_t(std::nearbyint(t));
        } else {
            double v = t - d;
            first = int64_t(v);
            if (v - double(first) > 0) ++first;
        }
        Contribution& c = list[x];
        int64_t sum = 0;
        for (int64_t i = first; i <= first + 2 * e; ++i) {
            if (i < 0 || i >= int64_t(source)) continue;
            const double k = s >= 1 ? ResampleKernel(filter, std::fabs(t - double(i)))
                                    : s * ResampleKernel(filter, std::fabs(s * (t - double(i))));
            const int64_t w = int64_t(std::nearbyint(k * 65536));
            if (w == 0) continue;
            c.slots.push_back({i, w});
            sum += w;
        }
        c.sum = sum < 1 ? 1 : sum;
    }
    return list;
}

uint32_t Mix(const std::vector<uint32_t>& px, const Contribution& c, uint64_t base, uint64_t stride) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        int64_t acc = 0;
        for (const Slot& s : c.slots) acc += s.weight * int64_t((px[base + uint64_t(s.index) * stride] >> shift) & 0xFF);
        int64_t v = acc >= 0 ? (acc + c.sum / 2) / c.sum : -((-acc + c.sum / 2) / c.sum);
        out |= uint32_t(std::clamp<int64_t>(v, 0, 255)) << shift;
    }
    return out;
}

int Channel(uint32_t color, int c) { return int((color >> (24 - 8 * c)) & 0xFF); }  // 0 A, 1 R, 2 G, 3 B

int64_t Distance(uint32_t a, uint32_t b) {
    int64_t s = 0;
    for (int c = 0; c < 4; ++c) {
        int64_t d = Channel(a, c) - Channel(b, c);
        s += d * d;
    }
    return s;
}

size_t Nearest(const std::vector<QuantEntry>& table, size_t begin, size_t end, uint32_t color, int64_t* distance) {
    size_t best = begin;
    int64_t bestD = INT64_MAX;
    for (size_t i = begin; i < end; ++i) {
        int64_t d = Distance(table[i].color, color);
        if (d < bestD) bestD = d, best = i;
    }
    if (distance) *distance = bestD;
    return best;
}

void MergeInto(QuantEntry& into, const QuantEntry& from) {
    into.count += from.count;
    for (int c = 0; c < 4; ++c) into.sum[c] += from.sum[c];
    uint32_t color = 0;
    for (int c = 0; c < 4; ++c)
        color = color << 8 | uint32_t(std::min<double>(255, std::nearbyint(double(into.sum[c]) / into.count)));
    into.color = color;
}

// Moves entry i up past every entry with a lower or equal count (descending order kept).
void Bubble(std::vector<QuantEntry>& table, size_t begin, size_t i) {
    while (i > begin && table[i - 1].count <= table[i].count) {
        std::swap(table[i - 1], table[i]);
        --i;
    }
}

class Progress {
public:
    explicit Progress(std::ostream* out) : out_(out) {}
    void Show(int64_t percent) {
        if (!out_ || percent == last_) return;
        last_ = percent;
        *out_ << "Reduce colors: " << percent << "%\r" << std::flush;
    }
    void Clear() {
        if (out_) *out_ << std::string(19, ' ') << "\r" << std::flush;
    }

private:
    std::ostream* out_;
    int64_t last_ = -1;
};

}  // namespace

void ResampleDIB(const PackedImage& source, PackedImage& destination, int filter) {
    if (source.width == 0 || source.height == 0 || destination.width == 0 || destination.height == 0) return;
    PackedImage middle{destination.width, source.height, {}};
    middle.pixels.resize(uint64_t(middle.width) * middle.height);
    const auto across = Contributions(destination.width, source.width, filter);
    for (uint32_t y = 0; y < source.height; ++y)
        for (uint32_t x = 0; x < destination.width; ++x)
            middle.pixels[uint64_t(y) * middle.width + x] = Mix(source.pixels, across[x], uint64_t(y) * source.width, 1);
    const auto down = Contributions(destination.height, source.height, filter);
    destination.pixels.resize(uint64_t(destination.width) * destination.height);
    for (uint32_t y = 0; y < destination.height; ++y)
        for (uint32_t x = 0; x < destination.width; ++x)
            destination.pixels[uint64_t(y) * destination.width + x] = Mix(middle.pixels, down[y], x, middle.width);
}

void ReduceColors(std::vector<QuantEntry>& table, int count, int threshold, int rareShare, std::ostream* out) {
    Progress progress(out);
    progress.Show(0);
    const int64_t n = std::max(count, 1);
    if (int64_t(table.size()) <= n) return;  // every colour keeps its own entry
    const int64_t rareTarget = int64_t(std::nearbyint(double(rareShare) * double(n) / 100));
    int64_t mainTarget = n - rareTarget;
    std::sort(table.begin(), table.end(), [](const QuantEntry& a, const QuantEntry& b) { return a.count > b.count; });
    std::vector<QuantEntry> rare;
    int64_t d = int64_t(table.size());
    int64_t shown = -1;
    while (d > mainTarget && d > 1) {
        const QuantEntry taken = table[size_t(d - 1)];
        int64_t distance = 0;
        const size_t nearest = Nearest(table, 0, size_t(d - 1), taken.color, &distance);
        if (distance < threshold) {
            MergeInto(table[nearest], taken);
            Bubble(table, 0, nearest);
        } else {
            rare.push_back(taken);
        }
        if (int64_t(rare.size()) < rareTarget) mainTarget = n - int64_t(rare.size());
        --d;
        if (d > 0) {
            int64_t p = int64_t(std::nearbyint(std::sqrt(double(mainTarget)) / std::sqrt(double(d)) * 100)) / 4;
            if (p > shown) progress.Show(shown = p);
        }
    }
    table.resize(size_t(d));
    if (!rare.empty()) {
        const size_t begin = table.size();
        std::sort(rare.begin(), rare.end(), [](const QuantEntry& a, const QuantEntry& b) { return a.count > b.count; });
        table.insert(table.end(), rare.begin(), rare.end());
        const int64_t keep = std::max<int64_t>(n - int64_t(begin), 0);
        while (int64_t(table.size() - begin) > keep && table.size() - begin > 1) {
            const QuantEntry taken = table.back();
            table.pop_back();
            const size_t nearest = Nearest(table, begin, table.size(), taken.color, nullptr);
            MergeInto(table[nearest], taken);
            Bubble(table, begin, nearest);
            const int64_t remaining = int64_t(table.size() - begin);
            progress.Show(25 + int64_t(std::nearbyint(double(keep) / double(remaining) * 100)) / 4);
        }
        if (keep == 0) table.resize(begin);
    }
    if (int64_t(table.size()) > n) table.resize(size_t(n));
}

uint64_t CountDistinctColors8(const WorkImage& image) {
    std::vector<uint32_t> packed;
    packed.reserve(image.rgba.size() / 4);
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* p = &image.rgba[i];
        uint32_t a = p[3] >> 8;
        packed.push_back(a == 0 ? 0 : a << 24 | uint32_t(p[0] >> 8) << 16 | uint32_t(p[1] >> 8) << 8 | (p[2] >> 8));
    }
    std::sort(packed.begin(), packed.end());
    return uint64_t(std::unique(packed.begin(), packed.end()) - packed.begin());
}

void QuantizeImage(WorkImage& image, int count, int dither, std::ostream* out) {
    const uint32_t w = image.width, h = image.height;
    if (w == 0 || h == 0) return;
    PackedImage work{w, h, {}};
    work.pixels.resize(uint64_t(w) * h);
    for (uint64_t i = 0; i < work.pixels.size(); ++i) {
        const uint16_t* p = &image.rgba[i * 4];
        uint32_t a = p[3] >> 8;
        work.pixels[i] = a == 0 ? 0 : a << 24 | uint32_t(p[0] >> 8) << 16 | uint32_t(p[1] >> 8) << 8 | (p[2] >> 8);
    }
    // Colours are sampled from a copy whose shorter side is 256 pixels.
    std::vector<uint32_t> samples;
    if (w <= 256 || h <= 256) {
        samples = work.pixels;
    } else {
        const double f = 256.0 / double(std::min(w, h));
        PackedImage small{uint32_t(std::nearbyint(f * w)), uint32_t(std::nearbyint(f * h)), {}};
        ResampleDIB(work, small, 1);
        samples = small.pixels;
        for (uint32_t& v : samples)
            if ((v >> 24) == 0) v = 0;
    }
    std::sort(samples.begin(), samples.end(), std::greater<uint32_t>());
    uint64_t distinct = 0;
    for (size_t i = 0; i < samples.size(); ++i) distinct += i == 0 || samples[i] != samples[i - 1];
    if (distinct > 6000) {
        for (uint32_t& v : samples) v &= 0xFFFCFCFC;
        std::sort(samples.begin(), samples.end(), std::greater<uint32_t>());
    }
    std::vector<QuantEntry> table;
    for (size_t i = 0; i < samples.size();) {
        size_t j = i;
        while (j < samples.size() && samples[j] == samples[i]) ++j;
        QuantEntry e;
        e.color = samples[i];
        e.count = uint32_t(j - i);
        for (int c = 0; c < 4; ++c) e.sum[c] = uint64_t(Channel(e.color, c)) * e.count;
        table.push_back(e);
        i = j;
    }
    ReduceColors(table, count, 128, 30, out);

    // Remap with error diffusion: right 7, below-left 3, below 5, below-right 1 (sixteenths).
    Progress progress(out);
    const double strength = dither / 100.0;
    auto add = [&](int64_t x, int64_t y, const int err[4], int weight) {
        if (x < 0 || x >= int64_t(w) || y >= int64_t(h)) return;
        uint32_t& v = work.pixels[uint64_t(y) * w + uint64_t(x)];
        uint32_t out32 = 0;
        for (int c = 0; c < 4; ++c) {
            double n = Channel(v, c) + err[c] * weight / 16.0 * strength;
            out32 = out32 << 8 | uint32_t(std::clamp<double>(std::nearbyint(n), 0, 255));
        }
        v = out32;
    };
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t& v = work.pixels[uint64_t(y) * w + x];
            const uint32_t chosen = table[Nearest(table, 0, table.size(), v, nullptr)].color;
            if (dither > 0) {
                int err[4];
                for (int c = 0; c < 4; ++c) err[c] = Channel(v, c) - Channel(chosen, c);
                add(int64_t(x) + 1, y, err, 7);
                add(int64_t(x) - 1, int64_t(y) + 1, err, 3);
                add(x, int64_t(y) + 1, err, 5);
                add(int64_t(x) + 1, int64_t(y) + 1, err, 1);
            }
            v = chosen;
        }
        progress.Show(50 + int64_t(std::nearbyint(double(y) / double(h) * 100)) / 2);
    }
    progress.Clear();
    image.sampleDepth = 8;
    for (uint64_t i = 0; i < work.pixels.size(); ++i) {
        const uint32_t v = work.pixels[i];
        uint16_t* p = &image.rgba[i * 4];
        p[0] = uint16_t(((v >> 16) & 0xFF) << 8);
        p[1] = uint16_t(((v >> 8) & 0xFF) << 8);
        p[2] = uint16_t((v & 0xFF) << 8);
        p[3] = uint16_t((v >> 24) << 8);
    }
    image.indices.clear();
    image.hasTrns = false;
}

}  // namespace jx::quillox
