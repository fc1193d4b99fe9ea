#pragma once
// The colour record the whole engine works on, and the small operations on it.
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

namespace jx {

// Image pixel, colour-list entry and palette entry alike. c1..c3 are the working colour space
// components (c2, c3 carry the converter's offset); they are derived from R, G, B, A by the
// current converter and must be refreshed whenever those change.
struct __attribute__((packed)) TPixelRec {
    uint8_t R = 0;
    uint8_t G = 0;
    uint8_t B = 0;
    uint8_t A = 0;  // 255 opaque, 0 fully transparent
    uint8_t c1 = 0;
    uint8_t c2 = 0;
    uint8_t c3 = 0;
    // Image pixel: its importance; colour-list entry: summed weights; palette entry: use count.
    int32_t Weight = 0;

    // All eleven bytes.
    bool operator==(const TPixelRec& o) const {
        return R == o.R && G == o.G && B == o.B && A == o.A && c1 == o.c1 && c2 == o.c2 && c3 == o.c3 &&
               Weight == o.Weight;
    }
};
static_assert(sizeof(TPixelRec) == 11, "TPixelRec must stay 11 packed bytes");

inline bool SameRgba(const TPixelRec& p, const TPixelRec& q) {
    return p.R == q.R && p.G == q.G && p.B == q.B && p.A == q.A;
}

// sq[i] = i*i for i in -255..255, so the distance needs no multiplication.
struct TSquares {
    std::array<int32_t, 511> v{};
    constexpr int32_t operator[](int i) const { return v[static_cast<unsigned>(i + 255)]; }
};
constexpr TSquares MakeSquares() {
    TSquares s;
    for (int i = -255; i <= 255; ++i) s.v[static_cast<unsigned>(i + 255)] = i * i;
    return s;
}
inline constexpr TSquares Squares = MakeSquares();

// Distance in the working space: the lightness term weighted by lumaShift, alpha only when the
// image has an alpha channel. At most 2,405,925.
inline int32_t ColorDistance(const TPixelRec& p, const TPixelRec& q, unsigned lumaShift, bool hasAlpha) {
    int32_t d = Squares[p.c1 - q.c1] << lumaShift;
    d += 2 * Squares[p.c2 - q.c2] + 2 * Squares[p.c3 - q.c3];
    if (hasAlpha) d += Squares[p.A - q.A];
    return d;
}

// "Round" in this engine is half to even, in the default rounding mode.
inline int32_t RoundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }
inline uint8_t ClampByte(int32_t i) { return i < 0 ? 0 : (i > 255 ? 255 : static_cast<uint8_t>(i)); }

// Index of the highest set bit of (x | 1): 0 and 1 give 0, 255 gives 7.
int32_t Log2Floor(int32_t x);

// B*65536 + G*256 + R, red in the low byte.
inline int32_t PackRGB(const TPixelRec& p) { return (int32_t{p.B} << 16) | (int32_t{p.G} << 8) | p.R; }

// Sets R, G, B from a packed value and A to 255; c1..c3 and Weight are left alone.
// A value outside 0..$FFFFFF raises ImagingError.
void UnpackRGB(int32_t value, TPixelRec& p);
TPixelRec UnpackRGB(int32_t value);

// B*2^24 + G*2^16 + R*2^8 + A: the identity key of a colour.
inline uint32_t PixelKey(const TPixelRec& p) {
    return (uint32_t{p.B} << 24) | (uint32_t{p.G} << 16) | (uint32_t{p.R} << 8) | p.A;
}

// Adds to a weight, saturating at the int32 maximum: a colour's summed weight on a large,
// heavily masked image can pass 2^31.
inline int32_t AddWeight(int32_t weight, int64_t add) {
    int64_t s = int64_t{weight} + add;
    if (s > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (s < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(s);
}

// A 64-bit weight as the record holds it: capped at the int32 maximum.
inline int32_t CappedWeight(int64_t w) {
    return w > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                   : (w < 0 ? 0 : static_cast<int32_t>(w));
}

// The 256-slot logical palette the indexed writers take (version 0x300).
struct TPaletteEntry {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    uint8_t Flags = 0;
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};
struct TLogicalPalette {
    uint16_t Version = 0x300;
    uint16_t NumEntries = 0;  // PaletteSize at the time it was built
    std::array<TPaletteEntry, 256> Entries{};  // slots at or past NumEntries stay black
};

}  // namespace jx
