#include "pngopt/trials.h"

#include <limits>
#include <string>
#include <vector>

#include "pngopt/pngenc/errors.h"

namespace jx::quillox {

namespace {
constexpr uint8_t N = 1, S = 2, U = 4, A = 8, P = 16;
}

const std::array<uint8_t, kFilterSetCount> kFilterSets = {
    N,         S,         U,         A,         P,         N | S | U | A | P,
    N | S,     N | U,     N | A,     N | P,     S | U,     S | A,
    S | P,     U | A,     U | P,     A | P,     N | S | U, N | S | A,
    N | S | P, N | U | A, N | U | P, N | A | P, S | U | A, S | U | P,
    S | A | P, U | A | P, N | S | U | A, N | S | U | P, N | S | A | P, S | U | A | P,
};

bool TrialAllowed(const Options& o, int filterIndex, int strategy, int level, int memLevel) {
    if (filterIndex < 0 || filterIndex >= kFilterSetCount || !o.filters[filterIndex]) return false;
    if (level < 1 || level > 9 || !o.levels[level]) return false;
    if (memLevel < 1 || memLevel > 9 || !o.memLevels[memLevel]) return false;
    if (strategy < 0 || strategy > 4 || !o.strategies[strategy]) return false;
    if ((strategy == 2 || strategy == 4) && level > o.levelMin) return false;
    if (strategy == 3 && level < o.levelMax) return false;
    return true;
}

namespace {

struct Trial {
    int filterIndex, strategy, level, memLevel;
    int counter;  // the counter's value once this combination was counted
};

class Search {
public:
    Search(const OutputImage& image, const Options& o, const PngEncodeFn& encode, ThreadPool* pool,
           std::ostream* out)
        : image_(image), o_(o), encode_(encode), pool_(pool), out_(out) {}

    TrialResult Run() {
        heuristic_ = o_.heuristic;
        if (o_.heuristicByColorType) heuristic_ = (image_.colorType == kPngGrey || image_.colorType == kPngPalette) ? 2 : 7;
        r_.heuristic = heuristic_;

        // Counting pass: disallowed combinations count too, so the percentage ends at 100.
        std::vector<Trial> grid;
        int counter = 0;
        for (int f = 5; f >= 0; --f)
            for (int s = o_.strategyMin; s <= o_.strategyMax; ++s)
                for (int l = o_.levelMax; l >= o_.levelMin; --l) {
                    ++counter;
                    if (TrialAllowed(o_, f, s, l, o_.memMax)) grid.push_back({f, s, l, o_.memMax, counter});
                }
        total_ = counter + (o_.memMax - o_.memMin);
        r_.trialTotal = total_;
        RunTrials(grid);
        if (!haveBest_) throw PngError("No combination of the options allows a trial");

        if (o_.memMax - 1 >= o_.memMin) {
            std::vector<Trial> mem;
            for (int m = o_.memMax - 1; m >= o_.memMin; --m) {
                ++counter;
                if (TrialAllowed(o_, r_.filterIndex, r_.strategy, r_.level, m))
                    mem.push_back({r_.filterIndex, r_.strategy, r_.level, m, counter});
            }
            RunTrials(mem);
        }
        Write("\n");

        if (o_.filters[6]) ExtraStage();
        Write(std::string(80, ' '));
        Write("\r");
        r_.fileSize = r_.best.bytes.size();
        return std::move(r_);
    }

private:
    void Write(const std::string& text) {
        if (out_) {
            *out_ << text;
            out_->flush();
        }
    }

    EncodeSettings Settings(int filterIndex, int strategy, int level, int memLevel, int heuristic,
                            bool fingerprintOnly = false) const {
        EncodeSettings s;
        s.filterSet = kFilterSets[filterIndex];
        s.strategy = strategy;
        s.level = level;
        s.memLevel = memLevel;
        s.windowBits = o_.windowBits;
        s.heuristic = heuristic;
        s.fingerprintOnly = fingerprintOnly;
        s.maxIdatSize = 0xFFFFF;
        return s;
    }

    // Keeps the first strictly smaller result, which is what a sequential loop keeps.
    bool Offer(EncodedPng&& png) {
        if (haveBest_ && png.bytes.size() >= r_.best.bytes.size()) return false;
        r_.best = std::move(png);
        r_.idatSize = r_.best.idatSize;
        haveBest_ = true;
        return true;
    }

    void RunTrials(const std::vector<Trial>& trials) {
        RunOrdered<EncodedPng>(
            pool_, trials.size(),
            [&](size_t i) {
                const Trial& t = trials[i];
                return encode_(image_, Settings(t.filterIndex, t.strategy, t.level, t.memLevel, heuristic_));
            },
            [&](size_t i) {
                if (!haveBest_) return;
                Write("IDAT=" + std::to_string(r_.idatSize) + "\t");
                Write("file=" + std::to_string(r_.best.bytes.size()) + "\t");
                Write("complete=" + std::to_string(trials[i].counter * 100 / total_) + "%" + std::string(16, ' ') +
                      "\r");
            },
            [&](size_t i, EncodedPng&& png) {
                const Trial& t = trials[i];
                fingerprints_[t.filterIndex] = png.fingerprint;
                if (Offer(std::move(png))) {
                    r_.filterIndex = t.filterIndex;
                    r_.strategy = t.strategy;
                    r_.level = t.level;
                    r_.memLevel = t.memLevel;
                    r_.heuristic = heuristic_;
                }
            });
    }

    void ExtraStage() {
        Write(std::string(80, ' '));
        Write("\r");
        Write("extra...\n");
        std::vector<int> heuristics;
        for (int k = 0; k <= 9; ++k)
            if (k != heuristic_) heuristics.push_back(k);
        const int strategy = r_.strategy, level = r_.level, memLevel = r_.memLevel;
        RunOrdered<EncodedPng>(
            pool_, heuristics.size(),
            [&](size_t i) { return encode_(image_, Settings(5, strategy, level, memLevel, heuristics[i])); },
            [&](size_t i) { Write("fs:" + std::to_string(heuristics[i]) + "\tf:5\r"); },
            [&](size_t i, EncodedPng&& png) {
                if (!Offer(std::move(png))) return;
                Write("fs:" + std::to_string(heuristics[i]) + "\tf:5\tIDAT=" + std::to_string(r_.idatSize) +
                      "\tfile=" + std::to_string(r_.best.bytes.size()) + "\n\r");
                r_.heuristic = heuristics[i];
                r_.filterIndex = 5;
            });
        if (r_.filterIndex != 5) return;

        const int h = r_.heuristic;
        RunOrdered<EncodedPng>(
            pool_, kFilterSetCount - 5,
            [&](size_t i) { return encode_(image_, Settings(static_cast<int>(i) + 5, strategy, level, memLevel, h, true)); },
            [](size_t) {},
            [&](size_t i, EncodedPng&& png) { fingerprints_[i + 5] = png.fingerprint; });
        for (int i = 0; i < kFilterSetCount - 1; ++i)
            for (int j = i + 1; j < kFilterSetCount; ++j)
                if (fingerprints_[j] == fingerprints_[i]) fingerprints_[j] = 0;

        std::vector<int> sets;
        for (int f = 6; f < kFilterSetCount; ++f)
            if (fingerprints_[f] != 0) sets.push_back(f);
        static const char kSpinner[] = {'\\', '|', '/', '-'};
        RunOrdered<EncodedPng>(
            pool_, sets.size(),
            [&](size_t i) { return encode_(image_, Settings(sets[i], strategy, level, memLevel, h)); },
            [&](size_t i) { Write("fs:" + std::to_string(h) + "\tf:" + std::string(1, kSpinner[i % 4]) + "\r"); },
            [&](size_t i, EncodedPng&& png) {
                if (!Offer(std::move(png))) return;
                Write("fs:" + std::to_string(h) + "\tf:5e\tIDAT=" + std::to_string(r_.idatSize) +
                      "\tfile=" + std::to_string(r_.best.bytes.size()) + "\n\r");
                r_.filterIndex = sets[i];
            });
    }

    const OutputImage& image_;
    const Options& o_;
    const PngEncodeFn& encode_;
    ThreadPool* pool_;
    std::ostream* out_;
    TrialResult r_;
    bool haveBest_ = false;
    int heuristic_ = 2;
    int total_ = 1;
    std::array<uint32_t, kFilterSetCount> fingerprints_{};
};

}  // namespace

TrialResult RunTrialSearch(const OutputImage& image, const Options& options, const PngEncodeFn& encode,
                           ThreadPool* pool, std::ostream* progress) {
    return Search(image, options, encode, pool, progress).Run();
}

}  // namespace jx::quillox
