#include "gui/mask_crop_view.h"
#include "gui/glyphs.h"

#include <QAction>
#include <QActionGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QSlider>
#include <QToolBar>
#include <QToolButton>
#include <cstring>

#include "gui/image_view.h"
#include "gui/main_form.h"

namespace jx {

TMaskCropView::TMaskCropView(TJXMainForm& form) : QObject(&form), form_(form) {
    brushPanel_ = new QFrame(&form);
    brushPanel_->setObjectName("BrushPanel");
    static_cast<QFrame*>(brushPanel_)->setFrameShape(QFrame::Panel);
    brushPanel_->setAutoFillBackground(true);
    auto* row = new QHBoxLayout(brushPanel_);
    row->setContentsMargins(4, 4, 4, 4);
    brushStrengthBar_ = new QSlider(Qt::Horizontal);
    brushStrengthBar_->setObjectName("BrushStrengthBar");
    brushStrengthBar_->setRange(0, 255);
    brushStrengthBar_->setValue(kDefaultBrushStrength);
    brushStrengthBar_->setMinimumWidth(140);
    brushStrengthEdit_ = new QLineEdit(QString::number(kDefaultBrushStrength));
    brushStrengthEdit_->setObjectName("BrushStrengthEdit");
    brushStrengthEdit_->setMaxLength(8);
    brushStrengthEdit_->setFixedWidth(44);
    row->addWidget(brushStrengthBar_);
    row->addWidget(brushStrengthEdit_);
    brushPanel_->adjustSize();
    brushPanel_->hide();
    connect(brushStrengthBar_, &QSlider::valueChanged, this, [this](int v) { brushStrengthEdit_->setText(QString::number(v)); });
    connect(brushStrengthEdit_, &QLineEdit::textEdited, this, [this](const QString& typed) {
        const QString t = QString::fromStdString(StrengthText(typed.toStdString()));
        if (t != typed) brushStrengthEdit_->setText(t);
        if (t.isEmpty()) return;
        const QSignalBlocker block(brushStrengthBar_);  // the box keeps what was typed ("032")
        brushStrengthBar_->setValue(t.toInt());
    });

    brushMenu_ = new QMenu(&form);
    brushMenu_->setObjectName("BrushMenu");
    auto* group = new QActionGroup(brushMenu_);
    for (int image = kFirstBrushImage; image <= kLastBrushImage; ++image) {
        QAction* a = brushMenu_->addAction(Glyph(image), BrushCaption(image));
        a->setCheckable(true);
        a->setChecked(image == brushImage_);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, image] {
            brushImage_ = image;
            if (QAction* brush = Button("BrushButton")) brush->setIcon(Glyph(image));  // the button shows its brush
            if (maskMode_ && mouseOver_) MakeBrushCursor();
        });
    }
    if (QAction* brush = Button("BrushButton")) {
        brush->setMenu(brushMenu_);
        brush->setIcon(Glyph(brushImage_));
        if (auto* b = qobject_cast<QToolButton*>(form_.MainToolBar()->widgetForAction(brush)))
            b->setPopupMode(QToolButton::MenuButtonPopup);
    }
}

QAction* TMaskCropView::Button(const char* name) const { return form_.MainToolBar()->findChild<QAction*>(name); }

bool TMaskCropView::CropDown() const {
    QAction* crop = Button("CropButton");
    return crop && crop->isChecked();
}

TCropRect TMaskCropView::Selection() const { return selection_.RubberBand() ? Normalized(selection_.Band()) : selection_.Rect(); }

int TMaskCropView::Strength() const { return brushStrengthBar_->value(); }

bool TMaskCropView::Eraser() const {
    QAction* eraser = Button("EraserButton");
    return eraser && eraser->isChecked();
}

QPoint TMaskCropView::ImagePoint(const QMouseEvent* e) const { return form_.ImageView()->ImagePoint(e->position().toPoint()); }

void TMaskCropView::EditMaskClick() {
    QAction* button = Button("EditMaskButton");
    const bool down = button->isChecked();
    if (down && (CropDown() || !form_.State().HasImage())) {
        button->setChecked(false);
        return;
    }
    if (!down) {
        LeaveMask();
        return;
    }
    maskMode_ = true;
    form_.RenderImageView();  // takes the view copy and draws the overlay
    if (mouseOver_) MakeBrushCursor();
}

void TMaskCropView::BrushClick() {
    if (QAction* eraser = Button("EraserButton")) eraser->setChecked(false);
    if (brushPanel_->isVisible()) {
        brushPanel_->hide();
        return;
    }
    QWidget* b = form_.MainToolBar()->widgetForAction(Button("BrushButton"));
    const QPoint at = b ? b->mapTo(&form_, QPoint(0, b->height())) : QPoint(0, 0);
    brushPanel_->move(at);
    brushPanel_->raise();
    brushPanel_->show();
}

void TMaskCropView::ClearMaskClick() {
    form_.Guard([&] {
        if (!ClearMaskCommand(form_.State(), form_.Reports(), form_.UndoStore())) return;
        if (maskMode_) DrawMaskOverlay({0, 0, form_.State().ImageWidth(), form_.State().ImageHeight()});
    });
}

void TMaskCropView::CropClick() {
    QAction* button = Button("CropButton");
    if (!button->isChecked()) {
        LeaveCrop();
        return;
    }
    if (!form_.State().HasImage() || maskMode_) {
        button->setChecked(false);
        return;
    }
    selection_.Arm();
}

void TMaskCropView::AutoCropClick() {
    EndStroke();
    const TQuantizerSettings settings = form_.Settings();
    form_.Guard([&] {
        if (!AutoCropCommand(form_.State(), settings, form_.Reports(), form_.UndoStore())) return;
        if (CropDown()) LeaveCrop();
        form_.ImageView()->ZoomActual();
    });
}

void TMaskCropView::CropImage() {
    if (!CropDown()) return;
    const EngineState& s = form_.State();
    const TCropRect r = ClampedToImage(selection_.Rect(), s.ImageWidth(), s.ImageHeight());
    if (selection_.Armed() || r.Width() <= 0 || r.Height() <= 0) {
        form_.ShowMessage("Draw a rectangle on the image first: there is nothing to crop.");
        return;
    }
    form_.ImageView()->unsetCursor();
    Button("CropButton")->setChecked(false);
    viewCopy_ = dimCopy_ = QImage();
    const TQuantizerSettings settings = form_.Settings();
    form_.Guard([&] { jx::CropImage(form_.State(), r, settings, form_.Reports(), form_.UndoStore()); });
    form_.ImageView()->ZoomActual();
    form_.RenderImageView();
}

void TMaskCropView::Escape() {
    if (CropDown()) {
        Button("CropButton")->setChecked(false);
        LeaveCrop();
    }
    if (maskMode_) {
        Button("EditMaskButton")->setChecked(false);
        LeaveMask();
    }
}

void TMaskCropView::LeaveModes() {
    stroke_.Cancel();
    maskMode_ = false;
    footprint_ = false;
    if (QAction* b = Button("EditMaskButton")) b->setChecked(false);
    if (QAction* b = Button("CropButton")) b->setChecked(false);
    selection_ = TCropSelection{};
    viewCopy_ = dimCopy_ = QImage();
    form_.ImageView()->unsetCursor();
}

void TMaskCropView::EndStroke() {
    if (!stroke_.Active()) return;
    form_.Guard([&] { stroke_.End(form_.State(), form_.Reports(), form_.UndoStore()); });
}

void TMaskCropView::LeaveMask() {
    EndStroke();
    maskMode_ = false;
    footprint_ = false;
    form_.ImageView()->unsetCursor();
    viewCopy_ = QImage();
    form_.RenderImageView();
}

void TMaskCropView::LeaveCrop() {
    selection_ = TCropSelection{};
    viewCopy_ = dimCopy_ = QImage();
    form_.ImageView()->unsetCursor();
    form_.RenderImageView();
}

// --- mask mode --------------------------------------------------------------------------------

void TMaskCropView::MakeBrushCursor() {
    const int scale = 1 << form_.ImageView()->ZoomShift();
    const int side = kBrushSide * scale;
    QRect old = FootprintRect();
    footprint_ = side > kMaxCursorSide;
    if (footprint_) {
        form_.ImageView()->setCursor(Qt::CrossCursor);
    } else {
        const TBrushTable& t = BrushTable(brushImage_);
        QImage img(side, side, QImage::Format_ARGB32);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                img.setPixel(x, y, qRgba(255, 255, 255, BrushCursorAlpha(t[size_t(y / scale)][size_t(x / scale)])));
        form_.ImageView()->setCursor(QCursor(QPixmap::fromImage(img), side / 2, side / 2));
    }
    form_.ImageView()->update(old.united(FootprintRect()));
}

QRect TMaskCropView::FootprintRect() const {
    if (!footprint_ || !maskMode_ || !mouseOver_) return {};
    const int cell = 1 << form_.ImageView()->ZoomShift();
    return QRect((mousePoint_.x() - kBrushHalf) * cell, (mousePoint_.y() - kBrushHalf) * cell, kBrushSide * cell,
                 kBrushSide * cell);
}

void TMaskCropView::DrawMaskOverlay(TMaskArea area) {
    QImage& view = form_.ImageView()->Bitmap();
    const EngineState& s = form_.State();
    if (viewCopy_.isNull() || viewCopy_.size() != view.size() || view.width() != s.QualityMask.Width() ||
        view.height() != s.QualityMask.Height() || view.format() != QImage::Format_RGB32)
        return;
    jx::DrawMaskOverlay(reinterpret_cast<const uint32_t*>(viewCopy_.constBits()), reinterpret_cast<uint32_t*>(view.bits()),
                        view.bytesPerLine() / 4, s.QualityMask, area);
    RepaintImagePixels(area);
}

void TMaskCropView::RepaintImagePixels(TMaskArea area) {
    const int s = form_.ImageView()->ZoomShift();
    form_.ImageView()->update(QRect(area.Left << s, area.Top << s, (area.Right - area.Left) << s, (area.Bottom - area.Top) << s));
}

void TMaskCropView::MaskRestored(bool hasMask) {
    if (!maskMode_) return;
    if (hasMask) {
        DrawMaskOverlay({0, 0, form_.State().ImageWidth(), form_.State().ImageHeight()});
        return;
    }
    Button("EditMaskButton")->setChecked(false);
    LeaveMask();
}

void TMaskCropView::MaskPasted() {
    if (maskMode_) DrawMaskOverlay({0, 0, form_.State().ImageWidth(), form_.State().ImageHeight()});
}

QImage TMaskCropView::MaskBitmap() const {
    const TByteImage& m = form_.State().QualityMask;
    QImage img(m.Width(), m.Height(), QImage::Format_RGB888);
    for (int32_t y = 0; y < m.Height(); ++y) {
        uchar* row = img.scanLine(y);
        for (int32_t x = 0; x < m.Width(); ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = m[y][x];
    }
    return img;
}

// --- crop mode --------------------------------------------------------------------------------

void TMaskCropView::TakeCropCopy() {
    viewCopy_ = form_.ImageView()->Bitmap().convertToFormat(QImage::Format_RGB32);
    dimCopy_ = viewCopy_;
    for (int y = 0; y < dimCopy_.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(dimCopy_.scanLine(y));
        for (int x = 0; x < dimCopy_.width(); ++x) row[x] = 0xFF000000u | ((row[x] >> 1) & 0x7F7F7Fu);
    }
    form_.ImageView()->Bitmap() = dimCopy_;
}

void TMaskCropView::DrawCropSelection(const TCropRect& old, const TCropRect& now) {
    QImage& view = form_.ImageView()->Bitmap();
    if (dimCopy_.isNull() || dimCopy_.size() != view.size()) return;
    auto copy = [&](const QImage& from, TCropRect r) {
        r = ClampedToImage(r, view.width(), view.height());
        for (int32_t y = r.Top; y < r.Bottom; ++y)
            std::memcpy(view.scanLine(y) + 4 * r.Left, from.constScanLine(y) + 4 * r.Left, size_t(r.Width()) * 4);
    };
    // The old rectangle with its outline row and column, then the new one at full brightness.
    copy(dimCopy_, {old.Left, old.Top, old.Right + 1, old.Bottom + 1});
    copy(viewCopy_, now);
    const int cell = 1 << form_.ImageView()->ZoomShift();
    const TCropRect u{std::min(old.Left, now.Left) - 1, std::min(old.Top, now.Top) - 1, std::max(old.Right, now.Right) + 2,
                      std::max(old.Bottom, now.Bottom) + 2};
    form_.ImageView()->update(QRect(u.Left * cell, u.Top * cell, u.Width() * cell, u.Height() * cell));
}

void TMaskCropView::SetCropCursor(TCropPart part) {
    switch (part) {
        case TCropPart::TopLeft:
        case TCropPart::BottomRight: form_.ImageView()->setCursor(Qt::SizeFDiagCursor); break;
        case TCropPart::TopRight:
        case TCropPart::BottomLeft: form_.ImageView()->setCursor(Qt::SizeBDiagCursor); break;
        case TCropPart::LeftEdge:
        case TCropPart::RightEdge: form_.ImageView()->setCursor(Qt::SizeHorCursor); break;
        case TCropPart::TopEdge:
        case TCropPart::BottomEdge: form_.ImageView()->setCursor(Qt::SizeVerCursor); break;
        case TCropPart::Inside: form_.ImageView()->setCursor(Qt::SizeAllCursor); break;
        case TCropPart::None: form_.ImageView()->unsetCursor(); break;
    }
}

// --- events -----------------------------------------------------------------------------------

bool TMaskCropView::MouseDown(QMouseEvent* e) {
    if (!maskMode_ && !CropDown()) return false;
    if (e->button() != Qt::LeftButton) return true;
    form_.ImageScroll()->setFocus();
    const QPoint p = ImagePoint(e);
    EngineState& s = form_.State();
    if (maskMode_) {
        DrawMaskOverlay(stroke_.Begin(s, p.x(), p.y(), brushImage_, Strength(), Eraser()));
        form_.ImageView()->Magnifier().DrawZoom(p.x(), p.y());
        return true;
    }
    if (selection_.Press(p.x(), p.y(), s.ImageWidth(), s.ImageHeight()) && selection_.RubberBand()) form_.ImageView()->update();
    return true;
}

bool TMaskCropView::MouseMove(QMouseEvent* e) {
    if (!maskMode_ && !CropDown()) return false;
    const QPoint p = ImagePoint(e);
    EngineState& s = form_.State();
    if (maskMode_) {
        const QRect old = FootprintRect();
        mousePoint_ = p;
        if (footprint_) form_.ImageView()->update(old.united(FootprintRect()));
        if (stroke_.Active()) DrawMaskOverlay(stroke_.Move(s, p.x(), p.y()));
        return true;
    }
    if (selection_.Dragging()) {
        const TCropRect old = selection_.Rect();
        selection_.Move(p.x(), p.y(), s.ImageWidth(), s.ImageHeight());
        if (selection_.RubberBand())
            form_.ImageView()->update();
        else
            DrawCropSelection(old, selection_.Rect());
    } else if (!selection_.Armed()) {
        SetCropCursor(selection_.Hover(p.x(), p.y()));
    }
    return true;
}

bool TMaskCropView::MouseUp(QMouseEvent* e) {
    if (!maskMode_ && !CropDown()) return false;
    if (e->button() != Qt::LeftButton) return true;
    if (maskMode_) {
        EndStroke();
        return true;
    }
    if (selection_.Release()) {
        TakeCropCopy();
        const TCropRect r = selection_.Rect();
        DrawCropSelection(r, r);
        form_.ImageView()->update();
    }
    return true;
}

void TMaskCropView::MouseEnter() {
    mouseOver_ = true;
    brushPanel_->hide();
    if (maskMode_) MakeBrushCursor();
}

void TMaskCropView::MouseLeave() {
    const QRect old = FootprintRect();
    mouseOver_ = false;
    if (maskMode_ || CropDown()) form_.ImageView()->unsetCursor();
    if (!old.isEmpty()) form_.ImageView()->update(old);
}

void TMaskCropView::Rendered() {
    if (form_.ImageView()->Bitmap().isNull()) return;
    if (maskMode_) {
        viewCopy_ = form_.ImageView()->Bitmap().convertToFormat(QImage::Format_RGB32);
        form_.ImageView()->Bitmap() = viewCopy_;
        DrawMaskOverlay({0, 0, form_.State().ImageWidth(), form_.State().ImageHeight()});
    } else if (CropDown() && !selection_.Armed()) {
        TakeCropCopy();
        const TCropRect r = selection_.Rect();
        DrawCropSelection(r, r);
    }
}

void TMaskCropView::ZoomChanged() {
    if (maskMode_) MakeBrushCursor();
}

void TMaskCropView::ImageResized() {
    // A selection drawn on the old picture means nothing on the new one.
    if (CropDown()) {
        Button("CropButton")->setChecked(false);
        selection_ = TCropSelection{};
        viewCopy_ = dimCopy_ = QImage();
        form_.ImageView()->unsetCursor();
    }
    if (maskMode_) MakeBrushCursor();
}

void TMaskCropView::Paint(QPainter& p) {
    const int s = form_.ImageView()->ZoomShift();
    if (CropDown()) {
        const bool band = selection_.RubberBand();
        if (band || !selection_.Armed()) {
            const TCropRect r = band ? Normalized(selection_.Band()) : selection_.Rect();
            p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            p.setPen(QPen(Qt::white, 1, Qt::DotLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRect(r.Left << s, r.Top << s, std::max(1, r.Width() << s), std::max(1, r.Height() << s)));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
    }
    if (footprint_ && maskMode_ && mouseOver_) {
        const TBrushTable& t = BrushTable(brushImage_);
        const int cell = 1 << s;
        for (int i = 0; i < kBrushSide; ++i)
            for (int j = 0; j < kBrushSide; ++j) {
                const uint8_t a = BrushCursorAlpha(t[size_t(i)][size_t(j)]);
                if (a == 0) continue;
                p.fillRect(QRect((mousePoint_.x() + j - kBrushHalf) * cell, (mousePoint_.y() + i - kBrushHalf) * cell, cell, cell),
                           QColor(255, 255, 255, a));
            }
    }
}

}  // namespace jx
