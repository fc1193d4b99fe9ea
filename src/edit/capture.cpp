#include "edit/capture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "edit/errors.h"
#include "fileio/bitmap.h"
#include "fileio/save_image.h"

namespace jx {

TCaptureRect ClipRect(const TCaptureRect& r, const TCaptureRect& bounds) {
    const int64_t left = std::max<int64_t>(r.Left, bounds.Left);
    const int64_t top = std::max<int64_t>(r.Top, bounds.Top);
    const int64_t right = std::min<int64_t>(int64_t(r.Left) + r.Width, int64_t(bounds.Left) + bounds.Width);
    const int64_t bottom = std::min<int64_t>(int64_t(r.Top) + r.Height, int64_t(bounds.Top) + bounds.Height);
    if (r.Empty() || bounds.Empty() || right <= left || bottom <= top) return {};
    return {int32_t(left), int32_t(top), int32_t(right - left), int32_t(bottom - top)};
}

TCaptureImage CropCapture(const TCaptureImage& image, const TCaptureRect& r) {
    const TCaptureRect c = ClipRect(r, {0, 0, image.Width, image.Height});
    TCaptureImage out;
    out.HasAlpha = image.HasAlpha;
    out.Width = c.Width;
    out.Height = c.Height;
    out.Bgra.resize(size_t(c.Width) * size_t(c.Height) * 4);
    for (int32_t y = 0; y < c.Height; ++y) {
        const uint8_t* src = image.Bgra.data() + (size_t(c.Top + y) * size_t(image.Width) + size_t(c.Left)) * 4;
        std::copy(src, src + size_t(c.Width) * 4, out.Bgra.data() + size_t(y) * size_t(c.Width) * 4);
    }
    return out;
}

TAlphaCapture ComposeAlphaCapture(const std::vector<uint8_t>& white, const std::vector<uint8_t>& black,
                                  int32_t width, int32_t height) {
    const size_t count = size_t(std::max(width, 0)) * size_t(std::max(height, 0));
    if (white.size() < count * 4 || black.size() < count * 4)
        throw EditError("The two grabs of the window differ in size.");
    TAlphaCapture out;
    out.Image.Width = width;
    out.Image.Height = height;
    out.Image.HasAlpha = true;
    out.Image.Bgra.assign(count * 4, 0);
    int32_t minX = width, minY = height, maxX = -1, maxY = -1;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 4;
            uint8_t* o = &out.Image.Bgra[i];
            int alpha = 255;
            for (int c = 0; c < 3; ++c) {
                const int a = 255 - std::abs(int(white[i + c]) - int(black[i + c]));
                alpha = std::min(alpha, a);
                // A channel that covers nothing has no colour to recover.
                o[c] = a == 0 ? 0 : uint8_t(std::clamp(std::nearbyint(black[i + c] * 255.0 / a), 0.0, 255.0));
            }
            o[3] = uint8_t(alpha);
            if (alpha != 0) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
        }
    }
    if (maxX >= 0) out.Box = {minX, minY, maxX - minX + 1, maxY - minY + 1};
    return out;
}

void BlendCursor(TCaptureImage& image, const TCursorImage& cursor, int32_t left, int32_t top) {
    if (cursor.Bgra.size() < size_t(std::max(cursor.Width, 0)) * size_t(std::max(cursor.Height, 0)) * 4) return;
    for (int32_t cy = 0; cy < cursor.Height; ++cy) {
        const int64_t y = int64_t(top) + cy;
        if (y < 0 || y >= image.Height) continue;
        for (int32_t cx = 0; cx < cursor.Width; ++cx) {
            const int64_t x = int64_t(left) + cx;
            if (x < 0 || x >= image.Width) continue;
            const uint8_t* s = &cursor.Bgra[(size_t(cy) * size_t(cursor.Width) + size_t(cx)) * 4];
            uint8_t* d = &image.Bgra[(size_t(y) * size_t(image.Width) + size_t(x)) * 4];
            const double sa = s[3] / 255.0;
            const double da = image.HasAlpha ? d[3] / 255.0 : 1.0;
            const double oa = sa + da * (1.0 - sa);
            for (int c = 0; c < 3; ++c) {
                // The source is premultiplied, the image is not.
                const double premul = s[c] / 255.0 + (d[c] / 255.0) * da * (1.0 - sa);
                const double v = oa > 0 ? premul / oa : 0.0;
                d[c] = uint8_t(std::clamp(std::nearbyint(v * 255.0), 0.0, 255.0));
            }
            d[3] = image.HasAlpha ? uint8_t(std::clamp(std::nearbyint(oa * 255.0), 0.0, 255.0)) : 255;
        }
    }
}

bool CursorInside(const TCursorImage& cursor, int32_t left, int32_t top, const TCaptureRect& area) {
    if (cursor.Width <= 0 || cursor.Height <= 0) return false;
    return area.Contains(left, top) &&
           area.Contains(int32_t(int64_t(left) + cursor.Width - 1), int32_t(int64_t(top) + cursor.Height - 1));
}

std::vector<uint8_t> EncodeCaptureBmp(const TCaptureImage& image) {
    if (image.Width <= 0 || image.Height <= 0) throw EditError("The capture holds no pixels.");
    TBitmap bitmap;
    bitmap.SetPixelFormat(image.HasAlpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
    bitmap.SetSize(image.Width, image.Height);
    for (int32_t y = 0; y < image.Height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        const uint8_t* src = image.Bgra.data() + size_t(y) * size_t(image.Width) * 4;
        for (int32_t x = 0; x < image.Width; ++x, src += 4) {
            if (image.HasAlpha) {
                std::copy(src, src + 4, row + size_t(x) * 4);
            } else {
                std::copy(src, src + 3, row + size_t(x) * 3);
            }
        }
    }
    return EncodeBmp(bitmap);
}

}  // namespace jx
