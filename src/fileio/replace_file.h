#pragma once
// The savers' side of the platform's replace routine: the same steps (temporary beside the
// destination, flushed, mode and owner of the old file kept, a link's target replaced, renamed into
// place), with failures raised as FileIoError that name the destination and the cause.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>

namespace jx {

// `write` fills the temporary file at the path it is given (a library may open it by name); on
// success the file replaces `destination`. Any failure removes the temporary file, leaves the
// old destination as it was and raises FileIoError naming the destination.
void ReplaceFileWith(const std::string& destination, const std::function<void(const std::string& tempPath)>& write);

// The same with a stream that the caller's writer fills; a refused write reports the system's reason.
void ReplaceFileWithStream(const std::string& destination, const std::function<void(std::ostream&)>& write);

void ReplaceFileWithBytes(const std::string& destination, std::span<const uint8_t> bytes);

// Raises FileIoError now for a destination the routines above would refuse once written
// (write-protected, not a regular file), so no long encoding runs in vain.
void CheckFileReplaceable(const std::string& destination);

}  // namespace jx
