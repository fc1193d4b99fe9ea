#include "imaging/resize_image.h"

#include <algorithm>
#include <string>
#include <vector>

#include "imaging/dib_buffer.h"
#include "imaging/effects.h"
#include "imaging/errors.h"
#include "imaging/resample.h"

namespace jx {

int64_t MulDivRoundEven(int64_t p, int64_t q, int64_t d) {
    const int64_t n = p * q;
    int64_t r = n / d, m = n % d;
    if (m < 0) m += d, --r;  // floor division
    if (2 * m > d || (2 * m == d && (r & 1))) ++r;
    return r;
}

namespace {

constexpr int32_t kMaxEditPixels = 32767;
constexpr int32_t kMaxEditPercent = 1000;

int32_t AtLeastOne(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 1, kMaxEditPixels)); }

}  // namespace

TSizeLinker::TSizeLinker(int32_t startWidth, int32_t startHeight) : startWidth_(startWidth), startHeight_(startHeight) {
    if (startWidth < 1 || startHeight < 1)
        throw ImagingError("An image of " + std::to_string(startWidth) + "x" + std::to_string(startHeight) +
                           " pixels cannot be resized");
    values_ = {startWidth, startHeight, 100, 100};
}

bool TSizeLinker::Edit(TSizeField field, int32_t value) {
    if (value < 1) return false;
    TSizeValues v = values_;
    const int64_t sw = startWidth_, sh = startHeight_;
    switch (field) {
        case TSizeField::Width: {
            const int64_t p = std::min<int64_t>({value, kMaxResizeFactor * sw, kMaxEditPixels});
            v.Width = static_cast<int32_t>(p);
            v.WidthPercent = static_cast<int32_t>(MulDivRoundEven(p, 100, sw));
            if (Constrained) {
                v.HeightPercent = v.WidthPercent;
                v.Height = AtLeastOne(MulDivRoundEven(sh, p, sw));
            }
            break;
        }
        case TSizeField::Height: {
            const int64_t p = std::min<int64_t>({value, kMaxResizeFactor * sh, kMaxEditPixels});
            v.Height = static_cast<int32_t>(p);
            v.HeightPercent = static_cast<int32_t>(MulDivRoundEven(p, 100, sh));
            if (Constrained) {
                v.WidthPercent = v.HeightPercent;
                v.Width = AtLeastOne(MulDivRoundEven(sw, p, sh));
            }
            break;
        }
        case TSizeField::WidthPercent:
        case TSizeField::HeightPercent: {
            const int32_t p = std::min(value, kMaxEditPercent);
            const bool width = field == TSizeField::WidthPercent;
            if (width || Constrained) {
                v.WidthPercent = p;
                v.Width = AtLeastOne(MulDivRoundEven(sw, p, 100));
            }
            if (!width || Constrained) {
                v.HeightPercent = p;
                v.Height = AtLeastOne(MulDivRoundEven(sh, p, 100));
            }
            break;
        }
    }
    // The edits show the size that the resize produces.
    values_ = Capped(v);
    return true;
}

void TSizeLinker::FastSize(int32_t divisor) {
    if (divisor < 1) return;
    Edit(TSizeField::Width, AtLeastOne(MulDivRoundEven(startWidth_, 1, divisor)));
    if (!Constrained) Edit(TSizeField::Height, AtLeastOne(MulDivRoundEven(startHeight_, 1, divisor)));
}

TSizeValues TSizeLinker::Capped(TSizeValues t) const {
    // An image that is already larger may keep its size; it only may not grow further.
    const int64_t capW = std::max(kMaxResizeSide, startWidth_), capH = std::max(kMaxResizeSide, startHeight_);
    const bool overW = t.Width > capW, overH = t.Height > capH;
    if (!overW && !overH) return t;
    if (!Constrained) {
        // Each side on its own: neither typed side is dropped for the other's sake.
        if (overW) {
            t.Width = static_cast<int32_t>(capW);
            t.WidthPercent = static_cast<int32_t>(MulDivRoundEven(t.Width, 100, startWidth_));
        }
        if (overH) {
            t.Height = static_cast<int32_t>(capH);
            t.HeightPercent = static_cast<int32_t>(MulDivRoundEven(t.Height, 100, startHeight_));
        }
        return t;
    }
    // The side that overshoots its cap the most sets the scale of both, so the proportions hold.
    if (int64_t{t.Width} * capH >= int64_t{t.Height} * capW) {
        t.Width = static_cast<int32_t>(capW);
        t.Height = static_cast<int32_t>(std::clamp<int64_t>(MulDivRoundEven(startHeight_, capW, startWidth_), 1, capH));
        t.WidthPercent = static_cast<int32_t>(MulDivRoundEven(t.Width, 100, startWidth_));
    } else {
        t.Height = static_cast<int32_t>(capH);
        t.Width = static_cast<int32_t>(std::clamp<int64_t>(MulDivRoundEven(startWidth_, capH, startHeight_), 1, capW));
        t.WidthPercent = static_cast<int32_t>(MulDivRoundEven(t.Height, 100, startHeight_));
    }
    t.HeightPercent = t.WidthPercent;
    return t;
}

namespace {

// Transparent pixels take the colour of the nearest visible one, as far as 255 pixels away along
// rows, then down and up the columns; dist holds how far each colour came.
struct TBleedMaps {
    int32_t w = 0, h = 0;
    std::vector<uint32_t> colour;
    std::vector<uint8_t> alpha;
    std::vector<int32_t> dist;

    bool Visible(size_t i) const { return alpha[i] >= 16; }
    void Take(size_t i, uint32_t c) {
        if (alpha[i] == 0) colour[i] = c;
    }
    void Rows();
    void Columns(int dir);
};

void TBleedMaps::Rows() {
    for (int32_t y = 0; y < h; ++y) {
        bool seen = false;
        int32_t run = 0;
        uint32_t current = 0;
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(w);
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = row + static_cast<size_t>(x);
            if (Visible(i)) {
                dist[i] = 128;
                current = colour[i];
                if (run != 0 || !seen) {
                    for (int32_t step = 1; x - step >= 0; ++step) {
                        const int32_t k = std::min(step, 255);
                        const size_t j = i - static_cast<size_t>(step);
                        if (k >= dist[j]) break;
                        dist[j] = k;
                        Take(j, current);
                    }
                }
                seen = true;
                run = 0;
            } else if (seen) {
                if (++run > 255) {
                    run = 255;
                } else {
                    dist[i] = run;
                    Take(i, current);
                }
            }
        }
    }
}

// One column pass; dir +1 top to bottom, -1 bottom to top (the walk goes the other way).
void TBleedMaps::Columns(int dir) {
    const ptrdiff_t stride = static_cast<ptrdiff_t>(w) * dir;
    for (int32_t x = 0; x < w; ++x) {
        bool seen = false;
        int32_t run = 0;
        uint32_t current = 0;
        for (int32_t s = 0; s < h; ++s) {
            const int32_t y = dir > 0 ? s : h - 1 - s;
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
            if (Visible(i)) {
                seen = true;
                current = colour[i];
                for (int32_t k = 1; k <= 255 && s - k >= 0; ++k) {
                    const size_t j = static_cast<size_t>(static_cast<ptrdiff_t>(i) - k * stride);
                    if (Visible(j)) break;
                    if (k < dist[j]) {
                        dist[j] = k;
                        Take(j, current);
                    }
                }
                run = 0;
            } else if (seen) {
                if (++run > 255) {
                    seen = false;
                    run = 255;
                }
                if (run < dist[i]) {
                    dist[i] = run;
                    Take(i, current);
                } else {
                    current = colour[i];
                    run = dist[i];
                }
            } else if (dist[i] != 255) {
                seen = true;
                run = dist[i];
                current = colour[i];
            }
        }
    }
}

}  // namespace

void BleedTransparentColors(TPixelImage& img) {
    const size_t n = static_cast<size_t>(img.Count());
    if (n == 0) return;
    TBleedMaps m{img.Width(), img.Height(), std::vector<uint32_t>(n), std::vector<uint8_t>(n),
                 std::vector<int32_t>(n, 255)};
    const TPixelRec* px = img.Data();
    for (size_t i = 0; i < n; ++i) {
        m.colour[i] = static_cast<uint32_t>(PackRGB(px[i]));
        m.alpha[i] = px[i].A;
    }
    m.Rows();
    m.Columns(1);
    m.Columns(-1);

    TPixelRec* out = img.Data();
    for (size_t i = 0; i < n; ++i) {
        out[i].R = static_cast<uint8_t>(m.colour[i]);
        out[i].G = static_cast<uint8_t>(m.colour[i] >> 8);
        out[i].B = static_cast<uint8_t>(m.colour[i] >> 16);
    }
}

namespace {

void ToDib(const TPixelImage& img, TDibBuffer& dib) {
    dib.SetSize(img.Width(), -img.Height(), 32);
    for (int32_t y = 0; y < img.Height(); ++y) {
        const TPixelRec* in = img[y];
        uint8_t* o = dib.Line(y);
        for (int32_t x = 0; x < img.Width(); ++x, o += 4) {
            o[0] = in[x].B;
            o[1] = in[x].G;
            o[2] = in[x].R;
            o[3] = in[x].A;
        }
    }
}

void Resized(TDibBuffer& src, TDibBuffer& dst, int32_t w, int32_t h, int filter) {
    dst.SetSize(w, -h, 32);
    FilteredResize(src, dst, filter);
}

// buffer := buffer + amount * (sharpened(buffer) - buffer) / 256, the fourth byte kept.
void SharpenBlend(TDibBuffer& buffer, bool more, int32_t amount) {
    TDibBuffer sharp;
    buffer.CloneTo(sharp);
    if (more)
        SharpenMore(sharp, 1);
    else
        SharpenLess(sharp, 1);
    BlendDIBs(buffer, sharp, buffer, amount);
}

void CheckAmount(int32_t v, const char* what) {
    if (v < 0 || v > 255) throw ImagingError(std::string(what) + " must lie in 0..255, not " + std::to_string(v));
}

}  // namespace

TPixelImage ResizeImage(const TPixelImage& source, int32_t width, int32_t height, const TResizeOptions& o) {
    if (width < 1 || height < 1)
        throw ImagingError("A size of " + std::to_string(width) + "x" + std::to_string(height) + " pixels is refused");
    if (source.Empty()) throw ImagingError("There is no image to resize");
    if (o.Filter < 0 || o.Filter >= kResampleFilterCount)
        throw ImagingError("Unknown resampling method " + std::to_string(o.Filter));
    CheckAmount(o.SharpenInAmount, "Sharpen (In)");
    CheckAmount(o.SharpenOutAmount, "Sharpen (Out)");
    CheckAmount(o.SubpixelAmount, "The sub-pixel amount");
    CheckImageSize(width, height);
    CheckImageSize(int64_t{width} * 3, height);

    TDibBuffer src;
    ToDib(source, src);

    // Alpha resampled on its own, never sharpened nor through the higher-order filters.
    TDibBuffer plane, planeOut;
    src.CloneTo(plane);
    for (int32_t y = 0; y < source.Height(); ++y) {
        uint8_t* p = plane.Line(y);
        for (int32_t x = 0; x < source.Width(); ++x, p += 4) p[0] = p[1] = p[2] = p[3];
    }
    Resized(plane, planeOut, width, height, o.Filter <= 1 ? o.Filter : 2);

    TDibBuffer result;
    if (o.SharpenInAmount > 0) {
        TDibBuffer in;
        src.CloneTo(in);
        SharpenBlend(in, o.SharpenInMore, o.SharpenInAmount);
        Resized(in, result, width, height, o.Filter);
    } else {
        Resized(src, result, width, height, o.Filter);
    }
    auto putAlpha = [&] {
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* r = result.Line(y);
            const uint8_t* a = planeOut.Line(y);
            for (int32_t x = 0; x < width; ++x) r[4 * x + 3] = a[4 * x];
        }
    };
    putAlpha();
    if (o.SharpenOutAmount > 0) {
        SharpenBlend(result, o.SharpenOutMore, o.SharpenOutAmount);
        putAlpha();
    }
    if (o.SubpixelAmount > 0) {
        TDibBuffer wide, sub;
        Resized(src, wide, 3 * width, height, o.Filter);
        sub.SetSize(width, -height, 32);
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* in = wide.Line(y);
            const uint8_t* r = result.Line(y);
            uint8_t* s = sub.Line(y);
            for (int32_t x = 0; x < width; ++x) {
                s[4 * x + 2] = in[12 * x + 2];      // R from column 3x
                s[4 * x + 1] = in[12 * x + 4 + 1];  // G from 3x + 1
                s[4 * x + 0] = in[12 * x + 8 + 0];  // B from 3x + 2
                s[4 * x + 3] = r[4 * x + 3];
            }
        }
        BlendDIBs(result, sub, result, o.SubpixelAmount);
    }

    TPixelImage out(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* r = result.Line(y);
        TPixelRec* p = out[y];
        for (int32_t x = 0; x < width; ++x, r += 4) {
            p[x].B = r[0];
            p[x].G = r[1];
            p[x].R = r[2];
            p[x].A = o.HasAlpha ? r[3] : 255;
        }
    }
    return out;
}

TCanvasOffset CanvasOffset(int32_t anchor, int32_t ow, int32_t oh, int32_t nw, int32_t nh) {
    if (anchor < 1 || anchor > 9) throw ImagingError("Unknown canvas anchor " + std::to_string(anchor));
    const int32_t col = (anchor - 1) % 3, row = (anchor - 1) / 3;
    auto offset = [](int32_t part, int32_t o, int32_t n) { return part == 0 ? 0 : part == 1 ? n / 2 - o / 2 : n - o; };
    return {offset(col, ow, nw), offset(row, oh, nh)};
}

TPixelImage PlaceOnCanvas(const TPixelImage& source, int32_t width, int32_t height, int32_t anchor,
                          const TPixelRec& fill) {
    if (width < 1 || height < 1)
        throw ImagingError("A size of " + std::to_string(width) + "x" + std::to_string(height) + " pixels is refused");
    const TCanvasOffset off = CanvasOffset(anchor, source.Width(), source.Height(), width, height);
    TPixelImage out(width, height, fill);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t sy = y - off.dy;
        if (sy < 0 || sy >= source.Height()) continue;
        for (int32_t x = 0; x < width; ++x) {
            const int32_t sx = x - off.dx;
            if (sx >= 0 && sx < source.Width()) out[y][x] = source[sy][sx];
        }
    }
    return out;
}

}  // namespace jx
