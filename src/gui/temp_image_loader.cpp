#include "gui/temp_image_loader.h"

#include <QImage>
#include <QImageReader>

#include "imaging/errors.h"

namespace jx {

TDecodedImage DecodeWithQt(const QString& fileName) {
    QImageReader reader(fileName);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (size.isValid()) CheckImageSize(size.width(), size.height());
    QImage img = reader.read();
    if (img.isNull())
        throw ImagingError("Cannot open \"" + fileName.toStdString() + "\": " + reader.errorString().toStdString());
    CheckImageSize(img.width(), img.height());
    const bool alphaChannel = img.hasAlphaChannel();
    img = img.convertToFormat(QImage::Format_ARGB32);
    TDecodedImage out;
    out.Pixels.Resize(img.width(), img.height());
    bool anyTranslucent = false;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        TPixelRec* dst = out.Pixels[y];
        for (int x = 0; x < img.width(); ++x) {
            dst[x].R = static_cast<uint8_t>(qRed(row[x]));
            dst[x].G = static_cast<uint8_t>(qGreen(row[x]));
            dst[x].B = static_cast<uint8_t>(qBlue(row[x]));
            dst[x].A = alphaChannel ? static_cast<uint8_t>(qAlpha(row[x])) : 255;
            anyTranslucent |= dst[x].A != 255;
        }
    }
    out.HasAlpha = anyTranslucent;
    return out;
}

}  // namespace jx
