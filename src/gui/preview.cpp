#include "gui/preview.h"

#include <QFontMetrics>

#include <QPainter>

#include "imaging/color_tree.h"
#include "imaging/dib_buffer.h"
#include "imaging/errors.h"
#include "imaging/metrics.h"
#include "imaging/sort.h"

namespace jx {
namespace {

// A 24-bit top-down buffer (B, G, R bytes) as a QImage of its own.
QImage ToQImage(const TDibBuffer& buf) {
    if (buf.Empty()) return QImage();
    QImage img(buf.Width(), buf.AbsHeight(), QImage::Format_RGB32);
    if (img.isNull()) throw ImagingError("Not enough memory to show the image");
    for (int y = 0; y < img.height(); ++y) {
        const uint8_t* src = buf.Line(y);
        QRgb* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x, src += 3) row[x] = qRgb(src[2], src[1], src[0]);
    }
    return img;
}

}  // namespace

QImage RenderImage(const EngineState& state, const TViewOptions& options) {
    TDibBuffer view;
    RenderImage(state, view, options);
    return ToQImage(view);
}

QImage ShowSource(const EngineState& state) {
    TDibBuffer view;
    ShowSource(state, view);
    return ToQImage(view);
}

QImage DrawPaletteGrid(EngineState& state, bool resort) {
    TDibBuffer grid;
    if (!DrawPaletteGrid(state, resort, grid)) return QImage();
    return ToQImage(grid);
}

QImage DrawHistogram(EngineState& state, QSize box, QColor buttonFace) {
    if (box.width() < 1 || box.height() < 1) return QImage();
    if (!state.HasImage()) {
        QImage empty(box, QImage::Format_RGB32);
        empty.fill(buttonFace);
        return empty;
    }
    TDibBuffer buf;
    const TRgbQuad face{static_cast<uint8_t>(buttonFace.blue()), static_cast<uint8_t>(buttonFace.green()),
                        static_cast<uint8_t>(buttonFace.red()), 0};
    DrawHistogram(state, box.width(), box.height(), face, buf);
    return ToQImage(buf);
}

std::array<QString, 4> ErrorMetricTexts(const EngineState& state, TErrorMetric metric, int tab) {
    const TErrorMetrics m = ShowErrorMetrics(state, metric, tab, false);
    std::array<QString, 4> out;
    for (size_t i = 0; i < out.size(); ++i) out[i] = QString::fromStdString(m.Labels[i]);
    return out;
}

int CaptionLineHeight() {
    QFont f;
    f.setPointSize(8);
    return QFontMetrics(f).height() + 1;
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
