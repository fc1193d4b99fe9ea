#pragma once
// The search over row-filter sets, strategies, levels, memory levels and heuristics.
#include <array>
#include <cstdint>
#include <functional>
#include <ostream>

#include "pngopt/encoder.h"
#include "pngopt/options.h"
#include "pngopt/thread_pool.h"

namespace jx::quillox {

// Index 0..29: the filter sets the trials may give the encoder (bit 0 None .. bit 4 Paeth).
extern const std::array<uint8_t, kFilterSetCount> kFilterSets;

struct TrialResult {
    EncodedPng best;
    int filterIndex = 0;
    int strategy = 0;
    int level = 0;
    int memLevel = 0;
    int heuristic = 0;
    uint32_t idatSize = 0;
    uint64_t fileSize = 0;
    int trialTotal = 0;  // the counter's end value of the counting pass
};

bool TrialAllowed(const Options& o, int filterIndex, int strategy, int level, int memLevel);

// Finds the smallest encoding; with a pool the trials run in parallel and give the very result
// (and progress text) of a sequential run. progress is null when quiet. With spareCores the
// search may run trials ahead that a later stage is likely to want (more work, less wait);
// without, when other files share the pool, it does only the work it needs.
TrialResult RunTrialSearch(const OutputImage& image, const Options& options, const PngEncodeFn& encode,
                           ThreadPool* pool, std::ostream* progress, bool spareCores = true);
// spareCores asked again at each stage: other files may have finished in the meantime.
TrialResult RunTrialSearch(const OutputImage& image, const Options& options, const PngEncodeFn& encode,
                           ThreadPool* pool, std::ostream* progress, const std::function<bool()>& spareCores);

}  // namespace jx::quillox
