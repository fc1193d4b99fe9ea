#pragma once
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <array>
#include <functional>
#include <utility>

class QGroupBox;
class QMouseEvent;
class QPainter;

#include "edit/crop.h"
#include "imaging/preview.h"

namespace jx {

class TJXMainForm;
class THistogramBox;

// The editing modes on the view (the mask brush and the crop, mask_crop_view.h): they take the
// view's mouse before it pans and draw over the stretched bitmap.
class TViewModes {
public:
    // True when a mode took the event.
    virtual bool MouseDown(QMouseEvent* e) = 0;
    virtual bool MouseMove(QMouseEvent* e) = 0;
    virtual bool MouseUp(QMouseEvent* e) = 0;
    virtual void MouseEnter() = 0;
    virtual void MouseLeave() = 0;
    virtual void ZoomChanged() = 0;
    virtual void Paint(QPainter& p) = 0;
    virtual bool CropDown() const = 0;
    // The selection as the magnifier shows it (the rubber band while one is drawn).
    virtual TCropRect Selection() const = 0;

protected:
    ~TViewModes() = default;
};

// Shows the main window's view bitmap stretched to its own size (2^ZoomShift times); the left
// button pans the view and, while held, shows the source or an inspection view.
class TImageView : public QWidget {
    Q_OBJECT
public:
    TImageView(TJXMainForm* form, QWidget* parent);
    // Set once the modes are made, before the view takes any event.
    void SetModes(TViewModes& modes) { modes_ = &modes; }
    TViewModes& Modes() const { return *modes_; }
    // The right-hand panel's box that magnifies around the mouse (set with the modes).
    void SetMagnifier(THistogramBox& box) { magnifier_ = &box; }
    THistogramBox& Magnifier() const { return *magnifier_; }
    // A button let go over the image without a mode taking it (image coordinates): the palette
    // room's selection and quick add.
    std::function<void(Qt::MouseButton, QPoint)> ReleasedOnImage;

    // What the view shows, at 1:1; the modes draw into it.
    QImage& Bitmap() { return bitmap_; }
    const QImage& Bitmap() const { return bitmap_; }
    // A tool's preview of another size than the source, composited over the background, shown
    // instead of the working image; null when none shows.
    const QImage& ToolPreview() const { return toolPreview_; }
    void SetToolPreview(QImage composite) { toolPreview_ = std::move(composite); }
    // Display modes while the left button is held on the image.
    const TViewOptions& ViewOptions() const { return viewOptions_; }

    // The zoom is 2^ZoomShift (0..4); each step in keeps the scroll position of the step before.
    int ZoomShift() const { return zoomShift_; }
    void ZoomStep(char c);  // '+' or '-'
    void ZoomActual();
    // Back to 1:1 without resizing (the image is about to be replaced).
    void ResetZoom() { zoomShift_ = 0; }
    // The size of the image (or the tool preview shown instead) at the zoom.
    void ResizeToImage();
    // The image pixel under a point of this widget.
    QPoint ImagePoint(QPoint widgetPoint) const;
    // Outside the image the histogram box shows the histogram, else the magnifier.
    bool MouseOutside() const { return mouseOutside_; }
    void ForgetMouse() {
        lastMousePoint_ = QPoint(0, 0);
        mouseOutside_ = true;
    }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    TJXMainForm* form_;
    TViewModes* modes_ = nullptr;
    THistogramBox* magnifier_ = nullptr;
    QImage bitmap_;
    QImage toolPreview_;
    TViewOptions viewOptions_;
    bool panning_ = false;
    QPoint panAnchor_;
    int zoomShift_ = 0;
    QPoint lastMousePoint_{0, 0};  // the image pixel the mouse was last over
    bool mouseOutside_ = true;
    std::array<std::pair<int, int>, 5> savedScroll_{};
};

// The right-hand panel's "Levels" box: the histogram, or the magnifier while the mouse is over
// the image.
class THistogramBox : public QWidget {
    Q_OBJECT
public:
    // frame: the group box around it, whose title says which of the two shows.
    THistogramBox(TJXMainForm* form, QGroupBox* frame);
    // The magnifier around image pixel (x, y), with the pixel's colour or the crop's size.
    void DrawZoom(int x, int y);
    // The histogram, unless the mouse is over the image.
    void ShowHistogram();
    // The histogram is redrawn when next painted.
    void ForgetDrawing() { drawing_ = QImage(); }
    void SetMagnifying(bool on);
    const QImage& Drawing() const { return drawing_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    TJXMainForm* form_;
    QGroupBox* frame_;
    QImage drawing_;  // the last drawing of the histogram or the magnifier
};

}  // namespace jx
