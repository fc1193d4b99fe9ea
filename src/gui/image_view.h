#pragma once
#include <QPoint>
#include <QWidget>
#include <array>
#include <utility>

#include "imaging/preview.h"

namespace jx {

class TJXMainForm;

// Shows the main window's view bitmap stretched to its own size (2^ZoomShift times); the left
// button pans the view and, while held, shows the source or an inspection view.
class TImageView : public QWidget {
    Q_OBJECT
public:
    TImageView(TJXMainForm* form, QWidget* parent);
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
    TViewOptions viewOptions_;
    bool panning_ = false;
    QPoint panAnchor_;
    int zoomShift_ = 0;
    QPoint lastMousePoint_{0, 0};  // the image pixel the mouse was last over
    bool mouseOutside_ = true;
    std::array<std::pair<int, int>, 5> savedScroll_{};
};

// HistogramBox: the histogram, or the magnifier while the mouse is over the image.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    TPaintBox(TJXMainForm* form, QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    TJXMainForm* form_;
};

}  // namespace jx
