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
    f.DrawZoomView(ip.x(), ip.y());
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
    f.DrawZoomView(ip.x(), ip.y());
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
    f.levelsBox_->setTitle("Zoom");
    mouseOutside_ = false;
    if (lastMousePoint_.x() < f.state_.ImageWidth() && lastMousePoint_.y() < f.state_.ImageHeight())
        f.DrawZoomView(lastMousePoint_.x(), lastMousePoint_.y());
}

void TImageView::leaveEvent(QEvent*) {
    TJXMainForm& f = *form_;
    f.maskCrop_->MouseLeave();
    f.levelsBox_->setTitle("Levels");
    mouseOutside_ = true;
    f.DrawHistogramView();
}

TPaintBox::TPaintBox(TJXMainForm* form, QWidget* parent) : QWidget(parent), form_(form) {}

void TPaintBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    form_->HistogramBoxPaint(p);
}

}  // namespace jx
