#pragma once
// Whole files in and out as bytes, with failures raised as FileIoError naming the file.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace jx {

// The whole file (2 GiB at most); FileIoError naming it when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Writes a scratch file: an older file of that name is deleted, never followed, and the new one is
// created with O_EXCL | O_NOFOLLOW, mode 0600. FileIoError naming it when that fails.
void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace jx
