#include "gui/image_view.h"

#include <QMouseEvent>
#include <QGroupBox>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include "gui/command_router.h"
#include "gui/main_form.h"
#include "gui/palette_commands.h"
#include "gui/preview.h"
#include "gui/mask_crop_view.h"

namespace jx {

TImageView::TImageView(TJXMainForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImageView::ResizeToImage() {
    const TJXMainForm& f = *form_;
    if (!f.state_.HasImage()) return;
    f.imageScroll_->setWidgetResizable(false);
    const QSize size = f.toolPreview_.isNull() ? QSize(f.state_.ImageWidth(), f.state_.ImageHeight()) : f.toolPreview_.size();
    setFixedSize(size.width() << zoomShift_, size.height() << zoomShift_);
}

void TImageView::ZoomStep(char c) {
    QScrollBar* hb = form_->imageScroll_->horizontalScrollBar();
    QScrollBar* vb = form_->imageScroll_->verticalScrollBar();
    if (c == '+') {
        if (zoomShift_ < 4) {
            savedScroll_[static_cast<size_t>(zoomShift_)] = {vb->value(), hb->value()};
            ++zoomShift_;
            const int v = vb->value() * 2 + form_->imageScroll_->viewport()->height() / 2;
            const int hh = hb->value() * 2 + form_->imageScroll_->viewport()->width() / 2;
            ResizeToImage();
            hb->setValue(hh);
            vb->setValue(v);
        }
    } else if (c == '-') {
        if (zoomShift_ > 0) {
            --zoomShift_;
            ResizeToImage();
            const auto [v, hh] = savedScroll_[static_cast<size_t>(zoomShift_)];
            vb->setValue(v);
            hb->setValue(hh);
        }
    }
    form_->maskCrop_->ZoomChanged();
}

void TImageView::ZoomActual() {
    zoomShift_ = 0;
    ResizeToImage();
    form_->maskCrop_->ZoomChanged();
}

QPoint TImageView::ImagePoint(QPoint p) const { return QPoint(p.x() >> zoomShift_, p.y() >> zoomShift_); }

void TImageView::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    const QImage& img = form_->ViewImage();
    if (img.isNull()) {
        p.fillRect(rect(), palette().window());
        return;
    }
    p.drawImage(rect(), img);
    form_->MaskCrop().Paint(p);
}

void TImageView::mousePressEvent(QMouseEvent* e) {
    TJXMainForm& f = *form_;
    if (f.Locked() || !f.state_.HasImage()) return;
    if (f.maskCrop_->MouseDown(e) || e->button() != Qt::LeftButton) return;
    f.imageScroll_->setFocus();
    panning_ = true;
    panAnchor_ = e->globalPosition().toPoint();
    const Qt::KeyboardModifiers m = e->modifiers();
    if (m == Qt::AltModifier) {
        viewOptions_.ShowErrorMap = true;
        f.RenderImageView();
    } else if (m == Qt::ControlModifier) {
        viewOptions_.ShowSourceOpaque = true;
        f.RenderImageView();
    } else if (m == (Qt::ControlModifier | Qt::ShiftModifier)) {
        viewOptions_.ShowAlphaChannel = true;
        f.RenderImageView();
    } else {
        f.view_ = ShowSource(f.state_);
        update();
    }
    const QPoint ip = ImagePoint(e->position().toPoint());
    f.HistogramBox()->DrawZoom(ip.x(), ip.y());
}

void TImageView::mouseMoveEvent(QMouseEvent* e) {
    TJXMainForm& f = *form_;
    if (!f.state_.HasImage()) return;
    if (!f.maskCrop_->MouseMove(e) && panning_) {
        const QPoint now = e->globalPosition().toPoint();
        const QPoint d = panAnchor_ - now;
        QScrollArea* scroll = f.imageScroll_;
        scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->value() + d.x());
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->value() + d.y());
        panAnchor_ = now;
    }
    const QPoint ip = ImagePoint(e->position().toPoint());
    lastMousePoint_ = ip;
    f.HistogramBox()->DrawZoom(ip.x(), ip.y());
}

void TImageView::mouseReleaseEvent(QMouseEvent* e) {
    TJXMainForm& f = *form_;
    if (f.Locked()) return;
    if (!f.state_.HasImage()) {
        f.OpenClick();
        return;
    }
    if (f.maskCrop_->MouseUp(e)) return;
    panning_ = false;
    viewOptions_ = {};
    f.RenderImageView();
    f.paletteCommands_->ImageReleased(e->button(), ImagePoint(e->position().toPoint()));
}

void TImageView::mouseDoubleClickEvent(QMouseEvent* e) {
    // Outside crop mode a double-click is a second press.
    if (e->button() == Qt::LeftButton && form_->MaskCrop().CropDown())
        form_->Router().Route("Crop to selection");
    else
        mousePressEvent(e);
}

void TImageView::enterEvent(QEnterEvent*) {
    TJXMainForm& f = *form_;
    if (!f.state_.HasImage()) return;
    f.maskCrop_->MouseEnter();
    f.HistogramBox()->SetMagnifying(true);
    mouseOutside_ = false;
    if (lastMousePoint_.x() < f.state_.ImageWidth() && lastMousePoint_.y() < f.state_.ImageHeight())
        f.HistogramBox()->DrawZoom(lastMousePoint_.x(), lastMousePoint_.y());
}

void TImageView::leaveEvent(QEvent*) {
    TJXMainForm& f = *form_;
    f.maskCrop_->MouseLeave();
    f.HistogramBox()->SetMagnifying(false);
    mouseOutside_ = true;
    f.HistogramBox()->ShowHistogram();
}

THistogramBox::THistogramBox(TJXMainForm* form, QGroupBox* frame) : QWidget(frame), form_(form), frame_(frame) {}

void THistogramBox::SetMagnifying(bool on) { frame_->setTitle(on ? "Zoom" : "Levels"); }

void THistogramBox::ShowHistogram() {
    if (!form_->imageView_->MouseOutside()) return;
    drawing_ = DrawHistogram(form_->state_, size(), form_->palette().button().color());
    update();
}

void THistogramBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (drawing_.isNull() && form_->state_.HasImage())
        drawing_ = DrawHistogram(form_->state_, size(), form_->palette().button().color());
    if (!drawing_.isNull()) p.drawImage(0, 0, drawing_);
}

void THistogramBox::DrawZoom(int x, int y) {
    const TJXMainForm& f = *form_;
    const EngineState& state_ = f.state_;
    if (!state_.HasImage() || f.view_.isNull()) return;
    const int w = width(), h = height();
    QImage box(w, h, QImage::Format_RGB32);
    box.fill(Qt::black);
    QPainter p(&box);
    const QRect src(x - w / 16, y - h / 16, w / 8, h / 8);
    p.drawImage(QRect(0, 0, w, h), f.view_, src);
    p.setCompositionMode(QPainter::RasterOp_NotSourceAndNotDestination);
    p.setPen(QColor(255, 0, 0));
    p.drawLine(0, h / 2, w, h / 2);
    p.drawLine(w / 2, 0, w / 2, h);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (f.maskCrop_->CropDown()) {
        const TCropRect r = f.maskCrop_->Selection();
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
    drawing_ = box;
    update();
}

}  // namespace jx
