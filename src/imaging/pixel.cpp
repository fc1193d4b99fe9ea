#include "imaging/pixel.h"

#include <bit>
#include <string>

#include "imaging/errors.h"

namespace jx {

int32_t Log2Floor(int32_t x) {
    const uint32_t v = static_cast<uint32_t>(x) | 1u;
    return 31 - std::countl_zero(v);
}

void UnpackRGB(int32_t value, TPixelRec& p) {
    if (value < 0 || value > 0xFFFFFF) throw ImagingError("Colour value out of range: " + std::to_string(value));
    p.R = static_cast<uint8_t>(value & 0xFF);
    p.G = static_cast<uint8_t>((value >> 8) & 0xFF);
    p.B = static_cast<uint8_t>((value >> 16) & 0xFF);
    p.A = 255;
}

TPixelRec UnpackRGB(int32_t value) {
    TPixelRec p;
    UnpackRGB(value, p);
    return p;
}

}  // namespace jx
