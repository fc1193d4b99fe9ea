#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace jx {

// The temporary-files folder: $TMPDIR when it names a folder, else /tmp. No trailing slash.
std::string TempFolder();

// The user's private runtime folder: $XDG_RUNTIME_DIR when it is a folder of this user, else a
// folder "jx-runtime-<uid>" of mode 0700 under TempFolder(), made when missing. No trailing slash.
// Throws PlatformError when no private folder can be had.
std::string RuntimeFolder();

// The one private scratch folder of a running jx: made with mkdtemp as
// base + "/JX_session_" + 8 characters, mode 0700, checked to belong to this user, holding the
// lock file "session.lock" that stays flock'ed while this object lives. Other processes tell a
// live session from a stale one by that lock alone.
class SessionFolder {
public:
    static constexpr const char* kPrefix = "JX_session_";
    static constexpr std::size_t kNameLength = 19;  // prefix + 8
    static constexpr const char* kLockName = "session.lock";

    // Throws PlatformError when the folder cannot be made or is not private.
    explicit SessionFolder(const std::string& base = TempFolder());
    ~SessionFolder();  // RemoveAll() unless done already
    SessionFolder(const SessionFolder&) = delete;
    SessionFolder& operator=(const SessionFolder&) = delete;

    // The folder's path, ending in '/', so that a bare file name can be appended.
    const std::string& Path() const { return path_; }
    std::string FilePath(const std::string& name) const { return path_ + name; }

    // Writes a new file of that bare name (an older one is replaced): created with O_EXCL and
    // O_NOFOLLOW, mode 0600. Throws PlatformError on a bad name or a failed write.
    void WriteFile(const std::string& name, const void* data, std::size_t size) const;
    // Deletes one file; a missing file is no error. Returns whether the name is gone.
    bool RemoveFile(const std::string& name) const;

    // Deletes everything in the folder (sub-folders too), then the lock file and the folder itself,
    // and releases the lock. Returns whether the folder is gone. Later calls do nothing.
    bool RemoveAll();
    bool Removed() const { return dirFd_ < 0; }

private:
    std::string path_;
    int dirFd_ = -1;
    int lockFd_ = -1;
};

// Removes the stale session folders of this user in base: entries named "JX_session_" plus exactly
// 8 characters that are real folders owned by this user, not changed in the last `minAgeSeconds`
// (a start-up may be making it), and whose lock file can be taken (or, lacking a lock file, that
// were last changed more than ten minutes ago). Each goes whole, sub-folders included. Folders of
// live sessions, other users' folders and symbolic links are left alone. Failures are silent.
// Returns the number of folders removed.
int DeleteStaleSessions(const std::string& base = TempFolder(), int minAgeSeconds = 5);

// Held by the first running instance for its whole life: a flock'ed "Mirelda.lock" in the
// runtime folder. A second instance is one that cannot take it.
class InstanceLock {
public:
    explicit InstanceLock(const std::string& folder = RuntimeFolder());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when another process (or another InstanceLock) holds the lock.
    bool SecondInstance() const { return fd_ < 0; }

private:
    int fd_ = -1;
};

}  // namespace jx
