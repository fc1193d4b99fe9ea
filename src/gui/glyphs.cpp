#include "gui/glyphs.h"

#include <QAbstractButton>
#include <QAction>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>
#include <functional>

#include "edit/mask_brush.h"

namespace jx {
namespace {

// One small palette for every glyph, so that they read as a set.
const QColor kInk(55, 71, 79);
const QColor kPaper(250, 250, 250);
const QColor kBlue(30, 136, 229);
const QColor kGreen(67, 160, 71);
const QColor kRed(229, 57, 53);
const QColor kYellow(251, 192, 45);
const QColor kFolder(240, 180, 60);
const QColor kSky(144, 202, 249);

using Draw = std::function<void(QPainter&)>;

QPen Pen(const QColor& c, qreal w = 1.0) { return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void Box(QPainter& p, QRectF r, const QColor& fill, const QColor& line = kInk) {
    p.setPen(Pen(line));
    p.setBrush(fill);
    p.drawRect(r);
}

void Page(QPainter& p, qreal x, qreal y, qreal w = 9, qreal h = 11) {
    Box(p, QRectF(x + 0.5, y + 0.5, w, h), kPaper);
    p.setPen(Pen(QColor(160, 170, 175)));
    for (qreal ly = y + 3.5; ly < y + h - 1; ly += 2) p.drawLine(QPointF(x + 2.5, ly), QPointF(x + w - 1.5, ly));
}

void Folder(QPainter& p, bool open) {
    p.setPen(Pen(kInk));
    p.setBrush(kFolder.darker(115));
    p.drawPolygon(QPolygonF({{1.5, 3.5}, {6.5, 3.5}, {8, 5}, {14.5, 5}, {14.5, 13.5}, {1.5, 13.5}}));
    p.setBrush(kFolder);
    if (open)
        p.drawPolygon(QPolygonF({{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}}));
    else
        p.drawRect(QRectF(1.5, 6.5, 13, 7));
}

void Picture(QPainter& p, QRectF r) {
    Box(p, r, kSky);
    p.setPen(Qt::NoPen);
    p.setBrush(kYellow);
    p.drawEllipse(QPointF(r.right() - 3, r.top() + 3), 1.5, 1.5);
    p.setBrush(kGreen);
    p.drawPolygon(QPolygonF({{r.left() + 0.5, r.bottom()}, {r.left() + r.width() * 0.4, r.top() + r.height() * 0.45},
                             {r.left() + r.width() * 0.7, r.bottom()}}));
    p.setBrush(kGreen.darker(130));
    p.drawPolygon(QPolygonF({{r.left() + r.width() * 0.45, r.bottom()}, {r.right() - 2.5, r.top() + r.height() * 0.6},
                             {r.right(), r.bottom()}}));
    p.setPen(Pen(kInk));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
}

void Badge(QPainter& p, QColor c, bool plus) {
    p.setPen(Pen(Qt::white, 0.8));
    p.setBrush(c);
    p.drawEllipse(QPointF(11.5, 11.5), 4, 4);
    p.setPen(Pen(Qt::white, 1.6));
    p.drawLine(QPointF(9.5, 11.5), QPointF(13.5, 11.5));
    if (plus) p.drawLine(QPointF(11.5, 9.5), QPointF(11.5, 13.5));
}

void Cross(QPainter& p, QPointF c, qreal r, const QColor& color, qreal w = 2) {
    p.setPen(Pen(color, w));
    p.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
    p.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
}

// A filled arrow from the centre outwards at `degrees` (0 = right, counter-clockwise).
void Arrow(QPainter& p, qreal degrees, const QColor& c = kBlue) {
    p.save();
    p.translate(8, 8);
    p.rotate(-degrees);
    p.setPen(Pen(c.darker(130), 0.8));
    p.setBrush(c);
    p.drawPolygon(QPolygonF({{-6, -1.5}, {1, -1.5}, {1, -5}, {7, 0}, {1, 5}, {1, 1.5}, {-6, 1.5}}));
    p.restore();
}

// Bars growing downwards (ascending) or upwards beside a thin arrow.
void SortOrder(QPainter& p, bool ascending) {
    for (int i = 0; i < 4; ++i) {
        const qreal w = 2.5 + (ascending ? i : 3 - i) * 2;
        Box(p, QRectF(7.5, 1.5 + i * 3.5, w, 2), kBlue);
    }
    p.setPen(Pen(kInk, 1.2));
    p.drawLine(QPointF(3.5, 1.5), QPointF(3.5, 14.5));
    const qreal tip = ascending ? 14.5 : 1.5, back = ascending ? 11 : 5;
    p.drawPolyline(QPolygonF({{1, back}, {3.5, tip}, {6, back}}));
}

void CurvedArrow(QPainter& p, bool left) {
    p.save();
    if (!left) {
        p.translate(16, 0);
        p.scale(-1, 1);
    }
    QPainterPath path;
    path.moveTo(4, 6);
    path.cubicTo(9, 1, 16, 5, 13, 12);
    p.setPen(Pen(kBlue, 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.setPen(Pen(kBlue.darker(130), 0.8));
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF({{1, 6}, {7, 2}, {7.5, 10}}));
    p.restore();
}

void Magnifier(QPainter& p) {
    p.setPen(Pen(kInk, 2.5));
    p.drawLine(QPointF(10.5, 10.5), QPointF(14.5, 14.5));
    p.setPen(Pen(kInk, 1.2));
    p.setBrush(QColor(225, 240, 252));
    p.drawEllipse(QPointF(6.5, 6.5), 5, 5);
}

void Swatches(QPainter& p, QRectF r, int n) {
    const QColor colors[] = {kRed, kGreen, kBlue, kYellow, QColor(142, 36, 170), QColor(0, 172, 193),
                             QColor(255, 112, 67), QColor(124, 179, 66), kInk};
    const qreal w = r.width() / n, h = r.height() / n;
    p.setPen(Pen(kInk, 0.6));
    for (int i = 0; i < n * n; ++i) {
        p.setBrush(colors[i % 9]);
        p.drawRect(QRectF(r.left() + (i % n) * w, r.top() + (i / n) * h, w, h));
    }
}

void Floppy(QPainter& p, QRectF r) {
    Box(p, r, kBlue);
    p.setPen(Qt::NoPen);
    p.setBrush(kPaper);
    p.drawRect(QRectF(r.left() + r.width() * 0.2, r.top() + r.height() * 0.5, r.width() * 0.6, r.height() * 0.5));
    p.setBrush(QColor(200, 210, 215));
    p.drawRect(QRectF(r.left() + r.width() * 0.25, r.top(), r.width() * 0.5, r.height() * 0.3));
}

void CheckBox(QPainter& p, int fill) {  // 0 empty, 1 ticked, 2 half
    Box(p, QRectF(2.5, 2.5, 11, 11), kPaper);
    if (fill == 1) {
        p.setPen(Pen(kGreen, 2));
        p.drawPolyline(QPolygonF({{4.5, 8}, {7, 10.5}, {11.5, 5}}));
    } else if (fill == 2) {
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawPolygon(QPolygonF({{3, 13}, {13, 3}, {13, 13}}));
    }
}

void Checker(QPainter& p, QRectF r, qreal cell) {
    p.setPen(Qt::NoPen);
    for (int y = 0; y * cell < r.height(); ++y)
        for (int x = 0; x * cell < r.width(); ++x) {
            p.setBrush(((x + y) & 1) ? QColor(190, 190, 190) : Qt::white);
            p.drawRect(QRectF(r.left() + x * cell, r.top() + y * cell, cell, cell).intersected(r));
        }
    p.setPen(Pen(kInk));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
}

void Gear(QPainter& p) {
    QPainterPath teeth;
    for (int i = 0; i < 8; ++i) {
        const qreal a = i * M_PI / 4;
        QPolygonF tooth;
        for (qreal d : {-0.28, 0.28}) tooth << QPointF(8 + 7.2 * std::cos(a + d * 0.6), 8 + 7.2 * std::sin(a + d * 0.6));
        for (qreal d : {0.28, -0.28}) tooth << QPointF(8 + 4.5 * std::cos(a + d), 8 + 4.5 * std::sin(a + d));
        teeth.addPolygon(tooth);
    }
    teeth.addEllipse(QPointF(8, 8), 5.2, 5.2);
    p.setPen(Pen(kInk, 0.8));
    p.setBrush(QColor(120, 144, 156));
    p.drawPath(teeth.simplified());
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(8, 8), 2, 2);
}

void Window(QPainter& p, QRectF r) {
    Box(p, r, kPaper);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRect(QRectF(r.left() + 0.5, r.top() + 0.5, r.width() - 0.5, 3));
}

QImage Render(const Draw& draw) {
    QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

// A black spot whose opacity is the brush's weight table.
QImage BrushGlyph(int index) {
    const TBrushTable& t = BrushTable(index);
    QImage img(kBrushSide, kBrushSide, QImage::Format_ARGB32);
    for (int y = 0; y < kBrushSide; ++y)
        for (int x = 0; x < kBrushSide; ++x)
            img.setPixel(x, y, qRgba(0, 0, 0, t[static_cast<size_t>(y)][static_cast<size_t>(x)]));
    return img;
}

void Fill(TPngImageList& list) {
    struct Entry {
        int index;
        const char* name;
        Draw draw;
    };
    const Entry entries[] = {
        {gOpen, "Open", [](QPainter& p) { Folder(p, true); }},
        {gSave, "Save", [](QPainter& p) { Floppy(p, QRectF(2.5, 2.5, 11, 11)); }},
        {gCopy, "Copy", [](QPainter& p) { Page(p, 1, 1); Page(p, 6, 4); }},
        {gPaste, "Paste", [](QPainter& p) {
             Box(p, QRectF(2.5, 2.5, 10, 12), QColor(188, 140, 90));
             Box(p, QRectF(5.5, 1.5, 4, 2), QColor(200, 210, 215));
             Page(p, 6, 5, 8, 10);
         }},
        {gUndo, "Undo", [](QPainter& p) { CurvedArrow(p, true); }},
        {gRedo, "Redo", [](QPainter& p) { CurvedArrow(p, false); }},
        {gMask, "Mask", [](QPainter& p) {
             Picture(p, QRectF(1.5, 2.5, 13, 11));
             p.setPen(Qt::NoPen);
             p.setBrush(QColor(30, 80, 229, 160));
             p.drawEllipse(QPointF(8, 8), 4.5, 4.5);
         }},
        {gEraser, "Eraser", [](QPainter& p) {
             p.translate(8, 8);
             p.rotate(-40);
             Box(p, QRectF(-6.5, -3, 13, 6), QColor(240, 98, 146));
             Box(p, QRectF(-6.5, -3, 5, 6), kPaper);
         }},
        {gClearMask, "Clear mask", [](QPainter& p) {
             Picture(p, QRectF(1.5, 2.5, 13, 11));
             Cross(p, QPointF(8, 8), 3.5, kRed);
         }},
        {gColorCorrection, "Color correction", [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setCompositionMode(QPainter::CompositionMode_Plus);
             p.setBrush(QColor(230, 0, 0, 220));
             p.drawEllipse(QPointF(6, 6), 4.6, 4.6);
             p.setBrush(QColor(0, 200, 0, 220));
             p.drawEllipse(QPointF(10, 6), 4.6, 4.6);
             p.setBrush(QColor(0, 60, 255, 220));
             p.drawEllipse(QPointF(8, 10), 4.6, 4.6);
         }},
        {gFilter, "Filter", [](QPainter& p) {
             p.setPen(Pen(kInk));
             p.setBrush(kSky);
             p.drawPolygon(QPolygonF({{1.5, 2.5}, {14.5, 2.5}, {9.5, 8.5}, {9.5, 14}, {6.5, 12.5}, {6.5, 8.5}}));
         }},
        {gSmoothing, "Smoothing", [](QPainter& p) {
             QPainterPath w;
             w.moveTo(1, 8);
             w.cubicTo(4, 2, 6, 2, 8, 8);
             w.cubicTo(10, 14, 12, 14, 15, 8);
             p.setPen(Pen(kBlue, 2));
             p.drawPath(w);
         }},
        {gRecalculate, "Recalculate", [](QPainter& p) {
             p.setPen(Pen(kGreen, 2));
             p.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 270 * 16);
             p.setPen(Pen(kGreen.darker(130), 0.8));
             p.setBrush(kGreen);
             p.drawPolygon(QPolygonF({{6, 0.5}, {10.5, 3}, {6, 6.5}}));
         }},
        {gQuickAdd, "Quick add color", [](QPainter& p) {
             Box(p, QRectF(1.5, 1.5, 9, 9), QColor(142, 36, 170));
             Badge(p, kGreen, true);
         }},
        {gImageResize, "Image resize", [](QPainter& p) {
             Picture(p, QRectF(1.5, 5.5, 9, 9));
             p.setPen(Pen(kBlue, 1.5));
             p.drawLine(QPointF(8, 8), QPointF(14, 2));
             p.drawPolyline(QPolygonF({{9.5, 1.5}, {14.5, 1.5}, {14.5, 6.5}}));
         }},
        {gCanvasResize, "Canvas resize", [](QPainter& p) {
             p.setPen(QPen(kInk, 1, Qt::DotLine));
             p.setBrush(Qt::NoBrush);
             p.drawRect(QRectF(0.5, 0.5, 15, 15));
             Picture(p, QRectF(4.5, 4.5, 7, 7));
         }},
        {gCrop, "Crop", [](QPainter& p) {
             p.setPen(Pen(kInk, 2));
             p.drawPolyline(QPolygonF({{4, 1}, {4, 12}, {15, 12}}));
             p.drawPolyline(QPolygonF({{1, 4}, {12, 4}, {12, 15}}));
         }},
        {gAutoCrop, "Auto crop borders", [](QPainter& p) {
             p.setPen(QPen(kBlue, 1, Qt::DotLine));
             p.drawRect(QRectF(5.5, 5.5, 5, 5));
             p.setPen(Pen(kInk, 2));
             p.drawPolyline(QPolygonF({{4, 1}, {4, 12}, {15, 12}}));
             p.drawPolyline(QPolygonF({{1, 4}, {12, 4}, {12, 15}}));
         }},
        {gAbout, "About", [](QPainter& p) {
             p.setPen(Pen(kBlue.darker(130), 0.8));
             p.setBrush(kBlue);
             p.drawEllipse(QPointF(8, 8), 7, 7);
             p.setPen(Qt::NoPen);
             p.setBrush(Qt::white);
             p.drawEllipse(QPointF(8, 4.5), 1.3, 1.3);
             p.drawRect(QRectF(7, 6.8, 2, 5.7));
         }},
        {gBatch, "Batch processing", [](QPainter& p) { Page(p, 0, 0, 8, 10); Page(p, 3, 2, 8, 10); Page(p, 6, 4, 8, 10); }},
        {gQuantizerSettings, "Quantizer settings", [](QPainter& p) {
             for (int i = 0; i < 3; ++i) {
                 const qreal y = 3.5 + i * 4.5, knob = i == 1 ? 10.5 : (i == 0 ? 4.5 : 7.5);
                 p.setPen(Pen(kInk, 1.2));
                 p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
                 Box(p, QRectF(knob - 1.5, y - 2, 3, 4), kBlue);
             }
         }},
        {gSortPalette, "Sort palette", [](QPainter& p) {
             const QColor c[] = {kYellow, kGreen, kBlue, kInk};
             for (int i = 0; i < 4; ++i) Box(p, QRectF(1.5 + i * 3.5, 13.5 - (i + 1) * 3, 2.5, (i + 1) * 3), c[i]);
         }},
        {gLoadPalette, "Load palette", [](QPainter& p) {
             Swatches(p, QRectF(5.5, 5.5, 10, 10), 2);
             Arrow(p, 135, kGreen);
         }},
        {gSavePalette, "Save palette", [](QPainter& p) {
             Swatches(p, QRectF(0.5, 0.5, 10, 10), 2);
             Floppy(p, QRectF(7.5, 7.5, 8, 8));
         }},
        {gSettings, "Settings", [](QPainter& p) { Gear(p); }},
        {gApply, "Apply", [](QPainter& p) {
             p.setPen(Pen(kGreen, 2.6));
             p.drawPolyline(QPolygonF({{2.5, 8.5}, {6.5, 12.5}, {13.5, 3.5}}));
         }},
        {gZoomIn, "Zoom in", [](QPainter& p) {
             Magnifier(p);
             p.setPen(Pen(kInk, 1.3));
             p.drawLine(QPointF(4, 6.5), QPointF(9, 6.5));
             p.drawLine(QPointF(6.5, 4), QPointF(6.5, 9));
         }},
        {gZoomOut, "Zoom out", [](QPainter& p) {
             Magnifier(p);
             p.setPen(Pen(kInk, 1.3));
             p.drawLine(QPointF(4, 6.5), QPointF(9, 6.5));
         }},
        {gActualSize, "Actual size", [](QPainter& p) {
             Magnifier(p);
             p.setPen(Pen(kInk, 1));
             p.setBrush(Qt::NoBrush);
             p.drawRect(QRectF(4.5, 4.5, 4, 4));
         }},
        {gFolder, "Folder", [](QPainter& p) { Folder(p, false); }},
        {gPalette, "Palette", [](QPainter& p) { Swatches(p, QRectF(1.5, 1.5, 13, 13), 3); }},
        {gAlpha, "Alpha", [](QPainter& p) { Checker(p, QRectF(1.5, 1.5, 13, 13), 3.25); }},
        {gAddFolder, "Add folder", [](QPainter& p) { Folder(p, false); Badge(p, kGreen, true); }},
        {gAddImages, "Add images", [](QPainter& p) { Picture(p, QRectF(0.5, 1.5, 12, 10)); Badge(p, kGreen, true); }},
        {gRemoveAll, "Remove all", [](QPainter& p) {
             Page(p, 0, 0, 8, 10);
             Page(p, 3, 2, 8, 10);
             Cross(p, QPointF(11, 11), 3.5, kRed);
         }},
        {gImage, "Image", [](QPainter& p) { Picture(p, QRectF(1.5, 2.5, 13, 11)); }},
        {gRemoveSelected, "Remove selected", [](QPainter& p) {
             Picture(p, QRectF(0.5, 1.5, 12, 10));
             Badge(p, kRed, false);
         }},
        {gCheck, "Check", [](QPainter& p) { CheckBox(p, 1); }},
        {gUncheck, "Uncheck", [](QPainter& p) { CheckBox(p, 0); }},
        {gInverse, "Inverse", [](QPainter& p) { CheckBox(p, 2); }},
        {gUnchecked, "Unchecked", [](QPainter& p) {
             p.setPen(Pen(kInk));
             p.setBrush(kPaper);
             p.drawEllipse(QPointF(8, 8), 5, 5);
         }},
        {gChecked, "Checked", [](QPainter& p) {
             p.setPen(Pen(kInk));
             p.setBrush(kPaper);
             p.drawEllipse(QPointF(8, 8), 5, 5);
             p.setPen(Qt::NoPen);
             p.setBrush(kBlue);
             p.drawEllipse(QPointF(8, 8), 2.6, 2.6);
         }},
        {gSplitView, "Split view", [](QPainter& p) {
             Checker(p, QRectF(8, 2.5, 6.5, 11), 3.25);
             Picture(p, QRectF(1.5, 2.5, 6.5, 11));
         }},
        {gGrid, "Grid", [](QPainter& p) {
             p.setPen(Pen(kInk));
             for (qreal v = 1.5; v < 16; v += 4.33) {
                 p.drawLine(QPointF(v, 1.5), QPointF(v, 14.5));
                 p.drawLine(QPointF(1.5, v), QPointF(14.5, v));
             }
         }},
        {gPictureBackground, "Picture background", [](QPainter& p) {
             Box(p, QRectF(0.5, 0.5, 15, 15), QColor(188, 140, 90));
             Picture(p, QRectF(3.5, 3.5, 9, 9));
         }},
        {gColorFill, "Color", [](QPainter& p) { Box(p, QRectF(1.5, 1.5, 13, 13), kBlue); }},
        {gScreenCapture, "Screen capture", [](QPainter& p) {
             Box(p, QRectF(0.5, 1.5, 15, 10), kSky);
             p.setPen(Pen(kInk, 1.5));
             p.drawLine(QPointF(8, 12), QPointF(8, 14));
             p.drawLine(QPointF(4, 14.5), QPointF(12, 14.5));
         }},
        {gWindowCapture, "Window capture", [](QPainter& p) { Window(p, QRectF(1.5, 2.5, 13, 11)); }},
        {gStart, "Start", [](QPainter& p) {
             p.setPen(Pen(kGreen.darker(130), 0.8));
             p.setBrush(kGreen);
             p.drawPolygon(QPolygonF({{4, 2}, {14, 8}, {4, 14}}));
         }},
        {gStop, "Stop", [](QPainter& p) { Box(p, QRectF(3.5, 3.5, 9, 9), kRed, kRed.darker(130)); }},
        {gAscending, "Ascending", [](QPainter& p) { SortOrder(p, true); }},
        {gDescending, "Descending", [](QPainter& p) { SortOrder(p, false); }},
        {gArrowRight, "Right", [](QPainter& p) { Arrow(p, 0); }},
        {gArrowUpRight, "Up-right", [](QPainter& p) { Arrow(p, 45); }},
        {gArrowUp, "Up", [](QPainter& p) { Arrow(p, 90); }},
        {gArrowUpLeft, "Up-left", [](QPainter& p) { Arrow(p, 135); }},
        {gArrowLeft, "Left", [](QPainter& p) { Arrow(p, 180); }},
        {gArrowDownLeft, "Down-left", [](QPainter& p) { Arrow(p, 225); }},
        {gArrowDown, "Down", [](QPainter& p) { Arrow(p, 270); }},
        {gArrowDownRight, "Down-right", [](QPainter& p) { Arrow(p, 315); }},
        {gIconFrames, "Icon frames", [](QPainter& p) {
             Box(p, QRectF(0.5, 0.5, 4, 4), kYellow);
             Box(p, QRectF(0.5, 6.5, 6, 6), kBlue);
             Box(p, QRectF(7.5, 4.5, 8, 8), kGreen);
         }},
        {gGetColor, "Get color from screen", [](QPainter& p) {
             p.setPen(Pen(kInk, 2.4));
             p.drawLine(QPointF(3, 13), QPointF(10, 6));
             p.setPen(Pen(kInk, 1));
             p.setBrush(kInk);
             p.drawEllipse(QPointF(12, 4), 2.6, 2.6);
             p.setPen(Pen(kBlue, 1.2));
             p.drawLine(QPointF(2, 14), QPointF(4.5, 11.5));
         }},
        {gPasteColor, "Paste color", [](QPainter& p) {
             Box(p, QRectF(2.5, 2.5, 10, 12), QColor(188, 140, 90));
             Box(p, QRectF(5.5, 1.5, 4, 2), QColor(200, 210, 215));
             Box(p, QRectF(7.5, 7.5, 7, 7), kRed);
         }},
        {gMatte, "Matte", [](QPainter& p) {
             Checker(p, QRectF(1.5, 1.5, 13, 13), 3.25);
             p.setPen(Qt::NoPen);
             p.setBrush(kBlue);
             p.drawPolygon(QPolygonF({{2, 14}, {14, 2}, {14, 14}}));
         }},
        {gPreview, "Preview", [](QPainter& p) {
             QPainterPath eye;
             eye.moveTo(1, 8);
             eye.quadTo(8, 0, 15, 8);
             eye.quadTo(8, 16, 1, 8);
             p.setPen(Pen(kInk));
             p.setBrush(kPaper);
             p.drawPath(eye);
             p.setBrush(kBlue);
             p.drawEllipse(QPointF(8, 8), 2.6, 2.6);
         }},
    };
    std::vector<QImage> images(kGlyphCount);
    std::vector<QString> names(kGlyphCount);
    for (const Entry& e : entries) {
        images[static_cast<size_t>(e.index)] = Render(e.draw);
        names[static_cast<size_t>(e.index)] = e.name;
    }
    for (int i = gBrush3; i <= gBrush17; ++i) {
        images[static_cast<size_t>(i)] = BrushGlyph(i);
        names[static_cast<size_t>(i)] = BrushCaption(i);
    }
    for (int i = 0; i < kGlyphCount; ++i) list.Add(images[static_cast<size_t>(i)], names[static_cast<size_t>(i)]);
}

}  // namespace

const TPngImageList& GlyphList() {
    static const TPngImageList list = [] {
        TPngImageList l(16, 16);
        Fill(l);
        return l;
    }();
    return list;
}

QIcon Glyph(int index) { return GlyphList().Icon(index); }

void SetGlyph(QAction* action, int index) {
    if (!action) return;
    if (action->toolTip().isEmpty() || action->toolTip() == action->text()) action->setToolTip(action->text());
    action->setIcon(Glyph(index));
}

void SetGlyph(QAbstractButton* button, int index, bool keepCaption) {
    if (!button) return;
    if (!keepCaption) {
        if (button->toolTip().isEmpty()) button->setToolTip(button->text());
        button->setText(QString());
    }
    button->setIcon(Glyph(index));
    button->setIconSize(QSize(16, 16));
}

}  // namespace jx
