#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"

namespace jx {

std::optional<int64_t> FileModificationTime(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void SetFileModificationTime(const std::string& path, int64_t nanoseconds) {
    int64_t sec = nanoseconds / 1000000000, nsec = nanoseconds % 1000000000;
    if (nsec < 0) {
        nsec += 1000000000;
        --sec;
    }
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(sec);
    times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(nsec);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw PlatformError("Cannot set the time of " + path + ": " + std::strerror(errno));
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace jx
