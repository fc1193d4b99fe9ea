#include "fileio/file_bytes.h"

#include <cstring>

#include "fileio/errors.h"
#include "platform/errors.h"
#include "platform/read_file.h"
#include "platform/replace_file.h"

namespace jx {

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    int error = 0;
    switch (ReadWholeFile(path, uint64_t{1} << 31, bytes, &error)) {
        case FileReadFailure::None: return bytes;
        case FileReadFailure::CannotOpen: throw FileIoError("Cannot open " + path + ": " + std::strerror(error));
        case FileReadFailure::TooLarge: throw FileIoError("File too large: " + path);
        case FileReadFailure::CannotRead: break;
    }
    throw FileIoError("Cannot read " + path);
}

void WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes) {
    try {
        WriteScratchFile(path, bytes);
    } catch (const PlatformError& e) {
        throw FileIoError(e.what());
    }
}

}  // namespace jx
