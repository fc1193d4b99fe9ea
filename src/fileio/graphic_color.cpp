#include "fileio/graphic_color.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace jx {

namespace {

const char* const kBadBits = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
const char* const kBadCount = "Sample count per pixel does not correspond to the given color scheme.";
const char* const kIndexedMix =
    "Conversion between indexed and non-indexed pixel formats is not supported.";
const char* const kNoMethod = "Color conversion failed. Could not find a proper method.";

bool IsAlphaScheme(TSampleScheme s) { return s == ssGrayAlpha || s == ssRGBA || s == ssBGRA; }
bool IsRGBTarget(TSampleScheme s) { return s == ssRGB || s == ssRGBA; }
bool IsBGRTarget(TSampleScheme s) { return s == ssBGR || s == ssBGRA; }

// 16-bit samples as the machine reads them, and with their bytes exchanged.
inline unsigned Word(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline unsigned SwappedWord(const uint8_t* p) {
    const unsigned v = Word(p);
    return ((v & 0xFF) << 8) | (v >> 8);
}
inline void PutWord(uint8_t* p, unsigned v) {
    const uint16_t w = uint16_t(v);
    std::memcpy(p, &w, 2);
}

// Per-sample helpers, chosen once per call.
using TSampleFn = unsigned (*)(const uint8_t* p, const uint8_t* gamma);
unsigned Sample8Plain(const uint8_t* p, const uint8_t*) { return p[0]; }
unsigned Sample8Gamma(const uint8_t* p, const uint8_t* g) { return g[p[0]]; }
unsigned Sample16Plain(const uint8_t* p, const uint8_t*) { return Word(p); }
unsigned Sample16Swapped(const uint8_t* p, const uint8_t*) { return SwappedWord(p); }
unsigned Sample16To8(const uint8_t* p, const uint8_t*) { return Word(p) * 255u / 65535u; }
unsigned Sample16To8Gamma(const uint8_t* p, const uint8_t* g) { return g[Word(p) * 255u / 65535u]; }
unsigned Sample16SwappedTo8(const uint8_t* p, const uint8_t*) {
    return SwappedWord(p) * 255u / 65535u;
}
unsigned Sample16SwappedTo8Gamma(const uint8_t* p, const uint8_t* g) {
    return g[SwappedWord(p) * 255u / 65535u];
}

// Helper that turns a source sample of the given depth into an 8-bit value.
TSampleFn EightBitSampler(int bits, bool swap, bool gamma) {
    if (bits == 8) return gamma ? Sample8Gamma : Sample8Plain;
    if (swap) return gamma ? Sample16SwappedTo8Gamma : Sample16SwappedTo8;
    return gamma ? Sample16To8Gamma : Sample16To8;
}

inline bool Selected(uint8_t mask, uint32_t i) { return (mask & (0x80u >> (i & 7))) != 0; }

// Where the samples of the current pixel lie, for interleaved and planar rows.
struct TSourceWalker {
    const uint8_t* ptr[4] = {nullptr, nullptr, nullptr, nullptr};
    size_t sample_bytes = 1;  // bytes of one sample
    size_t step = 1;          // bytes from one pixel to the next in each pointer
    bool planar = false;

    TSourceWalker(const uint8_t* const* source, int planes, int samples, size_t bytes,
                  bool is_planar)
        : sample_bytes(bytes), planar(is_planar) {
        if (planar) {
            for (int i = 0; i < samples && i < 4; ++i)
                ptr[i] = i < planes ? source[i] : nullptr;
            step = bytes;
        } else {
            for (int i = 0; i < samples && i < 4; ++i) ptr[i] = source[0] + size_t(i) * bytes;
            step = bytes * size_t(samples);
        }
    }
    const uint8_t* operator[](int i) const { return ptr[i]; }
    void Next() {
        for (auto& p : ptr)
            if (p) p += step;
    }
};

// Stores an 8-bit result into a target sample of 8 or 16 bits.
inline void Put(uint8_t* t, int index, int target_bits, unsigned v8) {
    if (target_bits == 16)
        PutWord(t + 2 * index, v8 * 257u);
    else
        t[index] = uint8_t(v8);
}

// Bits of a packed row, most significant first.
inline unsigned GetBits(const uint8_t* row, uint64_t bit, int bits) {
    unsigned v = 0;
    for (int b = 0; b < bits; ++b, ++bit) v = (v << 1) | ((row[bit >> 3] >> (7 - (bit & 7))) & 1);
    return v;
}
inline void PutBits(uint8_t* row, uint64_t bit, int bits, unsigned v) {
    for (int b = bits - 1; b >= 0; --b, ++bit) {
        const uint8_t m = uint8_t(0x80u >> (bit & 7));
        if ((v >> b) & 1)
            row[bit >> 3] |= m;
        else
            row[bit >> 3] &= uint8_t(~m);
    }
}

}  // namespace

TColorManager::TColorManager() { BuildGammaTable(); }

void TColorManager::SetSourceSampleBits(uint8_t bits) {
    if (bits < 1 || bits > 16) throw EColorConversionError(kBadBits);
    if (bits != source_bits_) {
        source_bits_ = bits;
        changed_ = true;
    }
}

void TColorManager::SetTargetSampleBits(uint8_t bits) {
    if (bits < 1 || bits > 16) throw EColorConversionError(kBadBits);
    if (bits != target_bits_) {
        target_bits_ = bits;
        changed_ = true;
    }
}

void TColorManager::SetSourceSampleCount(uint8_t count) {
    if (count < 1 || count > 4) throw EColorConversionError(kBadCount);
    if (count != source_count_) {
        source_count_ = count;
        changed_ = true;
    }
}

void TColorManager::SetTargetSampleCount(uint8_t count) {
    if (count < 1 || count > 4) throw EColorConversionError(kBadCount);
    if (count != target_count_) {
        target_count_ = count;
        changed_ = true;
    }
}

void TColorManager::SetSourceScheme(TSampleScheme scheme) {
    if (scheme != source_scheme_) {
        source_scheme_ = scheme;
        changed_ = true;
    }
}

void TColorManager::SetTargetScheme(TSampleScheme scheme) {
    if (scheme != target_scheme_) {
        target_scheme_ = scheme;
        changed_ = true;
    }
}

void TColorManager::SetGamma(float image_gamma, float display_gamma) {
    image_gamma_ = image_gamma > 0 ? image_gamma : 1.0f;
    display_gamma_ = display_gamma > 0 ? display_gamma : 2.2f;
    BuildGammaTable();
}

void TColorManager::BuildGammaTable() {
    const float exponent = 1.0f / (image_gamma_ * display_gamma_);
    for (int i = 0; i < 256; ++i)
        gamma_table_[size_t(i)] = ClampByte(
            int(std::nearbyint(std::pow(double(i) / 255.0, double(exponent)) * 255.0)));
}

void TColorManager::BuildYCbCrTables(bool photo_ycc) {
    const float kr = LumaWeights[0], kg = LumaWeights[1], kb = LumaWeights[2];
    const float f1 = 2 - 2 * kr;
    const float f2 = 2 - 2 * kb;
    const float f3 = kr * f1 / kg;
    const float f4 = kb * f2 / kg;
    for (int i = 0; i < 256; ++i) {
        const float cr = float(i - (photo_ycc ? 137 : 128));
        const float cb = float(i - (photo_ycc ? 156 : 128));
        cr_to_red_[size_t(i)] = int32_t(std::nearbyint(f1 * cr));
        cb_to_blue_[size_t(i)] = int32_t(std::nearbyint(f2 * cb));
        cr_to_green_[size_t(i)] = -int32_t(std::nearbyint(f3 * cr));
        cb_to_green_[size_t(i)] = -int32_t(std::nearbyint(f4 * cb));
    }
}

TPixelFormat TColorManager::PixelFormatFor(int side) const {
    const int s = side == 0 ? source_count_ : target_count_;
    const int b = side == 0 ? source_bits_ : target_bits_;
    if (s == 1) {
        if (b == 1) return TPixelFormat::pf1bit;
        if (b >= 2 && b <= 4) return TPixelFormat::pf4bit;
        if (b >= 8 && b <= 16) return TPixelFormat::pf8bit;
    } else if (s == 3) {
        if (b >= 1 && b <= 5) return TPixelFormat::pf15bit;
        return TPixelFormat::pf24bit;
    } else if (s == 4 && b >= 8) {
        return TPixelFormat::pf32bit;
    }
    return TPixelFormat::pfCustom;
}

void TColorManager::SelectRowConverter() {
    row_converter_ = nullptr;
    const bool source_indexed = source_scheme_ >= ssIndexed && source_scheme_ <= ssGrayAlpha;
    const bool target_indexed = target_scheme_ >= ssIndexed && target_scheme_ <= ssGray;
    if (source_indexed != target_indexed) throw EColorConversionError(kIndexedMix);

    if (IsAlphaScheme(source_scheme_))
        SourceFlags |= cfAlpha;
    else
        SourceFlags &= uint8_t(~cfAlpha);
    if (IsAlphaScheme(target_scheme_))
        TargetFlags |= cfAlpha;
    else
        TargetFlags &= uint8_t(~cfAlpha);

    const int sb = source_bits_, tb = target_bits_;
    const bool to_rgb = IsRGBTarget(target_scheme_), to_bgr = IsBGRTarget(target_scheme_);
    switch (source_scheme_) {
        case ssIndexed:
            if (sb == 16 && tb == 16)
                row_converter_ = &TColorManager::RowIndexed16To16;
            else if (sb == 16)
                row_converter_ = &TColorManager::RowIndexed16ToPacked;
            else if (tb == 16)
                row_converter_ = &TColorManager::RowIndexedPackedTo16;
            else
                row_converter_ = &TColorManager::RowIndexedPacked;
            break;
        case ssGray:
            if (sb != 16 && tb != 16)
                row_converter_ = &TColorManager::RowIndexedPacked;
            else if (sb >= 8 && tb >= 8)
                row_converter_ = &TColorManager::RowGray;
            break;
        case ssGrayAlpha:
            if ((sb == 8 || sb == 16) && (tb == 8 || tb == 16))
                row_converter_ = &TColorManager::RowGray;
            break;
        case ssRGB:
        case ssRGBA:
            if (to_rgb) row_converter_ = &TColorManager::RowRGBToRGB;
            if (to_bgr) row_converter_ = &TColorManager::RowRGBToBGR;
            break;
        case ssBGR:
        case ssBGRA:
            if (to_rgb) row_converter_ = &TColorManager::RowBGRToRGB;
            if (to_bgr) row_converter_ = &TColorManager::RowBGRToBGR;
            break;
        case ssCMYK:
            if (to_rgb) row_converter_ = &TColorManager::RowCMYKToRGB;
            if (to_bgr) row_converter_ = &TColorManager::RowCMYKToBGR;
            break;
        case ssLab:
            if (to_rgb) row_converter_ = &TColorManager::RowLabToRGB;
            if (to_bgr) row_converter_ = &TColorManager::RowLabToBGR;
            break;
        case ssYCbCr:
            BuildYCbCrTables(false);
            if (to_rgb) row_converter_ = &TColorManager::RowYCbCrToRGB;
            if (to_bgr) row_converter_ = &TColorManager::RowYCbCrToBGR;
            break;
        case ssPhotoYCC:
            BuildYCbCrTables(true);
            if (to_rgb) row_converter_ = &TColorManager::RowPhotoYCCToRGB;
            if (to_bgr) row_converter_ = &TColorManager::RowPhotoYCCToBGR;
            break;
        default: break;
    }
    changed_ = false;
}

void TColorManager::ConvertPixelRow(const uint8_t* const* source, int planes, uint8_t* target,
                                    uint32_t count, uint8_t mask) {
    if (changed_) SelectRowConverter();
    if (!row_converter_) throw EColorConversionError(kNoMethod);
    if (planes < 1 || !source || !source[0]) return;
    (this->*row_converter_)(source, planes, target, count, mask);
}

// ---- three-channel converters ----

void TColorManager::RowRGBLike(const uint8_t* const* source, int planes, uint8_t* target,
                               uint32_t count, uint8_t mask, bool source_bgr, bool target_bgr) {
    const int sb = source_bits_, tb = target_bits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    const bool src_alpha = (SourceFlags & cfAlpha) != 0;
    const bool tgt_alpha = (TargetFlags & cfAlpha) != 0;
    const bool planar = planes > 1;
    const int samples = src_alpha ? 4 : 3;
    if (planar && planes < 3) return;  // a plane per colour sample is needed
    TSourceWalker s(source, planes, samples, size_t(sb / 8), planar);
    const bool swap = (SourceFlags & cfSwapBytes) != 0;
    const bool gamma = (TargetFlags & cfGamma) != 0;
    const uint8_t* g = gamma_table_.data();
    const TSampleFn colour = EightBitSampler(sb, swap, gamma);
    const TSampleFn alpha = EightBitSampler(sb, swap, false);
    const bool copy_alpha = src_alpha && tgt_alpha && s[3] != nullptr;
    const size_t target_step = size_t(tgt_alpha ? 4 : 3) * size_t(tb / 8);
    // Samples 0 and 2 trade places when the two orders differ.
    const int first = source_bgr == target_bgr ? 0 : 2;
    const int third = 2 - first;
    for (uint32_t i = 0; i < count; ++i, target += target_step) {
        if (!Selected(mask, i)) continue;
        Put(target, 0, tb, colour(s[first], g));
        Put(target, 1, tb, colour(s[1], g));
        Put(target, 2, tb, colour(s[third], g));
        if (copy_alpha) Put(target, 3, tb, alpha(s[3], g));
        s.Next();
    }
}

void TColorManager::RowRGBToRGB(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowRGBLike(s, p, t, c, m, false, false);
}
void TColorManager::RowRGBToBGR(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowRGBLike(s, p, t, c, m, false, true);
}
void TColorManager::RowBGRToRGB(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowRGBLike(s, p, t, c, m, true, false);
}
void TColorManager::RowBGRToBGR(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowRGBLike(s, p, t, c, m, true, true);
}

void TColorManager::RowCMYK(const uint8_t* const* source, int planes, uint8_t* target,
                            uint32_t count, uint8_t mask, bool target_bgr) {
    const int sb = source_bits_, tb = target_bits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    TSourceWalker s(source, planes, 4, size_t(sb / 8), planes == 4);
    // 16-bit samples follow the byte-order flag like every other converter.
    const bool swap = (SourceFlags & cfSwapBytes) != 0;
    const size_t target_step = size_t((TargetFlags & cfAlpha) ? 4 : 3) * size_t(tb / 8);
    auto value = [&](const uint8_t* p) -> unsigned {
        if (sb == 8) return p[0];
        return swap ? SwappedWord(p) : Word(p);
    };
    for (uint32_t i = 0; i < count; ++i, target += target_step) {
        if (!Selected(mask, i)) continue;
        const unsigned k = value(s[3]);
        unsigned out[3];  // blue, green, red
        for (int ch = 0; ch < 3; ++ch) {
            const unsigned x = value(s[2 - ch]);  // yellow, magenta, cyan
            if (sb == 8) {
                const int v = int(x + k - x * k / 255u);
                out[ch] = ClampByte(255 - v);
            } else {
                const int64_t v = int64_t(x) + k - int64_t(x) * k / 65535;
                out[ch] = ClampByte(int(255 - v * 255 / 65535));
            }
        }
        Put(target, 0, tb, target_bgr ? out[0] : out[2]);
        Put(target, 1, tb, out[1]);
        Put(target, 2, tb, target_bgr ? out[2] : out[0]);
        s.Next();
    }
}

void TColorManager::RowCMYKToRGB(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowCMYK(s, p, t, c, m, false);
}
void TColorManager::RowCMYKToBGR(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowCMYK(s, p, t, c, m, true);
}

void TColorManager::RowLab(const uint8_t* const* source, int planes, uint8_t* target,
                           uint32_t count, uint8_t mask, bool target_bgr) {
    const int sb = source_bits_, tb = target_bits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    if (planes == 2) return;
    TSourceWalker s(source, planes, 3, size_t(sb / 8), planes > 1);
    const bool swap = (SourceFlags & cfSwapBytes) != 0;
    const bool lightness_byte = (SourceFlags & cfLightnessByte) != 0;
    const bool chroma_bias = (SourceFlags & cfChromaBias) != 0;
    const size_t target_step = size_t((TargetFlags & cfAlpha) ? 4 : 3) * size_t(tb / 8);
    using real = long double;
    for (uint32_t i = 0; i < count; ++i, target += target_step) {
        if (!Selected(mask, i)) continue;
        real L, a, b;
        if (sb == 8) {
            L = s[0][0];
            if (lightness_byte) L /= 2.55L;
            if (chroma_bias) {
                a = real(int(s[1][0]) - 128);
                b = real(int(s[2][0]) - 128);
            } else {
                a = real(int8_t(s[1][0]));
                b = real(int8_t(s[2][0]));
            }
        } else {
            // 16-bit Lab: L spans 0..65535 for 0..100, a and b are centred on 32768.
            auto w = [&](const uint8_t* p) { return real(swap ? SwappedWord(p) : Word(p)); };
            L = w(s[0]) * 100.0L / 65535.0L;
            a = (w(s[1]) - 32768.0L) / 256.0L;
            b = (w(s[2]) - 32768.0L) / 256.0L;
        }
        real X, Y, Z;
        if (L < 7.9996L) {
            Y = L / 903.3L;
            X = Y + a / 3893.5L;
            Z = Y - b / 1557.4L;
        } else {
            const real f = (L + 16) / 116;
            X = std::pow(f + a / 500, 3.0L);
            Y = f * f * f;
            Z = std::pow(f - b / 200, 3.0L);
        }
        auto channel = [](real v) {
            v = std::nearbyint(v * 255);
            return ClampByte(int(std::clamp<real>(v, -1.0L, 256.0L)));
        };
        const unsigned blue = channel(0.099L * X - 0.198L * Y + 1.099L * Z);
        const unsigned green = channel(-0.952L * X + 1.893L * Y + 0.059L * Z);
        const unsigned red = channel(2.998L * X - 1.458L * Y - 0.541L * Z);
        Put(target, 0, tb, target_bgr ? blue : red);
        Put(target, 1, tb, green);
        Put(target, 2, tb, target_bgr ? red : blue);
        s.Next();
    }
}

void TColorManager::RowLabToRGB(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowLab(s, p, t, c, m, false);
}
void TColorManager::RowLabToBGR(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowLab(s, p, t, c, m, true);
}

void TColorManager::RowYCC(const uint8_t* const* source, int planes, uint8_t* target,
                           uint32_t count, uint8_t mask, bool target_bgr) {
    const int sb = source_bits_, tb = target_bits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    if (planes == 2) return;
    TSourceWalker s(source, planes, 3, size_t(sb / 8), planes > 1);
    const TSampleFn sample = EightBitSampler(sb, (SourceFlags & cfSwapBytes) != 0, false);
    const size_t target_step = size_t((TargetFlags & cfAlpha) ? 4 : 3) * size_t(tb / 8);
    for (uint32_t i = 0; i < count; ++i, target += target_step) {
        if (!Selected(mask, i)) continue;
        const int y = int(sample(s[0], nullptr));
        const size_t cb = sample(s[1], nullptr), cr = sample(s[2], nullptr);
        const unsigned blue = ClampByte(y + cb_to_blue_[cb]);
        const unsigned green = ClampByte(y + cb_to_green_[cb] + cr_to_green_[cr]);
        const unsigned red = ClampByte(y + cr_to_red_[cr]);
        Put(target, 0, tb, target_bgr ? blue : red);
        Put(target, 1, tb, green);
        Put(target, 2, tb, target_bgr ? red : blue);
        s.Next();
    }
}

void TColorManager::RowYCbCrToRGB(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowYCC(s, p, t, c, m, false);
}
void TColorManager::RowYCbCrToBGR(const uint8_t* const* s, int p, uint8_t* t, uint32_t c, uint8_t m) {
    RowYCC(s, p, t, c, m, true);
}
void TColorManager::RowPhotoYCCToRGB(const uint8_t* const* s, int p, uint8_t* t, uint32_t c,
                                     uint8_t m) {
    RowYCC(s, p, t, c, m, false);
}
void TColorManager::RowPhotoYCCToBGR(const uint8_t* const* s, int p, uint8_t* t, uint32_t c,
                                     uint8_t m) {
    RowYCC(s, p, t, c, m, true);
}

// ---- one-sample converters ----

void TColorManager::RowGray(const uint8_t* const* source, int planes, uint8_t* target,
                            uint32_t count, uint8_t mask) {
    const int sb = source_bits_, tb = target_bits_;
    if ((sb != 8 && sb != 16) || (tb != 8 && tb != 16)) return;
    const bool src_alpha = (SourceFlags & cfAlpha) != 0;
    // A second plane is the alpha that is stepped over; it is never read.
    TSourceWalker s(source, 1, 1, size_t(sb / 8), planes > 1);
    if (!(planes > 1)) s = TSourceWalker(source, 1, src_alpha ? 2 : 1, size_t(sb / 8), false);
    const bool swap = (SourceFlags & cfSwapBytes) != 0;
    const size_t target_step = size_t(tb / 8);
    for (uint32_t i = 0; i < count; ++i, target += target_step) {
        if (!Selected(mask, i)) continue;
        const uint8_t* p = s[0];
        if (sb == 8 && tb == 8)
            target[0] = p[0];
        else if (sb == 8)
            PutWord(target, p[0] * 65535u / 255u);
        else if (tb == 8)
            target[0] = uint8_t((swap ? SwappedWord(p) : Word(p)) * 255u / 65535u);
        else
            PutWord(target, swap ? Sample16Swapped(p, nullptr) : Sample16Plain(p, nullptr));
        s.Next();
    }
}

void TColorManager::RowIndexedPacked(const uint8_t* const* source, int, uint8_t* target,
                                     uint32_t count, uint8_t mask) {
    const int sb = source_bits_, tb = target_bits_;
    if (sb > 8 || tb > 8) return;
    const uint8_t* src = source[0];
    if (sb == tb && mask == 0xFF) {
        std::memcpy(target, src, size_t((uint64_t(count) * uint64_t(sb) + 7) / 8));
        return;
    }
    const unsigned smax = (1u << sb) - 1, tmax = (1u << tb) - 1;
    uint64_t source_bit = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!Selected(mask, i)) continue;
        const unsigned v = GetBits(src, source_bit, sb);
        source_bit += uint64_t(sb);
        PutBits(target, uint64_t(i) * uint64_t(tb), tb, v * tmax / smax);
    }
}

void TColorManager::RowIndexed16To16(const uint8_t* const* source, int, uint8_t* target,
                                     uint32_t count, uint8_t mask) {
    const bool swap = (SourceFlags & cfSwapBytes) != 0;
    const uint8_t* src = source[0];
    for (uint32_t i = 0; i < count; ++i) {
        if (!Selected(mask, i)) continue;
        PutWord(target + 2 * size_t(i), swap ? SwappedWord(src) : Word(src));
        src += 2;
    }
}

void TColorManager::RowIndexed16ToPacked(const uint8_t* const* source, int, uint8_t* target,
                                         uint32_t count, uint8_t mask) {
    const int tb = target_bits_;
    if (tb > 8) return;
    const bool swap = (SourceFlags & cfSwapBytes) != 0;
    const unsigned tmax = (1u << tb) - 1;
    const uint8_t* src = source[0];
    for (uint32_t i = 0; i < count; ++i) {
        if (!Selected(mask, i)) continue;
        const unsigned v = swap ? SwappedWord(src) : Word(src);
        src += 2;
        PutBits(target, uint64_t(i) * uint64_t(tb), tb, v * tmax / 65535u);
    }
}

void TColorManager::RowIndexedPackedTo16(const uint8_t* const* source, int, uint8_t* target,
                                         uint32_t count, uint8_t mask) {
    const int sb = source_bits_;
    if (sb > 8) return;
    const bool swap = (SourceFlags & cfSwapBytes) != 0;
    const unsigned smax = (1u << sb) - 1;
    uint64_t source_bit = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!Selected(mask, i)) continue;
        unsigned v = GetBits(source[0], source_bit, sb) * 65535u / smax;
        source_bit += uint64_t(sb);
        if (swap) v = ((v & 0xFF) << 8) | (v >> 8);
        PutWord(target + 2 * size_t(i), v);
    }
}

// ---- palettes ----

TPalette TColorManager::MakeColorPalette(const uint8_t* const* data, int data_format,
                                         int color_count, bool bgr_order) const {
    const int n = std::clamp(color_count, 0, 256);
    const bool swap = (SourceFlags & cfSwapBytes) != 0;
    const bool gamma = (TargetFlags & cfGamma) != 0;
    auto eight = [&](unsigned v) { return uint8_t(gamma ? gamma_table_[v] : v); };
    auto sixteen = [&](const uint8_t* p) {
        return eight((swap ? SwappedWord(p) : Word(p)) * 255u / 65535u);
    };
    std::vector<TPaletteEntry> entries(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        uint8_t c[3] = {0, 0, 0};  // in stored order
        switch (data_format) {
            case 0:
            case 1: {
                const uint8_t* p = data[0] + size_t(i) * size_t(data_format == 0 ? 3 : 4);
                for (int k = 0; k < 3; ++k) c[k] = eight(p[k]);
                break;
            }
            case 2:
            case 3:
                for (int k = 0; k < 3; ++k) c[k] = eight(data[k][i]);
                break;
            case 4:
            case 5: {
                const uint8_t* p = data[0] + size_t(i) * size_t(data_format == 4 ? 6 : 8);
                for (int k = 0; k < 3; ++k) c[k] = sixteen(p + 2 * k);
                break;
            }
            case 6:
            case 7:
                for (int k = 0; k < 3; ++k) c[k] = sixteen(data[k] + 2 * size_t(i));
                break;
            default: break;
        }
        // Planar tables are always red, green, blue.
        const bool bgr = bgr_order && (data_format == 0 || data_format == 1 || data_format == 4 ||
                                       data_format == 5);
        entries[size_t(i)] = TPaletteEntry{bgr ? c[2] : c[0], c[1], bgr ? c[0] : c[2], 0};
    }
    const int sb = source_bits_, tb = target_bits_;
    if (tb <= 8 && sb <= 8 && ((1 << tb) - 1) != ((1 << sb) - 1)) {
        // Spread a table of the source depth over the levels of the target depth.
        const int levels = 1 << tb;
        const int smax = (1 << sb) - 1, tmax = levels - 1;
        std::vector<TPaletteEntry> spread(static_cast<size_t>(levels));
        for (int i = 0; i < levels; ++i) {
            const int from = i * smax / tmax;
            spread[size_t(i)] = from < n ? entries[size_t(from)] : TPaletteEntry{};
        }
        entries = std::move(spread);
    }
    TPalette palette;
    palette.Entries = std::move(entries);
    return palette;
}

TPalette TColorManager::MakeGrayPalette(bool minimum_is_white) const {
    const int bits = int(target_bits_) * int(target_count_);
    if (bits >= 256) throw ERangeError();
    const int n = 1 << std::min(bits, 8);
    const int step = 255 / (n - 1);
    const bool gamma = (TargetFlags & cfGamma) != 0;
    TPalette palette;
    palette.Entries.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        uint8_t level = uint8_t(step * i);
        if (gamma) level = gamma_table_[level];
        const int at = minimum_is_white ? n - 1 - i : i;
        palette.Entries[size_t(at)] = TPaletteEntry{level, level, level, 0};
    }
    return palette;
}

}  // namespace jx
