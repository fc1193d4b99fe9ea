#pragma once
// Several files optimised at once, their console text kept whole and in input order.
#include <string>
#include <utility>
#include <vector>

#include "pngopt/program.h"

namespace jx::quillox {

// Whether the run may optimise files side by side: a pool, more than one file, nothing that
// reads answers from the console, ends the run after a file or appends to a log, and no file
// that another one's output would write.
bool CanOptimizeFilesInParallel(const Options& options, const ProgramContext& context,
                                const std::vector<std::pair<std::string, std::string>>& files);

// Memory one file may take while it is optimised (a rough upper figure from its header).
uint64_t FileMemoryEstimate(const std::string& input, size_t threads);

// OptimizeFile over (input, output) pairs, as many at once as the pool has workers and the
// memory allows; each file's text, followed by a line end, is printed when the files before it
// are done. The outcomes come back in input order.
std::vector<FileOutcome> OptimizeFilesInParallel(const std::vector<std::pair<std::string, std::string>>& files,
                                                 const Options& options, ProgramContext& context);

}  // namespace jx::quillox
