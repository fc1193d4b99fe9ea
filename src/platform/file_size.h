#pragma once
#include <cstdint>
#include <string>

namespace jx {

// A file's size from its directory entry: 0 when it is missing (or not a regular file), -1 at 2^31
// bytes or more, else the size in bytes.
int32_t FileSizeOf(const std::string& fileName);

}  // namespace jx
