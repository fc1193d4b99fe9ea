#pragma once
// Device-independent pixel buffer: rows of 1, 4, 8, 16, 24 or 32 bits per pixel, each row padded to
// 32 bits, with a row table, a colour table for the palette depths and channel masks for 16 and 32 bits.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace jx {

struct TRgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;
};
using TColorTable = std::array<TRgbQuad, 256>;

struct TBitfieldMasks {
    uint32_t blue = 0;
    uint32_t green = 0;
    uint32_t red = 0;
};

// Upper bounds for GrowToFit.
struct TGrowLimits {
    int width = 0;
    int height = 0;
};

// 24-bit to 16-bit conversion: a 16-bit pixel is blue[b] + green[g] + red[r].
struct TTable24To16 {
    std::array<uint16_t, 256> blue{};
    std::array<uint16_t, 256> green{};
    std::array<uint16_t, 256> red{};
};

// Bytes of one row of `width` pixels at `bpp` bits, padded to `alignment` bits.
int64_t RowBytes(int64_t width, int bpp, int alignment);
TBitfieldMasks BuildBitfieldMasks(int blueBits, int greenBits, int redBits);
// Widens an n-bit channel value to 8 bits by repeating its bits.
int ExpandChannelBits(int value, int bits);
class TDibBuffer;
// Whether the pixel memory of the two buffers overlaps.
bool MemoryOverlaps(const TDibBuffer& a, const TDibBuffer& b);

inline uint8_t ClipByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : static_cast<uint8_t>(v)); }

class TDibBuffer {
public:
    // The largest pixel block a buffer may hold.
    static constexpr int64_t kMaxBytes = 0x7FFFFFFF;

    TDibBuffer();
    ~TDibBuffer();
    TDibBuffer(const TDibBuffer&) = delete;
    TDibBuffer& operator=(const TDibBuffer&) = delete;

    // A positive height is bottom-up, a negative one top-down. Bits per pixel 0 means 32.
    void SetSize(int width, int height, int bitsPerPixel);
    // Channel sizes (all 0 for the plain layout) apply to 16 bits (each 1..8) and 32 bits (8, 8, 8).
    // With `memory` the buffer wraps it without owning it; it must hold AbsHeight() * RowStride() bytes.
    void SetSizeBitfields(uint8_t* memory, int width, int blueBits, int greenBits, int redBits,
                          int bitsPerPixel, int height);
    // Makes this buffer a view of a rectangle of `source` (y counted from the top), clipped to it.
    // The view keeps the memory alive. Returns false, leaving this buffer empty, when nothing is left.
    bool MakeSubView(const TDibBuffer& source, int x, int y, int width, int height);
    void ReleaseHandles();
    // Enlarges to at least min width x |min height| (the sign of min height sets the orientation).
    bool GrowToFit(int minWidth, int minHeight, int step, const TGrowLimits* limits, int bitsPerPixel);
    // Copies the whole buffer into `target` at (x, y), clipped, converting the pixel format.
    void DrawTo(TDibBuffer& target, int x, int y) const;

    // 65536 entries of blue, green, red; built on first use (and again for a different remap).
    const uint8_t* Table16To24(const uint8_t* remap = nullptr);
    const TTable24To16& Table24To16(const uint8_t* remap = nullptr);

    bool Empty() const { return bits_ == nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int AbsHeight() const { return absHeight_; }
    bool TopDown() const { return height_ < 0; }
    int BitsPerPixel() const { return bpp_; }
    int BytesPerPixel() const { return bpp_ / 8; }
    int RowStride() const { return rowBytes_; }
    int RowGap() const { return rowGap_; }
    uint8_t* Bits() const { return bits_; }
    bool OwnsMemory() const { return ownsMemory_; }
    long UseCount() const { return memory_.use_count(); }

    int BlueBits() const { return blueBits_; }
    int GreenBits() const { return greenBits_; }
    int RedBits() const { return redBits_; }
    int BlueShift() const { return blueShift_; }
    int GreenShift() const { return greenShift_; }
    int RedShift() const { return redShift_; }
    int GreenPos() const { return greenPos_; }
    int RedPos() const { return redPos_; }
    const TBitfieldMasks& Masks() const { return masks_; }

    // Row i in memory order (row 0 is the bottom image row of a bottom-up buffer).
    uint8_t* Row(int i) const { return rows_[static_cast<size_t>(i)]; }
    // Image row y counted from the top whatever the orientation.
    uint8_t* Line(int y) const { return rows_[static_cast<size_t>(height_ < 0 ? y : absHeight_ - 1 - y)]; }

    TColorTable& ColorTable() { return *colors_; }
    const TColorTable& ColorTable() const { return *colors_; }

    // The same pixel format (depth and channel sizes).
    bool SameFormat(const TDibBuffer& other) const;
    // Makes `copy` an independent copy of this buffer with the same orientation and format.
    void CloneTo(TDibBuffer& copy) const;

private:
    void Layout(uint8_t* start, int rowBytes);

    int width_ = 0;
    int height_ = 0;
    int absHeight_ = 0;
    int bpp_ = 0;
    int compression_ = 0;
    int rowBytes_ = 0;
    int rowGap_ = 0;
    int blueBits_ = 0, greenBits_ = 0, redBits_ = 0;
    int blueShift_ = 0, greenShift_ = 0, redShift_ = 0;
    int greenPos_ = 0, redPos_ = 0;
    TBitfieldMasks masks_;
    bool ownsMemory_ = false;

    std::shared_ptr<uint8_t[]> memory_;  // shared with views; empty deleter for foreign memory
    uint8_t* bits_ = nullptr;
    std::vector<uint8_t*> rows_;
    std::shared_ptr<TColorTable> ownColors_;
    std::shared_ptr<TColorTable> colors_;

    std::unique_ptr<uint8_t[]> table16To24_;
    std::unique_ptr<TTable24To16> table24To16_;
    std::array<uint8_t, 256> remap16To24_{};
    std::array<uint8_t, 256> remap24To16_{};
    bool remapped16To24_ = false;
    bool remapped24To16_ = false;
};

}  // namespace jx
