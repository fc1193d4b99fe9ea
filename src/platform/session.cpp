#include "platform/session.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/errors.h"

namespace jx {
namespace {

constexpr time_t kOrphanAgeSeconds = 600;

bool IsFolder(const char* path) {
    struct stat st {};
    return path && *path && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string StripTrailingSlashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::string ErrnoText(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

// A bare name: no path separators, not "." or "..", not empty.
bool IsBareName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// Deletes everything in an open folder except `keep`, sub-folders with all they hold (links are
// removed, never followed); returns false when something stays.
bool RemoveContents(int dirFd, const char* keep, int depth = 0) {
    int dupFd = ::dup(dirFd);
    if (dupFd < 0) return false;
    DIR* dir = ::fdopendir(dupFd);
    if (!dir) {
        ::close(dupFd);
        return false;
    }
    ::rewinddir(dir);
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(dir)) {
        const char* n = e->d_name;
        if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
        if (keep && std::strcmp(n, keep) == 0) continue;
        names.emplace_back(n);
    }
    ::closedir(dir);
    bool allGone = true;
    for (const std::string& n : names) {
        struct stat st {};
        if (::fstatat(dirFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            const int sub = depth < 64 ? ::openat(dirFd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            if (sub < 0) {
                allGone = false;
                continue;
            }
            RemoveContents(sub, nullptr, depth + 1);
            ::close(sub);
            if (::unlinkat(dirFd, n.c_str(), AT_REMOVEDIR) != 0) allGone = false;
        } else if (::unlinkat(dirFd, n.c_str(), 0) != 0) {
            allGone = false;
        }
    }
    return allGone;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_ino == b.st_ino && a.st_dev == b.st_dev; }

std::string TickHex2() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const unsigned long long ms = static_cast<unsigned long long>(ts.tv_sec) * 1000ULL +
                                  static_cast<unsigned long long>(ts.tv_nsec / 1000000);
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02llX", ms & 0xFFULL);
    return buf;
}

}  // namespace

std::string TempFolder() {
    const char* t = std::getenv("TMPDIR");
    if (IsFolder(t)) return StripTrailingSlashes(t);
    return "/tmp";
}

std::string RuntimeFolder() {
    const char* r = std::getenv("XDG_RUNTIME_DIR");
    if (r && *r) {
        struct stat st {};
        if (::lstat(r, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
            (st.st_mode & 077) == 0)
            return StripTrailingSlashes(r);
    }
    const std::string dir = TempFolder() + "/jx-runtime-" + std::to_string(::geteuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw PlatformError(ErrnoText("Cannot create the runtime folder", dir));
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0)
        throw PlatformError("The runtime folder \"" + dir + "\" is not a private folder of this user");
    return dir;
}

SessionFolder::SessionFolder(const std::string& base) {
    // A sweep by another start-up may take a new folder's lock before we do, or remove the folder
    // under us; then that folder is given up and another one made.
    std::string lastError;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string templ = StripTrailingSlashes(base) + "/" + kPrefix + TickHex2() + "XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data()))
            throw PlatformError(ErrnoText("Cannot create the session folder in", base));
        const std::string dir(buf.data());
        const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st {};
        if (dirFd < 0 || ::fstat(dirFd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
            (st.st_mode & 0777) != 0700) {
            const std::string msg = "The session folder \"" + dir + "\" is not a private folder of this user";
            if (dirFd >= 0) ::close(dirFd);
            ::rmdir(dir.c_str());
            throw PlatformError(msg);
        }
        const int lockFd = ::openat(dirFd, kLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (lockFd < 0) {
            lastError = ErrnoText("Cannot lock the session folder", dir);
        } else if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
            lastError = ErrnoText("Cannot lock the session folder", dir);
        } else {
            // Ours only if the lock file we hold is still the one in the folder, and the folder
            // still the one at that name.
            struct stat lockSt {}, named {}, folderNow {};
            if (::fstat(lockFd, &lockSt) == 0 && lockSt.st_nlink > 0 &&
                ::fstatat(dirFd, kLockName, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(lockSt, named) &&
                ::lstat(dir.c_str(), &folderNow) == 0 && SameFile(folderNow, st)) {
                dirFd_ = dirFd;
                lockFd_ = lockFd;
                path_ = dir + "/";
                return;
            }
            lastError = "The session folder \"" + dir + "\" was removed while it was being made";
        }
        // Given up: a sweep that holds this folder's lock removes it; otherwise we do.
        if (lockFd >= 0) ::close(lockFd);
        const int probe = ::openat(dirFd, kLockName, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (probe < 0 || ::flock(probe, LOCK_EX | LOCK_NB) == 0) {
            RemoveContents(dirFd, kLockName);
            ::unlinkat(dirFd, kLockName, 0);
            ::rmdir(dir.c_str());
        }
        if (probe >= 0) ::close(probe);
        ::close(dirFd);
    }
    throw PlatformError(lastError);
}

SessionFolder::~SessionFolder() { RemoveAll(); }

void SessionFolder::WriteFile(const std::string& name, const void* data, std::size_t size) const {
    if (Removed()) throw PlatformError("The session folder is gone");
    if (!IsBareName(name) || name == kLockName)
        throw PlatformError("Not a file name for the session folder: \"" + name + "\"");
    if (::unlinkat(dirFd_, name.c_str(), 0) != 0 && errno != ENOENT)
        throw PlatformError(ErrnoText("Cannot replace", FilePath(name)));
    const int fd =
        ::openat(dirFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw PlatformError(ErrnoText("Cannot create", FilePath(name)));
    const char* p = static_cast<const char*>(data);
    std::size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string msg = ErrnoText("Cannot write", FilePath(name));
            ::close(fd);
            ::unlinkat(dirFd_, name.c_str(), 0);
            throw PlatformError(msg);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        const std::string msg = ErrnoText("Cannot write", FilePath(name));
        ::unlinkat(dirFd_, name.c_str(), 0);
        throw PlatformError(msg);
    }
}

bool SessionFolder::RemoveFile(const std::string& name) const {
    if (Removed() || !IsBareName(name) || name == kLockName) return false;
    return ::unlinkat(dirFd_, name.c_str(), 0) == 0 || errno == ENOENT;
}

bool SessionFolder::RemoveAll() {
    if (Removed()) return true;
    RemoveContents(dirFd_, kLockName);
    ::unlinkat(dirFd_, kLockName, 0);
    const std::string dir = path_.substr(0, path_.size() - 1);
    const bool gone = ::rmdir(dir.c_str()) == 0;
    ::close(lockFd_);  // releases the lock only after the folder is gone
    ::close(dirFd_);
    lockFd_ = dirFd_ = -1;
    return gone;
}

int DeleteStaleSessions(const std::string& base, int minAgeSeconds) {
    const std::string root = StripTrailingSlashes(base);
    const int baseFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) return 0;
    DIR* dir = ::fdopendir(::dup(baseFd));
    if (!dir) {
        ::close(baseFd);
        return 0;
    }
    std::vector<std::string> candidates;
    const std::size_t prefixLen = std::strlen(SessionFolder::kPrefix);
    while (struct dirent* e = ::readdir(dir)) {
        const std::string n = e->d_name;
        if (n.size() == SessionFolder::kNameLength && n.compare(0, prefixLen, SessionFolder::kPrefix) == 0)
            candidates.push_back(n);
    }
    ::closedir(dir);

    int removed = 0;
    for (const std::string& n : candidates) {
        struct stat st {};
        if (::fstatat(baseFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        const int dfd = ::openat(baseFd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dfd < 0) continue;
        struct stat dst {};
        if (::fstat(dfd, &dst) != 0 || dst.st_ino != st.st_ino || dst.st_dev != st.st_dev ||
            dst.st_uid != ::geteuid()) {
            ::close(dfd);
            continue;
        }
        // A folder made a moment ago may belong to a start-up that has not locked it yet.
        if (std::time(nullptr) - dst.st_mtime < minAgeSeconds) {
            ::close(dfd);
            continue;
        }
        const int lfd = ::openat(dfd, SessionFolder::kLockName, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        bool stale = false;
        if (lfd >= 0) {
            struct stat lst {};
            stale = ::flock(lfd, LOCK_EX | LOCK_NB) == 0 && ::fstat(lfd, &lst) == 0 &&
                    std::time(nullptr) - lst.st_mtime >= minAgeSeconds;
        } else if (errno == ENOENT) {
            // A folder being made this instant has no lock file yet; only an old one is an orphan.
            stale = std::time(nullptr) - dst.st_mtime > kOrphanAgeSeconds;
        }
        if (stale) {
            RemoveContents(dfd, SessionFolder::kLockName);
            ::unlinkat(dfd, SessionFolder::kLockName, 0);
            if (::unlinkat(baseFd, n.c_str(), AT_REMOVEDIR) == 0) ++removed;
        }
        if (lfd >= 0) ::close(lfd);
        ::close(dfd);
    }
    ::close(baseFd);
    return removed;
}

InstanceLock::InstanceLock(const std::string& folder) {
    const std::string path = StripTrailingSlashes(folder) + "/Mirelda.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace jx
