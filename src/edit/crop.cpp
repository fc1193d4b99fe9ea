#include "edit/crop.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "edit/commit.h"
#include "edit/errors.h"

namespace jx {
namespace {

constexpr int64_t kGrabTolerance = 4;
constexpr int32_t kInsideMargin = 2;

bool Near(int32_t a, int32_t b) { return std::llabs(int64_t{a} - b) <= kGrabTolerance; }

bool SameColor(const TPixelRec& a, const TPixelRec& b) { return a.R == b.R && a.G == b.G && a.B == b.B && a.A == b.A; }

bool RowIs(const TPixelImage& img, int32_t y, const TPixelRec& ref) {
    const TPixelRec* row = img[y];
    for (int32_t x = 0; x < img.Width(); ++x)
        if (!SameColor(row[x], ref)) return false;
    return true;
}

bool ColumnIs(const TPixelImage& img, int32_t x, int32_t top, int32_t bottom, const TPixelRec& ref) {
    for (int32_t y = top; y < bottom; ++y)
        if (!SameColor(img[y][x], ref)) return false;
    return true;
}

// A side is cut only where two or more of its outermost lines are border.
int32_t BorderCut(int32_t count) { return count >= 2 ? count : 0; }

TCropPart FlipHorizontal(TCropPart p) {
    switch (p) {
        case TCropPart::TopLeft: return TCropPart::TopRight;
        case TCropPart::TopRight: return TCropPart::TopLeft;
        case TCropPart::BottomLeft: return TCropPart::BottomRight;
        case TCropPart::BottomRight: return TCropPart::BottomLeft;
        case TCropPart::LeftEdge: return TCropPart::RightEdge;
        case TCropPart::RightEdge: return TCropPart::LeftEdge;
        default: return p;
    }
}

TCropPart FlipVertical(TCropPart p) {
    switch (p) {
        case TCropPart::TopLeft: return TCropPart::BottomLeft;
        case TCropPart::BottomLeft: return TCropPart::TopLeft;
        case TCropPart::TopRight: return TCropPart::BottomRight;
        case TCropPart::BottomRight: return TCropPart::TopRight;
        case TCropPart::TopEdge: return TCropPart::BottomEdge;
        case TCropPart::BottomEdge: return TCropPart::TopEdge;
        default: return p;
    }
}

}  // namespace

TCropRect Normalized(TCropRect r) {
    if (r.Left > r.Right) std::swap(r.Left, r.Right);
    if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
    return r;
}

TCropRect ClampedToImage(TCropRect r, int32_t width, int32_t height) {
    r = Normalized(r);
    r.Left = std::clamp(r.Left, 0, width);
    r.Right = std::clamp(r.Right, 0, width);
    r.Top = std::clamp(r.Top, 0, height);
    r.Bottom = std::clamp(r.Bottom, 0, height);
    return r;
}

TCropPart CropHitTest(const TCropRect& rect, int32_t x, int32_t y) {
    const TCropRect r = Normalized(rect);
    if (Near(x, r.Left) && Near(y, r.Top)) return TCropPart::TopLeft;
    if (Near(x, r.Right) && Near(y, r.Top)) return TCropPart::TopRight;
    if (Near(x, r.Left) && Near(y, r.Bottom)) return TCropPart::BottomLeft;
    if (Near(x, r.Right) && Near(y, r.Bottom)) return TCropPart::BottomRight;
    const bool alongY = r.Top <= y && y <= r.Bottom, alongX = r.Left <= x && x <= r.Right;
    if (Near(x, r.Left) && alongY) return TCropPart::LeftEdge;
    if (Near(x, r.Right) && alongY) return TCropPart::RightEdge;
    if (Near(y, r.Top) && alongX) return TCropPart::TopEdge;
    if (Near(y, r.Bottom) && alongX) return TCropPart::BottomEdge;
    if (int64_t{x} > int64_t{r.Left} + kInsideMargin && int64_t{x} < int64_t{r.Right} - kInsideMargin &&
        int64_t{y} > int64_t{r.Top} + kInsideMargin && int64_t{y} < int64_t{r.Bottom} - kInsideMargin)
        return TCropPart::Inside;
    return TCropPart::None;
}

bool TCropSelection::Press(int32_t x, int32_t y, int32_t width, int32_t height) {
    x = std::clamp(x, 0, width);
    y = std::clamp(y, 0, height);
    if (armed_) {
        band_ = {x, y, x, y};
        rubberBand_ = true;
        return true;
    }
    grabbed_ = CropHitTest(rect_, x, y);
    start_ = rect_;
    grabX_ = x;
    grabY_ = y;
    return grabbed_ != TCropPart::None;
}

bool TCropSelection::Move(int32_t x, int32_t y, int32_t width, int32_t height) {
    x = std::clamp(x, 0, width);
    y = std::clamp(y, 0, height);
    if (rubberBand_) {
        band_.Right = x;
        band_.Bottom = y;
        return true;
    }
    TCropRect r = rect_;
    switch (grabbed_) {
        case TCropPart::None: return false;
        case TCropPart::TopLeft: r.Left = x, r.Top = y; break;
        case TCropPart::TopRight: r.Right = x, r.Top = y; break;
        case TCropPart::BottomLeft: r.Left = x, r.Bottom = y; break;
        case TCropPart::BottomRight: r.Right = x, r.Bottom = y; break;
        case TCropPart::LeftEdge: r.Left = x; break;
        case TCropPart::RightEdge: r.Right = x; break;
        case TCropPart::TopEdge: r.Top = y; break;
        case TCropPart::BottomEdge: r.Bottom = y; break;
        case TCropPart::Inside: {
            r = start_;
            const int32_t dx = x - grabX_, dy = y - grabY_;
            r.Left += dx, r.Right += dx, r.Top += dy, r.Bottom += dy;
            r = Normalized(r);
            // Back inside without changing its size.
            if (r.Left < 0) r.Right -= r.Left, r.Left = 0;
            if (r.Right > width) r.Left -= r.Right - width, r.Right = width;
            if (r.Top < 0) r.Bottom -= r.Top, r.Top = 0;
            if (r.Bottom > height) r.Top -= r.Bottom - height, r.Bottom = height;
            rect_ = r;
            return true;
        }
    }
    // Dragged past the opposite side: the grip becomes that side, so the drag goes on smoothly
    // and the selection never turns inside out.
    if (r.Left > r.Right) {
        std::swap(r.Left, r.Right);
        grabbed_ = FlipHorizontal(grabbed_);
    }
    if (r.Top > r.Bottom) {
        std::swap(r.Top, r.Bottom);
        grabbed_ = FlipVertical(grabbed_);
    }
    rect_ = r;
    return true;
}

bool TCropSelection::Release() {
    grabbed_ = TCropPart::None;
    if (!rubberBand_) return false;
    rubberBand_ = false;
    armed_ = false;
    rect_ = Normalized(band_);
    return true;
}

std::optional<TCropRect> AutoCropRect(const TPixelImage& img) {
    const int32_t w = img.Width(), h = img.Height();
    if (img.Empty()) return std::nullopt;
    // Top: rows equal to the first pixel; a picture of one colour has no border to cut.
    int32_t count = 0;
    while (count < h && RowIs(img, count, img[0][0])) ++count;
    if (count == h) return std::nullopt;
    const int32_t top = BorderCut(count);
    // Bottom: never past the top's cut, so a row always stays.
    count = 0;
    while (h - 1 - count > top && RowIs(img, h - 1 - count, img[h - 1][0])) ++count;
    const int32_t bottom = h - BorderCut(count);
    // Left and right over the rows that stay, a column always kept.
    count = 0;
    while (count < w - 1 && ColumnIs(img, count, top, bottom, img[top][0])) ++count;
    const int32_t left = BorderCut(count);
    count = 0;
    while (w - 1 - count > left && ColumnIs(img, w - 1 - count, top, bottom, img[top][w - 1])) ++count;
    const int32_t right = w - BorderCut(count);
    if (left == 0 && top == 0 && right == w && bottom == h) return std::nullopt;
    return TCropRect{left, top, right, bottom};
}

void CropImage(EngineState& state, TCropRect selection, const TQuantizerSettings& settings, EditObserver& observer,
               TURClass& undo) {
    if (!state.HasImage()) return;
    const TCropRect r = ClampedToImage(selection, state.ImageWidth(), state.ImageHeight());
    if (r.Width() <= 0 || r.Height() <= 0) throw EditError("The crop selection is empty: draw a rectangle first.");
    TPixelImage image(r.Width(), r.Height());
    TByteImage mask(r.Width(), r.Height());
    const bool hasMask = state.QualityMask.Width() == state.ImageWidth() && state.QualityMask.Height() == state.ImageHeight();
    for (int32_t y = 0; y < r.Height(); ++y) {
        std::copy_n(state.SourceImage[r.Top + y] + r.Left, r.Width(), image[y]);
        if (hasMask) std::copy_n(state.QualityMask[r.Top + y] + r.Left, r.Width(), mask[y]);
    }
    TCommitOptions options;
    options.Mask = std::move(mask);
    CommitImage(state, std::move(image), settings, observer, undo, std::move(options));
}

bool AutoCropCommand(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer, TURClass& undo) {
    if (!state.HasImage()) return false;
    const std::optional<TCropRect> r = AutoCropRect(state.WorkingImage);
    if (!r) return false;
    CropImage(state, *r, settings, observer, undo);
    return true;
}

}  // namespace jx
