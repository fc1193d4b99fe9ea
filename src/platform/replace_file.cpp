#include "platform/replace_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>


namespace jx {
namespace {

constexpr std::size_t kSuffixLength = 6;
// Sets the temporaries apart from the user's own ".a.png.backup" or ".a.png.abc123": the sweep
// removes nothing but names of exactly this shape.
constexpr const char* kTemporaryMark = "jx-";
constexpr int kMaxLinkHops = 40;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

[[noreturn]] void Fail(const std::string& destination, int error) {
    throw PlatformError("Cannot write \"" + destination + "\": " + std::strerror(error));
}

bool IsSuffixChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool MatchesTemporary(const std::string& entry, const std::string& prefix) {
    if (entry.size() != prefix.size() + kSuffixLength || entry.compare(0, prefix.size(), prefix) != 0) return false;
    for (std::size_t i = prefix.size(); i < entry.size(); ++i)
        if (!IsSuffixChar(entry[i])) return false;
    return true;
}

// The process's umask, read without changing it where the system tells it (other threads may be
// creating files meanwhile).
mode_t CurrentUmask() {
    if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned value = 0;
        bool found = false;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                found = true;
                break;
            }
        std::fclose(f);
        if (found) return static_cast<mode_t>(value);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// ---- temporaries that a signal handler removes ----

constexpr int kSlotCount = 16;
struct InterruptSlot {
    std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a path to remove
    char path[PATH_MAX];
};
InterruptSlot g_slots[kSlotCount];

int Arm(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlotCount; ++i) {
        int expected = 0;
        if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
            g_slots[i].state.store(2);
            return i;
        }
    }
    return -1;
}

void Disarm(int slot) {
    if (slot >= 0) g_slots[slot].state.store(0);
}

extern "C" void RemoveTemporariesAndDie(int sig) {
    const int saved = errno;
    for (InterruptSlot& s : g_slots)
        if (s.state.load() == 2) ::unlink(s.path);
    errno = saved;
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// ---- the temporary file ----

struct Temporary {
    int fd = -1;
    std::string path;
    int slot = -1;

    ~Temporary() {
        if (fd >= 0) ::close(fd);
        if (!path.empty()) ::unlink(path.c_str());
        Disarm(slot);
    }
};

void CreateTemporary(const std::string& folder, const std::string& prefix, const std::string& destination,
                     Temporary& t) {
    static const char chars[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[kSuffixLength];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            const unsigned long long seed = static_cast<unsigned long long>(std::time(nullptr)) ^
                                            (static_cast<unsigned long long>(::getpid()) << 16) ^
                                            static_cast<unsigned long long>(attempt) * 0x9E3779B97F4A7C15ULL;
            for (std::size_t i = 0; i < kSuffixLength; ++i) random[i] = static_cast<unsigned char>(seed >> (8 * i));
        }
        std::string name = prefix;
        for (unsigned char r : random) name += chars[r % (sizeof chars - 1)];
        const std::string path = Join(folder, name);
        // Private while being written: the final mode comes only once the content is complete.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            t.fd = fd;
            t.path = path;
            t.slot = Arm(path);
            ::flock(fd, LOCK_EX | LOCK_NB);  // tells a sweep in another process that this one is live
            return;
        }
        if (errno != EEXIST) Fail(destination, errno);
    }
    Fail(destination, EEXIST);
}

// Gives the temporary the identity of the file it replaces: owner and group where this process
// may set them, then the mode (set-id bits only when the owner could be kept).
void CopyIdentity(int fd, const struct stat* old) {
    if (!old) {
        ::fchmod(fd, 0666 & ~CurrentUmask());
        return;
    }
    struct stat mine {};
    bool ownerKept = true;
    if (::fstat(fd, &mine) == 0 && (mine.st_uid != old->st_uid || mine.st_gid != old->st_gid)) {
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) {
            ownerKept = false;
            if (mine.st_gid != old->st_gid) ::fchown(fd, static_cast<uid_t>(-1), old->st_gid);
        }
    }
    mode_t mode = old->st_mode & 07777;
    if (!ownerKept) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    ::fchmod(fd, mode);
}

// A rename needs only the folder's permission, so the file's own is checked here. The mode bits
// decide for the owner and for a root that may write anything: a file nobody may write stays.
bool WriteProtected(const std::string& path, const struct stat& st) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return errno == EACCES;
    if (st.st_uid == ::geteuid()) return (st.st_mode & S_IWUSR) == 0;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Whether the file a replace lands in exists (its status in `old`); a file that may not be
// replaced raises the refusal.
bool StatReplaceable(const std::string& destination, const std::string& target, struct stat& old) {
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) Fail(destination, errno);
    if (exists && !S_ISREG(old.st_mode))
        throw PlatformError("Cannot write \"" + destination + "\": it is not a regular file");
    if (exists && WriteProtected(target, old))
        throw PlatformError("Cannot write \"" + destination + "\": the file is write-protected");
    return exists;
}

int SweepFolder(const std::string& folder, const std::string& prefix, int minAgeSeconds) {
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return 0;
    DIR* dir = ::fdopendir(::dup(dirFd));
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    std::vector<std::string> names;
    while (struct dirent* e = ::readdir(dir))
        if (MatchesTemporary(e->d_name, prefix)) names.emplace_back(e->d_name);
    ::closedir(dir);

    int removed = 0;
    const time_t now = std::time(nullptr);
    for (const std::string& n : names) {
        struct stat st {};
        if (::fstatat(dirFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || now - st.st_mtime < minAgeSeconds)
            continue;
        const int fd = ::openat(dirFd, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {};
        // A writer that still runs holds its lock; the inode check guards against a name reused since.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && held.st_ino == st.st_ino &&
            held.st_dev == st.st_dev && ::unlinkat(dirFd, n.c_str(), 0) == 0)
            ++removed;
        ::close(fd);
    }
    ::close(dirFd);
    return removed;
}

// Each folder is swept once per process: a long batch writing into one big folder would otherwise
// read that folder once per file.
void SweepOnce(const std::string& folder, const std::string& prefix) {
    static std::mutex mutex;
    static std::map<std::string, bool> swept;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!swept.emplace(folder + "/" + prefix, true).second) return;
    }
    SweepFolder(folder, prefix, 60);
}

}  // namespace

bool WriteAll(int fd, const void* bytes, std::size_t size) {
    const char* p = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string TemporaryPrefix(const std::string& destinationName) {
    const std::size_t maxName = NAME_MAX - kSuffixLength - 2 - std::strlen(kTemporaryMark);
    return "." + destinationName.substr(0, maxName) + "." + kTemporaryMark;
}

std::string ResolveDestination(const std::string& path) {
    std::string p = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n < 0) Fail(path, errno);
        if (static_cast<std::size_t>(n) >= target.size()) Fail(path, ENAMETOOLONG);
        const std::string link(target.data(), static_cast<std::size_t>(n));
        p = !link.empty() && link[0] == '/' ? link : Join(FolderOf(p), link);
    }
    Fail(path, ELOOP);
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                        static_cast<uint64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
                        static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

std::string ReplaceFile(const std::string& destination,
                        const std::function<void(int fd, const std::string& tempPath)>& write,
                        const FileIdentity* unchanged) {
    if (destination.empty()) throw PlatformError("Cannot write a file without a name");
    const std::string target = ResolveDestination(destination);
    const std::string folder = FolderOf(target);
    const std::string name = NameOf(target);
    if (name.empty() || name == "." || name == "..") Fail(destination, EISDIR);

    struct stat old {};
    const bool exists = StatReplaceable(destination, target, old);

    const std::string prefix = TemporaryPrefix(name);
    SweepOnce(folder, prefix);
    Temporary t;
    CreateTemporary(folder, prefix, destination, t);
    write(t.fd, t.path);
    if (::fsync(t.fd) != 0) Fail(destination, errno);
    CopyIdentity(t.fd, exists ? &old : nullptr);
    const int fd = t.fd;
    t.fd = -1;
    if (::close(fd) != 0) Fail(destination, errno);
    if (unchanged && IdentityOf(target) != *unchanged)
        throw FileChangedError("\"" + destination + "\" changed while it was being rewritten");
    if (::rename(t.path.c_str(), target.c_str()) != 0) Fail(destination, errno);
    t.path.clear();
    // The rename itself reaches the disk only with the folder.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return target;
}

std::string ReplaceFileBytes(const std::string& destination, std::span<const uint8_t> bytes,
                             const FileIdentity* unchanged) {
    return ReplaceFile(
        destination,
        [&](int fd, const std::string&) {
            if (!WriteAll(fd, bytes.data(), bytes.size())) Fail(destination, errno);
        },
        unchanged);
}

void CheckReplaceable(const std::string& destination) {
    struct stat old {};
    StatReplaceable(destination, ResolveDestination(destination), old);
}

void RemoveTemporariesOnInterrupt() {
    // SIGPIPE: the console's reader went away (a closed pipe) while a result was being written.
    constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
    struct sigaction sa {};
    sa.sa_handler = RemoveTemporariesAndDie;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);
    for (int sig : kSignals) {
        // A signal ignored on purpose (nohup, a background job) stays ignored.
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &sa, nullptr);
    }
}

void WriteScratchFile(const std::string& path, std::span<const uint8_t> bytes) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw PlatformError("Cannot replace \"" + path + "\": " + std::strerror(errno));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw PlatformError("Cannot create \"" + path + "\": " + std::strerror(errno));
    bool ok = WriteAll(fd, bytes.data(), bytes.size());
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(path.c_str());
        throw PlatformError("Cannot write \"" + path + "\": " + std::strerror(error));
    }
}

}  // namespace jx
