#include "gui/image_view.h"

#include <QMouseEvent>
#include <QPainter>

#include "gui/main_form.h"
#include "gui/mask_crop_view.h"

namespace jx {

TImageView::TImageView(TJXMainForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

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

void TImageView::mousePressEvent(QMouseEvent* e) { form_->ImageMouseDown(e); }
void TImageView::mouseMoveEvent(QMouseEvent* e) { form_->ImageMouseMove(e); }
void TImageView::mouseReleaseEvent(QMouseEvent* e) { form_->ImageMouseUp(e); }
void TImageView::mouseDoubleClickEvent(QMouseEvent* e) {
    // Outside crop mode a double-click is a second press.
    if (e->button() == Qt::LeftButton && form_->MaskCrop().CropDown())
        form_->ImageDblClick();
    else
        form_->ImageMouseDown(e);
}
void TImageView::enterEvent(QEnterEvent*) { form_->ImageMouseEnter(); }
void TImageView::leaveEvent(QEvent*) { form_->ImageMouseLeave(); }

TPaintBox::TPaintBox(TJXMainForm* form, QWidget* parent) : QWidget(parent), form_(form) {}

void TPaintBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    form_->HistogramBoxPaint(p);
}

}  // namespace jx
