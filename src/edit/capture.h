#pragma once
// The window-system-free half of screen capture: composing a shape and translucency from grabs
// over white and over black, clipping, the cursor blend and the bitmap written to the session.
#include <cstdint>
#include <string>
#include <vector>

namespace jx {

struct TCaptureRect {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    bool Empty() const { return Width <= 0 || Height <= 0; }
    bool Contains(int32_t x, int32_t y) const { return x >= Left && y >= Top && x < Left + Width && y < Top + Height; }
    friend bool operator==(const TCaptureRect&, const TCaptureRect&) = default;
};

// Pixels as B, G, R, A, rows top first, no padding. Without HasAlpha the fourth byte is ignored
// and written as 255.
struct TCaptureImage {
    int32_t Width = 0, Height = 0;
    bool HasAlpha = false;
    std::vector<uint8_t> Bgra;
};

// The cursor as the window system hands it: premultiplied B, G, R, A, its hot spot inside it.
struct TCursorImage {
    int32_t Width = 0, Height = 0;
    int32_t HotX = 0, HotY = 0;
    std::vector<uint8_t> Bgra;
};

// r cut to bounds; an empty rectangle when they do not meet.
TCaptureRect ClipRect(const TCaptureRect& r, const TCaptureRect& bounds);

// The part of image inside r (clipped to the image first).
TCaptureImage CropCapture(const TCaptureImage& image, const TCaptureRect& r);

struct TAlphaCapture {
    TCaptureImage Image;  // same size as the grabs, with alpha
    TCaptureRect Box;     // bounding box of the pixels that keep any alpha; empty when none does
};

// white and black: the same area grabbed over a white and over a black backdrop (B, G, R, X).
// Per channel a = 255 - |white - black|; the pixel's alpha is the least of the three; each colour
// channel is black * 255 / a of its own channel, rounded, so that opaque pixels keep their colour.
TAlphaCapture ComposeAlphaCapture(const std::vector<uint8_t>& white, const std::vector<uint8_t>& black,
                                  int32_t width, int32_t height);

// Source-over blend of the cursor with its top-left at (left, top) of the image. Parts beyond the
// image are skipped.
void BlendCursor(TCaptureImage& image, const TCursorImage& cursor, int32_t left, int32_t top);

// Whether a cursor placed at (left, top) lies wholly inside area (it is drawn only then).
bool CursorInside(const TCursorImage& cursor, int32_t left, int32_t top, const TCaptureRect& area);

// The capture as a BMP file: 24 bits per pixel, 32 with alpha.
std::vector<uint8_t> EncodeCaptureBmp(const TCaptureImage& image);

}  // namespace jx
