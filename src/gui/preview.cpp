#include "gui/preview.h"

#include <QPainter>
#include <cmath>

#include "imaging/errors.h"

namespace jx {
namespace {

constexpr std::array<QRgb, 8> kErrorColors = {qRgb(0, 0, 0),   qRgb(0, 0, 128),   qRgb(0, 0, 255),
                                              qRgb(0, 128, 128), qRgb(0, 128, 0), qRgb(0, 255, 0),
                                              qRgb(255, 255, 0), qRgb(255, 0, 0)};

uint8_t Blend(uint8_t c, double a, uint8_t bg) {
    return static_cast<uint8_t>(std::nearbyint(c * a + (1.0 - a) * bg));
}

QRgb Background(const EngineState& s, int x, int y) {
    switch (s.BackgroundMode) {
        case TBackgroundMode::Grid: {
            const int cell = s.GridCellSize > 0 ? s.GridCellSize : 8;
            const TPixelRec& g = (((x / cell) & 1) == ((y / cell) & 1)) ? s.GridColors[0] : s.GridColors[1];
            return qRgb(g.R, g.G, g.B);
        }
        case TBackgroundMode::Picture:
            if (!s.BackgroundPicture.Empty()) {
                const TPixelRec& p =
                    s.BackgroundPicture[y % s.BackgroundPicture.Height()][x % s.BackgroundPicture.Width()];
                return qRgb(p.R, p.G, p.B);
            }
            [[fallthrough]];
        case TBackgroundMode::Color:
        default: {
            const int32_t c = s.BackgroundColor;
            return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
        }
    }
}

QRgb Composite(const EngineState& s, const TPixelRec& o, int x, int y, bool always) {
    if (!s.HasAlpha || (!always && o.A == 255)) return qRgb(o.R, o.G, o.B);
    const QRgb bg = Background(s, x, y);
    const double a = o.A / 255.0;
    return qRgb(Blend(o.R, a, static_cast<uint8_t>(qRed(bg))), Blend(o.G, a, static_cast<uint8_t>(qGreen(bg))),
                Blend(o.B, a, static_cast<uint8_t>(qBlue(bg))));
}

QImage NewView(const EngineState& s) {
    QImage img(s.ImageWidth(), s.ImageHeight(), QImage::Format_RGB32);
    if (img.isNull() && s.HasImage()) throw ImagingError("Not enough memory to show the image");
    return img;
}

QString Fixed2(double v) { return QString::number(std::nearbyint(v * 100.0) / 100.0, 'f', 2); }

}  // namespace

uint32_t PremultipliedDistance(const TPixelRec& p, const TPixelRec& q) {
    const double a = p.A / 255.0, b = q.A / 255.0;
    const double dr = p.R * a - q.R * b, dg = p.G * a - q.G * b, db = p.B * a - q.B * b;
    return static_cast<uint32_t>(std::nearbyint(dr * dr + dg * dg + db * db));
}

QImage RenderImage(const EngineState& s) {
    QImage img = NewView(s);
    if (!s.WorkingImage.SameShape(s.SourceImage)) return img;
    for (int y = 0; y < s.ImageHeight(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        const TPixelRec* out = s.WorkingImage[y];
        const TPixelRec* src = s.SourceImage[y];
        for (int x = 0; x < s.ImageWidth(); ++x) {
            const TPixelRec& o = out[x];
            const TPixelRec& p = src[x];
            if (s.ShowErrorMap) {
                const auto root = static_cast<int32_t>(std::nearbyint(std::sqrt(double(PremultipliedDistance(o, p)))));
                int k = Log2Floor(root);
                row[x] = kErrorColors[static_cast<size_t>(k < 0 ? 0 : (k > 7 ? 7 : k))];
            } else if (s.ShowSourceOpaque) {
                row[x] = qRgb(p.R, p.G, p.B);
            } else if (s.ShowAlphaChannel) {
                row[x] = qRgb(p.A, p.A, p.A);
            } else {
                row[x] = Composite(s, o, x, y, false);
            }
        }
    }
    return img;
}

QImage ShowSource(const EngineState& s) {
    QImage img = NewView(s);
    for (int y = 0; y < s.ImageHeight(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        const TPixelRec* src = s.SourceImage[y];
        for (int x = 0; x < s.ImageWidth(); ++x) row[x] = Composite(s, src[x], x, y, true);
    }
    return img;
}

QImage DrawPaletteGrid(const EngineState& s) {
    const int n = s.PaletteSize;
    if (n < 1) return QImage();
    const int rows = (n + 15) / 16;
    QImage img(257, 16 * rows + 1, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.setPen(Qt::white);
    for (int i = 0; i < rows * 16; ++i) {
        const int x0 = 1 + 16 * (i % 16), y0 = 1 + 16 * (i / 16);
        if (i < n && static_cast<size_t>(i) < s.Palette.size()) {
            const TPixelRec& e = s.Palette[static_cast<size_t>(i)];
            p.fillRect(x0, y0, 15, 15, QColor(e.R, e.G, e.B));
            if (e.A != 255)
                for (int dy = 0; dy < 4; ++dy)
                    for (int dx = 0; dx < 4; ++dx)
                        img.setPixel(x0 + dx, y0 + dy,
                                     ((dx < 2) == (dy < 2)) ? qRgb(255, 255, 255) : qRgb(192, 192, 192));
        } else if (i >= n) {
            p.drawLine(x0 + 5, y0 + 4, x0 + 10, y0 + 9);
            p.drawLine(x0 + 10, y0 + 4, x0 + 5, y0 + 9);
        }
    }
    return img;
}

QImage DrawHistogram(EngineState& s, QSize box, QColor buttonFace) {
    if (box.width() < 1 || box.height() < 1) return QImage();
    QImage img(box, QImage::Format_RGB32);
    img.fill(buttonFace);
    if (!s.HasImage()) return img;
    const int h = box.height();
    const int left = (box.width() - 256) / 2;
    QPainter p(&img);
    p.fillRect(left, 0, 256, h, Qt::black);
    auto& hist = s.ChannelHistograms;
    if (s.HistogramDirty) {
        for (auto& ch : hist) {
            int32_t m = 0;
            for (int32_t c : ch) m = std::max(m, c);
            if (m == 0) continue;
            const double sm = std::sqrt(double(m));
            for (int32_t& c : ch) c = h - static_cast<int32_t>(std::nearbyint(std::sqrt(double(c)) / sm * h));
        }
        s.HistogramDirty = false;
    }
    const int channels = s.HasAlpha ? 4 : 3;
    const QColor bar[4] = {QColor(64, 0, 0), QColor(0, 64, 0), QColor(0, 0, 64), QColor(0, 64, 64)};
    const QColor line[4] = {QColor(255, 0, 0), QColor(0, 255, 0), s.IsGrey ? QColor(255, 255, 255) : QColor(0, 0, 255),
                            QColor(0, 255, 255)};
    for (int c = 0; c < channels; ++c) {
        p.setCompositionMode(c == 0 ? QPainter::CompositionMode_SourceOver : QPainter::RasterOp_SourceOrDestination);
        p.setPen(bar[c]);
        for (int i = 0; i < 256; ++i) p.drawLine(left + i, h, left + i, hist[static_cast<size_t>(c)][static_cast<size_t>(i)]);
    }
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (int c = 0; c < channels; ++c) {
        p.setPen(line[c]);
        QPolygon poly(256);
        for (int i = 0; i < 256; ++i) poly.setPoint(i, left + i, hist[static_cast<size_t>(c)][static_cast<size_t>(i)]);
        p.drawPolyline(poly);
    }
    return img;
}

std::array<QString, 4> ErrorMetricTexts(const EngineState& s, TErrorMetric metric, int tab) {
    std::array<QString, 4> out = {"y:", "cr:", "cb:", "a:"};
    if (!s.HasImage() || !s.WorkingImage.SameShape(s.SourceImage)) return out;
    int64_t count = s.SourceImage.Count();
    std::array<uint64_t, 4> sum{};
    for (int y = 0; y < s.ImageHeight(); ++y) {
        const TPixelRec* src = s.SourceImage[y];
        const TPixelRec* o = s.WorkingImage[y];
        for (int x = 0; x < s.ImageWidth(); ++x) {
            if ((tab == 1 && src[x].A != 255) || (tab == 2 && src[x].A == 255)) --count;
            if (o[x].A == 0) continue;
            const int d[4] = {src[x].c1 - o[x].c1, src[x].c2 - o[x].c2, src[x].c3 - o[x].c3, src[x].A - o[x].A};
            for (int k = 0; k < 4; ++k)
                sum[static_cast<size_t>(k)] += metric == TErrorMetric::Msad ? static_cast<uint64_t>(std::abs(d[k]))
                                                                            : static_cast<uint64_t>(d[k] * d[k]);
        }
    }
    // No pixel left to divide by: show the figures as zero rather than dividing by nothing.
    std::array<double, 4> mean{};
    for (size_t k = 0; k < 4; ++k) mean[k] = count > 0 ? double(sum[k]) / double(count) : 0.0;
    const QString suffix = metric == TErrorMetric::Psnr ? " dB" : "";
    if (metric == TErrorMetric::Psnr)
        for (double& m : mean)
            if (m != 0) m = 10.0 * std::log10(65025.0 / m);
    if (metric == TErrorMetric::Rmse || s.IsGrey) {
        const double first =
            metric == TErrorMetric::Rmse ? std::sqrt(mean[0] + mean[1] + mean[2] + mean[3]) : mean[0];
        out[0] = Fixed2(first) + suffix;
        out[1] = out[2] = "-";
        out[3] = (s.HasAlpha && metric != TErrorMetric::Rmse) ? Fixed2(mean[3]) + suffix : QString("-");
    } else {
        out[0] = "y:\t" + Fixed2(mean[0]) + suffix;
        out[1] = "cr:\t" + Fixed2(mean[1]) + suffix;
        out[2] = "cb:\t" + Fixed2(mean[2]) + suffix;
        out[3] = s.HasAlpha ? "a:\t" + Fixed2(mean[3]) + suffix : QString("-");
    }
    return out;
}

void DrawCaption(QPainter& p, int x, const QString& text, int y) {
    QFont f = p.font();
    f.setPointSize(8);
    p.setFont(f);
    p.setBackgroundMode(Qt::TransparentMode);
    const int ascent = p.fontMetrics().ascent();
    p.setPen(Qt::black);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) p.drawText(x + dx, y + dy + ascent, text);
    p.setPen(Qt::white);
    p.drawText(x, y + ascent, text);
}

}  // namespace jx
