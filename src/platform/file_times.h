#pragma once
// File times and file identity, as the batch conversion needs them.
#include <cstdint>
#include <optional>
#include <string>

namespace jx {

// A file's modification time in nanoseconds since 1970 (symbolic links followed); none when the
// file cannot be read.
std::optional<int64_t> FileModificationTime(const std::string& path);

// Gives the file (the target of a link) that modification time, and the same access time.
// PlatformError naming the file when the system refuses.
void SetFileModificationTime(const std::string& path, int64_t nanoseconds);

// Both names reach the same file (same device and inode, links followed). False when either is
// missing, so two spellings of one file are the same and two different files never are.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace jx
