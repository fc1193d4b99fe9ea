#include "imaging/effects.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/errors.h"

namespace jx {

namespace {

int64_t ClampIndex(int64_t v, int64_t last) { return v < 0 ? 0 : (v > last ? last : v); }

// Channel values of the colour channels, interleaved, in image order.
std::vector<uint8_t> ReadChannels(const TDibBuffer& buf, int channels) {
    const int w = buf.Width(), h = buf.AbsHeight();
    std::vector<uint8_t> out(static_cast<size_t>(w) * h * channels);
    const auto& m = buf.Masks();
    for (int y = 0; y < h; ++y) {
        const uint8_t* line = buf.Line(y);
        uint8_t* o = out.data() + static_cast<size_t>(y) * w * channels;
        for (int x = 0; x < w; ++x) {
            switch (buf.BitsPerPixel()) {
                case 8: o[x] = line[x]; break;
                case 24: std::memcpy(o + 3 * x, line + 3 * x, 3); break;
                case 32: std::memcpy(o + 3 * x, line + 4 * x, 3); break;
                case 16: {
                    uint16_t p;
                    std::memcpy(&p, line + 2 * x, 2);
                    o[3 * x] = static_cast<uint8_t>(ExpandChannelBits(static_cast<int>(p & m.blue), buf.BlueBits()));
                    o[3 * x + 1] = static_cast<uint8_t>(
                        ExpandChannelBits(static_cast<int>((p & m.green) >> buf.GreenPos()), buf.GreenBits()));
                    o[3 * x + 2] = static_cast<uint8_t>(
                        ExpandChannelBits(static_cast<int>((p & m.red) >> buf.RedPos()), buf.RedBits()));
                    break;
                }
            }
        }
    }
    return out;
}

void WritePixelChannels(TDibBuffer& buf, uint8_t* line, int x, const uint8_t* v) {
    switch (buf.BitsPerPixel()) {
        case 8: line[x] = v[0]; break;
        case 24: std::memcpy(line + 3 * x, v, 3); break;
        case 32: std::memcpy(line + 4 * x, v, 3); break;
        case 16: {
            const uint16_t p = static_cast<uint16_t>((v[0] >> buf.BlueShift()) |
                                                     ((v[1] >> buf.GreenShift()) << buf.GreenPos()) |
                                                     ((v[2] >> buf.RedShift()) << buf.RedPos()));
            std::memcpy(line + 2 * x, &p, 2);
            break;
        }
    }
}

bool SameLayout(const TDibBuffer& a, const TDibBuffer& b) {
    return a.Bits() == b.Bits() && a.RowStride() == b.RowStride() && a.TopDown() == b.TopDown();
}

}  // namespace

void DiagonalConvolve(TDibBuffer& buffer, int r, int a, int b, int c, int d, int e) {
    const int bpp = buffer.BitsPerPixel();
    if (buffer.Empty() || (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)) return;
    int64_t w = int64_t{a} + b + c + d + e;
    if (w == 0) w = 1;
    const int channels = bpp == 8 ? 1 : 3;
    const int width = buffer.Width(), height = buffer.AbsHeight();
    // Neighbours are read from the untouched image, so the result does not depend on the row order.
    const std::vector<uint8_t> src = ReadChannels(buffer, channels);
    auto at = [&](int64_t y, int64_t x, int ch) {
        return int64_t{src[static_cast<size_t>((y * width + x) * channels + ch)]};
    };
    uint8_t out[3];
    for (int y = 0; y < height; ++y) {
        const int64_t ym = ClampIndex(int64_t{y} - r, height - 1), yp = ClampIndex(int64_t{y} + r, height - 1);
        uint8_t* line = buffer.Line(y);
        for (int x = 0; x < width; ++x) {
            const int64_t xm = ClampIndex(int64_t{x} - r, width - 1), xp = ClampIndex(int64_t{x} + r, width - 1);
            for (int ch = 0; ch < channels; ++ch) {
                const int64_t sum = b * at(y, x, ch) + a * at(ym, xm, ch) + e * at(ym, xp, ch) +
                                    d * at(yp, xm, ch) + c * at(yp, xp, ch);
                out[ch] = static_cast<uint8_t>(std::clamp<int64_t>(sum / w, 0, 255));
            }
            WritePixelChannels(buffer, line, x, out);
        }
    }
}

void SharpenLess(TDibBuffer& buffer, int r) { DiagonalConvolve(buffer, r, 1, -10, 1, 1, 1); }

void SharpenMore(TDibBuffer& buffer, int r) { DiagonalConvolve(buffer, r, 5, -35, 5, 5, 5); }

void BlendDIBs(TDibBuffer& destination, const TDibBuffer& first, const TDibBuffer& second, int alpha) {
    if (destination.Empty() && first.Empty() && second.Empty()) return;
    auto same = [](const TDibBuffer& x, const TDibBuffer& y) {
        return !x.Empty() && !y.Empty() && x.Width() == y.Width() && x.AbsHeight() == y.AbsHeight() &&
               x.SameFormat(y);
    };
    if (!same(destination, first) || !same(destination, second))
        throw ImagingError("Blending needs three buffers of the same size and pixel format");
    const int bpp = destination.BitsPerPixel();
    if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return;
    ClampToRange(alpha, 0, 256);

    // A source that only partly overlaps the destination is read from a copy.
    TDibBuffer firstCopy, secondCopy;
    const TDibBuffer* s1 = &first;
    const TDibBuffer* s2 = &second;
    if (MemoryOverlaps(destination, first) && !SameLayout(destination, first)) {
        first.CloneTo(firstCopy);
        s1 = &firstCopy;
    }
    if (MemoryOverlaps(destination, second) && !SameLayout(destination, second)) {
        second.CloneTo(secondCopy);
        s2 = &secondCopy;
    }

    const int width = destination.Width();
    auto mix = [alpha](int v1, int v2) { return v2 + ((alpha * (v1 - v2)) >> 8); };
    for (int y = 0; y < destination.AbsHeight(); ++y) {
        const uint8_t* p1 = s1->Line(y);
        const uint8_t* p2 = s2->Line(y);
        uint8_t* out = destination.Line(y);
        if (bpp != 16) {
            const int n = width * (bpp / 8);
            for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(mix(p1[i], p2[i]));
            continue;
        }
        const auto& m = destination.Masks();
        const int pos[3] = {0, destination.GreenPos(), destination.RedPos()};
        const int shift[3] = {destination.BlueShift(), destination.GreenShift(), destination.RedShift()};
        const uint32_t mask[3] = {m.blue, m.green, m.red};
        for (int x = 0; x < width; ++x) {
            uint16_t a1, a2;
            std::memcpy(&a1, p1 + 2 * x, 2);
            std::memcpy(&a2, p2 + 2 * x, 2);
            uint32_t v = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const int c1 = static_cast<int>(((a1 & mask[ch]) >> pos[ch]) << shift[ch]);
                const int c2 = static_cast<int>(((a2 & mask[ch]) >> pos[ch]) << shift[ch]);
                v |= static_cast<uint32_t>(mix(c1, c2) >> shift[ch]) << pos[ch];
            }
            const uint16_t p = static_cast<uint16_t>(v);
            std::memcpy(out + 2 * x, &p, 2);
        }
    }
}

bool ClampToRange(int& v, int low, int high) {
    if (v < low) {
        v = low;
        return false;
    }
    if (v > high) {
        v = high;
        return false;
    }
    return true;
}

int Ceiling(double x) {
    const double t = std::trunc(x);
    const double result = x - t > 0 ? t + 1 : t;
    if (!(result >= static_cast<double>(INT32_MIN) && result <= static_cast<double>(INT32_MAX)))
        throw ImagingError("Ceiling out of range: " + std::to_string(x));
    return static_cast<int>(result);
}

}  // namespace jx
