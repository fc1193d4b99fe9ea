#pragma once
#include <QPoint>
#include <QWidget>

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
