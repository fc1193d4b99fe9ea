#pragma once
#include <string>
#include <vector>

namespace jx {

// Batch mode: the first argument is "batch", "-batch", "/batch" or "--batch" in any case, or there
// are two or more arguments, or the single argument names an existing folder. A first argument
// that names nothing does not select it. args excludes the program name.
bool IsBatchMode(const std::vector<std::string>& args);

}  // namespace jx
