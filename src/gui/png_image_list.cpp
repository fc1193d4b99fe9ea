#include "gui/png_image_list.h"

#include <QPixmap>
#include <algorithm>

namespace jx {

int HalfAlpha(int a) {
    int q = a >> 1;
    if ((a & 1) && (q & 1)) ++q;  // exactly a half: to the even neighbour
    return q;
}

int GlyphLuminance(int r, int g, int b) {
    const int s = 30 * r + 59 * g + 11 * b;
    int q = s / 100;
    const int rest = s % 100;
    if (rest > 50 || (rest == 50 && (q & 1))) ++q;
    return q;
}

QImage DisabledLook(const QImage& png, TPngOptions options) {
    if (png.isNull()) return {};
    const QImage::Format f = png.format();
    const bool paletted = f == QImage::Format_Indexed8 || f == QImage::Format_Mono || f == QImage::Format_MonoLSB;
    const bool grey = f == QImage::Format_Grayscale8 || f == QImage::Format_Grayscale16;
    // A palette's transparent entries are not an alpha channel: such an image gets the fixed 127.
    const bool ownAlpha = png.hasAlphaChannel() && !paletted && !grey;
    QImage out = png.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            int r = qRed(row[x]), g = qGreen(row[x]), b = qBlue(row[x]), a = qAlpha(row[x]);
            if (options & pngBlendOnDisabled) {
                if (!ownAlpha) a = paletted || grey ? std::min(a, 127) : 255;
                a = HalfAlpha(a);
            }
            if ((options & pngGrayscaleOnDisabled) && !grey) r = g = b = GlyphLuminance(r, g, b);
            row[x] = qRgba(r, g, b, a);
        }
    }
    return out;
}

const TPngImageCollectionItem* TPngImageList::GetItem(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return &items_[static_cast<size_t>(index)];
}

QString TPngImageList::DisplayName(int index) const {
    const TPngImageCollectionItem* item = GetItem(index);
    if (item && !item->Name.isEmpty()) return item->Name;
    return QString("PngImage%1").arg(index);
}

QIcon TPngImageList::Icon(int index) const {
    const TPngImageCollectionItem* item = GetItem(index);
    if (!item || item->PngImage.isNull()) return {};
    const QImage disabled = DisabledLook(item->PngImage, PngOptions);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(EnabledImages ? item->PngImage : disabled), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(disabled), QIcon::Disabled);
    return icon;
}

int TPngImageList::Add(const QImage& png, const QString& name) {
    items_.push_back({png, name, QColor(255, 255, 255)});
    return Count() - 1;
}

int TPngImageList::Add(const QImage& bitmap, const QImage& mask) {
    if (bitmap.isNull()) return -1;
    QImage png = bitmap.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < png.height() && y < mask.height(); ++y)
        for (int x = 0; x < png.width() && x < mask.width(); ++x)
            if (qGray(mask.pixel(x, y)) >= 128) png.setPixel(x, y, png.pixel(x, y) & 0x00FFFFFFu);
    return Add(png);
}

int TPngImageList::AddMasked(const QImage& bitmap, QColor transparent) {
    if (bitmap.isNull()) return -1;
    QImage png = bitmap.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent.rgb() & 0x00FFFFFFu;
    for (int y = 0; y < png.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(png.scanLine(y));
        for (int x = 0; x < png.width(); ++x)
            if ((row[x] & 0x00FFFFFFu) == key) row[x] = key;
    }
    return Add(png);
}

void TPngImageList::Replace(int index, const QImage& png) {
    if (index >= 0 && index < Count()) items_[static_cast<size_t>(index)].PngImage = png;
}

void TPngImageList::Delete(int index) {
    if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
}

void TPngImageList::Move(int from, int to) {
    if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to) return;
    TPngImageCollectionItem item = std::move(items_[static_cast<size_t>(from)]);
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, std::move(item));
}

}  // namespace jx
