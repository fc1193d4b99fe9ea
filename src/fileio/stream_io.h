#pragma once
// Small helpers the readers use on standard streams: every read is checked.
#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

#include "fileio/bitmap.h"
#include "platform/byte_order.h"

namespace jx::streamio {

// Bytes from the current position to the end; 0 for a failed stream.
inline int64_t BytesLeft(std::istream& in) {
    if (!in) return 0;
    const std::streampos here = in.tellg();
    if (here < 0) return 0;
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.seekg(here);
    return end < here ? 0 : int64_t(end - here);
}

inline int64_t Position(std::istream& in) { return int64_t(in.tellg()); }

inline void Seek(std::istream& in, int64_t position) {
    in.clear();
    in.seekg(std::streamoff(position));
    if (!in) throw EReadError();
}

inline void ReadExact(std::istream& in, void* buffer, size_t count) {
    if (count == 0) return;
    in.read(static_cast<char*>(buffer), std::streamsize(count));
    if (size_t(in.gcount()) != count) {
        in.clear();
        throw EReadError();
    }
}

inline std::vector<uint8_t> ReadBytes(std::istream& in, int64_t count) {
    if (count < 0 || count > BytesLeft(in)) throw EReadError();
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    ReadExact(in, bytes.data(), bytes.size());
    return bytes;
}

// Skips count bytes, which must lie within the stream.
inline void Skip(std::istream& in, int64_t count) {
    if (count < 0 || count > BytesLeft(in)) throw EReadError();
    in.seekg(std::streamoff(count), std::ios::cur);
    if (!in) throw EReadError();
}

inline uint16_t ReadBigEndian16(std::istream& in) {
    uint8_t b[2];
    ReadExact(in, b, 2);
    return BigEndian16(b);
}
inline uint32_t ReadBigEndian32(std::istream& in) {
    uint8_t b[4];
    ReadExact(in, b, 4);
    return BigEndian32(b);
}

inline void WriteExact(std::ostream& out, const void* data, size_t count) {
    out.write(static_cast<const char*>(data), std::streamsize(count));
    if (!out) throw FileIoError("the image data could not be written");
}

}  // namespace jx::streamio
