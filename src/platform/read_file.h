#pragma once
// One read of a whole file, shared by every layer that loads files into memory.
#include <cstdint>
#include <string>
#include <vector>

namespace jx {

enum class FileReadFailure { None, CannotOpen, TooLarge, CannotRead };

// The whole of a regular file in one read. A file larger than maxBytes is refused before any
// memory is taken; anything but a regular file (a folder, a pipe that could block) is refused
// as unreadable. On failure bytes is left empty and, where the system gave one, *error holds its
// errno; each caller words its own message.
FileReadFailure ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes,
                              int* error = nullptr);

}  // namespace jx
