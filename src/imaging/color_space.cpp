#include "imaging/color_space.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>

#include "imaging/color_map.h"
#include "imaging/edge_map.h"
#include "imaging/engine_state.h"
#include "imaging/errors.h"

namespace jx {
namespace {

// Round half to even, as everywhere in the engine.

inline uint8_t ComponentByte(int32_t v) {
    if (v < 0 || v > 255) throw ImagingError("Colour component out of range: " + std::to_string(v));
    return static_cast<uint8_t>(v);
}

inline int32_t Pack(uint8_t r, uint8_t g, uint8_t b) { return (int32_t{b} << 16) | (int32_t{g} << 8) | r; }

// The colour the converters see: translucent colours composited over the chosen background.
inline int32_t CompositedColor(const TPixelRec& p, bool hasAlpha, const TPixelRec& bg) {
    if (!hasAlpha || bg.A == 0) return Pack(p.R, p.G, p.B);
    const double x = p.A / 255.0;
    auto mix = [x](uint8_t c, uint8_t b) { return static_cast<uint8_t>(RoundEven(c * x + (1 - x) * b)); };
    return Pack(mix(p.R, bg.R), mix(p.G, bg.G), mix(p.B, bg.B));
}

// sRGB decoding depends on the byte alone: one table of 256 values, the same numbers as the formula.
const std::array<double, 256>& LinearTable() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            t[static_cast<size_t>(i)] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table;
}

inline double SrgbToLinear(uint8_t byte) { return LinearTable()[byte]; }

struct TFold {
    std::array<std::array<uint8_t, 256>, 256> rows;
    std::array<std::array<uint8_t, 256>, 256> position;  // position[g][v]: where v stands in row g
};

const TFold& Fold() {
    static const TFold fold = [] {
        TFold f{};
        for (int g = 0; g < 256; ++g) {
            auto& row = f.rows[static_cast<size_t>(g)];
            for (int i = 0; i < 256; ++i) row[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
            for (int i = 0; i < 255; ++i)
                for (int j = i + 1; j < 256; ++j) {
                    const int di = g - row[static_cast<size_t>(i)];
                    const int dj = g - row[static_cast<size_t>(j)];
                    if (dj * dj < di * di) std::swap(row[static_cast<size_t>(i)], row[static_cast<size_t>(j)]);
                }
            for (int i = 0; i < 256; ++i)
                f.position[static_cast<size_t>(g)][row[static_cast<size_t>(i)]] = static_cast<uint8_t>(i);
        }
        return f;
    }();
    return fold;
}

void CheckColorValue(int32_t value) {
    if (value < 0 || value > 0xFFFFFF) throw ImagingError("Colour value out of range: " + std::to_string(value));
}

}  // namespace

namespace {

// Cube roots over [2^-7, 2): a first value from a table indexed by the exponent and the top
// eight bits of the mantissa (within 0.07 %), then two Halley steps, each cubing the error.
// Converting a large image's colours spends most of its time here; the library's cube root
// takes three times as long. The lightness bytes come out the same for every colour.
class TCubeRoot {
public:
    TCubeRoot() {
        for (uint32_t i = 0; i < kCells; ++i) {
            const uint64_t bits = (uint64_t{kFirstExponent} << 52) + (uint64_t{i} << 44) + (uint64_t{1} << 43);
            first_[i] = std::cbrt(std::bit_cast<double>(bits));
        }
    }
    double operator()(double t) const {
        const uint64_t bits = std::bit_cast<uint64_t>(t);
        const uint64_t cell = (bits >> 44) - (uint64_t{kFirstExponent} << 8);
        if (cell >= kCells) return std::cbrt(t);
        double x = first_[cell];
        for (int i = 0; i < 2; ++i) {
            const double x3 = x * x * x;
            x *= (x3 + 2.0 * t) / (2.0 * x3 + t);
        }
        return x;
    }

private:
    static constexpr uint32_t kFirstExponent = 1023 - 7;  // 2^-7 ..
    static constexpr uint32_t kCells = 8 * 256;            // .. 2^1
    double first_[kCells];
};

const TCubeRoot& CubeRootTable() {
    static const TCubeRoot table;
    return table;
}

}  // namespace

double LabF(double t) { return t <= 0.008856 ? 7.787 * t + 16.0 / 116.0 : CubeRootTable()(t); }

TTriple RgbToLab(int32_t color) {
    const double r = SrgbToLinear(static_cast<uint8_t>(color & 0xFF));
    const double g = SrgbToLinear(static_cast<uint8_t>((color >> 8) & 0xFF));
    const double b = SrgbToLinear(static_cast<uint8_t>((color >> 16) & 0xFF));
    const double x = 0.412453 * r + 0.35758 * g + 0.180423 * b;
    const double y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
    const double z = 0.019334 * r + 0.119193 * g + 0.950227 * b;
    const double fy = LabF(y);  // above the knee it is the cube root the lightness takes
    const double l = y <= 0.008856 ? 903.3 * y : 116.0 * fy - 16.0;
    return {l, 500.0 * (LabF(x / 0.95047) - fy), 200.0 * (fy - LabF(z / 1.08883))};
}

TTriple RgbToXyz(int32_t color) {
    const double r = SrgbToLinear(static_cast<uint8_t>(color & 0xFF));
    const double g = SrgbToLinear(static_cast<uint8_t>((color >> 8) & 0xFF));
    const double b = SrgbToLinear(static_cast<uint8_t>((color >> 16) & 0xFF));
    return {0.4124564 * r + 0.3575761 * g + 0.1804375 * b, 0.2126729 * r + 0.7151522 * g + 0.072175 * b,
            0.0193339 * r + 0.119192 * g + 0.9503041 * b};
}

double CubeRoot(double y, double tolerance) {
    double x = 1.0;
    // Newton converges in a few dozen steps for every y > 0; the cap guards odd input.
    for (int i = 0; i < 1000; ++i) {
        const double next = (2.0 * x + y / (x * x)) / 3.0;
        const bool done = std::fabs(next - x) <= tolerance;
        x = next;
        if (done || !std::isfinite(x)) break;
    }
    return x;
}

TTriple RgbToLuv(int32_t color) {
    const TTriple xyz = RgbToXyz(color);
    const double X = xyz.v0, Y = xyz.v1, Z = xyz.v2;
    const double d = X + 15.0 * Y + 3.0 * Z;
    const double u1 = X != 0 ? 4.0 * X / d : 0.0;
    const double v1 = Y != 0 ? 9.0 * Y / d : 0.0;
    const double dn = 18.43985;
    const double un = 3.85688 / dn;
    const double vn = 9.0 / dn;
    const double l = Y <= 0.008856451679035631 ? 903.2962962962963 * Y : 116.0 * CubeRoot(Y, 1e-6) - 16.0;
    return {l, 13.0 * l * (u1 - un), 13.0 * l * (v1 - vn)};
}

TTriple RgbToLumaChroma(int32_t type, int32_t color) {
    const uint8_t R = static_cast<uint8_t>(color & 0xFF);
    const uint8_t G = static_cast<uint8_t>((color >> 8) & 0xFF);
    const uint8_t B = static_cast<uint8_t>((color >> 16) & 0xFF);
    switch (type) {
        case 0: {
            const double r = R / 255.0, g = G / 255.0, b = B / 255.0;
            const double y = 0.299 * r + 0.587 * g + 0.114 * b;
            return {y, (b - y) * 0.492111, (r - y) * 0.877283};
        }
        case 1:
            return {static_cast<double>((R + 2 * G + B) >> 2), static_cast<double>(FindInFoldRow(G, B)),
                    static_cast<double>(FindInFoldRow(G, R))};
        case 5: {
            const double co = static_cast<double>(R) - B;
            const double t = B + co / 2.0;
            const double cg = G - t;
            return {t + cg / 2.0, co, cg};
        }
        default:
            throw ImagingError("Unknown luma/chroma type " + std::to_string(type));
    }
}

const std::array<std::array<uint8_t, 256>, 256>& FoldTable() { return Fold().rows; }

int32_t FindInFoldRow(uint8_t row, uint8_t value) { return Fold().position[row][value]; }

void ConvertLab(TPixelRec& p, bool hasAlpha, const TPixelRec& background) {
    const TTriple lab = RgbToLab(CompositedColor(p, hasAlpha, background));
    p.c1 = ComponentByte(RoundEven(lab.v0 / 100.0 * 255.0));
    p.c2 = ComponentByte(RoundEven(lab.v1) + 128);
    p.c3 = ComponentByte(RoundEven(lab.v2) + 128);
}

void ConvertYuv(TPixelRec& p, bool hasAlpha, const TPixelRec& background) {
    const TTriple yuv = RgbToLumaChroma(0, CompositedColor(p, hasAlpha, background));
    p.c1 = ComponentByte(RoundEven(yuv.v0 * 255.0));
    p.c2 = ComponentByte(RoundEven(yuv.v1 * 207.0) + 128);
    p.c3 = ComponentByte(RoundEven(yuv.v2 * 207.0) + 128);
}

void ConvertRgb(TPixelRec& p, bool hasAlpha, const TPixelRec& background) {
    const int32_t c = CompositedColor(p, hasAlpha, background);
    const uint8_t R = static_cast<uint8_t>(c & 0xFF);
    const uint8_t G = static_cast<uint8_t>((c >> 8) & 0xFF);
    const uint8_t B = static_cast<uint8_t>((c >> 16) & 0xFF);
    p.c1 = static_cast<uint8_t>((R + 2 * G + B) >> 2);
    p.c2 = static_cast<uint8_t>(FindInFoldRow(G, B));
    p.c3 = static_cast<uint8_t>(FindInFoldRow(G, R));
}

void ConvertYCoCg(TPixelRec& p, bool hasAlpha, const TPixelRec& background) {
    const TTriple ycc = RgbToLumaChroma(5, CompositedColor(p, hasAlpha, background));
    p.c1 = ComponentByte(static_cast<int32_t>(std::trunc(ycc.v0)));
    p.c2 = ComponentByte(static_cast<int32_t>(std::trunc(ycc.v1 / 2.0)) + 128);
    p.c3 = ComponentByte(static_cast<int32_t>(std::trunc(ycc.v2 / 2.0)) + 128);
}

void ConvertLuv(TPixelRec& p, bool hasAlpha, const TPixelRec& background) {
    const TTriple luv = RgbToLuv(CompositedColor(p, hasAlpha, background));
    p.c1 = ComponentByte(RoundEven(luv.v0 / 100.0 * 255.0));
    p.c2 = ComponentByte(RoundEven(luv.v1 * 0.76) + 128);
    p.c3 = ComponentByte(RoundEven(luv.v2 * 0.76) + 128);
}

ColorConverterFn ConverterFor(int32_t colorSpace) {
    switch (colorSpace) {
        case 0: return ConvertLab;
        case 1: return ConvertYuv;
        case 2: return ConvertRgb;
        case 3: return ConvertYCoCg;
        case 4: return ConvertLuv;
        default: return nullptr;
    }
}

std::array<uint8_t, 2> ComputeChromaMax(ColorConverterFn converter) {
    std::array<uint8_t, 2> m{0, 0};
    const TPixelRec none;
    for (int r = 0; r < 2; ++r)
        for (int g = 0; g < 2; ++g)
            for (int b = 0; b < 2; ++b) {
                TPixelRec p;
                p.R = static_cast<uint8_t>(r * 255);
                p.G = static_cast<uint8_t>(g * 255);
                p.B = static_cast<uint8_t>(b * 255);
                p.A = 255;
                converter(p, false, none);
                if (p.c2 > m[0]) m[0] = p.c2;
                if (p.c3 > m[1]) m[1] = p.c3;
            }
    return m;
}

void ConvertPixels(const EngineState& state, TPixelRec* px, int64_t count, bool clearTransparent) {
    // A converter is a pure function of R, G, B, A, the alpha flag and the background, and a
    // photograph repeats its colours, mostly close together: a colour met lately is not
    // converted again.
    TRecentColors<16> done;
    uint32_t lastKey = 0;
    int32_t lastC = -1;
    for (int64_t i = 0; i < count; ++i) {
        TPixelRec& p = px[i];
        if (clearTransparent && p.A == 0) {
            p.R = p.G = p.B = 0;
            p.Weight = 0;
        }
        const uint32_t key = PixelKey(p);
        const int32_t c = (key == lastKey && i > 0) ? lastC : done.Find(key);
        lastKey = key;
        if (c < 0) {
            state.Convert(p);
            lastC = p.c1 | (p.c2 << 8) | (p.c3 << 16);
            done.Store(key, lastC);
        } else {
            lastC = c;
            p.c1 = static_cast<uint8_t>(c);
            p.c2 = static_cast<uint8_t>(c >> 8);
            p.c3 = static_cast<uint8_t>(c >> 16);
        }
    }
}

bool SelectColorSpace(EngineState& state, int32_t colorSpace) {
    const ColorConverterFn converter = ConverterFor(colorSpace);
    if (!converter) return false;
    state.ColorConverter = converter;
    state.Convert(state.AlphaBackground);
    state.ChromaMax = ComputeChromaMax(converter);
    return true;
}

void ApplyColorSpace(EngineState& state, int32_t colorSpace) {
    if (!SelectColorSpace(state, colorSpace)) return;
    ConvertPixels(state, state.SourceImage.Data(), state.SourceImage.Count(), false);
    BuildEdgeMap(state);
}

THsvBytes RgbToHsvBytes(int32_t color) {
    const TRgbBytes rgb = ColorValueToBytes(color);
    const int R = rgb.R, G = rgb.G, B = rgb.B;
    const int mx = std::max({R, G, B});
    const int mn = std::min({R, G, B});
    THsvBytes h;
    h.Max = static_cast<uint8_t>(mx);
    h.Min = static_cast<uint8_t>(mn);
    h.Mid = static_cast<uint8_t>((mx + mn) / 2);
    h.Delta = static_cast<uint8_t>(mx - mn);
    if (h.Delta == 0) {
        h.Hue = 0;
        return h;
    }
    const double k = 60.0 / h.Delta;
    double hue;
    if (R == mx) {
        hue = (G - B) * k;
        if (G <= B) hue += 360.0;
    } else if (G == mx) {
        hue = (B - R) * k + 120.0;
    } else {
        hue = (R - G) * k + 240.0;
    }
    h.Hue = static_cast<int16_t>(RoundEven(hue));
    return h;
}

THsv HsvBytesToHsv(const THsvBytes& h) {
    THsv r;
    r.Hue = h.Hue;
    r.S = h.Max == 0 ? 0.0 : static_cast<double>(h.Delta) / h.Max;
    r.V = h.Max / 255.0;
    return r;
}

THsv RgbToHsv(int32_t color) { return HsvBytesToHsv(RgbToHsvBytes(color)); }

TRgbBytes HsvBytesToRgb(int16_t hue, uint8_t max, uint8_t delta) {
    const int mx = max;
    const int mn = mx - std::min<int>(delta, mx);
    if (mx == mn) return {static_cast<uint8_t>(mn), static_cast<uint8_t>(mn), static_cast<uint8_t>(mn)};
    const int sector = std::clamp(hue / 60, 0, 5);
    const double f = hue / 60.0 - sector;
    const double s = static_cast<double>(mx - mn) / mx;
    const uint8_t p = ClampByte(RoundEven((1 - s) * mx));
    const uint8_t q = ClampByte(RoundEven((1 - s * f) * mx));
    const uint8_t t = ClampByte(RoundEven((1 - s * (1 - f)) * mx));
    const uint8_t m = static_cast<uint8_t>(mx);
    switch (sector) {
        case 0: return {m, t, p};
        case 1: return {q, m, p};
        case 2: return {p, m, t};
        case 3: return {p, q, m};
        case 4: return {t, p, m};
        default: return {m, p, q};
    }
}

TRgbBytes HsvToRgb(int16_t hue, double s, double v) {
    const uint8_t mx = ClampByte(RoundEven(v * 255.0));
    const uint8_t delta = ClampByte(RoundEven(mx * s));
    return HsvBytesToRgb(hue, mx, delta);
}

TRgbBytes ColorValueToBytes(int32_t value) {
    CheckColorValue(value);
    return {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF),
            static_cast<uint8_t>(value >> 16)};
}

}  // namespace jx
