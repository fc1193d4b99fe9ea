#pragma once
// Runs the trial encodings of one image with the project's encoder, giving every trial the
// file EncodePngJx would write, for less work:
// - the five filters' row costs are computed once per heuristic, and any filter set's row
//   choices follow from them;
// - equal row choices mean equal filtered data, and each distinct (data, level, memory level,
//   strategy, window) is deflated once;
// - a trial is abandoned as soon as its compressed output shows it cannot win: larger than a
//   finished trial, or as large as one that comes earlier (the earlier trial wins a tie);
// - trials run on every worker of the pool, in the order the caller gives.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "pngopt/encoder.h"
#include "pngopt/output.h"
#include "pngopt/thread_pool.h"

namespace jx::quillox {

struct EngineTrial {
    EncodeSettings settings;
    int seq = 0;  // position in the sequential search: lower wins a tie
    // Run ahead of the stage that may ask for it, on cores that would idle: its result is kept
    // for that trial (seq is the one it would have) and counts for nothing until then.
    bool speculative = false;
};

struct EngineOutcome {
    bool lost = false;          // abandoned: it is neither smaller than nor as small as an earlier best
    uint64_t fileSize = 0;      // when not lost
    uint32_t idatSize = 0;      // when not lost
    uint32_t fingerprint = 0;   // always
};

class TrialEngine {
public:
    // earlierBoundsOnly: only trials that come earlier abandon a trial, so every trial that is
    // the best of those before it is measured (what a progress display needs).
    TrialEngine(const OutputImage& image, ThreadPool* pool, bool earlierBoundsOnly);
    ~TrialEngine();
    TrialEngine(const TrialEngine&) = delete;
    TrialEngine& operator=(const TrialEngine&) = delete;

    // Runs trials (fingerprint-only ones just choose rows) in the order of `order` (indices into
    // trials) and returns the outcomes in the order of trials.
    std::vector<EngineOutcome> Run(const std::vector<EngineTrial>& trials, const std::vector<size_t>& order);

    // Queues trials to run on workers that would otherwise idle, without waiting for them: a
    // trial Run is given later finds its deflate done (or running). Their seq is a guess that
    // only steers abandoning. DropAhead gives up every one not finished yet but those keep
    // holds to; those kept are no longer subject to a later DropAhead.
    void RunAhead(const std::vector<EngineTrial>& trials);
    void DropAhead(const std::function<bool(const EncodeSettings&)>& keep = nullptr);

    // The file of the best trial measured so far (smallest size, then lowest seq), and its seq.
    // Ends running ahead.
    EncodedPng BestFile();
    int BestSeq() const;

private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};

// The size of the file EncodePngJx writes for the image under these settings, found without
// keeping the file (its deflate output goes through a small buffer). Gives up, with nullopt, as
// soon as the file is sure to be at least limit() bytes; limit is read as the encode runs and
// may fall meanwhile. A size at or above the limit may still come back.
std::optional<uint64_t> MeasureEncodedSize(const OutputImage& image, const EncodeSettings& settings,
                                           const std::function<uint64_t()>& limit);

// Runs job(0..n-1) on the pool's workers and the calling thread; returns when all are done.
// The caller takes part, so this may be used from inside a pool job. The first error is rethrown.
void ParallelFor(ThreadPool* pool, size_t n, const std::function<void(size_t)>& job);

}  // namespace jx::quillox
