#include "edit/mask_brush.h"

#include <algorithm>

#include "edit/commit.h"

namespace jx {
namespace {

// Images 9..12 of the tool-bar list: "3x3" is a fixed spot; the others are soft discs, full in
// the middle and fading to (almost) nothing at the corners of their square.
constexpr std::array<TBrushTable, 4> kBrushes = {{
    // "3x3"
    {{
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,  28,  78,  27,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,  84, 227,  83,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,  44, 119,  43,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
    }},
    // "7x7"
    {{
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   4,  51,  87, 107, 107,  87,  51,   4,   0,   0,   0,   0},
        {  0,   0,   0,   0,  51, 107, 152, 179, 179, 152, 107,  51,   0,   0,   0,   0},
        {  0,   0,   0,   0,  87, 152, 210, 249, 249, 210, 152,  87,   0,   0,   0,   0},
        {  0,   0,   0,   0, 107, 179, 249, 255, 255, 249, 179, 107,   0,   0,   0,   0},
        {  0,   0,   0,   0, 107, 179, 249, 255, 255, 249, 179, 107,   0,   0,   0,   0},
        {  0,   0,   0,   0,  87, 152, 210, 249, 249, 210, 152,  87,   0,   0,   0,   0},
        {  0,   0,   0,   0,  51, 107, 152, 179, 179, 152, 107,  51,   0,   0,   0,   0},
        {  0,   0,   0,   0,   4,  51,  87, 107, 107,  87,  51,   4,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
    }},
    // "13x13"
    {{
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   1,  41,  76, 104, 124, 135, 135, 124, 104,  76,  41,   1,   0,   0},
        {  0,   0,  41,  85, 124, 157, 181, 194, 194, 181, 157, 124,  85,  41,   0,   0},
        {  0,   0,  76, 124, 169, 207, 237, 253, 253, 237, 207, 169, 124,  76,   0,   0},
        {  0,   0, 104, 157, 207, 253, 255, 255, 255, 255, 253, 207, 157, 104,   0,   0},
        {  0,   0, 124, 181, 237, 255, 255, 255, 255, 255, 255, 237, 181, 124,   0,   0},
        {  0,   0, 135, 194, 253, 255, 255, 255, 255, 255, 255, 253, 194, 135,   0,   0},
        {  0,   0, 135, 194, 253, 255, 255, 255, 255, 255, 255, 253, 194, 135,   0,   0},
        {  0,   0, 124, 181, 237, 255, 255, 255, 255, 255, 255, 237, 181, 124,   0,   0},
        {  0,   0, 104, 157, 207, 253, 255, 255, 255, 255, 253, 207, 157, 104,   0,   0},
        {  0,   0,  76, 124, 169, 207, 237, 253, 253, 237, 207, 169, 124,  76,   0,   0},
        {  0,   0,  41,  85, 124, 157, 181, 194, 194, 181, 157, 124,  85,  41,   0,   0},
        {  0,   0,   1,  41,  76, 104, 124, 135, 135, 124, 104,  76,  41,   1,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
        {  0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0},
    }},
    // "17x17"
    {{
        {  0,  31,  59,  84, 106, 123, 134, 140, 140, 134, 123, 106,  84,  59,  31,   0},
        { 31,  64,  95, 123, 147, 166, 179, 186, 186, 179, 166, 147, 123,  95,  64,  31},
        { 59,  95, 128, 159, 186, 208, 223, 231, 231, 223, 208, 186, 159, 128,  95,  59},
        { 84, 123, 159, 193, 223, 248, 255, 255, 255, 255, 248, 223, 193, 159, 123,  84},
        {106, 147, 186, 223, 255, 255, 255, 255, 255, 255, 255, 255, 223, 186, 147, 106},
        {123, 166, 208, 248, 255, 255, 255, 255, 255, 255, 255, 255, 248, 208, 166, 123},
        {134, 179, 223, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 223, 179, 134},
        {140, 186, 231, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 231, 186, 140},
        {140, 186, 231, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 231, 186, 140},
        {134, 179, 223, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 223, 179, 134},
        {123, 166, 208, 248, 255, 255, 255, 255, 255, 255, 255, 255, 248, 208, 166, 123},
        {106, 147, 186, 223, 255, 255, 255, 255, 255, 255, 255, 255, 223, 186, 147, 106},
        { 84, 123, 159, 193, 223, 248, 255, 255, 255, 255, 248, 223, 193, 159, 123,  84},
        { 59,  95, 128, 159, 186, 208, 223, 231, 231, 223, 208, 186, 159, 128,  95,  59},
        { 31,  64,  95, 123, 147, 166, 179, 186, 186, 179, 166, 147, 123,  95,  64,  31},
        {  0,  31,  59,  84, 106, 123, 134, 140, 140, 134, 123, 106,  84,  59,  31,   0},
    }},
}};

constexpr const char* kCaptions[4] = {"3x3", "7x7", "13x13", "17x17"};

size_t BrushSlot(int imageIndex) {
    if (imageIndex < kFirstBrushImage || imageIndex > kLastBrushImage) imageIndex = kDefaultBrushImage;
    return static_cast<size_t>(imageIndex - kFirstBrushImage);
}

}  // namespace

const TBrushTable& BrushTable(int imageIndex) { return kBrushes[BrushSlot(imageIndex)]; }

const char* BrushCaption(int imageIndex) { return kCaptions[BrushSlot(imageIndex)]; }

uint8_t BrushWeight(uint8_t opacity, int strength) {
    strength = std::clamp(strength, 0, 255);
    // opacity * strength / 256 in integers, so a half is exact and goes to the even neighbour.
    const int q = int{opacity} * strength;
    int g = q >> 8;
    const int rest = q & 255;
    if (rest > 128 || (rest == 128 && (g & 1))) ++g;
    return static_cast<uint8_t>(g);
}

TMaskArea PaintMaskBrush(TByteImage& mask, int32_t x, int32_t y, const TBrushTable& brush, int strength,
                         bool erase) {
    const int32_t w = mask.Width(), h = mask.Height();
    if (w <= 0 || h <= 0) return {};
    TMaskArea area{w, h, 0, 0};
    for (int i = 0; i < kBrushSide; ++i)
        for (int j = 0; j < kBrushSide; ++j) {
            const uint8_t v = brush[size_t(i)][size_t(j)];
            if (v == 0) continue;
            // In 64 bits: a point far outside the image must not wrap.
            const auto row = static_cast<int32_t>(std::clamp<int64_t>(int64_t{y} + i - kBrushHalf, 0, h - 1));
            const auto col = static_cast<int32_t>(std::clamp<int64_t>(int64_t{x} + j - kBrushHalf, 0, w - 1));
            const uint8_t g = BrushWeight(v, strength);
            uint8_t& m = mask[row][col];
            m = erase ? static_cast<uint8_t>(m > g ? m - g : 0) : std::max(m, g);
            area.Left = std::min(area.Left, col);
            area.Top = std::min(area.Top, row);
            area.Right = std::max(area.Right, col + 1);
            area.Bottom = std::max(area.Bottom, row + 1);
        }
    return area.Empty() ? TMaskArea{} : area;
}

uint32_t MaskOverlayPixel(uint32_t bgr, uint8_t m) {
    const uint32_t b = bgr & 0xFF, g = (bgr >> 8) & 0xFF, r = (bgr >> 16) & 0xFF;
    uint32_t b2 = b / 2, g2 = g / 2, r2 = r / 2;
    if (m > 0) {
        b2 = std::min<uint32_t>(255, b2 + m);
        r2 = r2 + m > 255 ? r2 + m - 255 : 0;
    }
    return (bgr & 0xFF000000u) | r2 << 16 | g2 << 8 | b2;
}

void DrawMaskOverlay(const uint32_t* copy, uint32_t* view, int64_t strideWords, const TByteImage& mask,
                     TMaskArea area) {
    area.Left = std::max(area.Left, 0);
    area.Top = std::max(area.Top, 0);
    area.Right = std::min(area.Right, mask.Width());
    area.Bottom = std::min(area.Bottom, mask.Height());
    for (int32_t y = area.Top; y < area.Bottom; ++y) {
        const uint32_t* src = copy + y * strideWords;
        uint32_t* dst = view + y * strideWords;
        const uint8_t* m = mask[y];
        for (int32_t x = area.Left; x < area.Right; ++x) dst[x] = MaskOverlayPixel(src[x], m[x]);
    }
}

uint8_t BrushCursorAlpha(uint8_t opacity) {
    const uint8_t blue = static_cast<uint8_t>(255 - opacity);  // black at that opacity over white
    return static_cast<uint8_t>((blue >> 1) ^ 127);
}

std::string StrengthText(const std::string& typed) {
    std::string digits;
    for (const char c : typed)
        if (c >= '0' && c <= '9') digits += c;
    // Leading zeros aside, more than three digits is above 255 anyway.
    const size_t first = digits.find_first_not_of('0');
    if (first != std::string::npos && digits.size() - first > 3) return "255";
    if (!digits.empty() && std::stoi(digits) > 255) return "255";
    return digits;
}

TMaskArea TMaskStroke::Begin(EngineState& state, int32_t x, int32_t y, int brushImage, int strength, bool erase) {
    if (!state.HasImage()) return {};
    active_ = true;
    brush_ = &BrushTable(brushImage);
    strength_ = std::clamp(strength, 0, 255);
    erase_ = erase;
    return PaintMaskBrush(state.QualityMask, x, y, *brush_, strength_, erase_);
}

TMaskArea TMaskStroke::Move(EngineState& state, int32_t x, int32_t y) {
    if (!active_ || !state.HasImage()) return {};
    return PaintMaskBrush(state.QualityMask, x, y, *brush_, strength_, erase_);
}

bool TMaskStroke::End(EngineState& state, EditObserver& observer, TURClass& undo) {
    if (!active_) return false;
    active_ = false;
    if (!state.HasImage()) return false;
    CommitMask(state, observer, undo);
    return true;
}

bool ClearMaskCommand(EngineState& state, EditObserver& observer, TURClass& undo) {
    if (!state.HasImage()) return false;
    std::fill(state.QualityMask.Vector().begin(), state.QualityMask.Vector().end(), uint8_t{0});
    CommitMask(state, observer, undo);
    return true;
}

}  // namespace jx
