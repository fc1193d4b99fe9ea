#include "imaging/dib_buffer.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "imaging/errors.h"

namespace jx {

namespace {

int ShiftFor(int bits) { return bits > 7 ? 0 : 8 - bits; }

// Bytes the pixels of one row really use (depths below 8 rounded up to whole bytes).
int64_t UsedRowBytes(int64_t width, int bpp) { return (width * bpp + 7) / 8; }

struct Bgra {
    uint8_t b, g, r, a;
};

int ReadIndex(const uint8_t* row, int bpp, int x) {
    switch (bpp) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        default: return row[x];
    }
}

void WriteIndex(uint8_t* row, int bpp, int x, int index) {
    switch (bpp) {
        case 1: {
            const int bit = 7 - (x & 7);
            row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1 << bit)) | ((index & 1) << bit));
            break;
        }
        case 4: {
            const int shift = (x & 1) ? 0 : 4;
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & ~(15 << shift)) | ((index & 15) << shift));
            break;
        }
        default: row[x] = static_cast<uint8_t>(index);
    }
}

Bgra ReadPixel(const TDibBuffer& buf, const uint8_t* row, int x) {
    switch (buf.BitsPerPixel()) {
        case 32: return {row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]};
        case 24: return {row[3 * x], row[3 * x + 1], row[3 * x + 2], 255};
        case 16: {
            uint16_t p;
            std::memcpy(&p, row + 2 * x, 2);
            const auto& m = buf.Masks();
            return {static_cast<uint8_t>(ExpandChannelBits(static_cast<int>(p & m.blue), buf.BlueBits())),
                    static_cast<uint8_t>(ExpandChannelBits(static_cast<int>((p & m.green) >> buf.GreenPos()),
                                                           buf.GreenBits())),
                    static_cast<uint8_t>(ExpandChannelBits(static_cast<int>((p & m.red) >> buf.RedPos()),
                                                           buf.RedBits())),
                    255};
        }
        default: {
            const TRgbQuad& q = buf.ColorTable()[static_cast<size_t>(ReadIndex(row, buf.BitsPerPixel(), x))];
            return {q.blue, q.green, q.red, 255};
        }
    }
}

int NearestIndex(const TDibBuffer& buf, Bgra c) {
    const int count = 1 << buf.BitsPerPixel();
    int best = 0;
    long bestDist = LONG_MAX;
    for (int i = 0; i < count; ++i) {
        const TRgbQuad& q = buf.ColorTable()[static_cast<size_t>(i)];
        const long db = q.blue - c.b, dg = q.green - c.g, dr = q.red - c.r;
        const long d = db * db + dg * dg + dr * dr;
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return best;
}

void WritePixel(TDibBuffer& buf, uint8_t* row, int x, Bgra c) {
    switch (buf.BitsPerPixel()) {
        case 32:
            row[4 * x] = c.b, row[4 * x + 1] = c.g, row[4 * x + 2] = c.r, row[4 * x + 3] = c.a;
            break;
        case 24: row[3 * x] = c.b, row[3 * x + 1] = c.g, row[3 * x + 2] = c.r; break;
        case 16: {
            const uint16_t p = static_cast<uint16_t>((c.b >> buf.BlueShift()) |
                                                     ((c.g >> buf.GreenShift()) << buf.GreenPos()) |
                                                     ((c.r >> buf.RedShift()) << buf.RedPos()));
            std::memcpy(row + 2 * x, &p, 2);
            break;
        }
        default: WriteIndex(row, buf.BitsPerPixel(), x, NearestIndex(buf, c));
    }
}

}  // namespace

int64_t RowBytes(int64_t width, int bpp, int alignment) {
    return (width * bpp + alignment - 1) / alignment * alignment / 8;
}

TBitfieldMasks BuildBitfieldMasks(int blueBits, int greenBits, int redBits) {
    auto ones = [](int n) -> uint32_t { return n >= 32 ? 0xFFFFFFFFu : ((1u << n) - 1u); };
    TBitfieldMasks m;
    m.blue = ones(blueBits);
    m.green = ones(blueBits + greenBits) & ~m.blue;
    m.red = ones(blueBits + greenBits + redBits) & ~(m.blue | m.green);
    return m;
}

int ExpandChannelBits(int v, int n) {
    switch (n) {
        case 1: return v ? 255 : 0;
        case 2: return (v << 6) | (v << 4) | (v << 2) | v;
        case 3: return (v << 5) | (v << 2) | (v >> 1);
        case 4: return (v << 4) | v;
        case 5: return (v << 3) | (v >> 2);
        case 6: return (v << 2) | (v >> 4);
        case 7: return (v << 1) | (v >> 6);
        default: return v;
    }
}

bool MemoryOverlaps(const TDibBuffer& a, const TDibBuffer& b) {
    if (a.Empty() || b.Empty()) return false;
    auto span = [](const TDibBuffer& d, const uint8_t*& lo, const uint8_t*& hi) {
        lo = d.Row(0);
        hi = d.Row(d.AbsHeight() - 1) + UsedRowBytes(d.Width(), d.BitsPerPixel());
    };
    const uint8_t *alo, *ahi, *blo, *bhi;
    span(a, alo, ahi);
    span(b, blo, bhi);
    return alo < bhi && blo < ahi;
}

TDibBuffer::TDibBuffer() : ownColors_(std::make_shared<TColorTable>()), colors_(ownColors_) {}

TDibBuffer::~TDibBuffer() = default;

void TDibBuffer::SetSize(int width, int height, int bitsPerPixel) {
    SetSizeBitfields(nullptr, width, 0, 0, 0, bitsPerPixel, height);
}

void TDibBuffer::SetSizeBitfields(uint8_t* memory, int width, int blueBits, int greenBits, int redBits,
                                  int bitsPerPixel, int height) {
    // Everything is checked before the old memory is let go.
    const int bpp = bitsPerPixel == 0 ? 32 : bitsPerPixel;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        throw ImagingError("Unsupported bits per pixel: " + std::to_string(bitsPerPixel));
    if (width < 0) throw ImagingError("Negative buffer width: " + std::to_string(width));
    if (height == INT_MIN) throw ImagingError("Buffer height out of range");
    int compression = 0;
    if (blueBits != 0 || greenBits != 0 || redBits != 0) {
        const bool ok16 = bpp == 16 && blueBits >= 1 && blueBits <= 8 && greenBits >= 1 && greenBits <= 8 &&
                          redBits >= 1 && redBits <= 8 && blueBits + greenBits + redBits <= 16;
        const bool ok32 = bpp == 32 && blueBits == 8 && greenBits == 8 && redBits == 8;
        if (!ok16 && !ok32)
            throw ImagingError("Unsupported channel sizes " + std::to_string(blueBits) + "-" +
                               std::to_string(greenBits) + "-" + std::to_string(redBits) + " for " +
                               std::to_string(bpp) + " bits per pixel");
        compression = 3;
    } else if (bpp == 16) {
        blueBits = greenBits = redBits = 5;
    } else if (bpp == 32) {
        blueBits = greenBits = redBits = 8;
    }
    const int absHeight = height < 0 ? -height : height;
    const int64_t rowBytes = RowBytes(width, bpp, 32);
    const int64_t size = rowBytes * absHeight;
    if (rowBytes > kMaxBytes || size > kMaxBytes)
        throw ImagingError("Buffer too large: " + std::to_string(width) + " x " + std::to_string(absHeight) +
                           " at " + std::to_string(bpp) + " bits per pixel");

    if (memory == nullptr && bits_ != nullptr && ownsMemory_ && width == width_ && height == height_ &&
        bpp == bpp_ && compression == compression_ && blueBits == blueBits_ && greenBits == greenBits_ &&
        redBits == redBits_)
        return;

    ReleaseHandles();
    width_ = width;
    height_ = height;
    absHeight_ = absHeight;
    bpp_ = bpp;
    compression_ = compression;
    blueBits_ = blueBits;
    greenBits_ = greenBits;
    redBits_ = redBits;
    blueShift_ = ShiftFor(blueBits);
    greenShift_ = ShiftFor(greenBits);
    redShift_ = ShiftFor(redBits);
    greenPos_ = blueBits;
    redPos_ = blueBits + greenBits;
    masks_ = (bpp == 16 || bpp == 32) ? BuildBitfieldMasks(blueBits, greenBits, redBits) : TBitfieldMasks{};
    rowBytes_ = static_cast<int>(rowBytes);
    rowGap_ = static_cast<int>(rowBytes - UsedRowBytes(width, bpp));
    if (size == 0) return;

    if (memory != nullptr) {
        memory_ = std::shared_ptr<uint8_t[]>(memory, [](uint8_t*) {});
    } else {
        memory_ = std::shared_ptr<uint8_t[]>(new uint8_t[static_cast<size_t>(size)]());
        ownsMemory_ = true;
    }
    Layout(memory_.get(), rowBytes_);
}

void TDibBuffer::Layout(uint8_t* start, int rowBytes) {
    bits_ = start;
    rows_.resize(static_cast<size_t>(absHeight_));
    for (int i = 0; i < absHeight_; ++i) rows_[static_cast<size_t>(i)] = start + static_cast<int64_t>(i) * rowBytes;
}

void TDibBuffer::ReleaseHandles() {
    memory_.reset();
    bits_ = nullptr;
    rows_.clear();
    rows_.shrink_to_fit();
    table16To24_.reset();
    table24To16_.reset();
    ownsMemory_ = false;
    colors_ = ownColors_;
    width_ = height_ = absHeight_ = 0;
    rowBytes_ = rowGap_ = 0;
}

bool TDibBuffer::MakeSubView(const TDibBuffer& source, int x, int y, int width, int height) {
    if (source.Empty() || x >= source.width_ || y >= source.absHeight_) {
        ReleaseHandles();
        return false;
    }
    int64_t vx = x, vy = y, vw = width, vh = height;
    if (vx < 0) vw += vx, vx = 0;
    if (vy < 0) vh += vy, vy = 0;
    vw = std::min<int64_t>(vw, source.width_ - vx);
    vh = std::min<int64_t>(vh, source.absHeight_ - vy);
    if (vw < 1 || vh < 1) {
        ReleaseHandles();
        return false;
    }
    if ((source.bpp_ == 1 && vx % 8 != 0) || (source.bpp_ == 4 && vx % 2 != 0))
        throw ImagingError("A view of a " + std::to_string(source.bpp_) +
                           "-bit buffer must start on a whole byte (x = " + std::to_string(vx) + ")");

    const int64_t memRow = source.TopDown() ? vy : source.absHeight_ - vy - vh;
    uint8_t* start = source.rows_[static_cast<size_t>(memRow)] + vx * source.bpp_ / 8;
    // Take what is needed first: the source may be this buffer.
    auto memory = source.memory_;
    auto colors = source.colors_;
    const bool topDown = source.TopDown();
    const int rowBytes = source.rowBytes_, bpp = source.bpp_, compression = source.compression_;
    const int bb = source.blueBits_, gb = source.greenBits_, rb = source.redBits_;
    const TBitfieldMasks masks = source.masks_;

    ReleaseHandles();
    width_ = static_cast<int>(vw);
    absHeight_ = static_cast<int>(vh);
    height_ = topDown ? -absHeight_ : absHeight_;
    bpp_ = bpp;
    compression_ = compression;
    blueBits_ = bb, greenBits_ = gb, redBits_ = rb;
    blueShift_ = ShiftFor(bb), greenShift_ = ShiftFor(gb), redShift_ = ShiftFor(rb);
    greenPos_ = bb, redPos_ = bb + gb;
    masks_ = masks;
    rowBytes_ = rowBytes;
    rowGap_ = static_cast<int>(rowBytes - UsedRowBytes(vw, bpp));
    memory_ = std::move(memory);
    colors_ = std::move(colors);
    Layout(start, rowBytes);
    return true;
}

bool TDibBuffer::GrowToFit(int minWidth, int minHeight, int step, const TGrowLimits* limits, int bitsPerPixel) {
    int64_t newWidth = width_, newHeight = absHeight_;
    const int64_t wantHeight = minHeight < 0 ? -static_cast<int64_t>(minHeight) : minHeight;
    bool grew = false;
    if (width_ < minWidth) {
        newWidth = std::max<int64_t>(step != 0 ? int64_t{width_} + step : int64_t{width_} * 3 / 2, minWidth);
        if (limits) newWidth = std::min<int64_t>(newWidth, limits->width);
        grew = true;
    }
    if (absHeight_ < wantHeight) {
        newHeight = std::max<int64_t>(step != 0 ? int64_t{absHeight_} + step : int64_t{absHeight_} * 3 / 2,
                                      wantHeight);
        if (limits) newHeight = std::min<int64_t>(newHeight, limits->height);
        grew = true;
    }
    if (newWidth < minWidth || newHeight < wantHeight)
        throw ImagingError("Buffer limit below the requested size " + std::to_string(minWidth) + " x " +
                           std::to_string(wantHeight));
    if (newWidth > INT_MAX || newHeight > INT_MAX) throw ImagingError("Buffer size out of range");
    const int bpp = bitsPerPixel == 0 ? 32 : bitsPerPixel;
    const bool topDown = minHeight < 0;
    if (grew || bpp != bpp_ || topDown != TopDown() || Empty()) {
        const int h = static_cast<int>(newHeight);
        SetSize(static_cast<int>(newWidth), topDown ? -h : h, bpp);
    }
    return grew;
}

bool TDibBuffer::SameFormat(const TDibBuffer& o) const {
    return bpp_ == o.bpp_ && blueBits_ == o.blueBits_ && greenBits_ == o.greenBits_ && redBits_ == o.redBits_;
}

void TDibBuffer::CloneTo(TDibBuffer& copy) const {
    if (&copy == this) return;
    if (Empty()) {
        copy.ReleaseHandles();
        return;
    }
    if (compression_ == 3)
        copy.SetSizeBitfields(nullptr, width_, blueBits_, greenBits_, redBits_, bpp_, height_);
    else
        copy.SetSize(width_, height_, bpp_);
    copy.ColorTable() = ColorTable();
    const size_t used = static_cast<size_t>(UsedRowBytes(width_, bpp_));
    for (int i = 0; i < absHeight_; ++i) std::memcpy(copy.Row(i), Row(i), used);
}

void TDibBuffer::DrawTo(TDibBuffer& target, int x, int y) const {
    if (Empty() || target.Empty()) return;
    if (MemoryOverlaps(*this, target)) {
        TDibBuffer snapshot;
        CloneTo(snapshot);
        snapshot.DrawTo(target, x, y);
        return;
    }
    const int64_t sx = x < 0 ? -int64_t{x} : 0, sy = y < 0 ? -int64_t{y} : 0;
    const int64_t cols = std::min<int64_t>(width_ - sx, target.width_ - (int64_t{x} + sx));
    const int64_t rows = std::min<int64_t>(absHeight_ - sy, target.absHeight_ - (int64_t{y} + sy));
    if (cols <= 0 || rows <= 0) return;
    const int srcX = static_cast<int>(sx), dstX = static_cast<int>(x + sx);
    const bool same = SameFormat(target);
    for (int64_t r = 0; r < rows; ++r) {
        const uint8_t* src = Line(static_cast<int>(sy + r));
        uint8_t* dst = target.Line(static_cast<int>(y + sy + r));
        if (same && bpp_ >= 8) {
            const int bpx = bpp_ / 8;
            std::memcpy(dst + dstX * bpx, src + srcX * bpx, static_cast<size_t>(cols * bpx));
        } else if (same) {
            for (int i = 0; i < cols; ++i) WriteIndex(dst, bpp_, dstX + i, ReadIndex(src, bpp_, srcX + i));
        } else {
            for (int i = 0; i < cols; ++i) WritePixel(target, dst, dstX + i, ReadPixel(*this, src, srcX + i));
        }
    }
}

const uint8_t* TDibBuffer::Table16To24(const uint8_t* remap) {
    if (bpp_ != 16) throw ImagingError("The 16-to-24-bit table needs a 16-bit buffer");
    const bool remapped = remap != nullptr;
    if (table16To24_ && remapped == remapped16To24_ &&
        (!remapped || std::memcmp(remap, remap16To24_.data(), 256) == 0))
        return table16To24_.get();
    if (remapped) std::memcpy(remap16To24_.data(), remap, 256);
    remapped16To24_ = remapped;
    table16To24_.reset(new uint8_t[65536 * 3]);
    const int d = greenBits_ == 6 ? 3 : 6;
    auto channel = [&](int v) {
        const uint8_t c = ClipByte((v & 255) + d);
        return remapped ? remap[c] : c;
    };
    for (int i = 0; i < 65536; ++i) {
        uint8_t* e = table16To24_.get() + 3 * i;
        e[0] = channel(i << blueShift_);
        e[1] = channel((i >> greenPos_) << greenShift_);
        e[2] = channel((i >> redPos_) << redShift_);
    }
    return table16To24_.get();
}

const TTable24To16& TDibBuffer::Table24To16(const uint8_t* remap) {
    if (bpp_ != 16) throw ImagingError("The 24-to-16-bit table needs a 16-bit buffer");
    const bool remapped = remap != nullptr;
    if (table24To16_ && remapped == remapped24To16_ &&
        (!remapped || std::memcmp(remap, remap24To16_.data(), 256) == 0))
        return *table24To16_;
    if (remapped) std::memcpy(remap24To16_.data(), remap, 256);
    remapped24To16_ = remapped;
    table24To16_ = std::make_unique<TTable24To16>();
    for (int i = 0; i < 256; ++i) {
        int v = std::clamp(i - 1, 0, 255);
        if (remapped) v = remap[v];
        table24To16_->blue[static_cast<size_t>(i)] = static_cast<uint16_t>(v >> blueShift_);
        table24To16_->green[static_cast<size_t>(i)] = static_cast<uint16_t>((v >> greenShift_) << greenPos_);
        table24To16_->red[static_cast<size_t>(i)] = static_cast<uint16_t>((v >> redShift_) << redPos_);
    }
    return *table24To16_;
}

}  // namespace jx
