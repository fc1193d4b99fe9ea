// The main window's image view: zoom, scrolling, the mouse on the image, the views shown while
// the left button is held, and the magnifier.
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QGroupBox>
#include <QKeyEvent>

#include "gui/command_router.h"
#include "gui/image_view.h"
#include "gui/main_form.h"
#include "gui/palette_commands.h"
#include "gui/mask_crop_view.h"
#include "gui/preview.h"

namespace jx {

void TJXMainForm::RenderImageView() {
    if (!state_.HasImage()) return;
    view_ = toolPreview_.isNull() ? RenderImage(state_, imageView_->ViewOptions()) : toolPreview_;
    maskCrop_->Rendered();
    imageView_->update();
    if (isVisible()) imageScroll_->setFocus();
}

void TJXMainForm::DrawZoomView(int x, int y) {
    if (!state_.HasImage() || view_.isNull()) return;
    const int w = histogramBox_->width(), h = histogramBox_->height();
    QImage box(w, h, QImage::Format_RGB32);
    box.fill(Qt::black);
    QPainter p(&box);
    const QRect src(x - w / 16, y - h / 16, w / 8, h / 8);
    p.drawImage(QRect(0, 0, w, h), view_, src);
    p.setCompositionMode(QPainter::RasterOp_NotSourceAndNotDestination);
    p.setPen(QColor(255, 0, 0));
    p.drawLine(0, h / 2, w, h / 2);
    p.drawLine(w / 2, 0, w / 2, h);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (maskCrop_->CropDown()) {
        const TCropRect r = maskCrop_->Selection();
        DrawCaption(p, 2, QString("W:%1 H:%2").arg(r.Width()).arg(r.Height()), 0);
    } else if (x >= 0 && y >= 0 && x < state_.ImageWidth() && y < state_.ImageHeight() &&
        state_.WorkingImage.SameShape(state_.SourceImage)) {
        const TPixelRec& o = state_.WorkingImage[y][x];
        p.fillRect(0, 0, 80, 32, QColor(o.R, o.G, o.B));
        DrawCaption(p, 2, QString("X:%1 Y:%2").arg(x).arg(y), 0);
        DrawCaption(p, 2,
                    "#" + QString("%1%2%3%4")
                              .arg(state_.HasAlpha ? o.A : 0, 2, 16, QChar('0'))
                              .arg(o.R, 2, 16, QChar('0'))
                              .arg(o.G, 2, 16, QChar('0'))
                              .arg(o.B, 2, 16, QChar('0'))
                              .toUpper(),
                    16);
    }
    p.end();
    magnifier_ = box;
    histogramBox_->update();
}

bool TJXMainForm::KeyPress(QKeyEvent* e) {
    if (!state_.HasImage()) return false;
    const QString t = e->text();
    if (t.size() != 1 || !t[0].isPrint()) return false;
    if (t[0] == QChar(96)) {
        palettePanel_->setVisible(!palettePanel_->isVisible());
        return true;
    }
    imageView_->ZoomStep(t[0].toLatin1());
    return t[0] == '+' || t[0] == '-';
}

}  // namespace jx
