#include "platform/start_mode.h"

#include <sys/stat.h>

#include "platform/ascii.h"

namespace jx {

bool IsBatchMode(const std::vector<std::string>& args) {
    if (args.empty()) return false;
    if (args.size() > 1) return true;
    const std::string first = AsciiLower(args[0]);
    if (first == "batch" || first == "-batch" || first == "/batch" || first == "--batch") return true;
    struct stat st {};
    return !args[0].empty() && ::stat(args[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace jx
