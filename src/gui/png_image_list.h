#pragma once
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QString>
#include <vector>

class QBitmap;

namespace jx {

// How a glyph looks on a disabled control.
enum TPngOption : unsigned { pngBlendOnDisabled = 1u << 0, pngGrayscaleOnDisabled = 1u << 1 };
using TPngOptions = unsigned;

// The disabled look of a glyph, as a non-premultiplied ARGB copy. Blending halves the alpha (an
// image without alpha counts as 127 when palette or grey, 255 when colour); greying sets each
// colour to its luminance (grey images stay). Both round half to even.
QImage DisabledLook(const QImage& png, TPngOptions options);
// round(0.3 R + 0.59 G + 0.11 B), a half to even.
int GlyphLuminance(int r, int g, int b);
// round(a / 256 * 128), a half to even.
int HalfAlpha(int a);

struct TPngImageCollectionItem {
    QImage PngImage;  // with its alpha
    QString Name;
    QColor Background = QColor(255, 255, 255);
};

// An image list whose items are glyphs with alpha: toolbars, menus and buttons take icons from
// it, each with its disabled look made by PngOptions.
class TPngImageList {
public:
    explicit TPngImageList(int width = 16, int height = 16) : width_(width), height_(height) {}

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Count() const { return static_cast<int>(items_.size()); }
    TPngOptions PngOptions = pngBlendOnDisabled;
    // False: every icon is made from the disabled look.
    bool EnabledImages = true;

    // Nothing for an index out of range.
    const TPngImageCollectionItem* GetItem(int index) const;
    // The name shown for an item: its own, else "PngImage<index>".
    QString DisplayName(int index) const;
    // Normal and disabled pixmaps of the item; an empty icon for an index out of range.
    QIcon Icon(int index) const;

    int Add(const QImage& png, const QString& name = {});
    // A bitmap with a mask: alpha 0 where the mask is set. -1 for no bitmap.
    int Add(const QImage& bitmap, const QImage& mask);
    // A bitmap with alpha 0 where the pixel has the given colour. -1 for no bitmap.
    int AddMasked(const QImage& bitmap, QColor transparent);
    void Replace(int index, const QImage& png);
    void Delete(int index);
    void Move(int from, int to);
    void Clear() { items_.clear(); }

private:
    int width_, height_;
    std::vector<TPngImageCollectionItem> items_;
};

}  // namespace jx
