#include "platform/file_size.h"

#include <sys/stat.h>

namespace jx {

int32_t FileSizeOf(const std::string& fileName) {
    struct stat st {};
    if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) >= (uint64_t{1} << 31)) return -1;
    return static_cast<int32_t>(st.st_size);
}

}  // namespace jx
