#pragma once
// The one way a program here replaces a file: written under a temporary name in the destination's
// own folder, flushed to disk, given the replaced file's mode and (where permitted) owner, and
// renamed over it. A symbolic link at the destination is resolved, so the file it points to is the
// one replaced and the link stays a link. A failure removes the temporary and leaves the old file.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "platform/errors.h"

namespace jx {

// What tells one state of a file from another: its place (device, inode), size and last change.
struct FileIdentity {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};
// The identity of the file at path (links followed); nothing when there is none.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// Raised by ReplaceFile when the file to be replaced is no longer the one the caller read.
class FileChangedError : public PlatformError {
public:
    using PlatformError::PlatformError;
};

// `write` fills the open temporary file: through `fd`, or by reopening `tempPath` (for libraries
// that take a name). It reports a failure by throwing; whatever it throws propagates after the
// temporary is removed. Failures of the routine itself raise PlatformError naming the destination
// and the system's reason; a write-protected destination is refused so and stays as it is.
// Returns the path actually replaced (the link target, when it was a link). With `unchanged`, the
// destination must still be that file just before the rename, else FileChangedError is raised
// and the destination stays as it is: a file rewritten from what was read of it is not to replace
// a newer one written meanwhile.
std::string ReplaceFile(const std::string& destination,
                        const std::function<void(int fd, const std::string& tempPath)>& write,
                        const FileIdentity* unchanged = nullptr);
std::string ReplaceFileBytes(const std::string& destination, std::span<const uint8_t> bytes,
                             const FileIdentity* unchanged = nullptr);

// Raises, before any work is done, the refusal ReplaceFile would raise for an existing destination
// (write-protected, not a regular file); nothing when it may be written.
void CheckReplaceable(const std::string& destination);

// The file a write to `path` lands in: symbolic links at the last component followed (also a
// dangling one, whose target is then created). Relative link targets count from the link's folder.
std::string ResolveDestination(const std::string& path);

// The temporaries' pattern for a destination: "." + name + ".jx-" + six letters or digits, in the
// destination's folder (the name shortened so the whole stays a valid file name).
std::string TemporaryPrefix(const std::string& destinationName);


// Makes SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE remove the temporaries being written at that
// moment before the process ends by the same signal (so its exit status is non-zero). For console
// programs.
void RemoveTemporariesOnInterrupt();

// Writes a new scratch file (an older one of that name is deleted first, never followed): created
// with O_EXCL and O_NOFOLLOW, mode 0600. PlatformError naming the file on failure.
void WriteScratchFile(const std::string& path, std::span<const uint8_t> bytes);

// Writes all of `bytes` to fd; false with errno set when the system refuses.
bool WriteAll(int fd, const void* bytes, std::size_t size);

}  // namespace jx
