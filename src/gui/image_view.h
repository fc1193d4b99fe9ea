#pragma once
#include <QWidget>

namespace jx {

class TJXMainForm;

// ImageView: shows the main window's view bitmap stretched to its own size (2^ZoomShift times).
class TImageView : public QWidget {
    Q_OBJECT
public:
    TImageView(TJXMainForm* form, QWidget* parent);

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
