#include "platform/temp_name.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/errors.h"

namespace jx {

TempStem::TempStem(const std::filesystem::path& folder) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    auto tick = static_cast<uint32_t>(ms);
    for (int attempt = 0; attempt < 4096; ++attempt, ++tick) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(tick));
        std::string candidate = (folder / hex).string();
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            stem_ = std::move(candidate);
            return;
        }
        if (errno != EEXIST) {
            throw PlatformError("Cannot create a temporary file in " + folder.string() + ": " + std::strerror(errno));
        }
    }
    throw PlatformError("No free temporary name in " + folder.string());
}

TempStem::~TempStem() { ::unlink(stem_.c_str()); }

std::filesystem::path CreateUniqueFile(const std::filesystem::path& folder, const std::string& prefix, unsigned mode) {
    static const char chars[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 8; ++i) name += chars[random() % (sizeof chars - 1)];
        std::filesystem::path p = folder / name;
        int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd >= 0) {
            ::close(fd);
            return p;
        }
        if (errno != EEXIST) {
            throw PlatformError("Cannot create a temporary file in " + folder.string() + ": " + std::strerror(errno));
        }
    }
    throw PlatformError("No free temporary name in " + folder.string());
}

}  // namespace jx
