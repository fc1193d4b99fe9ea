#include "imaging/adaptive_palette.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "imaging/color_tree.h"
#include "imaging/errors.h"
#include "imaging/sort.h"

namespace jx {
namespace {

using TSums = std::array<uint64_t, 7>;

// Each byte of p times its (64-bit) weight.
TSums SumsOf(const TPixelRec& p, int64_t weight) {
    const uint64_t w = weight > 0 ? static_cast<uint64_t>(weight) : 0;
    return {p.R * w, p.G * w, p.B * w, p.A * w, p.c1 * w, p.c2 * w, p.c3 * w};
}

// sum / w rounded half to even, in integers.
inline uint64_t RoundDiv(uint64_t sum, uint64_t w) {
    uint64_t q = sum / w;
    const uint64_t r2 = (sum % w) * 2;
    if (r2 > w || (r2 == w && (q & 1))) ++q;
    return q;
}

[[noreturn]] void MeanOutOfRange(uint64_t v) {
    throw ImagingError("Merged colour component out of range: " + std::to_string(v));
}

// The sums and the weight always grow together, so each mean of bytes is a byte; anything else
// is a broken invariant, not a value to clamp.
inline void SetFromSums(TPixelRec& p, const TSums& s, int64_t weight) {
    if (weight <= 0) return;
    const uint64_t w = static_cast<uint64_t>(weight);
    uint64_t m[7];
    uint64_t top = 0;
    for (size_t i = 0; i < 7; ++i) {
        m[i] = RoundDiv(s[i], w);
        top |= m[i];
    }
    if (top > 255) MeanOutOfRange(*std::max_element(m, m + 7));
    p.R = static_cast<uint8_t>(m[0]);
    p.G = static_cast<uint8_t>(m[1]);
    p.B = static_cast<uint8_t>(m[2]);
    p.A = static_cast<uint8_t>(m[3]);
    p.c1 = static_cast<uint8_t>(m[4]);
    p.c2 = static_cast<uint8_t>(m[5]);
    p.c3 = static_cast<uint8_t>(m[6]);
}

inline void AddSums(TSums& a, const TSums& b) {
    for (size_t i = 0; i < 7; ++i) a[i] += b[i];
}

inline int32_t ISqrt(int64_t v) {
    if (v <= 0) return 0;
    int64_t r = static_cast<int64_t>(std::sqrt(static_cast<double>(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return static_cast<int32_t>(r);
}

// Smallest squared gap from v to the cell [lo, lo + size - 1].
inline int32_t Gap(int v, int lo, int size) {
    if (v < lo) return lo - v;
    if (v > lo + size - 1) return v - (lo + size - 1);
    return 0;
}

struct TParams {
    EngineState& state;
    bool mixing;
    unsigned luma;
    bool alpha;
    int64_t rareThr = 0;
    int32_t Dist(const TPixelRec& a, const TPixelRec& b) const { return ColorDistance(a, b, luma, alpha); }
};

// j absorbs k: sums and weights add, j takes the weighted mean.
inline void MergeInto(TPixelRec& j, TSums& js, int64_t& jw, const TSums& ks, int64_t kw) {
    AddSums(js, ks);
    jw += kw;
    j.Weight = CappedWeight(jw);
    SetFromSums(j, js, jw);
}

// Weight of a pre-merge entry k that has absorbed nothing: its record holds it unless capped,
// and reading the record spares a second memory access per candidate.
inline int64_t OwnWeight(const TPixelRec* list, const int64_t* wt, int32_t k) {
    return list[k].Weight < std::numeric_limits<int32_t>::max() ? list[k].Weight : wt[k];
}

// An entry merged away. A live entry's record weight is never 0 (it is its weight capped), so
// the record alone marks it; the compaction reads the records too.
inline void Drop(TPixelRec* list, int32_t k) { list[k].Weight = 0; }

// Pre-merge, plain: every pair in list order.
// Only the entry j absorbs: a later entry k has absorbed nothing yet when it is met, so its sums
// are its own colour times its weight and need not be kept.
void PreMergePlain(const TParams& pr, TPixelRec* list, int64_t* wt, int32_t u, int32_t n, int32_t thr) {
    int32_t live = u;
    for (int32_t j = 0; j + 1 < u && live > n; ++j) {
        TSums js = SumsOf(list[j], wt[j]);
        for (int32_t k = j + 1; k < u && live > n; ++k) {
            if (list[j].Weight == 0 || list[k].Weight == 0) continue;
            if (pr.Dist(list[j], list[k]) > thr) continue;
            if (pr.mixing) {
                const int64_t kw = OwnWeight(list, wt, k);
                MergeInto(list[j], js, wt[j], SumsOf(list[k], kw), kw);
            }
            Drop(list, k);
            --live;
        }
    }
}

// Live ids bucketed by c1, c2, c3 for the pre-merge. The entries that stay in the grid never
// change colour or weight (only the absorbing entry does, and it has left the grid), so each
// place keeps a copy of its entry's record: a scan and a merge read the grid alone, whose cells
// round the absorbing colour are in the cache, rather than the list, which is in weight order.
// An entry that leaves is only marked (its id becomes -1); a cell is closed up when a scan finds
// it more than half empty.
class TMergeGrid {
public:
    struct Key {
        int32_t id;
        uint8_t c1, c2, c3, A;
    };
    TMergeGrid(const TPixelRec* list, int32_t u, int shift) : shift_(shift), bins_(256 >> shift) {
        const size_t cells = static_cast<size_t>(bins_) * bins_ * bins_;
        begin_.assign(cells + 1, 0);
        ResizeChecked(placeOf_, u, -1);
        for (int32_t i = 0; i < u; ++i)
            if (list[i].Weight != 0) ++begin_[CellOf(list[i]) + 1];
        for (size_t c = 0; c < cells; ++c) begin_[c + 1] += begin_[c];
        std::vector<int32_t> fill(begin_.begin(), begin_.end() - 1);
        size_.resize(cells);
        for (size_t c = 0; c < cells; ++c) size_[c] = begin_[c + 1] - begin_[c];
        dead_.assign(cells, 0);
        ResizeChecked(keys_, begin_[cells]);
        ResizeChecked(recs_, begin_[cells]);
        for (int32_t i = 0; i < u; ++i) {
            const TPixelRec& p = list[i];
            if (p.Weight == 0) continue;
            const int32_t at = fill[CellOf(p)]++;
            keys_[static_cast<size_t>(at)] = {i, p.c1, p.c2, p.c3, p.A};
            recs_[static_cast<size_t>(at)] = p;
            placeOf_[static_cast<size_t>(i)] = at;
        }
    }
    size_t CellOf(const TPixelRec& p) const {
        return static_cast<size_t>(((p.c1 >> shift_) * bins_ + (p.c2 >> shift_)) * bins_ + (p.c3 >> shift_));
    }
    // Place of id, -1 when it was never in the grid.
    int32_t PlaceOf(int32_t id) const { return placeOf_[static_cast<size_t>(id)]; }
    void PrefetchPlace(int32_t id) const { __builtin_prefetch(&placeOf_[static_cast<size_t>(id)]); }
    const TPixelRec& Record(int32_t place) const { return recs_[static_cast<size_t>(place)]; }
    void Remove(int32_t place) {
        if (place < 0) return;
        Key& k = keys_[static_cast<size_t>(place)];
        ++dead_[CellOf(k)];
        k.id = -1;
    }
    const Key* CellBegin(int i1, int i2, int i3, int32_t& count) {
        const size_t c = static_cast<size_t>((i1 * bins_ + i2) * bins_ + i3);
        if (dead_[c] * 2 > size_[c]) Close(c);
        count = size_[c];
        return keys_.data() + begin_[c];
    }

private:
    size_t CellOf(const Key& k) const {
        return static_cast<size_t>(((k.c1 >> shift_) * bins_ + (k.c2 >> shift_)) * bins_ + (k.c3 >> shift_));
    }
    void Close(size_t c) {
        int32_t to = begin_[c];
        for (int32_t from = begin_[c], end = begin_[c] + size_[c]; from < end; ++from) {
            const Key k = keys_[static_cast<size_t>(from)];
            if (k.id < 0) continue;
            if (from != to) {
                keys_[static_cast<size_t>(to)] = k;
                recs_[static_cast<size_t>(to)] = recs_[static_cast<size_t>(from)];
                placeOf_[static_cast<size_t>(k.id)] = to;
            }
            ++to;
        }
        size_[c] = to - begin_[c];
        dead_[c] = 0;
    }

    int shift_;
    int bins_;
    std::vector<int32_t> begin_, size_, dead_, placeOf_;
    std::vector<Key> keys_;
    std::vector<TPixelRec> recs_;
};

// Ids in [0, u) handed out in increasing order: a bit per id, a summary bit per word.
class TIdQueue {
public:
    explicit TIdQueue(int32_t u) {
        words_.assign(static_cast<size_t>(u) / 64 + 1, 0);
        summary_.assign(words_.size() / 64 + 1, 0);
    }
    void Push(int32_t id) {
        const size_t w = static_cast<size_t>(id) >> 6;
        words_[w] |= uint64_t{1} << (id & 63);
        summary_[w >> 6] |= uint64_t{1} << (w & 63);
        ++count_;
    }
    bool Empty() const { return count_ == 0; }
    // The smallest id held, taken out; only while not Empty.
    int32_t Pop() {
        while (summary_[cursor_] == 0) ++cursor_;
        const size_t w = cursor_ * 64 + static_cast<size_t>(__builtin_ctzll(summary_[cursor_]));
        uint64_t& word = words_[w];
        const int bit = __builtin_ctzll(word);
        word &= word - 1;
        if (word == 0) summary_[cursor_] &= ~(uint64_t{1} << (w & 63));
        --count_;
        return static_cast<int32_t>(w * 64 + static_cast<size_t>(bit));
    }
    // The smallest id held, left in; only while not Empty.
    int32_t Peek() {
        while (summary_[cursor_] == 0) ++cursor_;
        const size_t w = cursor_ * 64 + static_cast<size_t>(__builtin_ctzll(summary_[cursor_]));
        return static_cast<int32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(words_[w])));
    }
    // Empties the queue, given every id it may hold; the next ids start at from or later.
    void Clear(const std::vector<int32_t>& pushed, int32_t from) {
        for (int32_t id : pushed) {
            const size_t w = static_cast<size_t>(id) >> 6;
            words_[w] = 0;
            summary_[w >> 6] = 0;
        }
        count_ = 0;
        cursor_ = static_cast<size_t>(from) >> 12;
    }

private:
    std::vector<uint64_t> words_, summary_;
    size_t cursor_ = 0;
    size_t count_ = 0;
};

// Pre-merge through the grid: for each surviving j only the later live entries that can lie
// within the threshold are visited, in index order, as the plain loop would meet them.
void PreMergeIndexed(const TParams& pr, TPixelRec* list, int64_t* wt, int32_t u, int32_t n, int32_t thr) {
    if (thr < 0 || u <= n) return;
    const int32_t b1 = ISqrt(thr >> pr.luma);
    const int32_t b23 = ISqrt(thr / 2);
    int shift = 2;
    while (shift < 6 && (1 << (shift + 2)) <= b23) ++shift;
    TMergeGrid grid(list, u, shift);
    // The candidates stay valid while the absorbing colour is within margin of the centre they
    // were collected round.
    const int32_t margin = pr.mixing ? 4 : 0;
    const int size = 1 << shift;
    const unsigned luma = pr.luma;
    std::vector<int32_t> cand;
    TIdQueue queue(u);
    TPixelRec centre;
    auto collect = [&](const TPixelRec& c, int32_t from) {
        centre = c;
        queue.Clear(cand, from);
        cand.clear();
        const int r1 = b1 + margin, r23 = b23 + margin;
        const int lo1 = std::max(0, c.c1 - r1) >> shift, hi1 = std::min(255, c.c1 + r1) >> shift;
        const int lo2 = std::max(0, c.c2 - r23) >> shift, hi2 = std::min(255, c.c2 + r23) >> shift;
        const int lo3 = std::max(0, c.c3 - r23) >> shift, hi3 = std::min(255, c.c3 + r23) >> shift;
        for (int i1 = lo1; i1 <= hi1; ++i1) {
            const int32_t lb1 = Squares[std::max(0, Gap(c.c1, i1 * size, size) - margin)] << luma;
            if (lb1 > thr) continue;
            for (int i2 = lo2; i2 <= hi2; ++i2) {
                const int32_t lb2 = lb1 + 2 * Squares[std::max(0, Gap(c.c2, i2 * size, size) - margin)];
                if (lb2 > thr) continue;
                for (int i3 = lo3; i3 <= hi3; ++i3) {
                    if (lb2 + 2 * Squares[std::max(0, Gap(c.c3, i3 * size, size) - margin)] > thr) continue;
                    int32_t count = 0;
                    const TMergeGrid::Key* e = grid.CellBegin(i1, i2, i3, count);
                    for (int32_t q = 0; q < count; ++q) {
                        if (e[q].id < from) continue;
                        // Skip what lies beyond the threshold from every point within the
                        // margin round the centre.
                        const int g1 = std::max(0, std::abs(e[q].c1 - c.c1) - margin);
                        const int g2 = std::max(0, std::abs(e[q].c2 - c.c2) - margin);
                        const int g3 = std::max(0, std::abs(e[q].c3 - c.c3) - margin);
                        if ((Squares[g1] << luma) + 2 * Squares[g2] + 2 * Squares[g3] <= thr) {
                            cand.push_back(e[q].id);
                            queue.Push(e[q].id);
                        }
                    }
                }
            }
        }
    };
    // Entries merged away, marked in the list only at the end: writing each into the list,
    // which is in weight order, would be a cache miss per merge.
    std::vector<uint64_t> dropped(static_cast<size_t>(u) / 64 + 1, 0);
    auto isDropped = [&](int32_t id) { return (dropped[static_cast<size_t>(id) >> 6] >> (id & 63)) & 1; };
    int32_t live = u;
    for (int32_t j = 0; j + 1 < u && live > n; ++j) {
        if (list[j].Weight == 0 || isDropped(j)) continue;
        grid.Remove(grid.PlaceOf(j));
        TSums js = SumsOf(list[j], wt[j]);
        collect(list[j], j + 1);
        while (!queue.Empty() && live > n) {
            const int32_t k = queue.Pop();
            // The next candidate's place is a miss in a large array: start it now.
            if (!queue.Empty()) grid.PrefetchPlace(queue.Peek());
            const int32_t place = grid.PlaceOf(k);
            const TPixelRec& K = grid.Record(place);
            if (isDropped(k) || pr.Dist(list[j], K) > thr) continue;
            grid.Remove(place);
            if (pr.mixing) {
                const int64_t kw = K.Weight < std::numeric_limits<int32_t>::max() ? K.Weight : wt[k];
                MergeInto(list[j], js, wt[j], SumsOf(K, kw), kw);
            }
            dropped[static_cast<size_t>(k) >> 6] |= uint64_t{1} << (k & 63);
            --live;
            const TPixelRec& J = list[j];
            if (std::abs(J.c1 - centre.c1) > margin || std::abs(J.c2 - centre.c2) > margin ||
                std::abs(J.c3 - centre.c3) > margin)
                collect(J, k + 1);
        }
    }
    for (size_t w = 0; w < dropped.size(); ++w)
        for (uint64_t bits = dropped[w]; bits != 0; bits &= bits - 1)
            Drop(list, static_cast<int32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits))));
}
// Where the clustering finds the nearest remaining entry. Entries keep an id while the
// re-insertion shifts their positions; indexed, the ids are bucketed by c1, c2, c3 (cells of side
// 1 << shift) and a search visits shells of cells round the colour, nearest first, until no
// unvisited cell can hold anything closer. Alpha is left out of the cells: it only adds to the
// distance, so every bound taken from the three axes stays a lower bound. Plain, the search is
// the linear scan. Both give the first minimum in position order.
class TClusterIndex {
public:
    TClusterIndex(const TParams& pr, const TPixelRec* list, int32_t count, bool indexed)
        : pr_(pr), list_(list), count_(count), indexed_(indexed) {
        if (!indexed_) return;
        ResizeChecked(idAt_, count);
        ResizeChecked(posOf_, count);
        for (int32_t i = 0; i < count; ++i) idAt_[static_cast<size_t>(i)] = posOf_[static_cast<size_t>(i)] = i;
        Rebuild(count - 1);
    }

    // The entry at position last leaves (it is the one being merged away).
    void Remove(int32_t pos) {
        if (indexed_) RemoveId(idAt_[static_cast<size_t>(pos)]);
    }

    // Position in 0..last of the entry nearest to t; its distance in bestD (the largest int32
    // when there is none).
    int32_t Nearest(const TPixelRec& t, int32_t last, int32_t& bestD) const {
        bestD = std::numeric_limits<int32_t>::max();
        int32_t best = 0;
        if (!indexed_) {
            for (int32_t i = 0; i <= last; ++i) {
                const int32_t d = pr_.Dist(t, list_[i]);
                if (d < bestD) {
                    bestD = d;
                    best = i;
                }
            }
            return best;
        }
        int32_t bestP = std::numeric_limits<int32_t>::max();
        const int size = 1 << shift_;
        const int q1 = t.c1 >> shift_, q2 = t.c2 >> shift_, q3 = t.c3 >> shift_;
        const int32_t wMin = std::min<int32_t>(int32_t{1} << pr_.luma, 2);
        for (int r = 0; r < bins_; ++r) {
            // Everything in shell r lies at least (r - 1) * size + 1 away along some axis.
            if (r >= 1) {
                const int64_t g = int64_t{r - 1} * size + 1;
                if (wMin * g * g > bestD) break;
            }
            VisitShell(t, r, q1, q2, q3, bestD, bestP);
        }
        return bestP != std::numeric_limits<int32_t>::max() ? bestP : best;
    }

    // The entry at pos changed colour.
    void Changed(int32_t pos) {
        if (!indexed_) return;
        const int32_t id = idAt_[static_cast<size_t>(pos)];
        if (cellOf_[static_cast<size_t>(id)] == CellOf(list_[pos])) return;
        RemoveId(id);
        InsertId(id, list_[pos]);
    }

    // The entry at from moved up to to, the entries to..from-1 one place down.
    void Moved(int32_t to, int32_t from) {
        if (!indexed_) return;
        std::rotate(idAt_.begin() + to, idAt_.begin() + from, idAt_.begin() + from + 1);
        for (int32_t p = to; p <= from; ++p) posOf_[static_cast<size_t>(idAt_[static_cast<size_t>(p)])] = p;
    }

    // Entries 0..last remain: coarser cells once they thin out.
    void Shrunk(int32_t last) {
        if (indexed_ && last >= 0 && shift_ < 7 && ShiftFor(static_cast<size_t>(last + 1)) > shift_) Rebuild(last);
    }

private:
    static int ShiftFor(size_t live) {
        int s = 3;
        while (s < 7 && (size_t{1} << (3 * (8 - s))) > live * 2) ++s;
        return s;
    }
    int32_t CellOf(const TPixelRec& p) const {
        return ((p.c1 >> shift_) * bins_ + (p.c2 >> shift_)) * bins_ + (p.c3 >> shift_);
    }
    void Rebuild(int32_t last) {
        shift_ = ShiftFor(static_cast<size_t>(last + 1));
        bins_ = 256 >> shift_;
        cells_.assign(static_cast<size_t>(bins_ * bins_ * bins_), {});
        cellOf_.assign(static_cast<size_t>(count_), -1);
        slot_.assign(static_cast<size_t>(count_), -1);
        for (int32_t p = 0; p <= last; ++p) InsertId(idAt_[static_cast<size_t>(p)], list_[p]);
    }
    void InsertId(int32_t id, const TPixelRec& p) {
        const int32_t c = CellOf(p);
        auto& v = cells_[static_cast<size_t>(c)];
        cellOf_[static_cast<size_t>(id)] = c;
        slot_[static_cast<size_t>(id)] = static_cast<int32_t>(v.size());
        v.push_back(id);
    }
    void RemoveId(int32_t id) {
        const int32_t c = cellOf_[static_cast<size_t>(id)];
        if (c < 0) return;
        auto& v = cells_[static_cast<size_t>(c)];
        const int32_t s = slot_[static_cast<size_t>(id)];
        const int32_t moved = v.back();
        v[static_cast<size_t>(s)] = moved;
        slot_[static_cast<size_t>(moved)] = s;
        v.pop_back();
        cellOf_[static_cast<size_t>(id)] = -1;
    }
    // The cells at Chebyshev distance r from (q1, q2, q3) that may beat bestD.
    void VisitShell(const TPixelRec& t, int r, int q1, int q2, int q3, int32_t& bestD, int32_t& bestP) const {
        const int size = 1 << shift_;
        for (int i1 = std::max(0, q1 - r); i1 <= std::min(bins_ - 1, q1 + r); ++i1) {
            const int32_t lb1 = Squares[Gap(t.c1, i1 * size, size)] << pr_.luma;
            if (lb1 > bestD) continue;
            const bool edge1 = std::abs(i1 - q1) == r;
            for (int i2 = std::max(0, q2 - r); i2 <= std::min(bins_ - 1, q2 + r); ++i2) {
                const int32_t lb2 = lb1 + 2 * Squares[Gap(t.c2, i2 * size, size)];
                if (lb2 > bestD) continue;
                const bool edge2 = edge1 || std::abs(i2 - q2) == r;
                // Off the shell's edges in the first two axes only its two faces in the third
                // belong to shell r.
                const int i3hi = std::min(bins_ - 1, q3 + r);
                const int step = edge2 ? 1 : 2 * r;
                for (int i3 = edge2 ? std::max(0, q3 - r) : q3 - r; i3 <= i3hi; i3 += step) {
                    if (i3 < 0) continue;
                    if (lb2 + 2 * Squares[Gap(t.c3, i3 * size, size)] > bestD) continue;
                    for (int32_t id : cells_[static_cast<size_t>((i1 * bins_ + i2) * bins_ + i3)]) {
                        const int32_t p = posOf_[static_cast<size_t>(id)];
                        const int32_t d = pr_.Dist(t, list_[p]);
                        if (d < bestD || (d == bestD && p < bestP)) {
                            bestD = d;
                            bestP = p;
                        }
                    }
                }
            }
        }
    }

    const TParams& pr_;
    const TPixelRec* list_;
    int32_t count_;
    bool indexed_;
    std::vector<int32_t> idAt_, posOf_;
    int shift_ = 3;
    int bins_ = 32;
    std::vector<std::vector<int32_t>> cells_;
    std::vector<int32_t> cellOf_, slot_;
};

// Where an entry of weight w goes among list[0..b-1] (sorted by weight, largest first) to keep
// the order: after the entries heavier than w.
int32_t InsertionPoint(const int64_t* wt, int32_t b, int64_t w) {
    int32_t lo = 0, hi = b - 1;
    while (hi - lo >= 2) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (wt[mid] < w)
            hi = mid;
        else
            lo = mid;
    }
    return hi + (wt[hi] > w ? 1 : 0);
}

// A colour list with its 64-bit weights.
struct TWeightedList {
    std::vector<TPixelRec> rec;
    std::vector<int64_t> wt;
};

// Greedy clustering of list[0..count-1] (sorted by weight, largest first) down to target
// entries: the lightest entry merges into its nearest neighbour, which moves up to its place by
// weight. With passFlag 0 an entry farther than the rare threshold from everything goes to rare
// instead (deduplicated through the colour tree), lowering the target while the reserve lasts.
void ClusterColors(const TParams& pr, TPixelRec* list, int64_t* wt, TWeightedList* rare, int32_t count,
                   bool passFlag, int32_t reserve, int32_t target, bool indexed) {
    EngineState& st = pr.state;
    int32_t rareCount = 0;
    const int32_t n0 = target;
    if (!passFlag) {
        ColorTreeReset(st);
        ResizeChecked(rare->rec, count);
        ResizeChecked(rare->wt, count);
    }
    std::vector<TSums> sums;
    ResizeChecked(sums, count);
    for (int32_t i = 0; i < count; ++i) sums[static_cast<size_t>(i)] = SumsOf(list[i], wt[i]);
    TClusterIndex index(pr, list, count, indexed);

    int32_t last = count - 1;
    do {
        const TPixelRec taken = list[last];
        const int64_t takenW = wt[last];
        const TSums takenSums = sums[static_cast<size_t>(last)];
        index.Remove(last);
        ClearPixel(st, list[last]);
        wt[last] = 0;
        --last;

        int32_t best = std::numeric_limits<int32_t>::max();
        const int32_t b = last >= 0 ? index.Nearest(taken, last, best) : 0;
        if (last >= 0 && (best < pr.rareThr || passFlag)) {
            if (pr.mixing) {
                MergeInto(list[b], sums[static_cast<size_t>(b)], wt[b], takenSums, takenW);
                index.Changed(b);
            } else {
                wt[b] += takenW;
                list[b].Weight = CappedWeight(wt[b]);
            }
            const int32_t pos = b > 0 ? InsertionPoint(wt, b, wt[b]) : b;
            if (pos < b) {
                std::rotate(list + pos, list + b, list + b + 1);
                std::rotate(wt + pos, wt + b, wt + b + 1);
                std::rotate(sums.begin() + pos, sums.begin() + b, sums.begin() + b + 1);
                index.Moved(pos, b);
            }
        } else {
            ColorTreeInsert(st, taken, takenW, rare->rec, rare->wt, rareCount);
            if (rareCount <= reserve) target = n0 - rareCount;
        }
        index.Shrunk(last);
    } while (last >= target);
    if (!passFlag) {
        rare->rec.resize(static_cast<size_t>(rareCount));
        rare->wt.resize(static_cast<size_t>(rareCount));
    }
}

// What SortPalette by weight does to a list whose order map is the identity, given the order
// it produced before: records, weights and order map rearranged, the nearest-colour cache reset.
void ApplySortOrder(EngineState& state, const std::vector<int32_t>& order, int64_t* wt) {
    ColorTreeReset(state);
    const int64_t n = static_cast<int64_t>(order.size());
    auto from = [&order](int64_t i) { return order[static_cast<size_t>(i)]; };
    Rearrange(state.Palette.data(), n, from);
    Rearrange(wt, n, from);
    std::copy(order.begin(), order.end(), state.PaletteOrder.begin());
}

}  // namespace

void BuildAdaptivePalette(EngineState& state, const TQuantizerSettings& settings, bool indexedSearch,
                          int32_t listBound) {
    const int32_t n = state.PaletteSize;
    if (n <= 0) return;
    const int32_t u0 = state.ColorListLength;
    if (u0 < 0 || static_cast<size_t>(u0) > state.Palette.size())
        throw ImagingError("Colour list longer than its array");
    if (settings.Priority < -3 || settings.Priority > 3)
        throw ImagingError("Priority outside -3..3");
    if (settings.RareReserve < 0 || settings.RareReserve > 100)
        throw ImagingError("Reserve for rare colors outside 0..100");
    TParams pr{state, !settings.DoNotMix, state.LumaShift, state.HasAlpha};

    // The exact weights the colour list was built with; a list written without them (each
    // record's Weight no longer its weight's capped copy) weighs by its records.
    std::vector<int64_t>& wt = state.ColorListWeights;
    bool exact = wt.size() >= static_cast<size_t>(u0);
    for (int32_t i = 0; exact && i < u0; ++i)
        exact = CappedWeight(wt[static_cast<size_t>(i)]) == state.Palette[static_cast<size_t>(i)].Weight;
    if (!exact) {
        ResizeChecked(wt, std::max<int64_t>(u0, static_cast<int64_t>(wt.size())));
        for (int32_t i = 0; i < u0; ++i)
            wt[static_cast<size_t>(i)] = std::max<int32_t>(state.Palette[static_cast<size_t>(i)].Weight, 0);
    }

    // The first sort of the unique colours is kept: a re-quantize of the same image sorts
    // nothing.
    const bool unique = state.ColorListIsUnique && exact && state.PaletteOrder.size() >= static_cast<size_t>(u0);
    state.ColorListIsUnique = false;
    std::vector<int32_t>& byWeight = state.UniqueColorIndex.ByWeight;
    if (unique && u0 > 1 && byWeight.size() == static_cast<size_t>(u0))
        ApplySortOrder(state, byWeight, wt.data());
    else {
        SortPalette(state, u0, SortByWeight, wt.data());
        if (unique && u0 > 1)
            byWeight.assign(state.PaletteOrder.begin(), state.PaletteOrder.begin() + u0);
    }
    TPixelRec* list = state.Palette.data();

    const double u = listBound > 0 ? std::min(u0, listBound) : u0;
    const double c = (n >= 2 && n <= 1024) ? u / (4.0 * n) : (n >= 1025 && n <= 2048) ? u / (2.0 * n) : u / n;
    const double thrD = std::nearbyint(c / 6.0 * settings.Priority * 1.5 + c);
    const int32_t thr = static_cast<int32_t>(std::min<double>(thrD, std::numeric_limits<int32_t>::max()));

    // Nothing merges once no more than N colours live, so a list that already fits is kept.
    if (indexedSearch)
        PreMergeIndexed(pr, list, wt.data(), u0, n, thr);
    else
        PreMergePlain(pr, list, wt.data(), u0, n, thr);
    state.MergeThreshold = thr;
    // With the bar's range 0..8 this is MergeThreshold * (1 + position).
    const int32_t range = settings.RareThresholdMax - settings.RareThresholdMin;
    pr.rareThr = int64_t{thr} + static_cast<int64_t>(std::nearbyint(8.0 * thr / (range > 0 ? range : 8) *
                                                                     settings.RareThreshold));

    int32_t kept = 0;
    for (int32_t i = 0; i < u0; ++i)
        if (list[i].Weight > 0) {
            list[kept] = list[i];
            wt[static_cast<size_t>(kept)] = wt[static_cast<size_t>(i)];
            ++kept;
        }
    state.ColorListLength = kept;

    if (n >= kept) {
        state.PaletteSize = kept;
    } else {
        int32_t reserve = static_cast<int32_t>(std::nearbyint(settings.RareReserve * static_cast<double>(n) / 100.0));
        const bool passFlag = reserve == 0;
        SortPalette(state, kept, SortByWeight, wt.data());
        list = state.Palette.data();
        TWeightedList rare;
        ClusterColors(pr, list, wt.data(), &rare, kept, passFlag, reserve, n, indexedSearch);
        if (!rare.rec.empty() && reserve != 0) {
            const int32_t len = static_cast<int32_t>(rare.rec.size());
            if (len > reserve) {
                SortPixels(rare.rec.data(), len, SortByWeight, nullptr, rare.wt.data());
                ClusterColors(pr, rare.rec.data(), rare.wt.data(), nullptr, len, true, 0, reserve, indexedSearch);
            } else {
                reserve = len;
            }
            for (int32_t i = 0; i < reserve; ++i) {
                state.Palette[static_cast<size_t>(n - reserve + i)] = rare.rec[static_cast<size_t>(i)];
                wt[static_cast<size_t>(n - reserve + i)] = rare.wt[static_cast<size_t>(i)];
            }
        }
    }
    // A merged colour can end up fully transparent with some colour left in it.
    for (int32_t i = 0; i < state.PaletteSize; ++i)
        if (state.Palette[static_cast<size_t>(i)].A == 0) ClearPixel(state, state.Palette[static_cast<size_t>(i)]);
    if (state.PaletteOrder.size() < static_cast<size_t>(state.PaletteSize))
        state.PaletteOrder.resize(static_cast<size_t>(state.PaletteSize));
    for (int32_t i = 0; i < state.PaletteSize; ++i) state.PaletteOrder[static_cast<size_t>(i)] = i;
}

}  // namespace jx
