#include "fileio/graphic_compression.h"

#include <algorithm>
#include <cstring>

namespace jx {

namespace {

int TargaPixelSize(uint32_t depth) {
    switch (depth) {
        case 8: return 1;
        case 15:
        case 16: return 2;
        case 24: return 3;
        case 32: return 4;
        default: return 0;
    }
}

}  // namespace

TTargaRLEDecoder::TTargaRLEDecoder(uint32_t color_depth)
    : color_depth_(color_depth), pixel_size_(TargaPixelSize(color_depth)) {}

void TTargaRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packed_size,
                              int32_t unpacked_size) {
    decoded_count_ = 0;
    const size_t s = size_t(pixel_size_);
    if (s == 0) return;
    const uint8_t* in = source;
    const uint8_t* const end = source + std::max(packed_size, 0);
    uint8_t* out = dest;
    int64_t remaining = std::max(unpacked_size, 0);
    while (remaining > 0 && in < end) {
        const uint8_t header = *in;
        const int64_t n = (header & 127) + 1;
        const size_t packet = (header & 0x80) ? 1 + s : 1 + size_t(n) * s;
        if (size_t(end - in) < packet) break;  // a packet cut off by the end of the data
        const int64_t used = std::min(n, remaining);
        if (header & 0x80) {
            for (int64_t k = 0; k < used; ++k, out += s) std::memcpy(out, in + 1, s);
        } else {
            std::memcpy(out, in + 1, size_t(used) * s);
            out += size_t(used) * s;
        }
        remaining -= used;
        decoded_count_ += int32_t(used);
        in += packet;
    }
    source = in;
}

void TTargaRLEDecoder::Encode(const uint8_t* source, uint8_t* dest, uint32_t count,
                              uint32_t& bytes_stored) {
    bytes_stored = 0;
    const size_t s = size_t((color_depth_ + 1) / 8);
    if (s == 0) return;
    auto equal = [s](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, s) == 0; };
    while (count > 0) {
        // Pixels before the first one that equals its successor.
        uint32_t raw = 0;
        while (raw < count && raw < 128 &&
               !(raw + 1 < count && equal(source + raw * s, source + (raw + 1) * s)))
            ++raw;
        if (raw > 0) {
            *dest++ = uint8_t(raw - 1);
            std::memcpy(dest, source, raw * s);
            dest += raw * s;
            source += raw * s;
            bytes_stored += uint32_t(raw * s + 1);
            count -= raw;
            continue;
        }
        uint32_t run = 1;
        while (run < count && run < 128 && equal(source, source + run * s)) ++run;
        *dest++ = uint8_t((run - 1) | 0x80);
        std::memcpy(dest, source, s);
        dest += s;
        source += run * s;
        bytes_stored += uint32_t(s + 1);
        count -= run;
    }
}

void TPackbitsRLEDecoder::Decode(const uint8_t*& source, uint8_t*& dest, int32_t packed_size,
                                 int32_t unpacked_size) {
    const uint8_t* in = source;
    uint8_t* out = dest;
    int64_t a = unpacked_size, p = packed_size;
    // What packets hold past a full output is counted in the same pass, not written.
    int64_t surplus = 0;
    while (p > 0) {
        const int n = int8_t(*in++);
        --p;
        if (n >= 0) {
            const int64_t whole = std::min<int64_t>(n + 1, p);
            const int64_t c = std::min<int64_t>(whole, std::max<int64_t>(a, 0));
            std::memcpy(out, in, size_t(c));
            out += c;
            a -= c;
            surplus += whole - c;
            in += whole;
            p -= whole;
        } else if (n != -128) {
            if (p <= 0) break;  // a repeat header with no value byte after it
            const int64_t c = std::min<int64_t>(1 - n, std::max<int64_t>(a, 0));
            std::memset(out, *in, size_t(c));
            surplus += (1 - n) - c;
            ++in;
            out += c;
            --p;
            a -= c;
        }
    }
    packed_length_ = std::max<int64_t>(unpacked_size, 0) - std::max<int64_t>(a, 0) + surplus;
}

}  // namespace jx
