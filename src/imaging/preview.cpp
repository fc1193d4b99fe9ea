#include "imaging/preview.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/errors.h"
#include "imaging/sort.h"

namespace jx {

const TRgbQuad kErrorMapColors[8] = {
    {0, 0, 0, 0},   {128, 0, 0, 0},   {255, 0, 0, 0}, {128, 128, 0, 0},
    {0, 128, 0, 0}, {0, 255, 0, 0},   {0, 255, 255, 0}, {0, 0, 255, 0},
};

namespace {

inline uint8_t Blend(uint8_t c, uint8_t bg, double a) {
    return static_cast<uint8_t>(std::nearbyint(c * a + (1.0 - a) * bg));
}

inline void Put(uint8_t* px, uint8_t r, uint8_t g, uint8_t b) {
    px[0] = b;
    px[1] = g;
    px[2] = r;
}

// The row is addressed through 64-bit offsets: wide images have rows far past 65535 bytes.
inline uint8_t* Pixel(const TDibBuffer& buf, int32_t x, int32_t y) { return buf.Line(y) + int64_t{x} * 3; }

void Size24(TDibBuffer& buf, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) {
        buf.SetSize(0, 0, 24);
        return;
    }
    buf.SetSize(width, -height, 24);
}

void Composite(const EngineState& state, const TPixelRec& p, int32_t x, int32_t y, uint8_t* out) {
    if (!state.HasAlpha || p.A == 255) {
        Put(out, p.R, p.G, p.B);
        return;
    }
    const TRgbQuad bg = BackgroundAt(state, x, y);
    const double a = p.A / 255.0;
    Put(out, Blend(p.R, bg.red, a), Blend(p.G, bg.green, a), Blend(p.B, bg.blue, a));
}

void Fill(TDibBuffer& buf, TRgbQuad c) {
    for (int32_t y = 0; y < buf.AbsHeight(); ++y)
        for (int32_t x = 0; x < buf.Width(); ++x) Put(Pixel(buf, x, y), c.red, c.green, c.blue);
}

void FillRect(TDibBuffer& buf, int32_t x0, int32_t y0, int32_t w, int32_t h, TRgbQuad c) {
    for (int32_t y = std::max(y0, 0); y < std::min(y0 + h, buf.AbsHeight()); ++y)
        for (int32_t x = std::max(x0, 0); x < std::min(x0 + w, buf.Width()); ++x)
            Put(Pixel(buf, x, y), c.red, c.green, c.blue);
}

// Sets or ORs one pixel, clipped to the buffer.
void Plot(TDibBuffer& buf, int32_t x, int32_t y, TRgbQuad c, bool merge) {
    if (x < 0 || y < 0 || x >= buf.Width() || y >= buf.AbsHeight()) return;
    uint8_t* px = Pixel(buf, x, y);
    if (merge) {
        px[0] |= c.blue;
        px[1] |= c.green;
        px[2] |= c.red;
    } else {
        Put(px, c.red, c.green, c.blue);
    }
}

// A line from (x0, y0) towards (x1, y1), the end point itself left out, as a pen draws it.
void Line(TDibBuffer& buf, int32_t x0, int32_t y0, int32_t x1, int32_t y1, TRgbQuad c, bool merge) {
    const int32_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int32_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int32_t err = dx + dy;
    while (x0 != x1 || y0 != y1) {
        Plot(buf, x0, y0, c, merge);
        const int32_t e2 = 2 * err;
        if (e2 >= dy) err += dy, x0 += sx;
        if (e2 <= dx) err += dx, y0 += sy;
    }
}

}  // namespace

uint32_t PremultipliedDistance(const TPixelRec& p, const TPixelRec& q) {
    const double a = p.A / 255.0, b = q.A / 255.0;
    const double dr = p.R * a - q.R * b, dg = p.G * a - q.G * b, db = p.B * a - q.B * b;
    return static_cast<uint32_t>(std::nearbyint(dr * dr + dg * dg + db * db));
}

TRgbQuad BackgroundAt(const EngineState& state, int32_t x, int32_t y) {
    switch (state.BackgroundMode) {
        case TBackgroundMode::Grid: {
            const int32_t cell = std::max(state.GridCellSize, 1);
            const TPixelRec& g = state.GridColors[((x / cell) & 1) == ((y / cell) & 1) ? 0 : 1];
            return {g.B, g.G, g.R, 0};
        }
        case TBackgroundMode::Picture:
            if (!state.BackgroundPicture.Empty()) {
                const TPixelRec& p = state.BackgroundPicture[y % state.BackgroundPicture.Height()]
                                                            [x % state.BackgroundPicture.Width()];
                return {p.B, p.G, p.R, 0};
            }
            [[fallthrough]];  // no picture loaded: the plain colour
        case TBackgroundMode::Color:
        default: {
            const int32_t c = state.BackgroundColor;
            return {static_cast<uint8_t>((c >> 16) & 0xFF), static_cast<uint8_t>((c >> 8) & 0xFF),
                    static_cast<uint8_t>(c & 0xFF), 0};
        }
    }
}

void RenderImage(const EngineState& state, TDibBuffer& view, const TViewOptions& options) {
    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    Size24(view, w, h);
    if (view.Empty()) return;
    const bool sameShape = state.WorkingImage.SameShape(state.SourceImage);
    for (int32_t y = 0; y < h; ++y) {
        const TPixelRec* src = state.SourceImage[y];
        const TPixelRec* out = sameShape ? state.WorkingImage[y] : src;
        uint8_t* row = view.Line(y);
        for (int32_t x = 0; x < w; ++x, row += 3) {
            const TPixelRec& o = out[x];
            const TPixelRec& s = src[x];
            if (options.ShowErrorMap) {
                const int32_t e = static_cast<int32_t>(std::nearbyint(std::sqrt(double(PremultipliedDistance(o, s)))));
                const TRgbQuad& c = kErrorMapColors[std::clamp(Log2Floor(e), 0, 7)];
                Put(row, c.red, c.green, c.blue);
            } else if (options.ShowSourceOpaque) {
                Put(row, s.R, s.G, s.B);
            } else if (options.ShowAlphaChannel) {
                Put(row, s.A, s.A, s.A);
            } else {
                Composite(state, o, x, y, row);
            }
        }
    }
}

void ShowSource(const EngineState& state, TDibBuffer& view) {
    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    Size24(view, w, h);
    for (int32_t y = 0; y < h && !view.Empty(); ++y) {
        const TPixelRec* src = state.SourceImage[y];
        uint8_t* row = view.Line(y);
        for (int32_t x = 0; x < w; ++x, row += 3) Composite(state, src[x], x, y, row);
    }
}

bool DrawPaletteGrid(EngineState& state, bool resort, TDibBuffer& grid) {
    const int32_t n = std::min<int64_t>(state.PaletteSize, static_cast<int64_t>(state.Palette.size()));
    if (state.PaletteSize < 1 || n < 1) {
        grid.SetSize(0, 0, 24);
        return false;
    }
    if (resort) SortPalette(state, n, state.PaletteSortType);
    const int32_t rows = (n + 15) / 16;
    Size24(grid, 257, 16 * rows + 1);
    const TRgbQuad black{0, 0, 0, 0}, white{255, 255, 255, 0}, silver{192, 192, 192, 0};
    Fill(grid, black);
    for (int32_t i = 0; i < rows * 16; ++i) {
        const int32_t cx = 1 + 16 * (i % 16), cy = 1 + 16 * (i / 16);
        if (i < n) {
            const TPixelRec& p = state.Palette[static_cast<size_t>(i)];
            FillRect(grid, cx, cy, 15, 15, {p.B, p.G, p.R, 0});
            if (p.A != 255)
                for (int32_t dy = 0; dy < 4; ++dy)
                    for (int32_t dx = 0; dx < 4; ++dx)
                        Plot(grid, cx + dx, cy + dy, ((dx < 2) == (dy < 2)) ? white : silver, false);
        } else {
            // An empty cell: a white "X" beginning 5 pixels right of the corner.
            const int32_t x0 = cx + 5, y0 = cy + 4;
            Line(grid, x0, y0, x0 + 6, y0 + 7, white, false);
            Line(grid, x0 + 5, y0, x0 - 1, y0 + 7, white, false);
        }
    }
    return true;
}

void DrawHistogram(EngineState& state, int32_t width, int32_t height, TRgbQuad buttonFace, TDibBuffer& box) {
    if (!state.HasImage()) return;
    Size24(box, width, height);
    if (box.Empty()) return;
    const int32_t H = height;
    Fill(box, buttonFace);
    const int32_t left = (width - 256) / 2;
    FillRect(box, left, 0, 256, H, {0, 0, 0, 0});
    auto& hist = state.ChannelHistograms;
    if (state.HistogramDirty) {
        for (auto& channel : hist) {
            const int32_t m = *std::max_element(channel.begin(), channel.end());
            if (m == 0) continue;
            const double root = std::sqrt(double(m));
            for (int32_t& c : channel)
                c = H - static_cast<int32_t>(std::nearbyint(std::sqrt(double(c)) / root * H));
        }
        state.HistogramDirty = false;
    }
    const int channels = state.HasAlpha ? 4 : 3;
    const TRgbQuad bars[4] = {{0, 0, 64, 0}, {0, 64, 0, 0}, {64, 0, 0, 0}, {64, 64, 0, 0}};
    for (int ch = 0; ch < channels; ++ch)
        for (int32_t i = 0; i < 256; ++i) Line(box, left + i, H, left + i, hist[size_t(ch)][size_t(i)], bars[ch], ch > 0);
    const TRgbQuad outline[4] = {{0, 0, 255, 0},
                                 {0, 255, 0, 0},
                                 state.IsGrey ? TRgbQuad{255, 255, 255, 0} : TRgbQuad{255, 0, 0, 0},
                                 {255, 255, 0, 0}};
    for (int ch = 0; ch < channels; ++ch)
        for (int32_t i = 0; i + 1 < 256; ++i)
            Line(box, left + i, hist[size_t(ch)][size_t(i)], left + i + 1, hist[size_t(ch)][size_t(i + 1)], outline[ch], false);
}

}  // namespace jx
