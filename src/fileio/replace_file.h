#pragma once
// Writing a file so that a failure never leaves a half-written destination: the bytes go to a
// temporary name in the destination's folder, which is renamed over the destination at the end.
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

// The same with a stream that the caller's writer fills.
void ReplaceFileWithStream(const std::string& destination, const std::function<void(std::ostream&)>& write);

void ReplaceFileWithBytes(const std::string& destination, std::span<const uint8_t> bytes);

}  // namespace jx
