#include "imaging/color_pick.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace jx {
namespace {


int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

const std::array<TRgbBytes, kNamedColorCount>& NamedRgbTable() {
    static const std::array<TRgbBytes, kNamedColorCount> table = [] {
        std::array<TRgbBytes, kNamedColorCount> t{};
        for (int32_t i = 0; i < kNamedColorCount; ++i) {
            // "$RRGGBB": the table is ours and well formed.
            const char* v = NamedColors()[static_cast<size_t>(i)].Value + 1;
            auto byte = [v](int k) { return static_cast<uint8_t>(HexDigit(v[k]) * 16 + HexDigit(v[k + 1])); };
            t[static_cast<size_t>(i)] = {byte(0), byte(2), byte(4)};
        }
        return t;
    }();
    return table;
}

inline int32_t ClampInt(int32_t v, int32_t lo, int32_t hi) { return std::min(std::max(v, lo), hi); }

TRgbPicture NewPicture(int32_t width, int32_t height) {
    TRgbPicture p;
    p.Width = std::max(width, 0);
    p.Height = std::max(height, 0);
    p.Bytes.assign(static_cast<size_t>(p.Width) * static_cast<size_t>(p.Height) * 3, 0);
    return p;
}

inline void Put(TRgbPicture& p, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* d = p.Bytes.data() + (static_cast<size_t>(y) * static_cast<size_t>(p.Width) + static_cast<size_t>(x)) * 3;
    d[0] = r;
    d[1] = g;
    d[2] = b;
}

}  // namespace

std::optional<TRgbBytes> ParseHexCode(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (!text.empty() && (text.front() == '#' || text.front() == '$'))
        text.remove_prefix(1);
    else if (text.size() >= 2 && text[0] == '0' && text[1] == 'x')
        text.remove_prefix(2);
    if (text.size() != 6) return std::nullopt;
    std::array<uint8_t, 3> v{};
    for (size_t i = 0; i < 3; ++i) {
        const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        v[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return TRgbBytes{v[0], v[1], v[2]};
}

std::string HexCode(uint8_t r, uint8_t g, uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s(6, '0');
    const uint8_t v[3] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
        s[static_cast<size_t>(2 * i)] = digits[v[i] >> 4];
        s[static_cast<size_t>(2 * i + 1)] = digits[v[i] & 15];
    }
    return s;
}

TRgbBytes NamedColorRgb(int32_t index) {
    return NamedRgbTable()[static_cast<size_t>(ClampInt(index, 0, kNamedColorCount - 1))];
}

TNamedMatch NearestNamedColors(uint8_t r, uint8_t g, uint8_t b) {
    const auto& table = NamedRgbTable();
    auto dist = [&](const TRgbBytes& c) {
        return Squares[c.R - r] + Squares[c.G - g] + Squares[c.B - b];
    };
    TNamedMatch m;
    int32_t best = dist(table[0]);
    for (int32_t i = 1; i < kNamedColorCount; ++i) {
        const int32_t d = dist(table[static_cast<size_t>(i)]);
        if (d < best) {
            best = d;
            m.Nearest = i;
        }
    }
    // The runner-up is a different colour: the table repeats some values under other names.
    const TRgbBytes nearest = table[static_cast<size_t>(m.Nearest)];
    int32_t second = -1;
    for (int32_t i = 0; i < kNamedColorCount; ++i) {
        const TRgbBytes& c = table[static_cast<size_t>(i)];
        if (c == nearest) continue;
        const int32_t d = dist(c);
        if (second < 0 || d < second) {
            second = d;
            m.Second = i;
        }
    }
    return m;
}

double SquareSaturationAt(int32_t x, int32_t width) {
    if (width <= 1) return 0.0;
    return ClampInt(x, 0, width - 1) / static_cast<double>(width - 1);
}

double SquareValueAt(int32_t y, int32_t height) {
    if (height <= 1) return 1.0;
    return (height - 1 - ClampInt(y, 0, height - 1)) / static_cast<double>(height - 1);
}

int16_t HueAt(int32_t y, int32_t height) {
    if (height <= 1) return 0;
    return static_cast<int16_t>(RoundEven((height - 1 - ClampInt(y, 0, height - 1)) / static_cast<double>(height - 1) * 360.0));
}

uint8_t AlphaAt(int32_t x, int32_t width) {
    if (width <= 1) return 255;
    return static_cast<uint8_t>(RoundEven(ClampInt(x, 0, width - 1) / static_cast<double>(width - 1) * 255.0));
}

int32_t NamedGridIndexAt(int32_t x, int32_t y) {
    // Division truncates toward zero, so the frame's first line belongs to the first cell.
    const int32_t column = ClampInt((x - 1) / kNamedCell, 0, kNamedColumns - 1);
    const int32_t row = ClampInt((y - 1) / kNamedCell, 0, kNamedRows - 1);
    return row * kNamedColumns + column;
}

TIntPoint SquareMarker(double s, double v, int32_t width, int32_t height) {
    return {RoundEven((width - 1) * s), RoundEven((1.0 - v) * (height - 1))};
}

int32_t HueMarkerY(int32_t hue, int32_t height) { return RoundEven((360 - hue) / 360.0 * (height - 1)); }

int32_t AlphaMarkerX(uint8_t a, int32_t width) { return RoundEven(a / 255.0 * (width - 1)); }

TIntPoint LoupePosition(int32_t x, int32_t y) {
    const int32_t gap = 16;
    return {x < kLoupeWidth + gap ? x + gap : x - kLoupeWidth - gap,
            y < kLoupeHeight + gap ? y + gap : y - kLoupeHeight - gap};
}

TIntPoint LoupeSourceOrigin(int32_t x, int32_t y) { return {x - kLoupeWidth / 16, y - kLoupeHeight / 16}; }

TIntPoint EyedropperPixel(int32_t x, int32_t y, int32_t screenWidth, int32_t screenHeight) {
    return {ClampInt(x, 0, std::max(screenWidth - 1, 0)), ClampInt(y - 1, 0, std::max(screenHeight - 1, 0))};
}

TIntRect LoupePickFrame() {
    // The picked pixel (x, y - 1) lies at (8, 7) of the magnified area.
    const int32_t left = (kLoupeWidth / 16) * kLoupeZoom, top = (kLoupeHeight / 16 - 1) * kLoupeZoom;
    return {left, top, left + kLoupeZoom, top + kLoupeZoom};
}

TRgbPicture DrawPickerSquare(int16_t hue, int32_t width, int32_t height) {
    TRgbPicture p = NewPicture(width, height);
    for (int32_t y = 0; y < p.Height; ++y) {
        const double v = SquareValueAt(y, p.Height);
        for (int32_t x = 0; x < p.Width; ++x) {
            const TRgbBytes c = HsvToRgb(hue, SquareSaturationAt(x, p.Width), v);
            Put(p, x, y, c.R, c.G, c.B);
        }
    }
    return p;
}

TRgbPicture DrawHueBar(int32_t width, int32_t height) {
    TRgbPicture p = NewPicture(width, height);
    for (int32_t y = 0; y < p.Height; ++y) {
        const TRgbBytes c = HsvToRgb(HueAt(y, p.Height), 1.0, 1.0);
        for (int32_t x = 0; x < p.Width; ++x) Put(p, x, y, c.R, c.G, c.B);
    }
    return p;
}

TRgbPicture DrawAlphaBar(int32_t width, int32_t height) {
    TRgbPicture p = NewPicture(width, height);
    for (int32_t x = 0; x < p.Width; ++x) {
        const uint8_t a = AlphaAt(x, p.Width);
        for (int32_t y = 0; y < p.Height; ++y) {
            const uint8_t cell = ((x / 4) & 1) == ((y / 4) & 1) ? 255 : 192;
            const uint8_t v = BlendOver(0, a, cell);
            Put(p, x, y, v, v, v);
        }
    }
    return p;
}

TRgbPicture DrawNamedGrid() {
    TRgbPicture p = NewPicture(kNamedGridWidth, kNamedGridHeight);
    for (int32_t y = 0; y < p.Height; ++y)
        for (int32_t x = 0; x < p.Width; ++x) {
            if (x % kNamedCell == 0 || y % kNamedCell == 0) continue;  // lines and frame stay black
            const TRgbBytes c = NamedColorRgb((y / kNamedCell) * kNamedColumns + x / kNamedCell);
            Put(p, x, y, c.R, c.G, c.B);
        }
    return p;
}

TRgbPicture DrawAlphaSwatch(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b, uint8_t a,
                            bool newSwatch) {
    TRgbPicture p = NewPicture(width, height);
    const uint8_t differ = newSwatch ? 192 : 255, same = newSwatch ? 255 : 192;
    for (int32_t y = 0; y < p.Height; ++y)
        for (int32_t x = 0; x < p.Width; ++x) {
            if (y <= p.Height / 2) {
                Put(p, x, y, r, g, b);
                continue;
            }
            const uint8_t cell = ((x / 4) & 1) != ((y / 4) & 1) ? differ : same;
            Put(p, x, y, BlendOver(r, a, cell), BlendOver(g, a, cell), BlendOver(b, a, cell));
        }
    return p;
}

void TColorPicker::SetColor(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    color_ = TPixelRec{};
    color_.R = r;
    color_.G = g;
    color_.B = b;
    color_.A = a;
    open_ = color_;
    hsv_ = RgbToHsv(PackRGB(color_));
}

void TColorPicker::SetRgb(uint8_t r, uint8_t g, uint8_t b) {
    color_.R = r;
    color_.G = g;
    color_.B = b;
    hsv_ = RgbToHsv(PackRGB(color_));
}

void TColorPicker::SetHsv(int32_t hue, double s, double v) {
    hsv_.Hue = static_cast<int16_t>(ClampInt(hue, 0, 360));
    hsv_.S = std::isnan(s) ? 0.0 : std::clamp(s, 0.0, 1.0);
    hsv_.V = std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
    const TRgbBytes c = HsvToRgb(hsv_.Hue, hsv_.S, hsv_.V);
    color_.R = c.R;
    color_.G = c.G;
    color_.B = c.B;
}

int32_t TColorPicker::FieldValue(TPickerField field) const {
    switch (field) {
        case TPickerField::H: return hsv_.Hue;
        case TPickerField::S: return RoundEven(hsv_.S * 100.0);
        case TPickerField::V: return RoundEven(hsv_.V * 100.0);
        case TPickerField::R: return color_.R;
        case TPickerField::G: return color_.G;
        case TPickerField::B: return color_.B;
        case TPickerField::A: return color_.A;
    }
    return 0;
}

bool TColorPicker::EditField(TPickerField field, int32_t value) {
    const int32_t top = field == TPickerField::H ? 360
                        : (field == TPickerField::S || field == TPickerField::V) ? 100
                                                                                  : 255;
    value = ClampInt(value, 0, top);
    if (value == FieldValue(field)) return false;
    const auto byte = static_cast<uint8_t>(value);
    switch (field) {
        case TPickerField::H: SetHsv(value, hsv_.S, hsv_.V); break;
        case TPickerField::S: SetHsv(hsv_.Hue, value / 100.0, hsv_.V); break;
        case TPickerField::V: SetHsv(hsv_.Hue, hsv_.S, value / 100.0); break;
        case TPickerField::R: SetRgb(byte, color_.G, color_.B); break;
        case TPickerField::G: SetRgb(color_.R, byte, color_.B); break;
        case TPickerField::B: SetRgb(color_.R, color_.G, byte); break;
        case TPickerField::A: SetAlpha(byte); break;
    }
    return true;
}

bool TColorPicker::ApplyHex(std::string_view text) {
    const std::optional<TRgbBytes> c = ParseHexCode(text);
    if (!c) return false;
    if (c->R != color_.R || c->G != color_.G || c->B != color_.B) SetRgb(c->R, c->G, c->B);
    return true;
}

void TColorPicker::PickSquare(int32_t x, int32_t y, int32_t width, int32_t height) {
    SetHsv(hsv_.Hue, SquareSaturationAt(x, width), SquareValueAt(y, height));
}

void TColorPicker::PickHue(int32_t y, int32_t height) { SetHsv(HueAt(y, height), hsv_.S, hsv_.V); }

void TColorPicker::PickAlpha(int32_t x, int32_t width) { SetAlpha(AlphaAt(x, width)); }

void TColorPicker::TakeNamed(int32_t index) {
    const TRgbBytes c = NamedColorRgb(index);
    SetRgb(c.R, c.G, c.B);
}

void TColorPicker::RestoreOpenColor() {
    SetRgb(open_.R, open_.G, open_.B);
    color_.A = open_.A;
}

}  // namespace jx
