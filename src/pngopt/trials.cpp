#include "pngopt/trials.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "pngenc/errors.h"
#include "pngopt/trial_engine.h"

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

// One trial's result as the search reads it. Abandoned trials are known only to lose.
struct Outcome {
    int seq = 0;  // place in the sequential search
    bool lost = false;
    uint64_t fileSize = 0;
    uint32_t idatSize = 0;
    uint32_t fingerprint = 0;
    std::optional<EncodedPng> png;  // the file, from an encoder the engine does not stand in for
};

// Likely winners first, so the abandoning bound is tight early: the default and filtered
// strategies before run-length and Huffman-only ones. Which trial wins does not depend on it.
int StrategyRank(int strategy) { return strategy <= 1 ? 0 : 1; }

class Search {
public:
    Search(const OutputImage& image, const Options& o, const PngEncodeFn& encode, ThreadPool* pool,
           std::ostream* out, std::function<bool()> spareCores)
        : image_(image), o_(o), encode_(encode), pool_(pool), out_(out), spareCores_(std::move(spareCores)) {
        if (IsPngEncoderJx(encode)) engine_ = std::make_unique<TrialEngine>(image, pool, out != nullptr);
    }

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
        // The memory pass's first trial for the likely winners, on cores the grid leaves idle;
        // once the winner is known the others are given up.
        if (engine_) engine_->RunAhead(MemoryPassAhead(grid));
        RunTrials(grid);
        if (!haveBest_) throw PngError("No combination of the options allows a trial");
        if (engine_)
            engine_->DropAhead([&](const EncodeSettings& s) {
                return s.filterSet == kFilterSets[r_.filterIndex] && s.strategy == r_.strategy && s.level == r_.level;
            });

        std::vector<Trial> mem;
        for (int m = o_.memMax - 1; m >= o_.memMin; --m) {
            ++counter;
            if (TrialAllowed(o_, r_.filterIndex, r_.strategy, r_.level, m))
                mem.push_back({r_.filterIndex, r_.strategy, r_.level, m, counter});
        }
        // The extra stage's trials for the grid's winner, on cores the memory pass leaves idle.
        const bool ahead = engine_ && o_.filters[6] && SpareCores();
        const int extraSeq = nextSeq_ + static_cast<int>(mem.size());
        const auto guess = std::make_tuple(r_.strategy, r_.level, r_.memLevel);
        if (ahead) ExtraAhead(extraSeq);
        if (!mem.empty()) RunTrials(mem);
        if (ahead && guess != std::make_tuple(r_.strategy, r_.level, r_.memLevel)) {
            engine_->DropAhead();
            ExtraAhead(extraSeq);
        }
        Write("\n");

        if (o_.filters[6]) ExtraStage();
        Write(std::string(80, ' '));
        Write("\r");
        if (engine_) {
            if (engine_->BestSeq() != bestSeq_) throw PngError("Internal error: the trial engine lost the best trial");
            r_.best = engine_->BestFile();
        }
        r_.fileSize = r_.best.bytes.size();
        return std::move(r_);
    }

private:
    bool SpareCores() const { return pool_ && spareCores_(); }

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
    bool Offer(Outcome&& outcome) {
        if (outcome.lost) return false;
        if (haveBest_ && outcome.fileSize >= bestSize_) return false;
        if (outcome.png) r_.best = std::move(*outcome.png);
        bestSize_ = outcome.fileSize;
        bestSeq_ = outcome.seq;
        r_.idatSize = outcome.idatSize;
        haveBest_ = true;
        return true;
    }

    // Runs the trials (in `order` where they run in parallel) and hands each outcome to
    // consume in trial order, with before(i) just ahead of it, as a sequential run would.
    void Execute(const std::vector<EncodeSettings>& trials, const std::vector<size_t>& order,
                 const std::function<void(size_t)>& before, const std::function<void(size_t, Outcome&&)>& consume,
                 const std::vector<EngineTrial>& ahead = {}) {
        const int first = nextSeq_;
        nextSeq_ += static_cast<int>(trials.size());
        if (engine_) {
            std::vector<EngineTrial> run;
            for (size_t i = 0; i < trials.size(); ++i) run.push_back({trials[i], first + static_cast<int>(i)});
            std::vector<size_t> all = order;
            for (const EngineTrial& t : ahead) {
                all.push_back(run.size());
                run.push_back(t);
            }
            std::vector<EngineOutcome> results = engine_->Run(run, all);
            for (size_t i = 0; i < trials.size(); ++i) {
                before(i);
                const EngineOutcome& e = results[i];
                consume(i, Outcome{first + static_cast<int>(i), e.lost, e.fileSize, e.idatSize, e.fingerprint, std::nullopt});
            }
            return;
        }
        RunOrdered<EncodedPng>(
            pool_, trials.size(), [&](size_t i) { return encode_(image_, trials[i]); }, before,
            [&](size_t i, EncodedPng&& png) {
                Outcome o{first + static_cast<int>(i), false, png.bytes.size(), png.idatSize, png.fingerprint, std::nullopt};
                o.png = std::move(png);
                consume(i, std::move(o));
            });
    }

    static std::vector<size_t> InOrder(size_t n) {
        std::vector<size_t> order(n);
        for (size_t i = 0; i < n; ++i) order[i] = i;
        return order;
    }

    void RunTrials(const std::vector<Trial>& trials, const std::vector<EngineTrial>& ahead = {}) {
        std::vector<EncodeSettings> settings;
        for (const Trial& t : trials) settings.push_back(Settings(t.filterIndex, t.strategy, t.level, t.memLevel, heuristic_));
        std::vector<size_t> order = InOrder(trials.size());
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return StrategyRank(trials[a].strategy) < StrategyRank(trials[b].strategy);
        });
        Execute(
            settings, order,
            [&](size_t i) {
                if (!haveBest_) return;
                Write("IDAT=" + std::to_string(r_.idatSize) + "\t");
                Write("file=" + std::to_string(bestSize_) + "\t");
                Write("complete=" + std::to_string(trials[i].counter * 100 / total_) + "%" + std::string(16, ' ') +
                      "\r");
            },
            [&](size_t i, Outcome&& o) {
                const Trial& t = trials[i];
                fingerprints_[t.filterIndex] = o.fingerprint;
                if (Offer(std::move(o))) {
                    r_.filterIndex = t.filterIndex;
                    r_.strategy = t.strategy;
                    r_.level = t.level;
                    r_.memLevel = t.memLevel;
                    r_.heuristic = heuristic_;
                }
            },
            ahead);
    }

    // The memory pass's first trial for each likely grid winner: the pass then mostly finds
    // its result waiting.
    std::vector<EngineTrial> MemoryPassAhead(const std::vector<Trial>& grid) const {
        std::vector<EngineTrial> ahead;
        if (!engine_ || o_.memMax - 1 < o_.memMin || !SpareCores()) return ahead;
        const int m = o_.memMax - 1;
        const int seq = nextSeq_ + static_cast<int>(grid.size());  // the pass's first trial
        for (const Trial& t : grid)
            if (StrategyRank(t.strategy) == 0 && t.level == o_.levelMax && (t.filterIndex == 5 || t.filterIndex == 0) &&
                TrialAllowed(o_, t.filterIndex, t.strategy, t.level, m))
                ahead.push_back({Settings(t.filterIndex, t.strategy, t.level, m, heuristic_), seq, true});
        return ahead;
    }

    // The extra stage's heuristic trials for the current best, to run ahead. Its filter-set
    // trials are not: they follow only when the heuristic stays, and cost more than they save
    // when it does not. firstSeq is the stage's first seq.
    void ExtraAhead(int firstSeq) {
        std::vector<EngineTrial> trials;
        int seq = firstSeq;
        // Heuristic 7's row costs depend on the deflate settings and cannot be given up half
        // way: a wrong guess of the memory level would waste them.
        for (int k = 0; k <= 9; ++k)
            if (k != heuristic_) {
                if (k != 7) trials.push_back({Settings(5, r_.strategy, r_.level, r_.memLevel, k), seq, true});
                ++seq;
            }
        engine_->RunAhead(trials);
    }

    // The filter sets past the first six whose row choices differ from every other set's.
    static std::vector<int> DistinctSets(std::array<uint32_t, kFilterSetCount> fingerprints) {
        for (int i = 0; i < kFilterSetCount - 1; ++i)
            for (int j = i + 1; j < kFilterSetCount; ++j)
                if (fingerprints[j] == fingerprints[i]) fingerprints[j] = 0;
        std::vector<int> sets;
        for (int f = 6; f < kFilterSetCount; ++f)
            if (fingerprints[f] != 0) sets.push_back(f);
        return sets;
    }

    void ExtraStage() {
        Write(std::string(80, ' '));
        Write("\r");
        Write("extra...\n");
        std::vector<int> heuristics;
        for (int k = 0; k <= 9; ++k)
            if (k != heuristic_) heuristics.push_back(k);
        const int strategy = r_.strategy, level = r_.level, memLevel = r_.memLevel;
        std::vector<EncodeSettings> trials;
        for (int k : heuristics) trials.push_back(Settings(5, strategy, level, memLevel, k));
        Execute(
            trials, InOrder(trials.size()),
            [&](size_t i) { Write("fs:" + std::to_string(heuristics[i]) + "\tf:5\r"); },
            [&](size_t i, Outcome&& o) {
                if (!Offer(std::move(o))) return;
                Write("fs:" + std::to_string(heuristics[i]) + "\tf:5\tIDAT=" + std::to_string(r_.idatSize) +
                      "\tfile=" + std::to_string(bestSize_) + "\n\r");
                r_.heuristic = heuristics[i];
                r_.filterIndex = 5;
            });
        if (r_.filterIndex != 5) return;

        const int h = r_.heuristic;
        trials.clear();
        for (int f = 5; f < kFilterSetCount; ++f) trials.push_back(Settings(f, strategy, level, memLevel, h, true));
        Execute(
            trials, InOrder(trials.size()), [](size_t) {},
            [&](size_t i, Outcome&& o) { fingerprints_[i + 5] = o.fingerprint; });
        const std::vector<int> sets = DistinctSets(fingerprints_);
        trials.clear();
        for (int f : sets) trials.push_back(Settings(f, strategy, level, memLevel, h));
        static const char kSpinner[] = {'\\', '|', '/', '-'};
        Execute(
            trials, InOrder(trials.size()),
            [&](size_t i) { Write("fs:" + std::to_string(h) + "\tf:" + std::string(1, kSpinner[i % 4]) + "\r"); },
            [&](size_t i, Outcome&& o) {
                if (!Offer(std::move(o))) return;
                Write("fs:" + std::to_string(h) + "\tf:5e\tIDAT=" + std::to_string(r_.idatSize) +
                      "\tfile=" + std::to_string(bestSize_) + "\n\r");
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
    uint64_t bestSize_ = 0;
    int bestSeq_ = -1;
    int nextSeq_ = 0;
    std::unique_ptr<TrialEngine> engine_;
    std::function<bool()> spareCores_;
    int heuristic_ = 2;
    int total_ = 1;
    std::array<uint32_t, kFilterSetCount> fingerprints_{};
};

}  // namespace

TrialResult RunTrialSearch(const OutputImage& image, const Options& options, const PngEncodeFn& encode,
                           ThreadPool* pool, std::ostream* progress, bool spareCores) {
    return Search(image, options, encode, pool, progress, [spareCores] { return spareCores; }).Run();
}

TrialResult RunTrialSearch(const OutputImage& image, const Options& options, const PngEncodeFn& encode,
                           ThreadPool* pool, std::ostream* progress, const std::function<bool()>& spareCores) {
    return Search(image, options, encode, pool, progress, spareCores).Run();
}

}  // namespace jx::quillox
