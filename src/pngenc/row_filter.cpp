#include "pngenc/row_filter.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "pngenc/errors.h"

namespace jx::pngenc {

namespace {

constexpr uint32_t kMaxCost = 0xFFFFFFFFu;
constexpr uint32_t kBadSize = 2147483647u;

inline uint32_t Log2(uint32_t x) { return 31u - uint32_t(std::countl_zero(x)); }
inline int Signed(uint8_t v) { return v < 128 ? int(v) : int(v) - 256; }
inline uint32_t ZigZag(uint8_t v) {
    int s = Signed(v);
    return s >= 0 ? uint32_t(2 * s) : uint32_t(-2 * s - 1);
}

// Per-byte costs: [0] scores None's bytes, [1] the other filters' bytes.
struct ByteCosts {
    std::array<std::array<uint32_t, 256>, 2> t{};
};

struct CostTables {
    ByteCosts h1, h2, h3, h6, jx2;
    CostTables() {
        for (unsigned v = 0; v < 256; ++v) {
            uint8_t b = uint8_t(v);
            uint32_t mag = uint32_t(std::abs(Signed(b)));
            uint32_t zz = ZigZag(b);
            h1.t[0][v] = h1.t[1][v] = 2 * Log2(mag + 1) + 1;
            h2.t[0][v] = 2 * Log2(v + 1) + 1;
            h2.t[1][v] = 2 * Log2(zz + 1) + 1;
            h3.t[0][v] = uint32_t(std::nearbyint(v / 2.0)) + 2;
            h3.t[1][v] = uint32_t(std::nearbyint(zz / 2.0)) + 2;
            h6.t[0][v] = h6.t[1][v] = 2 * Log2(zz + 1) + 1;
            jx2.t[0][v] = Log2(v + 1) + 1;
            jx2.t[1][v] = Log2(mag + 1) + 1 + (Signed(b) < 0 ? 1 : 0);
        }
    }
};

const CostTables& Tables() {
    static const CostTables tables;
    return tables;
}

inline uint32_t SumCosts(const std::array<uint32_t, 256>& t, const uint8_t* row, size_t n) {
    uint32_t a = 0, b = 0;
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        a += t[row[i]];
        b += t[row[i + 1]];
    }
    if (i < n) a += t[row[i]];
    return a + b;
}

// round(c / 4 + 0.25) with halves to even, in integers: (c + 1) / 4.
inline uint32_t QuarterRound(uint32_t c) {
    uint64_t x = uint64_t(c) + 1;
    uint64_t q = x / 4, r = x % 4;
    if (r > 2 || (r == 2 && (q & 1))) ++q;
    return uint32_t(q);
}

}  // namespace

int TrialLevel(uint8_t level) {
    static const int kMap[10] = {0, 1, 6, 9, 1, 2, 3, 4, 5, 6};
    return level <= 9 ? kMap[level] : 6;
}

RowDeflater::RowDeflater(int level, int windowBits, int memoryLevel, int strategy, size_t maxRowBytes) {
    if (deflateInit2(&z_, level, Z_DEFLATED, windowBits, memoryLevel, strategy) != Z_OK) {
        throw PngError("PNG: cannot start deflate for row scoring");
    }
    out_.resize(deflateBound(&z_, uLong(maxRowBytes)) + 64);
}

RowDeflater::~RowDeflater() { deflateEnd(&z_); }

size_t RowDeflater::Size(const uint8_t* row, size_t n) {
    if (deflateReset(&z_) != Z_OK) return 0;
    z_.next_in = const_cast<Bytef*>(row);
    z_.avail_in = uInt(n);
    z_.next_out = out_.data();
    z_.avail_out = uInt(out_.size());
    if (deflate(&z_, Z_FINISH) != Z_STREAM_END) return 0;
    return size_t(z_.total_out);
}

ResidualQuantizer::ResidualQuantizer(uint8_t quality, uint8_t method, const std::vector<int32_t>& levels)
    : method_(method) {
    const double x = 2.0 * std::sqrt(double(quality));
    for (int d = -255; d <= 255; ++d) {
        long q = 0;
        if (method == 0) {
            q = std::lrint(std::trunc(d / x) * x);
        } else {
            // Only levels between 0 and d, so reconstruction never wraps around the byte.
            bool found = false;
            long bestSq = 0;
            for (int32_t c : levels) {
                long cl = c;
                bool sameSide = d >= 0 ? (cl >= 0 && cl <= d) : (cl <= 0 && cl >= d);
                if (!sameSide) continue;
                long sq = (d - cl) * (d - cl);
                if (!found || sq < bestSq) {
                    found = true;
                    bestSq = sq;
                    q = cl;
                }
            }
        }
        table_[size_t(d + 255)] = uint8_t(q & 0xFF);
    }
}

RowFilterChooser::RowFilterChooser(const ChooserSettings& settings, size_t maxRowBytes, unsigned bpp)
    : s_(settings), max_(maxRowBytes), bpp_(bpp == 0 ? 1 : bpp), lossy_(settings.LossyQuality > 0) {
    const unsigned set = s_.FilterSet & 0x1F;
    const size_t stride = max_ + 1;
    size_t count = 2;
    for (unsigned f = 0; f < 5; ++f) {
        bool need = lossy_ ? (f == 0 || (set >> f & 1)) : (f > 0 && (set >> f & 1));
        if (need) count += lossy_ ? 2 : 1;
    }
    store_.assign(count * stride, 0);
    uint8_t* p = store_.data();
    raw_ = p;
    prev_ = p + stride;
    p += 2 * stride;
    for (unsigned f = 0; f < 5; ++f) {
        bool need = lossy_ ? (f == 0 || (set >> f & 1)) : (f > 0 && (set >> f & 1));
        if (!need) continue;
        res_[f] = p;
        p += stride;
        if (lossy_) {
            recon_[f] = p;
            p += stride;
        }
    }
    if (lossy_) quant_ = std::make_unique<ResidualQuantizer>(s_.LossyQuality, s_.LossyMethod, s_.LossyLevels);
    uint8_t h = s_.Heuristic > 9 ? 0 : s_.Heuristic;
    s_.Heuristic = h;
    if (h == 7) {
        deflater_ = std::make_unique<RowDeflater>(TrialLevel(s_.CompressionLevel), s_.WindowBits, s_.MemoryLevel,
                                                  s_.Strategy, max_);
    } else if (h == 8) {
        deflater_ = std::make_unique<RowDeflater>(1, 15, 8, Z_HUFFMAN_ONLY, max_);
    }
}

RowFilterChooser::~RowFilterChooser() = default;

void RowFilterChooser::StartPass() { std::memset(prev_, 0, max_ + 1); }

void RowFilterChooser::Advance() {
    if (lossy_) {
        std::swap(prev_, recon_[chosen_]);
        return;
    }
    std::swap(raw_, prev_);
}

uint32_t RowFilterChooser::Cost(uint8_t filter, const uint8_t* row, size_t n) {
    const CostTables& t = Tables();
    const int side = filter == 0 ? 0 : 1;
    switch (s_.Heuristic) {
        case 1: return SumCosts(t.h1.t[side], row, n);
        case 2: return SumCosts(s_.JxHeuristic ? t.jx2.t[side] : t.h2.t[side], row, n);
        case 3: return SumCosts(t.h3.t[side], row, n);
        case 6: return SumCosts(t.h6.t[side], row, n);
        case 4:
        case 5: {
            // The zigzag code is a bijection on bytes, so the counts per value are those of the bytes.
            uint32_t hist[256] = {};
            for (size_t i = 0; i < n; ++i) ++hist[row[i]];
            uint32_t sum = 0;
            for (uint32_t c : hist) {
                if (c == 0) continue;
                sum += s_.Heuristic == 4 ? 2 * Log2(c + 1) + 1 : QuarterRound(c) + 3;
            }
            return sum;
        }
        case 7:
        case 8: {
            size_t size = deflater_->Size(row, n);
            return size < 1 ? kBadSize : uint32_t(size);
        }
        case 9: {
            if (n < 3) return kMaxCost;
            uint32_t repeats = 0;
            for (size_t i = 2; i < n; ++i) repeats += (row[i] == row[i - 1] || row[i] == row[i - 2]) ? 1 : 0;
            return kMaxCost - repeats;
        }
        default: {
            bool seen[256] = {};
            uint32_t distinct = 0;
            for (size_t i = 0; i < n; ++i) {
                if (!seen[row[i]]) {
                    seen[row[i]] = true;
                    ++distinct;
                }
            }
            return 2147483647u - distinct;
        }
    }
}

void RowFilterChooser::ComputeLossless(size_t n, unsigned set) {
    const uint8_t* raw = raw_ + 1;
    const uint8_t* up = prev_ + 1;
    const size_t bpp = std::min<size_t>(bpp_, n);
    if (set & 2) {
        uint8_t* o = res_[1] + 1;
        for (size_t i = 0; i < bpp; ++i) o[i] = raw[i];
        for (size_t i = bpp; i < n; ++i) o[i] = uint8_t(raw[i] - raw[i - bpp]);
    }
    if (set & 4) {
        uint8_t* o = res_[2] + 1;
        for (size_t i = 0; i < n; ++i) o[i] = uint8_t(raw[i] - up[i]);
    }
    if (set & 8) {
        uint8_t* o = res_[3] + 1;
        for (size_t i = 0; i < bpp; ++i) o[i] = uint8_t(raw[i] - (up[i] >> 1));
        for (size_t i = bpp; i < n; ++i) o[i] = uint8_t(raw[i] - ((unsigned(raw[i - bpp]) + up[i]) >> 1));
    }
    if (set & 16) {
        uint8_t* o = res_[4] + 1;
        for (size_t i = 0; i < bpp; ++i) o[i] = uint8_t(raw[i] - up[i]);
        for (size_t i = bpp; i < n; ++i) o[i] = uint8_t(raw[i] - PaethPredict(raw[i - bpp], up[i], up[i - bpp]));
    }
    out_[0] = raw_;
    for (unsigned f = 1; f < 5; ++f) out_[f] = (set >> f & 1) ? res_[f] : nullptr;
}

void RowFilterChooser::ComputeLossy(size_t n, unsigned set) {
    const uint8_t* raw = raw_ + 1;
    const uint8_t* kept = prev_ + 1;
    const ResidualQuantizer& q = *quant_;
    const bool extremes = q.KeepsExtremes();
    const size_t bpp = bpp_;
    auto step = [&](uint8_t* res, uint8_t* rec, size_t i, int p) {
        int v = raw[i];
        uint8_t r = q(v - p);
        if (extremes) {
            if (v == 255) r = uint8_t(255 - p);
            else if (v == 0) r = uint8_t(-p);
        }
        res[i] = r;
        rec[i] = uint8_t(r + p);
    };
    for (unsigned f = 0; f < 5; ++f) {
        if (f != 0 && !(set >> f & 1)) {
            out_[f] = nullptr;
            continue;
        }
        uint8_t* res = res_[f] + 1;
        uint8_t* rec = recon_[f] + 1;
        for (size_t i = 0; i < n; ++i) {
            int left = i >= bpp ? rec[i - bpp] : 0;
            int upLeft = i >= bpp ? kept[i - bpp] : 0;
            int p = 0;
            switch (f) {
                case 1: p = left; break;
                case 2: p = kept[i]; break;
                case 3: p = (left + kept[i]) >> 1; break;
                case 4: p = PaethPredict(left, kept[i], upLeft); break;
                default: break;
            }
            step(res, rec, i, p);
        }
        out_[f] = res_[f];
    }
}

uint8_t RowFilterChooser::Pick(size_t n, unsigned set) {
    if (set <= 1) return 0;
    if (std::has_single_bit(set)) return uint8_t(std::countr_zero(set));
    uint32_t best = kMaxCost;
    uint8_t result = 0;
    for (unsigned f = 0; f < 5; ++f) {
        if (!(set >> f & 1)) continue;
        uint32_t score = Cost(uint8_t(f), out_[f] + 1, n);
        if (score < best) {
            best = score;
            result = uint8_t(f);
        }
    }
    return result;
}

uint8_t RowFilterChooser::Choose(size_t n) {
    const unsigned set = s_.FilterSet & 0x1F;
    // None is computed in every mode: it is the fallback when no filter scores below the maximum.
    if (lossy_) ComputeLossy(n, set);
    else ComputeLossless(n, set);
    chosen_ = Pick(n, set);
    out_[chosen_][0] = chosen_;
    return chosen_;
}

void RowFilterChooser::CostAll(size_t n, std::array<uint32_t, 5>& costs) {
    ComputeLossless(n, 0x1F);
    for (unsigned f = 0; f < 5; ++f) costs[f] = Cost(uint8_t(f), out_[f] + 1, n);
}

const uint8_t* RowFilterChooser::Filter(uint8_t f, size_t n) {
    ComputeLossless(n, 1u << f);
    chosen_ = f;
    out_[f][0] = f;
    return out_[f];
}

}  // namespace jx::pngenc
