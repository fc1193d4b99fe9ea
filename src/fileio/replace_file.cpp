#include "fileio/replace_file.h"

#include <cerrno>
#include <cstring>
#include <ostream>
#include <streambuf>

#include "fileio/errors.h"
#include "platform/errors.h"
#include "platform/replace_file.h"

namespace jx {
namespace {

// Writes straight to the temporary's descriptor and keeps the errno of a refused write, which a
// file stream would lose.
class FdBuffer : public std::streambuf {
public:
    explicit FdBuffer(int fd) : fd_(fd) { setp(buf_, buf_ + sizeof buf_); }
    int Error() const { return error_; }
    bool Flush() { return sync() == 0; }

protected:
    int_type overflow(int_type c) override {
        if (!Flush()) return traits_type::eof();
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (n >= static_cast<std::streamsize>(sizeof buf_)) {
            if (!Flush()) return 0;
            if (!WriteAll(fd_, s, static_cast<std::size_t>(n))) {
                error_ = errno;
                return 0;
            }
            return n;
        }
        return std::streambuf::xsputn(s, n);
    }
    int sync() override {
        if (error_ != 0) return -1;
        const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
        if (n > 0 && !WriteAll(fd_, pbase(), n)) {
            error_ = errno;
            return -1;
        }
        setp(buf_, buf_ + sizeof buf_);
        return 0;
    }

private:
    int fd_;
    int error_ = 0;
    char buf_[65536];
};

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

void ReplaceFileWith(const std::string& destination, const std::function<void(const std::string&)>& write) {
    try {
        jx::ReplaceFile(destination, [&](int, const std::string& temp) { write(temp); });
    } catch (const PlatformError& e) {
        throw FileIoError(e.what());
    }
}

void ReplaceFileWithStream(const std::string& destination, const std::function<void(std::ostream&)>& write) {
    try {
        jx::ReplaceFile(destination, [&](int fd, const std::string&) {
            FdBuffer buffer(fd);
            std::ostream out(&buffer);
            try {
                write(out);
                out.flush();
            } catch (const FileIoError& e) {
                // The writer saw a failed stream; the system's reason says more than its message.
                if (buffer.Error() != 0)
                    throw FileIoError("Cannot write " + Quoted(destination) + ": " + std::strerror(buffer.Error()));
                throw;
            }
            if (buffer.Error() != 0)
                throw FileIoError("Cannot write " + Quoted(destination) + ": " + std::strerror(buffer.Error()));
            if (!out) throw FileIoError("Cannot write " + Quoted(destination) + ": the data could not be written");
        });
    } catch (const PlatformError& e) {
        throw FileIoError(e.what());
    }
}

void ReplaceFileWithBytes(const std::string& destination, std::span<const uint8_t> bytes) {
    try {
        jx::ReplaceFileBytes(destination, bytes);
    } catch (const PlatformError& e) {
        throw FileIoError(e.what());
    }
}

void CheckFileReplaceable(const std::string& destination) {
    try {
        jx::CheckReplaceable(destination);
    } catch (const PlatformError& e) {
        throw FileIoError(e.what());
    }
}

}  // namespace jx
