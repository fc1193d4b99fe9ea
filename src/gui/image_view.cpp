#include "gui/image_view.h"

#include <QMouseEvent>
#include <QGroupBox>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>

#include "gui/command_router.h"
#include "gui/main_form.h"
#include "gui/preview.h"

namespace jx {

TImageView::TImageView(TJXMainForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TImageView::ResizeToImage() {
    const EngineState& state = form_->State();
    if (!state.HasImage()) return;
    form_->ImageScroll()->setWidgetResizable(false);
    const QSize size = toolPreview_.isNull() ? QSize(state.ImageWidth(), state.ImageHeight()) : toolPreview_.size();
    setFixedSize(size.width() << zoomShift_, size.height() << zoomShift_);
}

void TImageView::ZoomStep(char c) {
    QScrollBar* hb = form_->ImageScroll()->horizontalScrollBar();
    QScrollBar* vb = form_->ImageScroll()->verticalScrollBar();
    if (c == '+') {
        if (zoomShift_ < 4) {
            savedScroll_[static_cast<size_t>(zoomShift_)] = {vb->value(), hb->value()};
            ++zoomShift_;
            const int v = vb->value() * 2 + form_->ImageScroll()->viewport()->height() / 2;
            const int hh = hb->value() * 2 + form_->ImageScroll()->viewport()->width() / 2;
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
    modes_->ZoomChanged();
}

void TImageView::ZoomActual() {
    zoomShift_ = 0;
    ResizeToImage();
    modes_->ZoomChanged();
}

QPoint TImageView::ImagePoint(QPoint p) const { return QPoint(p.x() >> zoomShift_, p.y() >> zoomShift_); }

void TImageView::paintEvent(QPaintEvent* e) {
    QPainter p(this);
    const QImage& img = bitmap_;
    if (img.isNull()) {
        p.fillRect(rect(), palette().window());
        return;
    }
    p.drawImage(rect(), img);
    modes_->Paint(p);
}

void TImageView::mousePressEvent(QMouseEvent* e) {
    TJXMainForm& f = *form_;
    if (f.Locked() || !f.State().HasImage()) return;
    if (modes_->MouseDown(e) || e->button() != Qt::LeftButton) return;
    f.ImageScroll()->setFocus();
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
        bitmap_ = ShowSource(f.State());
        update();
    }
    const QPoint ip = ImagePoint(e->position().toPoint());
    magnifier_->DrawZoom(ip.x(), ip.y());
}

void TImageView::mouseMoveEvent(QMouseEvent* e) {
    TJXMainForm& f = *form_;
    if (!f.State().HasImage()) return;
    if (!modes_->MouseMove(e) && panning_) {
        const QPoint now = e->globalPosition().toPoint();
        const QPoint d = panAnchor_ - now;
        QScrollArea* scroll = f.ImageScroll();
        scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->value() + d.x());
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->value() + d.y());
        panAnchor_ = now;
    }
    const QPoint ip = ImagePoint(e->position().toPoint());
    lastMousePoint_ = ip;
    magnifier_->DrawZoom(ip.x(), ip.y());
}

void TImageView::mouseReleaseEvent(QMouseEvent* e) {
    TJXMainForm& f = *form_;
    if (f.Locked()) return;
    if (!f.State().HasImage()) {
        f.OpenClick();
        return;
    }
    if (modes_->MouseUp(e)) return;
    panning_ = false;
    viewOptions_ = {};
    f.RenderImageView();
    if (ReleasedOnImage) ReleasedOnImage(e->button(), ImagePoint(e->position().toPoint()));
}

void TImageView::mouseDoubleClickEvent(QMouseEvent* e) {
    // Outside crop mode a double-click is a second press.
    if (e->button() == Qt::LeftButton && modes_->CropDown())
        form_->Router().Route("Crop to selection");
    else
        mousePressEvent(e);
}

void TImageView::enterEvent(QEnterEvent*) {
    TJXMainForm& f = *form_;
    if (!f.State().HasImage()) return;
    modes_->MouseEnter();
    magnifier_->SetMagnifying(true);
    mouseOutside_ = false;
    if (lastMousePoint_.x() < f.State().ImageWidth() && lastMousePoint_.y() < f.State().ImageHeight())
        magnifier_->DrawZoom(lastMousePoint_.x(), lastMousePoint_.y());
}

void TImageView::leaveEvent(QEvent*) {
    TJXMainForm& f = *form_;
    modes_->MouseLeave();
    magnifier_->SetMagnifying(false);
    mouseOutside_ = true;
    magnifier_->ShowHistogram();
}

THistogramBox::THistogramBox(TJXMainForm* form, QGroupBox* frame) : QWidget(frame), form_(form), frame_(frame) {}

void THistogramBox::SetMagnifying(bool on) { frame_->setTitle(on ? "Zoom" : "Levels"); }

void THistogramBox::ShowHistogram() {
    if (!form_->ImageView()->MouseOutside()) return;
    drawing_ = DrawHistogram(form_->State(), size(), form_->palette().button().color());
    update();
}

void THistogramBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (drawing_.isNull() && form_->State().HasImage())
        drawing_ = DrawHistogram(form_->State(), size(), form_->palette().button().color());
    if (!drawing_.isNull()) p.drawImage(0, 0, drawing_);
}

void THistogramBox::DrawZoom(int x, int y) {
    const EngineState& state_ = form_->State();
    const TImageView& view = *form_->ImageView();
    if (!state_.HasImage() || view.Bitmap().isNull()) return;
    const int w = width(), h = height();
    QImage box(w, h, QImage::Format_RGB32);
    box.fill(Qt::black);
    QPainter p(&box);
    const QRect src(x - w / 16, y - h / 16, w / 8, h / 8);
    p.drawImage(QRect(0, 0, w, h), view.Bitmap(), src);
    p.setCompositionMode(QPainter::RasterOp_NotSourceAndNotDestination);
    p.setPen(QColor(255, 0, 0));
    p.drawLine(0, h / 2, w, h / 2);
    p.drawLine(w / 2, 0, w / 2, h);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (view.Modes().CropDown()) {
        const TCropRect r = view.Modes().Selection();
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
