#include "platform/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace jx {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

FileReadFailure ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& bytes, int* error) {
    bytes.clear();
    auto fail = [&](FileReadFailure failure, int err) {
        bytes.clear();
        if (error) *error = err;
        return failure;
    };
    // Non-blocking, so that opening a pipe with no writer does not wait for one.
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return fail(FileReadFailure::CannotOpen, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return fail(FileReadFailure::CannotRead, errno);
    if (!S_ISREG(st.st_mode)) return fail(FileReadFailure::CannotRead, 0);
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxBytes) return fail(FileReadFailure::TooLarge, 0);
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(FileReadFailure::CannotRead, errno);
        if (n == 0) break;  // the file shrank while it was read
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    if (error) *error = 0;
    return FileReadFailure::None;
}

}  // namespace jx
